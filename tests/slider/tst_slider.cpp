#include "PropertyBag.h"
#include "SliderGeometry.h"
#include "trkSlider.h"

#include <QHBoxLayout>
#include <QMetaClassInfo>
#include <QPluginLoader>
#include <QSignalSpy>
#ifdef COMKEYS_DESIGNER_PLUGIN
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#endif

#include <map>
#include <QTemporaryDir>
#include <QTest>

using namespace comkeys;
using namespace comkeys::slider;

namespace {

// Records the slider's events and notifications in the order they come.
struct Recorder : QObject {
    QStringList log;
    explicit Recorder(trkSlider& s)
    {
        connect(&s, &trkSlider::Click, this, [this] { log << QStringLiteral("Click"); });
        connect(&s, &trkSlider::ArrivedFirst, this, [this] { log << QStringLiteral("ArrivedFirst"); });
        connect(&s, &trkSlider::ArrivedLast, this, [this] { log << QStringLiteral("ArrivedLast"); });
        connect(&s, &trkSlider::ValueChanged, this, [this] { log << QStringLiteral("ValueChanged"); });
        connect(&s, &trkSlider::MouseDown, this, [this](qint16 shift) { log << QStringLiteral("MouseDown %1").arg(shift); });
        connect(&s, &trkSlider::MouseUp, this, [this](qint16 shift) { log << QStringLiteral("MouseUp %1").arg(shift); });
        connect(&s, &trkSlider::PropertyChanged, this, [this](const QString& n) { log << u'~' + n; });
    }
};

QPixmap solid(int w, int h, QColor c)
{
    QPixmap p(w, h);
    p.fill(c);
    return p;
}

int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const SliderError& e) {
        return e.number();
    }
    return 0;
}

// A horizontal slider ScaleWidth wide with a 16 x 16 thumb, as in the layout examples.
std::unique_ptr<trkSlider> horizontal(int scaleWidth)
{
    auto s = std::make_unique<trkSlider>();
    s->setSliderIcon(solid(16, 16, Qt::blue));
    s->setOrientation(Horizontal);
    s->resize(scaleWidth, 30);
    s->resizeLayout();
    return s;
}

// The setter of a property that throws, by the property's name.
void setOrThrow(trkSlider& s, const QString& property, int value)
{
    const std::map<QString, void (trkSlider::*)(int)> setters {
        { QStringLiteral("Max"), &trkSlider::setMaxOrThrow }, { QStringLiteral("Min"), &trkSlider::setMinOrThrow },
        { QStringLiteral("Step"), &trkSlider::setStepOrThrow }, { QStringLiteral("Value"), &trkSlider::setValueOrThrow } };
    (s.*setters.at(property))(value);
}


} // namespace

