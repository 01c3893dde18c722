#include "Widgets.h"


#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <qdrawutil.h>
#include <QIcon>
#include <QAbstractItemView>
#include <QPainter>
#include <QSerialPortInfo>

namespace comkeys {

PortCombo::PortCombo(QWidget* parent)
    : QComboBox(parent)
{
}

void PortCombo::refreshDevices()
{
    const QString text = currentText();
    const int index = currentIndex();
    while (count() > FixedPorts) {
        removeItem(count() - 1);
    }
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QStringList about;
        for (const QString& part : { info.description(), info.manufacturer(), info.serialNumber() }) {
            if (!part.isEmpty() && !about.contains(part)) {
                about << part;
            }
        }
        addItem(info.systemLocation());
        setItemData(count() - 1, about.isEmpty() ? info.systemLocation() : about.join(QStringLiteral(", ")),
                    Qt::ToolTipRole);
    }
    for (const QString& port : std::as_const(m_recent)) {
        addItem(port);
        setItemData(count() - 1, QStringLiteral("最近打开的网络端口"), Qt::ToolTipRole);
    }
    // Refreshing chooses nothing and keeps what the user typed.
    setCurrentIndex(index < count() ? index : -1);
    setEditText(text);
    int wide = width();
    const QFontMetrics metrics(view()->font());
    for (int i = 0; i < count(); ++i) {
        wide = std::max(wide, metrics.horizontalAdvance(itemText(i)) + 24);
    }
    view()->setMinimumWidth(wide);
}

void PortCombo::showPopup()
{
    refreshDevices();
    QComboBox::showPopup();
}

FaceButton::FaceButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
}

void FaceButton::setFace(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::Button, color);
    setPalette(p);
}

void FaceButton::setMarked(bool marked)
{
    if (m_marked == marked) {
        return;
    }
    m_marked = marked;
    update();
}

void FaceButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    const bool sunken = isDown() || isChecked();
    const QBrush fill(face());
    qDrawWinButton(&painter, rect(), palette(), sunken, &fill);
    const int shift = sunken ? 1 : 0;
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(rect().translated(shift, shift), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    if (m_marked) {
        // A green triangle in the top-left corner, clear of the centred caption.
        const int side = std::max(6, height() / 3);
        const QPoint corner = rect().topLeft() + QPoint(2 + shift, 2 + shift);
        const QPoint triangle[3] = { corner, corner + QPoint(side, 0), corner + QPoint(0, side) };
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 160, 0));
        painter.drawPolygon(triangle, 3);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(4, 4, -4, -4);
        option.backgroundColor = face();
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
}

StatusCircle::StatusCircle(QWidget* parent)
    : QWidget(parent)
{
}

void StatusCircle::setFillColor(const QColor& color)
{
    if (m_fill == color) {
        return;
    }
    m_fill = color;
    update();
}

void StatusCircle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(m_fill);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void paintIcon(QPainter& p, qreal size, bool log)
{
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    if (log) {
        p.setPen(QPen(Qt::black, std::max(1.0, s)));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5 * s, 2 * s, 22 * s, 28 * s));
        p.setPen(QPen(QColor(0, 128, 0), std::max(1.0, 2 * s)));
        for (int i = 0; i < 5; ++i) {
            p.drawLine(QPointF(9 * s, (8 + 5 * i) * s), QPointF((i % 2 ? 18 : 23) * s, (8 + 5 * i) * s));
        }
    } else {
        p.setPen(QPen(Qt::black, std::max(1.0, s)));
        p.setBrush(QColor(255, 192, 192));
        p.drawRoundedRect(QRectF(2 * s, 6 * s, 28 * s, 20 * s), 4 * s, 4 * s);
        p.setBrush(QColor(255, 0, 0));
        p.drawEllipse(QRectF(5 * s, 12 * s, 8 * s, 8 * s));
        p.setPen(QPen(Qt::black, std::max(1.0, 2 * s)));
        for (int i = 0; i < 3; ++i) {
            p.drawLine(QPointF(16 * s, (12 + 4 * i) * s), QPointF(27 * s, (12 + 4 * i) * s));
        }
    }
}

QPixmap iconPixmap(int size, bool log)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    paintIcon(p, size, log);
    return pixmap;
}

namespace {
    QIcon drawIcons(bool log)
    {
        QIcon icon;
        for (int size : { 16, 32, 48 }) {
            icon.addPixmap(iconPixmap(size, log));
        }
        return icon;
    }
} // namespace

QIcon mainWindowIcon() { return drawIcons(false); }
QIcon logWindowIcon() { return drawIcons(true); }

} // namespace comkeys

#include "moc_Widgets.cpp"
