#include "PropertyBag.h"
#include "SliderGeometry.h"
#include "trkSlider.h"

#include <QHBoxLayout>
#include <QPluginLoader>
#include <QSignalSpy>
#ifdef COMKEYS_DESIGNER_PLUGIN
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#endif

#include <QTemporaryDir>
#include <QTest>

using namespace comkeys;
using namespace comkeys::slider;

namespace {

// Records the slider's events, notifications and reported errors in the order they come.
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
        connect(&s, &trkSlider::errorOccurred, this,
                [this](int number, const QString& p) { log << QStringLiteral("error %1 %2").arg(number).arg(p); });
    }
};

QPixmap solid(int w, int h, QColor c)
{
    QPixmap p(w, h);
    p.fill(c);
    return p;
}

using Steps = QStringList;
using Log = QStringList;
using State = QList<float>;

// Runs steps on the slider: "Name=n" sets a property as a form, Designer or a binding does;
// "show", "resize w h", "move x y" and "press|release L|R x y [shift]" act as a host or the user;
// "once X=n,Y=m" sets those from the next ValueChanged's handler.
void run(trkSlider& s, const Steps& steps)
{
    for (const QString& step : steps) {
        const QStringList a = step.split(u' ');
        const auto at = [&](int i) { return QPoint(a[i].toInt(), a[i + 1].toInt()); };
        if (a[0] == u"once") {
            const Steps inner = a[1].split(u',');
            QObject::connect(&s, &trkSlider::ValueChanged, &s, [&s, inner] { run(s, inner); }, Qt::SingleShotConnection);
        } else if (step.contains(u'=')) {
            QVERIFY2(s.setProperty(qPrintable(step.section(u'=', 0, 0)), step.section(u'=', 1).toInt()), qPrintable(step));
        } else if (a[0] == u"show") {
            s.show();
            QVERIFY(QTest::qWaitForWindowExposed(&s));
        } else if (a[0] == u"resize") {
            s.resize(a[1].toInt(), a[2].toInt());
        } else if (a[0] == u"move") {
            QTest::mouseMove(&s, at(1));
        } else {
            QVERIFY2(a[0] == u"press" || a[0] == u"release", qPrintable(step));
            const Qt::MouseButton button = a[1] == u"L" ? Qt::LeftButton : Qt::RightButton;
            const Qt::KeyboardModifiers shift = a.size() > 4 ? Qt::ShiftModifier : Qt::NoModifier;
            if (a[0] == u"press") {
                QTest::mousePress(&s, button, shift, at(2));
            } else {
                QTest::mouseRelease(&s, button, shift, at(2));
            }
        }
    }
}

// A shown horizontal slider, 200 x 16 with a 16 x 16 thumb.
std::unique_ptr<trkSlider> horizontal()
{
    auto s = std::make_unique<trkSlider>();
    s->setSliderIcon(solid(16, 16, Qt::blue));
    run(*s, { "Orientation=0", "resize 200 30", "show" });
    return s;
}

} // namespace