class TestSlider : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Defaults and validation.

    void defaults()
    {
        trkSlider s;
        QVERIFY(s.sliderEnabled());
        QCOMPARE(s.orientation(), 1);
        QCOMPARE(s.railStyle(), 0);
        QCOMPARE(s.min(), 0);
        QCOMPARE(s.max(), 10);
        QCOMPARE(s.value(), 0);
        QCOMPARE(s.step(), 1);
        QCOMPARE(s.hWnd(), 0);
        QCOMPARE(s.backColor(), QColor(207, 207, 207));
        QCOMPARE(QSize(s.outerWidthTwips(), s.outerHeightTwips()), QSize(525, 780)); // as designed
        QCOMPARE(s.thumbRect(), QRectF(0, 36, 16, 16)); // bottom: vertical, Min end
        QCOMPARE(s.property("Value").toInt(), 0);
        QCOMPARE(s.metaObject()->userProperty().name(), "Value");
        const QMetaObject* mo = s.metaObject();
        QCOMPARE(QString::fromUtf8(mo->classInfo(mo->indexOfClassInfo("SliderIcon.Description")).value()),
                 QStringLiteral("Devuelve o establece el gráfico que se mostrar?en un control."));
        QCOMPARE(QString::fromUtf8(mo->classInfo(mo->indexOfClassInfo("hWnd.Description")).value()),
                 QStringLiteral("Returns a handle (from Microsoft Windows) to an object's window."));
    }

    void rejectedValuesChangeNothing_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("error");
        QTest::newRow("Max at Min") << "Max" << 1 << 0 << 380;
        QTest::newRow("Max below Min") << "Max" << 1 << -5 << 380;
        QTest::newRow("Max beyond 16 bits") << "Max" << 1 << 40000 << 6;
        QTest::newRow("Min at Max") << "Min" << 1 << 10 << 380;
        QTest::newRow("Min beyond 16 bits") << "Min" << 1 << -40000 << 6;
        QTest::newRow("Min times Step beyond 16 bits") << "Min" << 5000 << -9 << 6;
        QTest::newRow("Value above Max") << "Value" << 1 << 11 << 380;
        QTest::newRow("Value below Min") << "Value" << 1 << -1 << 380;
        QTest::newRow("Value times Step beyond 16 bits") << "Value" << 4000 << 9 << 6;
        QTest::newRow("Step beyond 16 bits") << "Step" << 1 << 32768 << 6;
    }

    void rejectedValuesChangeNothing()
    {
        // The same rule two ways: thrown to a C++ caller, or reported to Qt (setProperty, which
        // Designer and queued calls use too) by errorOccurred. Either way nothing changes.
        QFETCH(QString, property);
        QFETCH(int, step);
        QFETCH(int, value);
        QFETCH(int, error);
        for (const bool throwing : { true, false }) {
            trkSlider s;
            s.setValue(4);
            s.setStep(step);
            Recorder r(s);
            QSignalSpy reported(&s, &trkSlider::errorOccurred);
            QVERIFY(reported.isValid());
            const QRectF thumb = s.thumbRect();
            if (throwing) {
                QCOMPARE(errorOf([&] { setOrThrow(s, property, value); }), error);
                QCOMPARE(reported.count(), 0);
            } else {
                QCOMPARE(errorOf([&] { s.setProperty(property.toLatin1().constData(), value); }), 0);
                QCOMPARE(reported.count(), 1);
                QCOMPARE(reported[0], (QVariantList { error, property }));
            }
            QCOMPARE(s.min(), 0);
            QCOMPARE(s.max(), 10);
            QCOMPARE(s.value(), 4);
            QCOMPARE(s.step(), step);
            QCOMPARE(s.thumbRect(), thumb);
            QVERIFY(r.log.isEmpty());
        }
    }

    void rangeFollowsAHandlerThatMovesMax()
    {
        // Setting Min sets Value, whose handlers may move Max: the range is Max - Min afterwards.
        auto s = horizontal(200);
        connect(s.get(), &trkSlider::ValueChanged, s.get(), [&] { s->setMax(20); });
        s->setMin(3);
        QCOMPARE(s->max(), 20);
        s->disconnect(s.get());
        s->setValue(20);
        QCOMPARE(s->thumbRect().left(), 184.0);
        s->setValue(10);
        QCOMPARE(s->thumbRect().left(), float(184.0 * 7 / 17));
    }

    void qtConnectionsNeverAbort()
    {
        trkSlider s;
        QSignalSpy reported(&s, &trkSlider::errorOccurred);
        // Queued calls, and signals recorded by QSignalSpy and carried across a queue.
        QVERIFY(QMetaObject::invokeMethod(&s, "setMax", Qt::QueuedConnection, Q_ARG(int, -5)));
        QTRY_COMPARE(reported.count(), 1);
        QCOMPARE(reported[0], (QVariantList { 380, QStringLiteral("Max") }));
        QSignalSpy down(&s, &trkSlider::MouseDown);
        QVERIFY(down.isValid());
        int queuedShift = -1;
        connect(&s, &trkSlider::MouseDown, this, [&](qint16 shift) { queuedShift = shift; }, Qt::QueuedConnection);
        s.resize(16, 100);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        QTest::mousePress(&s, Qt::LeftButton, Qt::ShiftModifier, QPoint(8, 50));
        QCOMPARE(down.count(), 1);
        QCOMPARE(down[0][0].value<qint16>(), qint16(1));
        QTRY_COMPARE(queuedShift, 1);
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::ShiftModifier, QPoint(8, 50));
    }

    void formsSetPropertiesInTheirOwnOrder_data()
    {
        // Designer writes, and uic's code sets, Max before Min and Step before StoredValue.
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<QList<int>>("minMaxValue");
        QTest::addColumn<int>("errors");
        QTest::newRow("negative range") << QStringList { "Max=-50", "Min=-100" } << QList<int> { -100, -50, -100 } << 1;
        QTest::newRow("Min above 10") << QStringList { "Max=30", "Min=20" } << QList<int> { 20, 30, 20 } << 0;
        QTest::newRow("Min above 10, Min first") << QStringList { "Min=20", "Max=30" } << QList<int> { 20, 30, 20 } << 1;
        QTest::newRow("Min in the way of Max") << QStringList { "Max=-50", "Min=-40" } << QList<int> { -40, 10, -40 } << 1;
        QTest::newRow("refused Max, then Step") << QStringList { "Max=-50", "Step=2", "Min=-100" }
                                                << QList<int> { -100, 10, -200 } << 1;
        QTest::newRow("Step 2, value 5") << QStringList { "Step=2", "StoredValue=5" } << QList<int> { 0, 10, 5 } << 0;
        QTest::newRow("Step 2, value 21") << QStringList { "Step=2", "StoredValue=21" } << QList<int> { 0, 10, 0 } << 1;
    }

    void formsSetPropertiesInTheirOwnOrder()
    {
        QFETCH(QStringList, writes);
        QFETCH(QList<int>, minMaxValue);
        QFETCH(int, errors);
        trkSlider s;
        QSignalSpy reported(&s, &trkSlider::errorOccurred);
        for (const QString& w : writes) {
            QVERIFY(s.setProperty(w.section(u'=', 0, 0).toLatin1().constData(), w.section(u'=', 1).toInt()));
        }
        QCOMPARE((QList<int> { s.min(), s.max(), s.property("StoredValue").toInt() }), minMaxValue);
        QCOMPARE(reported.count(), errors);
    }

    void everyPropertyNotifies_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("Enabled") << "Enabled" << QVariant(false);
        QTest::newRow("BackColor") << "BackColor" << QVariant(QColor(Qt::red));
        QTest::newRow("Max") << "Max" << QVariant(20);
        QTest::newRow("Min") << "Min" << QVariant(3);
        QTest::newRow("Step") << "Step" << QVariant(2);
        QTest::newRow("Value") << "Value" << QVariant(7);
        QTest::newRow("Orientation") << "Orientation" << QVariant(0);
        QTest::newRow("RailStyle") << "RailStyle" << QVariant(2);
        QTest::newRow("SliderIcon") << "SliderIcon" << QVariant(solid(8, 8, Qt::blue));
        QTest::newRow("RailPicture") << "RailPicture" << QVariant(solid(30, 6, Qt::green));
        QTest::newRow("hWnd") << "hWnd" << QVariant(1234);
    }

    void everyPropertyNotifies()
    {
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        trkSlider s;
        const QMetaProperty meta = s.metaObject()->property(s.metaObject()->indexOfProperty(property.toLatin1().constData()));
        QVERIFY(meta.hasNotifySignal());
        QSignalSpy spy(&s, meta.notifySignal());
        QVERIFY(spy.isValid());
        QVERIFY(s.setProperty(property.toLatin1().constData(), value));
        QCOMPARE(spy.count(), 1);
        const QVariant now = s.property(property.toLatin1().constData());
        if (now.metaType().id() == QMetaType::QPixmap) {
            QCOMPARE(spy[0][0].value<QPixmap>().toImage(), now.value<QPixmap>().toImage());
        } else {
            QCOMPARE(spy[0][0], now);
        }
        QVERIFY(s.setProperty(property.toLatin1().constData(), value)); // the same again: no change
        QCOMPARE(spy.count(), 1);
    }

    void rangeOverflowKeepsTheBounds()
    {
        trkSlider s;
        s.setMin(-30000);
        QCOMPARE(errorOf([&] { s.setMaxOrThrow(30000); }), 6);
        QCOMPARE(s.max(), 10);
        s.setMax(2767);
        QCOMPARE(s.max(), 2767);
    }

    void maxAndMinSetters()
    {
        trkSlider s;
        s.setMax(1);
        QCOMPARE(s.max(), 1);
        s.setMax(10);
        s.setValue(8);
        Recorder r(s);
        s.setMax(5); // Value may stay above the new Max
        QCOMPARE(s.value(), 8);
        QCOMPARE(r.log, QStringList { QStringLiteral("~Max") });

        trkSlider t;
        Recorder rt(t);
        t.setMin(3);
        QCOMPARE(t.min(), 3);
        QCOMPARE(t.value(), 3);
        QCOMPARE(rt.log, (QStringList { "ValueChanged", "ArrivedFirst", "~Value", "~Min" }));
    }

    void valueEvents()
    {
        trkSlider s;
        Recorder r(s);
        s.setValue(10);
        QCOMPARE(r.log, (QStringList { "ValueChanged", "ArrivedLast", "~Value" }));
        r.log.clear();
        s.setValue(5);
        s.setValue(5);
        QCOMPARE(r.log, (QStringList { "ValueChanged", "~Value", "~Value" }));
        r.log.clear();
        s.setValue(0);
        s.setValue(0);
        QCOMPARE(r.log, (QStringList { "ValueChanged", "ArrivedFirst", "~Value", "ValueChanged", "ArrivedFirst", "~Value" }));
        r.log.clear();
        s.setStep(5);
        QVERIFY(r.log.isEmpty());
        s.setSliderEnabled(false);
        s.setValue(2);
        QCOMPARE(r.log, (QStringList { "~Enabled", "ValueChanged", "ArrivedLast", "~Value" })); // 2 x 5 = Max
        QCOMPARE(s.value(), 10);
    }

    void nestedValueFromAHandler()
    {
        trkSlider s;
        Recorder r(s);
        int calls = 0;
        connect(&s, &trkSlider::ValueChanged, &s, [&] {
            if (++calls == 1) {
                s.setValue(7); // the same value again: already reported, so nothing more
                s.setValue(9);
            }
        });
        s.setValue(7);
        QCOMPARE(r.log, (QStringList { "ValueChanged", "~Value", "ValueChanged", "~Value", "~Value" }));
        QCOMPARE(s.value(), 9);
    }

    void stepScalesTheStoredValue()
    {
        auto s = horizontal(200);
        s->setStep(2);
        s->setValue(3);
        QCOMPARE(s->value(), 6);
        QCOMPARE(s->thumbRect().left(), 184 * 3 / 10.0f); // placed for the argument
        s->resizeLayout();
        QCOMPARE(s->thumbRect().left(), 184 * 6 / 10.0f); // the next layout places the stored value

        trkSlider big;
        big.setMax(30000);
        big.setStep(2);
        big.setValue(100);
        QCOMPARE(errorOf([&] { big.setValueOrThrow(20000); }), 6);
        QCOMPARE(big.value(), 200);
    }

    // Layout figures.

    void geometryFigures()
    {
        QCOMPARE(roundHalfEven(2.5), 2.0);
        QCOMPARE(roundHalfEven(7.5), 8.0);
        QCOMPARE(roundHalfEven(-2.5), -2.0);
        QCOMPARE(roundHalfEven(3.4999), 3.0);
        // Placements themselves are checked through the widget's layouts below.
        QCOMPARE(sliderPosFromValue(2, 84, 5, 0, 10), std::nullopt);
        QCOMPARE(sliderPosFromValue(Horizontal, 84, 5, 0, 0), std::nullopt);
        QCOMPARE(sliderPosFromValue(Horizontal, 84, 32767, -32768, 10), std::nullopt);

        Snap a = valueFromSlider(Horizontal, 184, 46, 0, 10);
        QCOMPARE(int(a.value), 2);
        QCOMPARE(a.position, std::optional<float>(36.8f));
        Snap b = valueFromSlider(Horizontal, 184, 138, 0, 10);
        QCOMPARE(int(b.value), 8);
        QCOMPARE(b.position, std::optional<float>(147.2f));
        Snap zero = valueFromSlider(Horizontal, 0, 0, 1, 10); // no travel: 0, snapped to the start
        QCOMPARE(int(zero.value), 0);
        QCOMPARE(zero.position, std::optional<float>(0));
        QCOMPARE(valueFromSlider(Vertical, 84, 0, 0, 10).value, std::int16_t(10));
        QCOMPARE(railRect(3, 16, 16, 16, 100), std::nullopt);
    }

    void explicitGeometry_data()
    {
        // A size set from outside stands until the next layout, which fits only the breadth
        // (or a zero length); a hidden control gets its resize, and so its layout, when shown.
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("thenOrientation");
        QTest::addColumn<QSize>("fitted");
        QTest::addColumn<QList<int>>("rail");
        QTest::addColumn<QList<double>>("at0and5and10"); // the thumb's Left or Top
        QTest::newRow("horizontal, 200 wide") << 0 << QSize(200, 30) << false << -1 << QSize(200, 16)
                                              << QList<int> { 6, 6, 194, 10 } << QList<double> { 0, 92, 184 };
        QTest::newRow("vertical, 100 high") << 1 << QSize(16, 100) << false << -1 << QSize(16, 100)
                                            << QList<int> { 6, 6, 10, 94 } << QList<double> { 84, 42, 0 };
        QTest::newRow("hidden vertical widened, then horizontal")
            << 1 << QSize(200, 52) << false << 0 << QSize(200, 16) << QList<int> { 6, 6, 194, 10 }
            << QList<double> { 0, 92, 184 };
        QTest::newRow("shown vertical widened") << 1 << QSize(200, 52) << true << -1 << QSize(16, 52)
                                                << QList<int> { 6, 6, 10, 46 } << QList<double> { 36, 18, 0 };
        QTest::newRow("shown horizontal, no width") << 0 << QSize(0, 16) << true << -1 << QSize(16, 16)
                                                    << QList<int> { 6, 6, 10, 10 } << QList<double> { 0, 0, 0 };
    }

    void explicitGeometry()
    {
        QFETCH(int, orientation);
        QFETCH(QSize, size);
        QFETCH(bool, shown);
        QFETCH(int, thenOrientation);
        QFETCH(QSize, fitted);
        QFETCH(QList<int>, rail);
        QFETCH(QList<double>, at0and5and10);
        trkSlider s;
        s.setSliderIcon(solid(16, 16, Qt::blue));
        s.setOrientation(orientation);
        if (shown) {
            s.show();
            QVERIFY(QTest::qWaitForWindowExposed(&s));
        }
        s.resize(size);
        if (thenOrientation >= 0) {
            s.setOrientation(thenOrientation);
        }
        s.show();
        QCOMPARE(s.size(), fitted);
        QCOMPARE(QSize(s.outerWidthTwips(), s.outerHeightTwips()), fitted * 15);
        QCOMPARE(s.railRect(), (RailRect { rail[0], rail[1], rail[2], rail[3] }));
        for (int i = 0; i < 3; ++i) {
            s.setValue(i * 5);
            const QRectF thumb = s.thumbRect();
            QCOMPARE(s.orientation() == Horizontal ? thumb.left() : thumb.top(), at0and5and10[i]);
        }
    }

    void pictureRails_data()
    {
        QTest::addColumn<int>("railHeight");
        QTest::addColumn<QSize>("twips");
        QTest::addColumn<double>("thumbTop");
        QTest::addColumn<QPoint>("railAt");
        QTest::newRow("rail taller than the thumb") << 20 << QSize(1560, 300) << 2.0 << QPoint(2, 0);
        QTest::newRow("rail lower than the thumb") << 8 << QSize(1560, 240) << 0.0 << QPoint(2, 4);
    }

    void pictureRails()
    {
        QFETCH(int, railHeight);
        QFETCH(QSize, twips);
        QFETCH(double, thumbTop);
        QFETCH(QPoint, railAt);
        trkSlider s;
        s.setBackColor(Qt::white);
        s.setSliderIcon(solid(16, 16, Qt::blue));
        s.setRailPicture(solid(100, railHeight, Qt::red));
        s.setOrientation(Horizontal);
        s.setRailStyle(99);
        QCOMPARE(QSize(s.outerWidthTwips(), s.outerHeightTwips()), twips);
        QCOMPARE(s.thumbRect().top(), thumbTop);
        // The rail picture stands where the Part puts it: check its corners on the surface.
        const QImage surface = s.surface().toImage();
        QCOMPARE(surface.pixelColor(railAt + QPoint(99, 0)), QColor(Qt::red));
        QCOMPARE(surface.pixelColor(railAt + QPoint(99, railHeight - 1)), QColor(Qt::red));
        QCOMPARE(surface.pixelColor(railAt + QPoint(100, 0)), QColor(Qt::white));
    }

    void railStylesDrawTheirEdges_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QColor>("topLeft");
        QTest::addColumn<QColor>("bottomRight");
        const QColor back(207, 207, 207);
        QTest::newRow("sunken") << 0 << QColor(160, 160, 160) << QColor(255, 255, 255);
        QTest::newRow("raised") << 1 << QColor(227, 227, 227) << QColor(105, 105, 105);
        QTest::newRow("thin sunken") << 2 << QColor(160, 160, 160) << QColor(255, 255, 255);
        QTest::newRow("thin raised") << 3 << QColor(255, 255, 255) << QColor(160, 160, 160);
        QTest::newRow("none") << 4 << back << back;
        QTest::newRow("unknown") << 5 << back << back;
    }

    void railStylesDrawTheirEdges()
    {
        QFETCH(int, style);
        QFETCH(QColor, topLeft);
        QFETCH(QColor, bottomRight);
        auto s = horizontal(200);
        s->setRailStyle(style);
        s->setValue(10); // thumb out of the way at the right
        const QImage surface = s->surface().toImage();
        const RailRect r = s->railRect();
        QCOMPARE(surface.pixelColor(r.Left + 20, r.Top), topLeft);
        QCOMPARE(surface.pixelColor(r.Left + 20, r.Bottom - 1), bottomRight);
        QCOMPARE(surface.pixelColor(s->thumbRect().center().toPoint()), QColor(Qt::blue));
    }

    void otherOrientationsMoveNothing()
    {
        auto s = horizontal(200);
        s->setValue(5);
        const RailRect rail = s->railRect();
        const QSize size = s->size();
        s->setOrientation(2);
        QCOMPARE(s->size(), size);
        QCOMPARE(s->railRect(), rail);
        QCOMPARE(s->thumbRect().left(), 92.0);
        s->setValue(8);
        QCOMPARE(s->thumbRect().left(), 92.0);
        // The edge is still drawn round the previous rectangle, and the thumb where it stands.
        const QImage surface = s->surface().toImage();
        QCOMPARE(surface.pixelColor(rail.Left + 1, rail.Top), QColor(160, 160, 160));
        QCOMPARE(surface.pixelColor(100, 8), QColor(Qt::blue));
    }

    // Persistence.

    void bagRoundTrip()
    {
        auto s = horizontal(200);
        s->setMin(-5);
        s->setMax(20);
        s->setValue(7);
        s->setStep(1);
        s->setRailStyle(3);
        s->setHWnd(1234);
        s->setRailPicture(solid(30, 6, Qt::darkGreen));
        s->setSliderEnabled(false);
        MemoryPropertyBag bag;
        s->WriteProperties(bag);
        QCOMPARE(bag.entries().value(QStringLiteral("hWnd")).toInt(), 1234);
        QVERIFY(bag.entries().contains(QStringLiteral("BackColor"))); // the designed colour is no default
        QVERIFY(!bag.entries().contains(QStringLiteral("Step")));

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("designs.json"));
        QVERIFY(PropertyBagFile::save(file, { { QStringLiteral("one"), bag } }));
        QString error;
        const auto loaded = PropertyBagFile::load(file, &error);
        QVERIFY2(loaded, qPrintable(error));
        QVERIFY(loaded->value(QStringLiteral("one")) == bag);

        trkSlider back;
        back.ReadProperties(loaded->value(QStringLiteral("one")));
        back.resize(200, 16);
        back.resizeLayout();
        QCOMPARE(back.min(), -5);
        QCOMPARE(back.max(), 20);
        QCOMPARE(back.value(), 7);
        QCOMPARE(back.railStyle(), 3);
        QCOMPARE(back.orientation(), 0);
        QCOMPARE(back.hWnd(), 1234);
        QVERIFY(!back.sliderEnabled());
        QCOMPARE(back.backColor(), QColor(207, 207, 207));
        QCOMPARE(back.sliderIcon().toImage(), s->sliderIcon().toImage());
        QCOMPARE(back.railPicture().size(), QSize(30, 6));
        QCOMPARE(back.thumbRect().left(), float(184 * 12 / 25.0));
        MemoryPropertyBag again;
        back.WriteProperties(again);
        QVERIFY(again == bag);
    }

    void emptyBagGivesTheDefaults()
    {
        // Read into a shown control: the bag neither resizes nor repaints it.
        auto s0 = horizontal(200);
        trkSlider& s = *s0;
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        s.setValue(5);
        const QImage painted = s.surface().toImage();
        s.ReadProperties(MemoryPropertyBag());
        QCOMPARE(s.size(), QSize(200, 16));
        QCOMPARE(s.surface().toImage(), painted);
        QCOMPARE(s.orientation(), 1);
        QCOMPARE(s.value(), 0);
        QCOMPARE(s.max(), 10);
        QVERIFY(s.sliderEnabled());
        QCOMPARE(s.backColor(), QPalette().color(QPalette::Button));
        MemoryPropertyBag written;
        s.WriteProperties(written);
        QVERIFY(written.entries().isEmpty());
    }

    void oddBags()
    {
        trkSlider s;
        MemoryPropertyBag flat; // Max equal to Min: kept, placements skipped
        flat.setEntry(QStringLiteral("Min"), QVariant::fromValue(qint16(4)));
        flat.setEntry(QStringLiteral("Max"), QVariant::fromValue(qint16(4)));
        s.ReadProperties(flat);
        QCOMPARE(s.min(), 4);
        QCOMPARE(s.max(), 4);
        s.resizeLayout();
        s.setValue(4);
        QCOMPARE(s.value(), 4);

        MemoryPropertyBag bad;
        bad.setEntry(QStringLiteral("Max"), 70000);
        QCOMPARE(errorOf([&] { s.ReadProperties(bad); }), 6);
        QCOMPARE(s.max(), 4);

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bad.json"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"trkSliderDesigns\": {\"a\": {\"Min\": {\"int16\": 99999}}}}");
        f.close();
        QString error;
        QVERIFY(!PropertyBagFile::load(file, &error));
        QVERIFY(error.contains(QStringLiteral("Min")));
        QVERIFY(!PropertyBagFile::load(dir.filePath(QStringLiteral("none.json")), &error));
    }

    // Mouse.

    void mouse_data()
    {
        // Actions: "press|release L|R x y [shift]" and "move x y". Horizontal: 200 x 16, thumb 16
        // wide, Left 92 at Value 5; vertical: 16 x 100.
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("valueAfter");
        QTest::addColumn<double>("thumbAt"); // Left or Top
        QTest::addColumn<QStringList>("log");
        QTest::newRow("press and release on the thumb")
            << 0 << 5 << true << QStringList { "press L 92 5 shift", "release L 92 5 shift" } << 5 << 92.0
            << QStringList { "MouseDown 1", "Click", "MouseUp 1" };
        // The centre jumps to 108 (Left 100), which stands for 5 again: the gate lets nothing by.
        QTest::newRow("right edge is off the thumb") << 0 << 5 << true << QStringList { "press L 108 5" } << 5 << 92.0
                                                     << QStringList { "~Value", "MouseDown 0" };
        QTest::newRow("press off the thumb") << 0 << 5 << true << QStringList { "press L 170 5" } << 9 << 184 * 0.9
                                             << QStringList { "ValueChanged", "~Value", "MouseDown 0" };
        QTest::newRow("beyond the right end") << 0 << 0 << true << QStringList { "press L 4 5", "move 600 5" } << 10 << 184.0
                                              << QStringList { "MouseDown 0", "ValueChanged", "ArrivedLast", "~Value" };
        // At the Min end 0 passes the gate every time; a release outside raises no Click.
        QTest::newRow("beyond the left end, released outside")
            << 0 << 5 << true << QStringList { "press L 100 5", "move -300 5", "move -200 5", "release L -200 5" } << 0 << 0.0
            << QStringList { "MouseDown 0", "ValueChanged", "ArrivedFirst", "~Value", "ValueChanged", "ArrivedFirst",
                             "~Value", "MouseUp 0" };
        QTest::newRow("vertical, upwards to Max") << 1 << 0 << true << QStringList { "press L 8 90", "move 8 48" } << 5
                                                  << 42.0 << QStringList { "MouseDown 0", "ValueChanged", "~Value" };
        QTest::newRow("right button") << 0 << 0 << true << QStringList { "press R 150 5", "move 180 5", "release R 150 5" }
                                      << 0 << 0.0 << QStringList {};
        QTest::newRow("right release ends a left drag")
            << 0 << 0 << true << QStringList { "press L 4 5", "release R 4 5", "move 180 5", "release L 4 5" } << 0 << 0.0
            << QStringList { "MouseDown 0", "MouseUp 0", "Click" };
        QTest::newRow("disabled") << 0 << 0 << false << QStringList { "press L 150 5", "move 180 5", "release L 150 5" }
                                  << 0 << 0.0 << QStringList { "Click" };
    }

    void mouse()
    {
        QFETCH(int, orientation);
        QFETCH(int, value);
        QFETCH(bool, enabled);
        QFETCH(QStringList, actions);
        QFETCH(int, valueAfter);
        QFETCH(double, thumbAt);
        QFETCH(QStringList, log);
        trkSlider s;
        s.setSliderIcon(solid(16, 16, Qt::blue));
        s.setOrientation(orientation);
        s.resize(orientation == Horizontal ? QSize(200, 16) : QSize(16, 100));
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        s.setValue(value);
        s.setSliderEnabled(enabled);
        Recorder r(s);
        for (const QString& action : actions) {
            const QStringList a = action.split(u' ');
            const Qt::KeyboardModifiers shift = a.endsWith(QStringLiteral("shift")) ? Qt::ShiftModifier : Qt::NoModifier;
            if (a[0] == u"move") {
                QTest::mouseMove(&s, QPoint(a[1].toInt(), a[2].toInt()));
                continue;
            }
            const Qt::MouseButton button = a[1] == u"L" ? Qt::LeftButton : Qt::RightButton;
            const QPoint at(a[2].toInt(), a[3].toInt());
            if (a[0] == u"press") {
                QTest::mousePress(&s, button, shift, at);
            } else {
                QTest::mouseRelease(&s, button, shift, at);
            }
        }
        QCOMPARE(s.value(), valueAfter);
        QCOMPARE(orientation == Horizontal ? s.thumbRect().left() : s.thumbRect().top(), float(thumbAt));
        QCOMPARE(r.log, log);
    }

    void errorsInADragNeverEscape()
    {
        // Orientation 2 cannot map a drag: the value 0 lies outside 1..10 and is refused, yet the
        // program goes on and the next release still ends the drag.
        auto s = horizontal(200);
        s->show();
        QVERIFY(QTest::qWaitForWindowExposed(s.get()));
        s->setMin(1);
        s->setOrientation(2);
        Recorder r(*s);
        QSignalSpy reported(s.get(), &trkSlider::errorOccurred);
        QTest::mousePress(s.get(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 5));
        QCOMPARE(reported.count(), 1);
        QCOMPARE(reported[0], (QVariantList { 380, QStringLiteral("Value") }));
        QVERIFY(s->isDragging());
        QVERIFY(!r.log.contains(QStringLiteral("MouseDown 0")));
        QCOMPARE(s->value(), 1);
        QTest::mouseRelease(s.get(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 5));
        QVERIFY(!s->isDragging());
        QCOMPARE(r.log, (QStringList { "Click", "MouseUp 0" }));
    }

    void layoutsAndSizeHints()
    {
        // In a layout the slider takes the length it is given and keeps the thumb's breadth;
        // a resize never makes it resize itself.
        QWidget host;
        auto* row = new QHBoxLayout(&host);
        auto* h = new trkSlider;
        h->setSliderIcon(solid(16, 16, Qt::blue));
        h->setOrientation(Horizontal);
        auto* v = new trkSlider;
        v->setSliderIcon(solid(12, 20, Qt::blue));
        row->addWidget(h);
        row->addWidget(v);
        QCOMPARE(h->sizeHint(), QSize(128, 16));
        QCOMPARE(h->minimumSizeHint(), QSize(32, 16));
        QCOMPARE(v->sizeHint(), QSize(12, 160));
        host.resize(400, 300);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCOMPARE(h->height(), 16);
        QVERIFY(h->width() > 128);
        QCOMPARE(v->width(), 12);
        QVERIFY(v->height() > 200);
        QCOMPARE(v->railRect().Bottom, v->height() - 20 + 4 + 8); // the rail follows the new length
        h->resize(300, 50);
        QCOMPARE(h->size(), QSize(300, 16));
        h->setValue(10);
        QCOMPARE(h->thumbRect().left(), 284.0);

        trkSlider picture;
        picture.setSliderIcon(solid(16, 16, Qt::blue));
        picture.setRailPicture(solid(100, 20, Qt::red));
        picture.setOrientation(Horizontal);
        picture.setRailStyle(99);
        QCOMPARE(picture.sizeHint(), QSize(104, 20));
        QCOMPARE(picture.minimumSizeHint(), QSize(104, 20));
        picture.resize(300, 300);
        picture.show(); // the resize reaches a hidden control when it is shown
        QCOMPARE(picture.size(), QSize(104, 20));
    }

    void systemColoursFollowThePalette_data()
    {
        QTest::addColumn<qint32>("ole");
        QTest::addColumn<int>("role");
        QTest::newRow("window text") << qint32(0x80000008) << int(QPalette::WindowText);
        QTest::newRow("button face") << qint32(0x8000000F) << int(QPalette::Button);
        QTest::newRow("window") << qint32(0x80000005) << int(QPalette::Base);
    }

    void systemColoursFollowThePalette()
    {
        QFETCH(qint32, ole);
        QFETCH(int, role);
        trkSlider s;
        MemoryPropertyBag bag;
        bag.setEntry(QStringLiteral("BackColor"), ole);
        s.ReadProperties(bag);
        QCOMPARE(s.backColor(), QPalette().color(QPalette::ColorRole(role)));
        MemoryPropertyBag written;
        s.WriteProperties(written);
        QCOMPARE(written.entries().value(QStringLiteral("BackColor"), qint32(trkSlider::SystemButtonFace)).toInt(), ole);
    }

