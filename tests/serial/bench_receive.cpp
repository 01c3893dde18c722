// Receive throughput, event-loop stalls and memory: data from comkeys-sim over a real
// pseudo-terminal into the real receive display and log window.
//   bench_receive [SECS]          all workloads, each in a process of its own
//   bench_receive WORKLOAD SECS   one workload: plain, lf or crlf floods; hex, timestamps or
//                                 capture (a plain flood in that view, or captured to a file);
//                                 paced11k or paced100k (CPU share at a serial rate);
//                                 paced11k-transcript (the same after a key press, with the
//                                 收发记录 window open and the reply growing); latency;
//                                 cat-plain, cat-lf or cat-crlf (a bare cat of the same flood);
//                                 rules-text or rules-regex (the crlf flood with 100 answer rules)
#include "ScriptedDialogs.h"
#include "BenchTools.h"
#include "FloodRules.h"
#include "DeviceSimulator.h"
#include "PrivateDesign.h"
#include "Startup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <vector>

using namespace comkeys;

namespace {

using SilentDialogs = test::ScriptedDialogs; // answers No, cancels every file dialog
using test::cpuSeconds;

// What the simulator's plain flood sends: its alphabet, over and over.
char floodByte(qint64 i)
{
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    return Alphabet[i % (sizeof Alphabet - 1)];
}

// Bytes on the line to pixels: an in-process device writes a paced stream (about 115200 baud
// in 1 ms steps); each step's time runs until the first paint of the display after the tool
// has taken its bytes.
int runLatency(PrivateDesign& window, double seconds)
{
    DeviceSimulator device;
    if (!device.start()) {
        return 1;
    }
    window.link().openPressed(device.devicePath(), QStringLiteral("115200"));
    if (!window.uart().PortOpen()) {
        return 1;
    }
    struct Step {
        qint64 sentNs;
        qint64 upTo; // bytes sent including this step
    };
    std::deque<Step> waiting;
    std::vector<double> latencies;
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    pace.setInterval(1);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        QByteArray step;
        for (int i = 0; i < 12; ++i, ++sent) {
            step += sent % 82 == 80 ? '\r' : sent % 82 == 81 ? '\n' : floodByte(sent);
        }
        device.send(step);
        waiting.push_back({ clock.nsecsElapsed(), sent });
    });
    struct PaintWatch : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) {
                onPaint();
            }
            return false;
        }
    } watch;
    watch.onPaint = [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 taken = window.uart().bytesReceived();
        while (!waiting.empty() && waiting.front().upTo <= taken) {
            latencies.push_back(double(now - waiting.front().sentNs) / 1e6);
            waiting.pop_front();
        }
    };
    QWidget* display = window.findChild<QWidget*>(QStringLiteral("Text1"));
    display->installEventFilter(&watch);
    pace.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    pace.stop();
    display->removeEventFilter(&watch);
    if (latencies.empty()) {
        QTextStream(stdout) << "latency: no paint seen" << Qt::endl;
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(1);
    out << "latency, bytes on the line to paint at 115200 baud: median " << latencies[latencies.size() / 2]
        << " ms, 90th percentile " << latencies[latencies.size() * 9 / 10] << " ms over " << latencies.size()
        << " steps (target: median at most 16 ms; before: 33 ms median)" << Qt::endl;
    return 0;
}

// A bare `cat` of the same kind of flood: what the system itself delivers from a pseudo-terminal
// on this machine now, read back from the bytes cat has read (/proc/PID/io).
int runCat(const QString& pattern, double seconds)
{
    QObject owner;
    QProcess* sim = test::startSimulator(&owner, { QStringLiteral("--flood"), QStringLiteral("0"), QStringLiteral("--pattern"), pattern });
    if (!sim) {
        return 1;
    }
    const QString device = QString::fromLocal8Bit(sim->readLine().trimmed());
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    cat.start(QStringLiteral("cat"), { device });
    if (!cat.waitForStarted()) {
        return 1;
    }
    auto cpu = [](const QProcess& process) { return cpuSeconds(process.processId()); };
    auto bytesRead = [&cat] { return test::bytesRead(cat.processId()); };
    QThread::msleep(300);
    const qint64 before = bytesRead();
    const double cpuBefore = cpu(cat);
    const double simBefore = cpu(*sim);
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(qint64(seconds * 1000));
    const qint64 bytes = bytesRead() - before;
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const double cpuUsed = cpu(cat) - cpuBefore;
    const double simUsed = cpu(*sim) - simBefore;
    cat.kill();
    cat.waitForFinished();
    sim->terminate();
    sim->waitForFinished();
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);
    out << "cat-" << pattern << ": " << double(bytes) / elapsed / 1e6 << " MB/s (" << bytes << " bytes) over " << elapsed
        << " s, CPU " << cpuUsed * 1e9 / double(std::max<qint64>(bytes, 1)) << " ns a byte (the simulator making them: "
        << simUsed * 1e9 / double(std::max<qint64>(bytes, 1)) << ")" << Qt::endl;
    return before < 0 ? 1 : 0;
}

