// The plot window following a fast device: lines of three values at 1000 lines a second for ten
// simulated minutes, fed to the line record in chunks that split lines anywhere, twenty times
// faster than real time, while the window follows.
//   bench_plot                        every workload, each in a process of its own
//   bench_plot WORKLOAD [LINES/S] [MINUTES]
//     record  the record alone (the baseline for memory)
//     plot    the record with the plot window open and following
//     open    the window opened on a record that already holds the ten minutes
#include "ScriptedDialogs.h"
#include "BenchTools.h"
#include "PlotWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineSeries>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace comkeys;

namespace {

using SilentDialogs = test::ScriptedDialogs; // answers No, cancels every file dialog

// What a device polled for three quantities prints, chunked as a serial read would return it.
class Device {
public:
    Device(LineRecord& record, int linesPerSecond)
        : m_record(record)
        , m_linesPerSecond(linesPerSecond)
    {
    }
    // Adds the chunks of the next 100 ms.
    void step()
    {
        QByteArray bytes;
        const int lines = m_linesPerSecond / 10;
        for (int i = 0; i < lines; ++i, ++m_line) {
            const double t = double(m_line) / m_linesPerSecond;
            bytes += "temp:" + QByteArray::number(25 + 5 * std::sin(t / 30) + m_random.bounded(0.2), 'f', 2)
                + " current=" + QByteArray::number(1.5 + std::sin(t) + m_random.bounded(0.05), 'f', 3)
                + ", pos:" + QByteArray::number(qint64(1000 * std::sin(t / 7))) + "\r\n";
        }
        // Ten reads of about equal size, cut anywhere in a line.
        qsizetype at = 0;
        for (int k = 1; k <= 10; ++k) {
            const qsizetype to = k == 10 ? bytes.size() : bytes.size() * k / 10 + m_random.bounded(-20, 20);
            m_record.addReceived(bytes.mid(at, to - at), m_msecs + k * 10);
            at = to;
        }
        m_msecs += 100;
    }
    qint64 lines() const { return m_line; }

private:
    LineRecord& m_record;
    int m_linesPerSecond;
    qint64 m_line = 0;
    qint64 m_msecs = 1'700'000'000'000;
    QRandomGenerator m_random { 7 };
};

// Gaps between the ticks of a 1 ms timer: how long the event loop was kept from answering.
class StallWatch : public QObject {
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 ns = m_clock.nsecsElapsed();
            if (m_last >= 0) {
                m_gaps.push_back(double(ns - m_last) / 1e6);
                if (m_gaps.back() > m_worst) {
                    m_worst = m_gaps.back();
                    m_worstAt = double(m_last) / 1e6;
                }
            }
            m_last = ns;
        });
        m_clock.start();
        m_timer.start();
    }
    double worstAt() const { return m_worstAt; }
    double worst() const { return m_worst; }
    double percentile(double p) const
    {
        if (m_gaps.empty()) {
            return 0;
        }
        std::vector<double> sorted = m_gaps;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::size_t(p * double(sorted.size() - 1))];
    }
    int over(double ms) const { return int(std::count_if(m_gaps.begin(), m_gaps.end(), [ms](double g) { return g > ms; })); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    std::vector<double> m_gaps;
    double m_worst = 0;
    double m_worstAt = 0;
};

// The time each paint of a widget takes, measured around its whole paint event.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget)
        : m_widget(widget)
    {
        widget->installEventFilter(this);
    }
    std::vector<double> times;
    double worst() const { return times.empty() ? 0 : *std::max_element(times.begin(), times.end()); }
    double median() const
    {
        if (times.empty()) {
            return 0;
        }
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_widget || event->type() != QEvent::Paint) {
            return false;
        }
        m_widget->removeEventFilter(this);
        QElapsedTimer clock;
        clock.start();
        QApplication::sendEvent(m_widget, event);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        m_widget->installEventFilter(this);
        return true;
    }

private:
    QWidget* m_widget;
};