#ifdef COMKEYS_DESIGNER_PLUGIN
    void designerPluginOffersTheWidget()
    {
        QPluginLoader loader(QStringLiteral(COMKEYS_DESIGNER_PLUGIN));
        QObject* instance = loader.instance();
        QVERIFY2(instance, qPrintable(loader.errorString()));
        auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(instance);
        QVERIFY(plugin);
        QCOMPARE(plugin->name(), QStringLiteral("comkeys::trkSlider"));
        QCOMPARE(plugin->includeFile(), QStringLiteral("trkSlider.h"));
        QVERIFY(plugin->domXml().contains(QStringLiteral("class=\"comkeys::trkSlider\"")));
        // A new instance from the widget box gets a visible thumb, from the library itself.
        const QString thumb = plugin->domXml().section(QStringLiteral("<pixmap>"), 1).section(QStringLiteral("</pixmap>"), 0, 0);
        QCOMPARE(QPixmap(thumb).size(), QSize(16, 16));
        QWidget parent;
        QWidget* made = plugin->createWidget(&parent);
        QVERIFY(made);
        QCOMPARE(made->metaObject()->className(), "comkeys::trkSlider");
        QVERIFY(made->setProperty("Max", 50));
        QCOMPARE(made->property("Max").toInt(), 50);
    }
#endif

};

QTEST_MAIN(TestSlider)
#include "tst_slider.moc"