int runWorkload(const QString& workload, double seconds)
{
    if (workload.startsWith(QStringLiteral("cat-"))) {
        return runCat(workload.mid(4), seconds);
    }
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("Ports"));
    QDir(dir.path()).mkdir(QStringLiteral("Modules"));
    const QString link = dir.filePath(QStringLiteral("Ports/COM1"));
    SilentDialogs dialogs;
    PrivateDesign window(dialogs, dir.path());
    window.show();
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);

    if (workload == QStringLiteral("latency")) {
        return runLatency(window, seconds);
    }

    // Paced data at an ordinary serial rate: the share of a core the tool takes.
    const bool paced = workload.startsWith(QStringLiteral("paced"));
    if (paced) {
        const bool transcript = workload.endsWith(QStringLiteral("-transcript"));
        const QString rate = workload.startsWith(QStringLiteral("paced11k")) ? QStringLiteral("11520") : QStringLiteral("102400");
        QProcess* sim = test::startSimulator(&window, { QStringLiteral("--link"), link, QStringLiteral("--flood"), rate, QStringLiteral("--pattern"), QStringLiteral("crlf") });
        if (!sim) {
            return 1;
        }
        window.link().openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
        if (!window.uart().PortOpen()) {
            return 1;
        }
        if (transcript) {
            // Everything after the command is its reply: the row grows while the window shows it.
            window.link().keyPressed(QStringLiteral("\"AT\""), true);
            window.showTranscript();
        }
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
        const double cpuBefore = cpuSeconds();
        const qint64 bytesBefore = window.uart().bytesReceived();
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpuBefore;
        sim->terminate();
        sim->waitForFinished();
        out << workload << ": " << double(window.uart().bytesReceived() - bytesBefore) / wall / 1000
            << " kB/s paced in 1 ms steps, CPU " << 100 * cpu / wall
            << " % of a core (target: at most 5 %; before: "
            << (transcript ? "31 % with the row's reply redone for every chunk" : "11 to 27 % before the display was rebuilt")
            << ")" << Qt::endl;
        return 0;
    }

    window.showLog();
    const bool rules = workload.startsWith(u"rules-");
    const QString pattern = QStringList { QStringLiteral("lf"), QStringLiteral("crlf") }.contains(workload) ? workload
        : rules                                                                                     ? QStringLiteral("crlf")
                                                                                                    : QStringLiteral("plain");
    QProcess* sim = test::startSimulator(&window, { QStringLiteral("--link"), link });
    if (!sim) {
        return 1;
    }

    window.link().openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
    if (!window.uart().PortOpen()) {
        QTextStream(stderr) << "cannot open the simulator: " << window.link().statusDetail() << "\n";
        return 1;
    }

    // Key press: the time to hand a command's bytes to the service.
    std::vector<qint64> pressNs;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        window.link().keyPressed(QStringLiteral("\"AT+PRESS\""), true);
        pressNs.push_back(t.nsecsElapsed());
        QCoreApplication::processEvents();
    }
    std::sort(pressNs.begin(), pressNs.end());
    if (!dialogs.messages.isEmpty()) {
        QTextStream(stderr) << "key press refused: " << dialogs.texts().constFirst() << "\n";
        return 1;
    }
    window.link().clearLog();
    window.link().clearReceive();

    // The flooding simulator replaces the answering one on the same link.
    sim->terminate();
    sim->waitForFinished();
    (void)window.uart().setPortOpen(false);
    if (!test::startSimulator(&window, { QStringLiteral("--link"), link, QStringLiteral("--flood"), QStringLiteral("0"), QStringLiteral("--pattern"), pattern })) {
        return 1;
    }
#ifdef COMKEYS_BENCH_VIEWS
    const QString captureFile = dir.filePath(QStringLiteral("capture.bin"));
    const qint64 receivedBeforeCapture = window.link().record().receivedTotal();
    if (workload == QStringLiteral("hex")) {
        window.receiveDisplay()->setView(ReceiveDisplay::View::Hex);
    } else if (workload == QStringLiteral("timestamps")) {
        window.receiveDisplay()->setView(ReceiveDisplay::View::Timestamps);
    } else if (workload == QStringLiteral("capture") && !window.link().capture().start(captureFile)) {
        return 1;
    }
#endif
    if (rules) {
        // Half of them mark what they find in the display: the window's share of the work.
        window.automation().setRules(test::floodRules(workload == u"rules-regex"), 10);
    }
    window.link().openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
    if (!window.uart().PortOpen()) {
        return 1;
    }

    const qint64 startBytes = window.uart().bytesReceived();
    const double cpuStart = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    const test::LoopGaps gaps(5);
    QEventLoop loop; // not the application's: quitting that would close the windows
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const double cpuUsed = cpuSeconds() - cpuStart;
    const qint64 bytes = window.uart().bytesReceived() - startBytes;
    (void)window.uart().setPortOpen(false);

    out << workload << ": " << double(bytes) / elapsed / 1e6 << " MB/s (" << bytes << " bytes) over " << elapsed << " s, CPU " << cpuUsed * 1e9 / double(std::max<qint64>(bytes, 1))
        << " ns a byte, worst stall "
        << gaps.longestStallMs() << " ms, peak memory "
        << double(test::statusKiB("VmHWM:")) / 1024 << " MiB";
    out << ", log box " << window.debugForm()->text1()->blockCount() << " lines";
    out << "; key press " << double(pressNs[pressNs.size() / 2]) / 1000 << " us median, "
        << double(pressNs.back()) / 1000 << " us worst";
