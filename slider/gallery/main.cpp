// slider-gallery: trkSlider in both orientations, with and without pictures, every rail style,
// a live list of raised events, and saving and restoring the designs.
#include "PropertyBag.h"
#include "trkSlider.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

using comkeys::trkSlider;

namespace {

QPixmap knob()
{
    QPixmap p(16, 16);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(6, 6), 10);
    g.setColorAt(0, QColor(120, 170, 255));
    g.setColorAt(1, QColor(20, 60, 160));
    painter.setBrush(g);
    painter.setPen(QPen(QColor(10, 30, 90), 1));
    painter.drawEllipse(QRectF(1, 1, 14, 14));
    return p;
}

QPixmap railPicture(int w, int h)
{
    QPixmap p(w, h);
    QPainter painter(&p);
    QLinearGradient g(0, 0, w > h ? w : 0, w > h ? 0 : h);
    g.setColorAt(0, QColor(60, 180, 90));
    g.setColorAt(1, QColor(230, 80, 60));
    painter.fillRect(p.rect(), g);
    painter.setPen(QColor(40, 40, 40));
    painter.drawRect(p.rect().adjusted(0, 0, -1, -1));
    return p;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("trkSlider gallery"));
    auto* grid = new QGridLayout(&window);
    auto* events = new QListWidget;
    events->setMinimumWidth(260);

    QMap<QString, trkSlider*> sliders;
    auto add = [&](const QString& name, int orientation, int railStyle, bool pictureRail, QSize size, int row, int col) {
        auto* s = new trkSlider;
        s->setObjectName(name);
        s->setSliderIcon(knob());
        if (pictureRail) {
            s->setRailPicture(orientation == 0 ? railPicture(size.width() - 4, 8) : railPicture(8, size.height() - 4));
        }
        s->resize(size);
        s->setOrientation(orientation);
        s->setRailStyle(railStyle);
        s->setFixedSize(s->size());
        auto say = [events, s, name](const QString& what) {
            events->addItem(QStringLiteral("%1: %2 (Value %3)").arg(name, what).arg(s->value()));
            events->scrollToBottom();
            while (events->count() > 500) {
                delete events->takeItem(0);
            }
        };
        QObject::connect(s, &trkSlider::Click, events, [say] { say(QStringLiteral("Click")); });
        QObject::connect(s, &trkSlider::ValueChanged, events, [say] { say(QStringLiteral("ValueChanged")); });
        QObject::connect(s, &trkSlider::ArrivedFirst, events, [say] { say(QStringLiteral("ArrivedFirst")); });
        QObject::connect(s, &trkSlider::ArrivedLast, events, [say] { say(QStringLiteral("ArrivedLast")); });
        QObject::connect(s, &trkSlider::MouseDown, events, [say](qint16 shift) { say(QStringLiteral("MouseDown %1").arg(shift)); });
        QObject::connect(s, &trkSlider::MouseUp, events, [say](qint16 shift) { say(QStringLiteral("MouseUp %1").arg(shift)); });
        auto* box = new QWidget;
        auto* v = new QVBoxLayout(box);
        v->addWidget(new QLabel(name));
        v->addWidget(s);
        v->addStretch();
        grid->addWidget(box, row, col);
        sliders.insert(name, s);
    };
    add(QStringLiteral("horizontal"), 0, 0, false, QSize(240, 16), 0, 0);
    add(QStringLiteral("horizontal, picture rail"), 0, 99, true, QSize(240, 16), 1, 0);
    for (int style = 0; style <= 4; ++style) {
        add(QStringLiteral("rail style %1").arg(style), 0, style, false, QSize(240, 16), 2 + style, 0);
    }
    add(QStringLiteral("vertical"), 1, 0, false, QSize(16, 200), 0, 1);
    add(QStringLiteral("vertical, picture rail"), 1, 99, true, QSize(16, 200), 0, 2);
    sliders.value(QStringLiteral("vertical"))->setMax(100);

    auto* save = new QPushButton(QStringLiteral("Save designs…"));
    auto* restore = new QPushButton(QStringLiteral("Restore designs…"));
    QObject::connect(save, &QPushButton::clicked, &window, [&] {
        const QString file = QFileDialog::getSaveFileName(&window, QStringLiteral("Save designs"),
                                                          QStringLiteral("slider-designs.json"));
        if (file.isEmpty()) {
            return;
        }
        QMap<QString, comkeys::MemoryPropertyBag> designs;
        for (auto it = sliders.cbegin(); it != sliders.cend(); ++it) {
            it.value()->WriteProperties(designs[it.key()]);
        }
        QString error;
        if (!comkeys::PropertyBagFile::save(file, designs, &error)) {
            QMessageBox::warning(&window, QStringLiteral("Save designs"), error);
        }
    });
    QObject::connect(restore, &QPushButton::clicked, &window, [&] {
        const QString file = QFileDialog::getOpenFileName(&window, QStringLiteral("Restore designs"));
        if (file.isEmpty()) {
            return;
        }
        QString error;
        const auto designs = comkeys::PropertyBagFile::load(file, &error);
        if (!designs) {
            QMessageBox::warning(&window, QStringLiteral("Restore designs"), error);
            return;
        }
        for (auto it = designs->cbegin(); it != designs->cend(); ++it) {
            if (trkSlider* s = sliders.value(it.key())) {
                try {
                    s->ReadProperties(it.value());
                    s->resizeLayout();
                } catch (const comkeys::SliderError& e) {
                    QMessageBox::warning(&window, QStringLiteral("Restore designs"),
                                         QStringLiteral("%1: error %2").arg(it.key()).arg(e.number()));
                }
            }
        }
    });
    grid->addWidget(events, 1, 1, 6, 2);
    grid->addWidget(save, 7, 1);
    grid->addWidget(restore, 7, 2);
    window.show();
    if (app.arguments().contains(QStringLiteral("--screenshot"))) {
        app.processEvents();
        return window.grab().save(app.arguments().last()) ? 0 : 1;
    }
    return app.exec();
}
