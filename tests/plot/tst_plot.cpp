#include "PlotWindow.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include "PrivateDesign.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>

using namespace comkeys;
using comkeys::test::ScriptedDialogs;

namespace {
constexpr qint64 T0 = 1'700'000'000'000;

// Values as "label=value label=value", or "malformed".
QString describe(bool ok, const std::vector<LineParser::Value>& values)
{
    if (!ok) {
        return QStringLiteral("malformed");
    }
    QStringList parts;
    for (const LineParser::Value& v : values) {
        parts << QString::fromUtf8(v.label) + u'=' + QString::number(v.value);
    }
    return parts.join(u' ');
}

// Rows as "time:label=value,..." (times after T0), one per row, separated by "; ".
QString rows(const PlotData& data)
{
    QStringList out;
    for (qint64 r = 0; r < data.rowCount(); ++r) {
        QStringList values;
        for (int s = 0; s < data.seriesCount(); ++s) {
            if (!std::isnan(data.value(s, r))) {
                values << data.seriesName(s) + u'=' + QString::number(data.value(s, r));
            }
        }
        out << QString::number(data.time(r) - T0) + u':' + values.join(u',');
    }
    return out.join(QStringLiteral("; "));
}

// Pixels of (about: the curves are antialiased) the colour in the part of the image (fractions of its plot area).
int pixelsOf(const QImage& image, const QColor& colour, const QRectF& area, const QRectF& part)
{
    const QRect r = QRectF(area.left() + part.left() * area.width(), area.top() + part.top() * area.height(),
                           part.width() * area.width(), part.height() * area.height())
                        .toRect()
                        .intersected(image.rect());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) + std::abs(c.blue() - colour.blue()) < 60;
        }
    }
    return n;
}

// A rising series a (0 to 10) and a falling b (10 to 0) over ten seconds.
void fillCrossing(LineRecord& record)
{
    for (int i = 0; i <= 10; ++i) {
        record.addReceived(QStringLiteral("a:%1, b=%2\r\n").arg(i).arg(10 - i).toUtf8(), T0 + i * 1000);
    }
}
} // namespace