class TestSlider : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Properties and events.

    void newInstance()
    {
        trkSlider s;
        QCOMPARE(QSize(s.outerWidthTwips(), s.outerHeightTwips()), QSize(525, 780)); // as designed
        QCOMPARE(s.thumbRect(), QRectF(0, 36, 16, 16)); // vertical, at the Min end
        // Every property holds the bag's default, except the designed colour.
        MemoryPropertyBag bag;
        s.WriteProperties(bag);
        QCOMPARE(bag.entries().keys(), QStringList { QStringLiteral("BackColor") });
    }

    void scripts_data()
    {
        // Each row runs on a shown horizontal slider, 200 x 16 with a 16 x 16 thumb (Left 73.6 at
        // Value 4, 92 at 5): steps before recording and while recording, then Min, Max, Value (as
        // stored), Step and the thumb's Left (Top when vertical), and what was recorded.
        QTest::addColumn<Steps>("setup");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<State>("state");
        QTest::addColumn<Log>("log");
        const Steps none;
        // A refused value changes nothing and is reported by errorOccurred, never thrown into Qt.
        const Steps at4 { "Value=4" };
        const State unchanged { 0, 10, 4, 1, 73.6 };
        QTest::newRow("Max at Min") << at4 << Steps { "Max=0" } << unchanged << Log { "error 380 Max" };
        QTest::newRow("Max below Min") << at4 << Steps { "Max=-5" } << unchanged << Log { "error 380 Max" };
        QTest::newRow("Max beyond 16 bits") << Steps { "Max=30000", "Min=10000" } << Steps { "Max=40000" }
                                            << State { 10000, 30000, 10000, 1, 0 } << Log { "error 6 Max" };
        QTest::newRow("Max - Min beyond 16 bits")
            << Steps { "Min=-30000" } << Steps { "Max=30000" } << State { -30000, 10, -30000, 1, 0 } << Log { "error 6 Max" };
        QTest::newRow("Min at Max") << at4 << Steps { "Min=10" } << unchanged << Log { "error 380 Min" };
        QTest::newRow("Min beyond 16 bits") << Steps { "Min=-30000", "Max=-10000" } << Steps { "Min=-40000" }
                                            << State { -30000, -10000, -30000, 1, 0 } << Log { "error 6 Min" };
        QTest::newRow("Max - Min beyond 16 bits, by Min") << at4 << Steps { "Min=-32768" } << unchanged << Log { "error 6 Min" };
        QTest::newRow("Min times Step beyond 16 bits")
            << Steps { "Value=4", "Step=5000" } << Steps { "Min=-9" } << State { 0, 10, 4, 5000, 73.6 } << Log { "error 6 Min" };
        QTest::newRow("Value above Max") << at4 << Steps { "Value=11" } << unchanged << Log { "error 380 Value" };
        QTest::newRow("Value below Min") << at4 << Steps { "Value=-1" } << unchanged << Log { "error 380 Value" };
        QTest::newRow("Value times Step beyond 16 bits") << Steps { "Value=4", "Step=4000" } << Steps { "Value=9" }
                                                         << State { 0, 10, 4, 4000, 73.6 } << Log { "error 6 Value" };
        QTest::newRow("Step beyond 16 bits") << at4 << Steps { "Step=32768" } << unchanged << Log { "error 6 Step" };

        // Events in their order. Enabled gates the mouse only; Step notifies nothing and scales what
        // is stored (2 x 5 = Max), the thumb going where 2 belongs.
        QTest::newRow("the same value twice")
            << none << Steps { "Value=5", "Value=5" } << State { 0, 10, 5, 1, 92 } << Log { "ValueChanged", "~Value", "~Value" };
        QTest::newRow("disabled, Step 5") << none << Steps { "Enabled=0", "Step=5", "Value=2" } << State { 0, 10, 10, 5, 36.8 }
                                          << Log { "~Enabled", "ValueChanged", "ArrivedLast", "~Value" };
        QTest::newRow("Max below Value moves nothing")
            << none << Steps { "Value=8", "Max=5" } << State { 0, 5, 8, 1, 147.2 } << Log { "ValueChanged", "~Value", "~Max" };
        // From a handler: the same value again reports nothing, it was reported already; a Max
        // moved while Min sets Value holds for the range.
        QTest::newRow("nested Value") << none << Steps { "once Value=7,Value=9", "Value=7" } << State { 0, 10, 9, 1, 165.6 }
                                      << Log { "ValueChanged", "~Value", "ValueChanged", "~Value", "~Value" };
        const Log maxMoved { "ValueChanged", "~Max", "ArrivedFirst", "~Value", "~Min", "ValueChanged" };
        QTest::newRow("Max moved, Value 20") << none << Steps { "once Max=20", "Min=3", "Value=20" }
                                             << State { 3, 20, 20, 1, 184 } << maxMoved + Log { "ArrivedLast", "~Value" };
        QTest::newRow("Max moved, Value 10") << none << Steps { "once Max=20", "Min=3", "Value=10" }
                                             << State { 3, 20, 10, 1, float(184.0 * 7 / 17) } << maxMoved + Log { "~Value" };

        // Forms (Designer, uic's code) set Max before Min and Step before StoredValue: a bound
        // refused because the other one is in the way waits for the next call.
        QTest::newRow("negative range") << none << Steps { "Max=-50", "Min=-100" } << State { -100, -50, -100, 1, 0 }
                                        << Log { "error 380 Max", "ValueChanged", "ArrivedFirst", "~Value", "~Min", "~Max" };
        QTest::newRow("Min above 10") << none << Steps { "Max=30", "Min=20" } << State { 20, 30, 20, 1, 0 }
                                      << Log { "~Max", "ValueChanged", "ArrivedFirst", "~Value", "~Min" };
        QTest::newRow("Min first") << none << Steps { "Min=20", "Max=30" } << State { 20, 30, 20, 1, 0 }
                                   << Log { "error 380 Min", "~Max", "ValueChanged", "ArrivedFirst", "~Value", "~Min" };
        QTest::newRow("Min in the way of Max") << none << Steps { "Max=-50", "Min=-40" } << State { -40, 10, -40, 1, 0 }
                                               << Log { "error 380 Max", "ValueChanged", "ArrivedFirst", "~Value", "~Min" };
        QTest::newRow("Max, Step, Min") << none << Steps { "Max=-50", "Step=2", "Min=-100" } << State { -100, 10, -200, 2, 0 }
                                        << Log { "error 380 Max", "ValueChanged", "~Value", "~Min" };
        QTest::newRow("Step 2, stored 5")
            << none << Steps { "Step=2", "StoredValue=5" } << State { 0, 10, 5, 2, 92 } << Log { "ValueChanged", "~Value" };
        QTest::newRow("Step 2, stored 21")
            << none << Steps { "Step=2", "StoredValue=21" } << State { 0, 10, 0, 2, 0 } << Log { "error 380 StoredValue" };

        // The mouse; vertical 16 x 100.
        const Steps at5 { "Value=5" };
        const auto at = [](float value, float thumb) { return State { 0, 10, value, 1, thumb }; };
        QTest::newRow("press and release on the thumb") << at5 << Steps { "press L 92 5 shift", "release L 92 5 shift" }
                                                        << at(5, 92) << Log { "MouseDown 1", "Click", "MouseUp 1" };
        // The centre jumps to 108 (Left 100), which stands for 5 again: the gate lets nothing by.
        QTest::newRow("right edge is off") << at5 << Steps { "press L 108 5" } << at(5, 92) << Log { "~Value", "MouseDown 0" };
        // Left 46 and 138 stand for 2.5 and 7.5: ties go to the even value.
        QTest::newRow("press off the thumb, 2.5")
            << none << Steps { "press L 54 5" } << at(2, 36.8) << Log { "ValueChanged", "~Value", "MouseDown 0" };
        QTest::newRow("press off the thumb, 7.5")
            << at5 << Steps { "press L 146 5" } << at(8, 147.2) << Log { "ValueChanged", "~Value", "MouseDown 0" };
        QTest::newRow("beyond the right end") << none << Steps { "press L 4 5", "move 600 5" } << at(10, 184)
                                              << Log { "MouseDown 0", "ValueChanged", "ArrivedLast", "~Value" };
        // At the Min end 0 passes the gate every time; a release outside raises no Click.
        QTest::newRow("beyond the left end, released outside")
            << at5 << Steps { "press L 100 5", "move -300 5", "move -200 5", "release L -200 5" } << at(0, 0)
            << Log { "MouseDown 0", "ValueChanged", "ArrivedFirst", "~Value", "ValueChanged", "ArrivedFirst", "~Value",
                     "MouseUp 0" };
        QTest::newRow("vertical, upwards to Max")
            << Steps { "Orientation=1", "resize 16 100" } << Steps { "press L 8 90", "move 8 48" } << at(5, 42)
            << Log { "MouseDown 0", "ValueChanged", "~Value" };
        QTest::newRow("right button") << none << Steps { "press R 150 5", "move 180 5", "release R 150 5" } << at(0, 0)
                                      << Log {};
        QTest::newRow("right release ends a left drag")
            << none << Steps { "press L 4 5", "release R 4 5", "move 180 5", "release L 4 5" } << at(0, 0)
            << Log { "MouseDown 0", "MouseUp 0", "Click" };
        QTest::newRow("disabled") << Steps { "Enabled=0" } << Steps { "press L 150 5", "move 180 5", "release L 150 5" }
                                  << at(0, 0) << Log { "Click" };
        // Orientation 2 maps a drag to 0, outside 1..10: refused and reported, and the release
        // still ends the drag.
        QTest::newRow("error in a drag") << Steps { "Min=1", "Orientation=2" } << Steps { "press L 150 5", "release L 150 5" }
                                         << State { 1, 10, 1, 1, 0 } << Log { "error 380 Value", "Click", "MouseUp 0" };
    }

    void scripts()
    {
        QFETCH(Steps, setup);
        QFETCH(Steps, steps);
        QFETCH(State, state);
        QFETCH(Log, log);
        auto s = horizontal();
        run(*s, setup);
        Recorder r(*s);
        // Shift travels by value, so that a queued connection can carry it.
        Log queued;
        connect(s.get(), &trkSlider::MouseDown, s.get(),
                [&](qint16 shift) { queued << QStringLiteral("MouseDown %1").arg(shift); }, Qt::QueuedConnection);
        run(*s, steps);
        const QRectF thumb = s->thumbRect();
        QCOMPARE((State { float(s->min()), float(s->max()), float(s->value()), float(s->step()),
                          float(s->orientation() == Vertical ? thumb.top() : thumb.left()) }),
                 state);
        QCOMPARE(r.log, log);
        QTRY_COMPARE(queued, log.filter(QStringLiteral("MouseDown")));
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
        const QByteArray name = property.toLatin1();
        QSignalSpy spy(&s, s.metaObject()->property(s.metaObject()->indexOfProperty(name.constData())).notifySignal());
        QVERIFY(s.setProperty(name.constData(), value));
        QVERIFY(s.setProperty(name.constData(), value)); // the same again: no change
        QCOMPARE(spy.count(), 1);
        const QVariant now = s.property(name.constData());
        if (now.metaType().id() == QMetaType::QPixmap) {
            QCOMPARE(spy[0][0].value<QPixmap>().toImage(), now.value<QPixmap>().toImage());
        } else {
            QCOMPARE(spy[0][0], now);
        }
    }

    // Layout and drawing.

    void explicitGeometry_data()
    {
        // A size set from outside stands until the next layout, which fits only the breadth (or a
        // zero length); a hidden control gets its resize, and so its layout, when shown. Each row
        // starts from a new control with a 16 x 16 thumb and ends by showing it.
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QSize>("fitted");
        QTest::addColumn<RailRect>("rail");
        QTest::addColumn<QList<double>>("at0and5and10"); // the thumb's Left or Top
        QTest::newRow("horizontal, 200 wide") << Steps { "Orientation=0", "resize 200 30" } << QSize(200, 16)
                                              << RailRect { 6, 6, 194, 10 } << QList<double> { 0, 92, 184 };
        QTest::newRow("vertical, 100 high")
            << Steps { "resize 16 100" } << QSize(16, 100) << RailRect { 6, 6, 10, 94 } << QList<double> { 84, 42, 0 };
        QTest::newRow("hidden vertical widened, then horizontal")
            << Steps { "resize 200 52", "Orientation=0" } << QSize(200, 16) << RailRect { 6, 6, 194, 10 }
            << QList<double> { 0, 92, 184 };
        QTest::newRow("shown vertical widened")
            << Steps { "show", "resize 200 52" } << QSize(16, 52) << RailRect { 6, 6, 10, 46 } << QList<double> { 36, 18, 0 };
        QTest::newRow("shown horizontal, no width") << Steps { "Orientation=0", "show", "resize 0 16" } << QSize(16, 16)
                                                    << RailRect { 6, 6, 10, 10 } << QList<double> { 0, 0, 0 };
    }

    void explicitGeometry()
    {
        QFETCH(Steps, steps);
        QFETCH(QSize, fitted);
        QFETCH(RailRect, rail);
        QFETCH(QList<double>, at0and5and10);
        trkSlider s;
        s.setSliderIcon(solid(16, 16, Qt::blue));
        run(s, steps + Steps { QStringLiteral("show") });
        QCOMPARE(s.size(), fitted);
        QCOMPARE(s.railRect(), rail);
        for (int i = 0; i < 3; ++i) {
            s.setValue(i * 5);
            QCOMPARE(s.orientation() == Horizontal ? s.thumbRect().left() : s.thumbRect().top(), at0and5and10[i]);
        }
    }

    void inALayout()
    {
        // The slider takes the length the layout gives it and keeps the thumb's breadth; the rail
        // follows the length.
        QWidget host;
        auto* row = new QHBoxLayout(&host);
        auto* h = new trkSlider;
        h->setSliderIcon(solid(16, 16, Qt::blue));
        h->setOrientation(Horizontal);
        auto* v = new trkSlider;
        v->setSliderIcon(solid(12, 20, Qt::blue));
        row->addWidget(h);
        row->addWidget(v);
        host.resize(400, 300);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QVERIFY(h->width() > h->sizeHint().width());
        QCOMPARE(v->width(), 12);
        QVERIFY(v->height() > 200);
        QCOMPARE(v->railRect().Bottom, v->height() - 20 + 4 + 8);
    }

    void pictureRails_data()
    {
        // A red rail picture 100 wide on a white ground: the control fits it.
        QTest::addColumn<int>("railHeight");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("railAt");
        QTest::addColumn<double>("thumbTop");
        QTest::newRow("rail taller than the thumb") << 20 << QSize(104, 20) << QPoint(2, 0) << 2.0;
        QTest::newRow("rail lower than the thumb") << 8 << QSize(104, 16) << QPoint(2, 4) << 0.0;
    }

    void pictureRails()
    {
        QFETCH(int, railHeight);
        QFETCH(QSize, size);
        QFETCH(QPoint, railAt);
        QFETCH(double, thumbTop);
        trkSlider s;
        s.setBackColor(Qt::white);
        s.setSliderIcon(solid(16, 16, Qt::blue));
        s.setRailPicture(solid(100, railHeight, Qt::red));
        run(s, { "Orientation=0", "RailStyle=99" });
        QCOMPARE(s.size(), size);
        QCOMPARE(s.sizeHint(), size); // for layouts
        QCOMPARE(s.thumbRect().top(), thumbTop);
        const QImage surface = s.surface().toImage();
        QCOMPARE(surface.pixelColor(railAt + QPoint(99, 0)), QColor(Qt::red));
        QCOMPARE(surface.pixelColor(railAt + QPoint(99, railHeight - 1)), QColor(Qt::red));
        QCOMPARE(surface.pixelColor(railAt + QPoint(100, 0)), QColor(Qt::white));
    }

    void railsAndThumbArePainted_data()
    {
        // At Value 10 before the steps; the rail's edge runs through (26, 6) and (26, 9).
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QColor>("top");
        QTest::addColumn<QColor>("bottom");
        QTest::addColumn<QPoint>("thumbAt");
        const QColor back(207, 207, 207);
        const QColor shadow(160, 160, 160);
        const QColor white(255, 255, 255);
        const QPoint right(192, 8);
        QTest::newRow("sunken") << Steps { "RailStyle=0" } << shadow << white << right;
        QTest::newRow("raised") << Steps { "RailStyle=1" } << QColor(227, 227, 227) << QColor(105, 105, 105) << right;
        QTest::newRow("thin sunken") << Steps { "RailStyle=2" } << shadow << white << right;
        QTest::newRow("thin raised") << Steps { "RailStyle=3" } << white << shadow << right;
        QTest::newRow("none") << Steps { "RailStyle=4" } << back << back << right;
        QTest::newRow("unknown") << Steps { "RailStyle=5" } << back << back << right;
        // Another orientation moves nothing: the edge stays round the rail as it was, the thumb at Value 5.
        QTest::newRow("orientation 2") << Steps { "Value=5", "Orientation=2", "Value=8" } << shadow << white << QPoint(100, 8);
    }

    void railsAndThumbArePainted()
    {
        QFETCH(Steps, steps);
        QFETCH(QColor, top);
        QFETCH(QColor, bottom);
        QFETCH(QPoint, thumbAt);
        auto s = horizontal();
        run(*s, Steps { QStringLiteral("Value=10") } + steps);
        QCOMPARE(s->size(), QSize(200, 16));
        const QImage surface = s->surface().toImage();
        QCOMPARE(surface.pixelColor(26, 6), top);
        QCOMPARE(surface.pixelColor(26, 9), bottom);
        QCOMPARE(surface.pixelColor(thumbAt), QColor(Qt::blue));
    }

    // Persistence.

    void bagRoundTrip()
    {
        auto s = horizontal();
        run(*s, { "Min=-5", "Max=20", "Value=7", "RailStyle=3", "hWnd=1234", "Enabled=0" });
        s->setRailPicture(solid(30, 6, Qt::darkGreen));
        s->setBackColor(QColor(10, 20, 30));
        MemoryPropertyBag bag;
        s->WriteProperties(bag);
        // Step and ShowValueTip hold their defaults and are left out.
        QCOMPARE(bag.entries().keys(), (QStringList { "BackColor", "Enabled", "Max", "Min", "Orientation", "RailPicture",
                                                      "RailStyle", "SliderIcon", "Value", "hWnd" }));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("designs.json"));
        QVERIFY(PropertyBagFile::save(file, { { QStringLiteral("one"), bag } }));
        QString error;
        const auto loaded = PropertyBagFile::load(file, &error);
        QVERIFY2(loaded, qPrintable(error));
        trkSlider back;
        back.ReadProperties(loaded->value(QStringLiteral("one")));
        back.resize(200, 16);
        back.resizeLayout();
        QCOMPARE(back.backColor(), QColor(10, 20, 30));
        QCOMPARE(back.thumbRect().left(), float(184 * 12 / 25.0));
        MemoryPropertyBag again;
        back.WriteProperties(again);
        QVERIFY(again == bag);
        // A file that is not a design file is refused with a reason, and so is a missing one.
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"trkSliderDesigns": {"a": {"Min": {"int16": 99999}}}})");
        f.close();
        QVERIFY(!PropertyBagFile::load(file, &error));
        QVERIFY(error.contains(QStringLiteral("Min")));
        QVERIFY(!PropertyBagFile::load(dir.filePath(QStringLiteral("none.json")), &error));
    }

    void bagsAreReadAsStored()
    {
        // Read into a shown control, a bag neither resizes nor repaints it. An empty one gives the
        // defaults; the colour's is the system's button face, which follows the palette and is kept.
        auto s = horizontal();
        run(*s, { "Value=5" });
        const QImage painted = s->surface().toImage();
        s->ReadProperties(MemoryPropertyBag());
        QCOMPARE(s->size(), QSize(200, 16));
        QCOMPARE(s->surface().toImage(), painted);
        QCOMPARE(s->backColor(), QPalette().color(QPalette::Button));
        MemoryPropertyBag bag;
        s->WriteProperties(bag);
        QVERIFY(bag.entries().isEmpty());
        // Max equal to Min is kept, and placements skip the zero range.
        bag.setEntry(QStringLiteral("Min"), QVariant::fromValue(qint16(4)));
        bag.setEntry(QStringLiteral("Max"), QVariant::fromValue(qint16(4)));
        s->ReadProperties(bag);
        const QRectF thumb = s->thumbRect();
        s->setValue(4);
        QCOMPARE(s->value(), 4);
        QCOMPARE(s->thumbRect(), thumb);
        // An entry that does not fit its type is refused, to a C++ caller, and changes nothing.
        bag.setEntry(QStringLiteral("Max"), 70000);
        QVERIFY_THROWS_EXCEPTION(SliderError, s->ReadProperties(bag));
        QCOMPARE(s->max(), 4);
    }

#ifdef COMKEYS_DESIGNER_PLUGIN
    void designerPluginOffersTheWidget()
    {
        QPluginLoader loader(QStringLiteral(COMKEYS_DESIGNER_PLUGIN));
        auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
        QVERIFY2(plugin, qPrintable(loader.errorString()));
        QCOMPARE(plugin->name(), QStringLiteral("comkeys::trkSlider"));
        QCOMPARE(plugin->includeFile(), QStringLiteral("trkSlider.h"));
        QVERIFY(plugin->domXml().contains(QStringLiteral("class=\"comkeys::trkSlider\"")));
        // A new instance from the widget box gets a visible thumb, from the library itself.
        const QString thumb = plugin->domXml().section(QStringLiteral("<pixmap>"), 1).section(QStringLiteral("</pixmap>"), 0, 0);
        QCOMPARE(QPixmap(thumb).size(), QSize(16, 16));
        const std::unique_ptr<QWidget> made(plugin->createWidget(nullptr));
        QVERIFY(made && made->inherits("comkeys::trkSlider"));
    }
#endif
};

QTEST_MAIN(TestSlider)
#include "tst_slider.moc"