#ifdef COMKEYS_BENCH_VIEWS
    out << ", record " << window.link().record().cost() / (1024 * 1024) << " MiB";
    if (workload == QStringLiteral("capture")) {
        (void)window.link().capture().stop();
        QFile file(captureFile);
        qint64 same = -1;
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray got = file.readAll();
            same = got.size();
            // Opening the port flushes what waited, so the capture starts somewhere in the cycle.
            qint64 shift = 0;
            while (shift < 62 && !got.isEmpty() && floodByte(shift) != got[0]) {
                ++shift;
            }
            for (qint64 i = 0; i < got.size(); ++i) {
                if (got[i] != floodByte(i + shift)) {
                    same = i;
                    break;
                }
            }
            const qint64 expected = window.link().record().receivedTotal() - receivedBeforeCapture;
            out << "; capture " << got.size() << " of " << expected << " bytes, "
                << (same == got.size() && got.size() == expected ? "every byte as sent" : "DIFFERS");
        }
    }
#endif
    out << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 3) {
        QApplication app(argc, argv);
        // Every workload starts from the tool's defaults, and leaves the user's options alone.
        QStandardPaths::setTestModeEnabled(true);
        PrivateDesign::userSettings().clear();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        installFontSubstitutions();
        return runWorkload(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]).toDouble());
    }
    const double seconds = argc == 2 ? QString::fromLocal8Bit(argv[1]).toDouble() : 10;
    const QString self = QString::fromLocal8Bit(argv[0]);
    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);
    // The tool beside a bare cat of the same flood, taken in turns so that a machine busy with
    // other work slows both alike; the median of three rounds each.
    double stall = 0; // the last run's worst, if it says
    auto rate = [&](const QString& workload, double secs) {
        QProcess run;
        run.start(self, { workload, QString::number(secs) });
        run.waitForFinished(int(secs * 1000) + 60000);
        const QString line = QString::fromLocal8Bit(run.readAllStandardOutput()).trimmed();
        out << "  " << line << Qt::endl;
        stall = line.section(QStringLiteral("worst stall "), 1).section(u' ', 0, 0).toDouble();
        return line.section(u' ', 1, 1).toDouble();
    };
    out << "side by side with cat (target: at least 0.90 of cat):" << Qt::endl;
    for (const QString& pattern : { QStringLiteral("plain"), QStringLiteral("lf"), QStringLiteral("crlf") }) {
        std::vector<double> cat;
        std::vector<double> tool;
        for (int round = 0; round < 3; ++round) {
            cat.push_back(rate(QStringLiteral("cat-") + pattern, std::min(seconds, 5.0)));
            tool.push_back(rate(pattern, std::min(seconds, 5.0)));
        }
        std::sort(cat.begin(), cat.end());
        std::sort(tool.begin(), tool.end());
        out << pattern << ": tool " << tool[1] << " MB/s, cat " << cat[1] << " MB/s, ratio "
            << (cat[1] > 0 ? tool[1] / cat[1] : 0) << Qt::endl;
    }
    // The same flood with and without 100 answer rules, in turns.
    out << "answer rules in the window (target: at least 0.80 of the flood without rules, no stall over 16 ms):" << Qt::endl;
    std::array<std::vector<double>, 3> ruled;
    double worstRuled = 0;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < ruled.size(); ++i) {
            ruled[i].push_back(rate(std::array { QStringLiteral("crlf"), QStringLiteral("rules-text"), QStringLiteral("rules-regex") }[i],
                                    std::min(seconds, 5.0)));
            worstRuled = i > 0 ? std::max(worstRuled, stall) : worstRuled;
        }
    }
    for (std::vector<double>& rates : ruled) {
        std::sort(rates.begin(), rates.end());
    }
    out << "rules: text and hex " << ruled[1][1] / ruled[0][1] << ", a third regular expressions " << ruled[2][1] / ruled[0][1]
        << " of the flood without rules (" << ruled[0][1] << " MB/s); worst stall with rules " << worstRuled << " ms" << Qt::endl;
    out << "targets: stalls under 50 ms; paced CPU at most 5 %; latency median at most 16 ms" << Qt::endl;
    int rc = 0;
    for (const char* workload : { "hex", "timestamps", "capture", "paced11k", "paced11k-transcript", "paced100k", "latency" }) {
        rc |= QProcess::execute(self, { QString::fromLatin1(workload), QString::number(seconds) });
    }
    return rc;
}