class TestPlot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void parser_data()
    {
        QTest::addColumn<QString>("pattern"); // empty: the automatic forms
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("colon pairs") << QString() << QByteArray("temp:23.5 current:1.25") << "temp=23.5 current=1.25";
        QTest::newRow("equals pairs, commas") << QString() << QByteArray("x=1,y=-2.5e-3") << "x=1 y=-0.0025";
        QTest::newRow("labels with spaces, units, tabs")
            << QString() << QByteArray("motor temp: 41.5C\tpump current = 1.2A") << "motor temp=41.5 pump current=1.2";
        QTest::newRow("UTF-8 label") << QString() << QByteArray("温度:21.5") << "温度=21.5";
        QTest::newRow("plain numbers") << QString() << QByteArray(" 1.5, -2\t3E2 +4 .5 ") << "1=1.5 2=-2 3=300 4=4 5=0.5";
        QTest::newRow("no numbers") << QString() << QByteArray("OK") << "malformed";
        QTest::newRow("label without number") << QString() << QByteArray("ERR: sensor fault") << "malformed";
        QTest::newRow("date is not numbers") << QString() << QByteArray("2026-12-07") << "malformed";
        QTest::newRow("pairs then junk") << QString() << QByteArray("a:1 junk") << "malformed";
        QTest::newRow("blank") << QString() << QByteArray(" \t") << "";
        QTest::newRow("pattern groups") << QStringLiteral("T=(\\S+) I=(\\S+)") << QByteArray("> T=21.5 I=-3e-1 ok")
                                        << "1=21.5 2=-0.3";
        QTest::newRow("named group") << QStringLiteral("(?<volt>[-\\d.]+)V") << QByteArray("U 3.3V") << "volt=3.3";
        QTest::newRow("pattern misses") << QStringLiteral("T=(\\S+)") << QByteArray("I=1") << "malformed";
        QTest::newRow("captured non-number") << QStringLiteral("T=(\\S+)") << QByteArray("T=high") << "malformed";
        QTest::newRow("broken pattern refused") << QStringLiteral("T=(\\d+") << QByteArray("T=1") << "正则表达式有误";
        QTest::newRow("pattern without a group refused") << QStringLiteral("T=\\d+") << QByteArray("T=1") << "捕获组";
    }
    void parser()
    {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        LineParser parser;
        QString error;
        if (!pattern.isEmpty() && !parser.setPattern(pattern, &error)) {
            QVERIFY2(error.contains(expected), qPrintable(error));
            QCOMPARE(parser.form(), LineParser::Form::Auto);
            return;
        }
        std::vector<LineParser::Value> values;
        const bool ok = parser.parse(line, &values);
        QCOMPARE(describe(ok, values), expected);
    }

    void series_data()
    {
        QTest::addColumn<QStringList>("chunks"); // "ms|bytes" received, ">key|bytes" sent; \r \n as themselves
        QTest::addColumn<QString>("keyFilter");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("malformed");
        const qint64 big = LineRecord::DefaultLimit;
        QTest::newRow("CR LF, time of the ending chunk")
            << QStringList { "10|a:1\r\na:", "20|2\r", "30|\na:3\r\n" } << QString() << big << "10:a=1; 20:a=2; 30:a=3" << 0;
        QTest::newRow("LF and lone CR") << QStringList { "5|1 2\n3 4\r5 6" } << QString() << big << "5:1=1,2=2; 5:1=3,2=4"
                                        << 0;
        QTest::newRow("malformed skipped, blank ignored")
            << QStringList { "1|a:1\nOK\n\n", "2|a:2\nb:x\n" } << QString() << big << "1:a=1; 2:a=2" << 2;
        QTest::newRow("series appear later") << QStringList { "1|a:1\n", "2|b:2\n", "3|a:3 b:4\n" } << QString() << big
                                             << "1:a=1; 2:b=2; 3:a=3,b=4" << 0;
        QTest::newRow("replies to one key") << QStringList { ">温度|?T", "1|t:20\n", ">其它|?X", "2|t:99\n", ">温度|?T", "3|t:21\n" }
                                            << QStringLiteral("温度") << big << "1:t=20; 3:t=21" << 0;
        // Each entry costs 96 + 4 bytes: a limit of 350 keeps the last three.
        QTest::newRow("rows leave with the record") << QStringList { "1|a:1\n", "2|a:2\n", "3|a:3\n", "4|a:4\n", "5|a:5\n" }
                                                    << QString() << qint64(350) << "3:a=3; 4:a=4; 5:a=5" << 0;
    }
    void series()
    {
        QFETCH(QStringList, chunks);
        QFETCH(QString, keyFilter);
        QFETCH(qint64, limit);
        QFETCH(QString, expected);
        QFETCH(int, malformed);
        LineRecord record(limit);
        PlotData live(record);
        live.setKeyFilter(keyFilter);
        for (const QString& chunk : chunks) {
            const QString head = chunk.section(u'|', 0, 0);
            const QByteArray bytes = chunk.section(u'|', 1).toUtf8();
            if (head.startsWith(u'>')) {
                record.addSent(bytes, head.mid(1), T0);
            } else {
                record.addReceived(bytes, T0 + head.toLongLong());
            }
            QVERIFY(live.update());
        }
        QCOMPARE(rows(live), expected);
        QCOMPARE(live.malformed(), malformed);
        // Opened later, from the history alone: the same rows, except that a dropped entry may
        // have taken a line's beginning with it.
        if (limit == LineRecord::DefaultLimit) {
            PlotData later(record);
            later.setKeyFilter(keyFilter);
            QVERIFY(later.update());
            QCOMPARE(rows(later), expected);
        }
    }

    void decimationKeepsEveryColumnsExtremes_data()
    {
        QTest::addColumn<int>("columns");
        QTest::newRow("fewer columns than blocks") << 7;
        QTest::newRow("about a block a column") << 83;
        QTest::newRow("more columns than rows in view") << 9000;
    }
    void decimationKeepsEveryColumnsExtremes()
    {
        QFETCH(int, columns);
        // 60 chunks of 300 lines, b in every third line only; the record keeps about the newest
        // 25 chunks. Read with no time to spare, so every chunk is read in parts.
        LineRecord record(25 * (LineRecord::EntryCost + 3150));
        PlotData data(record);
        QRandomGenerator random(3);
        for (int chunk = 0; chunk < 60; ++chunk) {
            QByteArray bytes;
            for (int i = 0; i < 300; ++i) {
                const QByteArray b = i % 3 ? QByteArray() : " b:" + QByteArray::number(random.bounded(100));
                bytes += "a:" + QByteArray::number(random.bounded(1000) - 500) + b + "\r\n";
            }
            record.addReceived(bytes, T0 + chunk * 100);
            while (!data.update(0)) {
            }
        }
        QCOMPARE(data.rowCount(), 300 * (record.nextNumber() - record.firstNumber()));
        QVERIFY(data.rowCount() >= 5000);
        const double from = double(data.time(100)) + 0.5, to = double(data.time(data.rowCount() - 50));
        const double width = (to - from) / columns;
        for (int s = 0; s < 2; ++s) {
            std::map<int, std::pair<double, double>> expected, got;
            for (qint64 r = data.rowAt(from); r < data.rowAt(to); ++r) {
                if (!std::isnan(data.value(s, r))) {
                    auto [it, added] = expected.try_emplace(int((double(data.time(r)) - from) / width), data.value(s, r), data.value(s, r));
                    it->second = { std::min(it->second.first, data.value(s, r)), std::max(it->second.second, data.value(s, r)) };
                }
            }
            const QList<QPointF> points = data.decimated(s, from, to, columns);
            QVERIFY(points.first().x() < from && points.last().x() >= to);
            for (const QPointF& p : points.mid(1, points.size() - 2)) {
                auto [it, added] = got.try_emplace(int((p.x() - from) / width), p.y(), p.y());
                it->second = { std::min(it->second.first, p.y()), std::max(it->second.second, p.y()) };
            }
            QCOMPARE(got, expected);
            QVERIFY(points.size() <= 4 * columns + 2);
        }
    }

    void plotDrawnAndHiddenFromLegend()
    {
        LineRecord record;
        fillCrossing(record);
        ScriptedDialogs dialogs;
        PlotWindow window(record, dialogs, QDir::tempPath());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.refresh();
        QCOMPARE(window.chart()->series().size(), 2);
        const QColor a = window.series(0)->color();
        const QColor b = window.series(1)->color();
        const QRectF area = window.chart()->plotArea();
        QImage image = window.view()->grab().toImage();
        // a rises from bottom left to top right, b falls from top left to bottom right.
        QVERIFY(pixelsOf(image, a, area, { 0, 0.8, 0.2, 0.2 }) > 5);
        QVERIFY(pixelsOf(image, a, area, { 0.8, 0, 0.2, 0.2 }) > 5);
        QCOMPARE(pixelsOf(image, a, area, { 0, 0, 0.3, 0.3 }), 0);
        QVERIFY(pixelsOf(image, b, area, { 0, 0, 0.2, 0.2 }) > 5);
        QCOMPARE(pixelsOf(image, b, area, { 0, 0.7, 0.3, 0.3 }), 0);

        // The readout at the plot's middle: five seconds in, the value 5, and both series' values there.
        QTest::mouseMove(window.view()->viewport(), area.center().toPoint());
        const QString readout = window.findChild<QLabel*>(QStringLiteral("Readout"))->text();
        const QStringList parts = readout.split(u' ', Qt::SkipEmptyParts);
        QVERIFY2(parts.size() == 10 && parts[0] == QStringLiteral("时间") && parts[2] == QStringLiteral("值") && parts[5] == clockTime(T0 + 5000), qPrintable(readout));
        QVERIFY(std::abs(QTime::fromString(parts[1], QStringLiteral("hh:mm:ss.zzz")).msecsTo(QTime::fromString(clockTime(T0 + 5000), QStringLiteral("hh:mm:ss.zzz")))) < 30);
        QVERIFY(std::abs(parts[3].toDouble() - 5) < 0.1);
        QVERIFY2(readout.endsWith(QStringLiteral("a 5  b 5")), qPrintable(readout));

        const QList<QLegendMarker*> markers = window.chart()->legend()->markers(window.series(0));
        QCOMPARE(markers.size(), 1);
        Q_EMIT markers.first()->clicked();
        image = window.view()->grab().toImage();
        QCOMPARE(pixelsOf(image, a, area, { 0, 0, 1, 1 }), 0);
        QVERIFY(pixelsOf(image, b, area, { 0, 0, 1, 1 }) > 20);
        QVERIFY(markers.first()->isVisible());
    }

    void zoomAndPan_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<bool>("timeChanges");
        QTest::addColumn<bool>("valueChanges");
        QTest::addColumn<bool>("following");
        QTest::addColumn<bool>("autoscale");
        QTest::newRow("wheel over the plot") << "wheel plot" << true << false << true << true;
        QTest::newRow("Ctrl+wheel over the plot") << "ctrl-wheel plot" << false << true << true << false;
        QTest::newRow("wheel over the value axis") << "wheel value-axis" << false << true << true << false;
        QTest::newRow("drag in the plot") << "drag plot" << true << true << false << false;
        QTest::newRow("drag along the time axis") << "drag time-axis" << true << false << false << true;
    }
    void zoomAndPan()
    {
        QFETCH(QString, gesture);
        QFETCH(bool, timeChanges);
        QFETCH(bool, valueChanges);
        QFETCH(bool, following);
        QFETCH(bool, autoscale);
        LineRecord record;
        fillCrossing(record);
        ScriptedDialogs dialogs;
        PlotWindow window(record, dialogs, QDir::tempPath());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.refresh();
        const QRectF before = window.visibleRange();
        const QRectF area = window.chart()->plotArea();
        const QPoint at = gesture.endsWith(QStringLiteral("value-axis")) ? QPoint(int(area.left()) - 10, int(area.center().y()))
            : gesture.endsWith(QStringLiteral("time-axis"))               ? QPoint(int(area.center().x()), int(area.bottom()) + 10)
                                                                          : area.center().toPoint();
        QWidget* viewport = window.view()->viewport();
        if (gesture.contains(QStringLiteral("wheel"))) {
            const auto modifiers = gesture.startsWith(QStringLiteral("ctrl")) ? Qt::ControlModifier : Qt::NoModifier;
            QWheelEvent wheel(at, viewport->mapToGlobal(at), {}, { 0, 120 }, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &wheel);
        } else {
            QTest::mousePress(viewport, Qt::LeftButton, {}, at);
            QMouseEvent move(QEvent::MouseMove, at + QPoint(40, 30), viewport->mapToGlobal(at + QPoint(40, 30)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &move);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, at + QPoint(40, 30));
        }
        const QRectF after = window.visibleRange();
        QCOMPARE(after.left() != before.left() || after.right() != before.right(), timeChanges);
        QCOMPARE(after.top() != before.top() || after.bottom() != before.bottom(), valueChanges);
        QCOMPARE(window.isFollowing(), following);
        QCOMPARE(window.findChild<QCheckBox*>(QStringLiteral("Autoscale"))->isChecked(), autoscale);
    }

    void patternAndKeyChosenInTheWindow()
    {
        LineRecord record;
        record.addSent("?T", QStringLiteral("温度"), T0);
        record.addReceived("> T=21.5 I=0.5\r\n", T0 + 10);
        record.addSent("?X", QStringLiteral("其它"), T0 + 20);
        record.addReceived("> T=99 I=9\r\nnoise\r\n", T0 + 30);
        ScriptedDialogs dialogs;
        PlotWindow window(record, dialogs, QDir::tempPath());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* form = window.findChild<QComboBox*>(QStringLiteral("Form"));
        auto* pattern = window.findChild<QLineEdit*>(QStringLiteral("Pattern"));
        form->setFocus();
        QTest::keyClick(form, Qt::Key_Down);
        QVERIFY(pattern->isEnabled() && dialogs.messages.isEmpty());
        QTest::keyClicks(pattern, QStringLiteral("T=(\\S+"));
        QTest::keyClick(pattern, Qt::Key_Return);
        QCOMPARE(dialogs.messages.size(), 1); // refused with the reason; the old form stays
        QCOMPARE(window.data().parser().form(), LineParser::Form::Auto);
        pattern->setText(QStringLiteral("T=(?<T>\\S+) I=(\\S+)"));
        QTest::keyClick(pattern, Qt::Key_Return);
        QCOMPARE(window.data().seriesCount(), 2);
        QCOMPARE(window.data().seriesName(0), QStringLiteral("T"));
        QCOMPARE(window.data().rowCount(), 2);
        QCOMPARE(window.data().malformed(), 1);
        auto* key = window.findChild<QLineEdit*>(QStringLiteral("KeyFilter"));
        key->setFocus();
        key->setText(QStringLiteral("温度")); // keyClicks types ASCII only
        QTest::keyClick(key, Qt::Key_Return);
        QCOMPARE(window.data().rowCount(), 1);
        QCOMPARE(window.data().value(0, 0), 21.5);
        QCOMPARE(window.chart()->series().size(), 2);
    }

    void openedFromTheMainWindow()
    {
        ScriptedDialogs dialogs;
        QTemporaryDir dir;
        PrivateDesign main(dialogs, dir.path());
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        main.link().record().addReceived("a:1\na:2\n", T0);
        QTest::keyClick(&main, Qt::Key_P, Qt::ControlModifier);
        PlotWindow* window = main.plotWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->data().rowCount(), 2);
    }

    void exportsReadBack()
    {
        LineRecord record;
        record.addReceived("温度:21.5, 电流=0.25\r\n温度:", T0);
        record.addReceived("22\r\n", T0 + 1000);
        ScriptedDialogs dialogs;
        QTemporaryDir dir;
        PlotWindow window(record, dialogs, dir.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        dialogs.files = { dir.filePath(QStringLiteral("plot.png")), dir.filePath(QStringLiteral("plot.csv")),
                          dir.filePath(QStringLiteral("no/such/folder.csv")) };
        window.findChild<QPushButton*>(QStringLiteral("ExportPng"))->click();
        window.findChild<QPushButton*>(QStringLiteral("ExportCsv"))->click();
        const QImage png(dir.filePath(QStringLiteral("plot.png")), "PNG");
        QCOMPARE(png.size(), window.view()->size() * window.view()->devicePixelRatio());
        QVERIFY(pixelsOf(png, window.series(0)->color(), window.chart()->plotArea(), { 0, 0, 1, 1 }) > 20);
        QCOMPARE(QString::fromUtf8(test::readAll(dir.filePath(QStringLiteral("plot.csv")))),
                 QStringLiteral("时间,毫秒,温度,电流\r\n%1,%2,21.5,0.25\r\n%3,%4,22,\r\n")
                     .arg(clockTime(T0))
                     .arg(T0)
                     .arg(clockTime(T0 + 1000))
                     .arg(T0 + 1000));
        QVERIFY(dialogs.messages.isEmpty());
        window.findChild<QPushButton*>(QStringLiteral("ExportCsv"))->click();
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages.first().text.startsWith(QStringLiteral("曲线数据没有保存到")));
    }
};

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