int runWorkload(const QString& workload, int linesPerSecond, int minutes)
{
    QTextStream out(stdout);
    LineRecord record;
    Device device(record, linesPerSecond);
    SilentDialogs dialogs;
    const int steps = minutes * 600;
    std::unique_ptr<PlotWindow> window;
    auto openWindow = [&] {
        window = std::make_unique<PlotWindow>(record, dialogs, QString());
        window->resize(1000, 600);
        window->show();
        QApplication::processEvents();
    };
    if (workload == QLatin1String("open")) {
        for (int i = 0; i < steps; ++i) {
            device.step();
        }
    } else if (workload == QLatin1String("plot")) {
        // The first paint (fonts, legend) is timed on its own; following is measured after it.
        device.step();
        QElapsedTimer first;
        first.start();
        openWindow();
        window->refresh();
        window->repaint();
        out << "plot: window opened and first painted in " << first.elapsed() << " ms\n";
    }
    QApplication::processEvents();
    const qint64 rssBefore = test::statusKiB("VmRSS:");
    StallWatch stalls;
    // The watch's timer running before anything is measured.
    QEventLoop settle;
    QTimer::singleShot(20, &settle, &QEventLoop::quit);
    settle.exec();
    std::unique_ptr<PaintWatch> paints;
    QElapsedTimer clock;
    clock.start();
    if (workload == QLatin1String("open")) {
        openWindow();
        paints = std::make_unique<PaintWatch>(window->view()->viewport());
        while (!window->data().isCaughtUp()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        out << "open: ten minutes read in " << clock.elapsed() << " ms, ";
    } else {
        if (window) {
            paints = std::make_unique<PaintWatch>(window->view()->viewport());
        }
        // 100 simulated ms every 5 ms: twenty times faster than real time.
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        int done = 0;
        QEventLoop loop;
        QObject::connect(&feed, &QTimer::timeout, &loop, [&] {
            device.step();
            if (++done == steps) {
                loop.quit();
            }
        });
        feed.start(5);
        loop.exec();
        out << workload << ": " << device.lines() << " lines fed in " << clock.elapsed() << " ms, ";
    }
    // Let the window draw what came last, then a few more paints with all of it in view.
    for (int i = 0; i < 10; ++i) {
        QTimer::singleShot(PlotWindow::TickMs * 2, [] {});
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (window) {
            window->view()->viewport()->repaint();
        }
    }
    const qint64 rssAfter = test::statusKiB("VmRSS:");
    out << "worst stall " << QString::number(stalls.worst(), 'f', 1) << " ms (at "
        << QString::number(stalls.worstAt() / 1000, 'f', 1) << " s; 99.9th percentile "
        << QString::number(stalls.percentile(0.999), 'f', 1) << " ms, " << stalls.over(16) << " over 16 ms), ";
    if (paints) {
        out << "repaint median " << QString::number(paints->median(), 'f', 1) << " ms, worst "
            << QString::number(paints->worst(), 'f', 1) << " ms over " << paints->times.size() << " paints, ";
        int points = 0;
        for (int s = 0; s < window->data().seriesCount(); ++s) {
            points += int(window->drawnPoints(s).size());
        }
        // The window's own work for one frame with every row in view: read, decimate, set the axes.
        std::vector<double> redraws;
        for (int i = 0; i < 21; ++i) {
            QElapsedTimer redraw;
            redraw.start();
            window->refresh();
            redraws.push_back(double(redraw.nsecsElapsed()) / 1e6);
        }
        std::sort(redraws.begin(), redraws.end());
        out << "redraw of all rows median " << QString::number(redraws[10], 'f', 1) << " ms (best "
            << QString::number(redraws[0], 'f', 1) << "), ";
        out << window->data().rowCount() << " rows x " << window->data().seriesCount() << " series drawn as " << points
            << " points, rows hold " << window->data().bytes() / (1024 * 1024) << " MiB, ";
    }
    out << "record " << record.cost() / (1024 * 1024) << " MiB; memory grew "
        << (rssAfter - rssBefore) / 1024 << " MiB\n";
    out << "rss-growth-kib " << (rssAfter - rssBefore) << "\n";
    out.flush();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const int linesPerSecond = args.value(1, QStringLiteral("1000")).toInt();
    const int minutes = args.value(2, QStringLiteral("10")).toInt();
    if (!args.isEmpty()) {
        return runWorkload(args.first(), linesPerSecond, minutes);
    }
    QTextStream out(stdout);
    out << "bench_plot: " << linesPerSecond << " lines/s of 3 values for " << minutes
        << " minutes; targets: stalls and repaints under 16 ms, the plot's memory at most 64 MiB\n";
    out.flush();
    QMap<QString, qint64> growth;
    for (const QString& workload : { QStringLiteral("record"), QStringLiteral("plot"), QStringLiteral("open") }) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(app.applicationFilePath(), { workload, QString::number(linesPerSecond), QString::number(minutes) });
        child.waitForFinished(-1);
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("rss-growth-kib ")) {
                growth[workload] = line.mid(15).toLongLong();
            } else if (!line.isEmpty()) {
                out << line << "\n";
            }
        }
    }
    out << "the plot's own memory growth (plot minus record): " << (growth["plot"] - growth["record"]) / 1024 << " MiB\n";
    return 0;
}
