// Receive drain over the network: the same flood from comkeys-sim read by the real window from
// its pseudo-terminal directly, and through a real ser2net over raw TCP on 127.0.0.1, in turns
// within one run, with the event loop's worst stall; then a bare cat of each, the most either
// way can give on this machine.
//   bench_network [SECS]    seconds a turn (default 8); two turns each way
#include "ScriptedDialogs.h"
#include "BenchTools.h"
#include "PrivateDesign.h"
#include "Ser2net.h"
#include "Startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <array>
#include <ctime>

using namespace comkeys;

namespace {

using SilentDialogs = test::ScriptedDialogs; // answers No, cancels every file dialog
using test::cpuSeconds;

// Times every event the window handles, in wall time and in the thread's own CPU time: on a
// loaded machine a stall can be the scheduler's, not the window's work.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    qint64 longestWallNs = 0;
    qint64 longestCpuNs = 0;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_depth++ > 0) {
            const bool done = QApplication::notify(receiver, event);
            --m_depth;
            return done;
        }
        const qint64 cpu = threadCpuNs();
        QElapsedTimer wall;
        wall.start();
        const bool done = QApplication::notify(receiver, event);
        longestWallNs = std::max(longestWallNs, wall.nsecsElapsed());
        longestCpuNs = std::max(longestCpuNs, threadCpuNs() - cpu);
        --m_depth;
        return done;
    }

private:
    static qint64 threadCpuNs()
    {
        timespec t {};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }
    int m_depth = 0;
};

struct Turn {
    double megabytesPerSecond = 0;
    double worstStallMs = 0;
    double longestEventMs = 0; // wall time
    double longestEventCpuMs = 0;
    double kibPerRead = 0; // the bytes each received() brought, on average
    std::array<double, 3> cpuMsPerMb {}; // the window, the simulator, ser2net
};

// Opens the port, lets the flood run for the given time, and measures what the window took.
std::optional<Turn> drain(PrivateDesign& window, const QString& port, double seconds, const std::array<qint64, 3>& pids)
{
    window.link().openPressed(port, QStringLiteral("115200"));
    QEventLoop wait;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (window.link().status() != SerialLink::Status::Connecting) {
            wait.quit();
        }
    });
    poll.start(1);
    wait.exec();
    if (!window.uart().PortOpen()) {
        QTextStream(stderr) << "cannot open " << port << ": " << window.link().statusDetail() << "\n";
        return std::nullopt;
    }
    auto* timed = static_cast<TimedApplication*>(QCoreApplication::instance());
    timed->longestWallNs = 0;
    timed->longestCpuNs = 0;
    const qint64 startBytes = window.uart().bytesReceived();
    qint64 reads = 0;
    const QMetaObject::Connection counting = QObject::connect(&window.uart(), &UartCom::OnComm, [&] { ++reads; });
    std::array<double, 3> cpu {};
    for (std::size_t i = 0; i < pids.size(); ++i) {
        cpu[i] = cpuSeconds(pids[i]);
    }
    QElapsedTimer clock;
    clock.start();
    const test::LoopGaps gaps(5);
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const qint64 bytes = window.uart().bytesReceived() - startBytes;
    QObject::disconnect(counting);
    for (std::size_t i = 0; i < pids.size(); ++i) {
        cpu[i] = bytes > 0 ? (cpuSeconds(pids[i]) - cpu[i]) * 1000 / (double(bytes) / 1e6) : 0;
    }
    const Turn turn { double(bytes) / elapsed / 1e6, gaps.longestStallMs(),
                      double(timed->longestWallNs) / 1e6, double(timed->longestCpuNs) / 1e6,
                      reads > 0 ? double(bytes) / double(reads) / 1024 : 0, cpu };
    window.link().closePressed();
    window.link().clearReceive();
    window.link().clearLog();
    return turn;
}

// A bare cat reading the flood for the given time (its stdin a socket when `device` is a
// "/dev/tcp/HOST/PORT" of bash), in MB/s by the bytes it has read (/proc/PID/io).
double bareCat(const QString& device, double seconds)
{
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    cat.start(QStringLiteral("bash"), { QStringLiteral("-c"), QStringLiteral("exec cat < \"$0\""), device });
    if (!cat.waitForStarted()) {
        return 0;
    }
    auto bytesRead = [&cat] { return test::bytesRead(cat.processId()); };
    QThread::msleep(300);
    const qint64 before = bytesRead();
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(qint64(seconds * 1000));
    const qint64 bytes = bytesRead() - before;
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    cat.kill();
    cat.waitForFinished();
    return before < 0 ? 0 : double(bytes) / elapsed / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    TimedApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    PrivateDesign::userSettings().clear();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    installFontSubstitutions();
    const double seconds = argc >= 2 ? QString::fromLocal8Bit(argv[1]).toDouble() : 8;

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("flood"));
    QProcess* sim = test::startSimulator(&app, { QStringLiteral("--link"), link, QStringLiteral("--flood"), QStringLiteral("0"),
                                                 QStringLiteral("--pattern"), QStringLiteral("plain") });
    if (!sim) {
        QTextStream(stderr) << "cannot start comkeys-sim\n";
        return 1;
    }
    const QString device = QFileInfo(link).symLinkTarget();
    test::Ser2net ser2net;
    // ser2net's own buffer between the line and the socket, large enough for a flood.
    ser2net.options = QStringLiteral("      dev-to-net-bufsize: 65536\n");
    if (!ser2net.start(device)) {
        QTextStream(stderr) << "cannot start ser2net\n";
        return 1;
    }
    SilentDialogs dialogs;
    PrivateDesign window(dialogs, dir.path());
    window.show();
    window.showLog();

    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);
    double local = 0;
    double network = 0;
    double worst = 0;
    for (int round = 0; round < 2; ++round) {
        for (const bool overTcp : { false, true }) {
            const std::optional<Turn> t = drain(window, overTcp ? ser2net.url(false) : device, seconds,
                                                      { QCoreApplication::applicationPid(), sim->processId(), ser2net.processId() });
            if (!t) {
                return 1;
            }
            (overTcp ? network : local) += t->megabytesPerSecond;
            worst = std::max(worst, t->worstStallMs);
            out << (overTcp ? "raw TCP through ser2net: " : "local pseudo-terminal:   ") << t->megabytesPerSecond
                << " MB/s, worst stall " << t->worstStallMs << " ms, longest event " << t->longestEventMs
                << " ms (" << t->longestEventCpuMs << " ms of it on the CPU), " << t->kibPerRead << " KiB a read" << Qt::endl
                << "    CPU ms per MB: window " << t->cpuMsPerMb[0] << ", simulator " << t->cpuMsPerMb[1] << ", ser2net "
                << t->cpuMsPerMb[2] << Qt::endl;
        }
    }
    out << "network drain: " << network / local << " of the local one (target: at least 0.90); worst stall "
        << worst << " ms (target: under 16 ms)" << Qt::endl;
    // What ser2net itself lets through: a reader that does nothing with the bytes, both ways.
    double catLocal = 0;
    double catNetwork = 0;
    for (int round = 0; round < 2; ++round) {
        catLocal += bareCat(device, seconds);
        catNetwork += bareCat(QStringLiteral("/dev/tcp/127.0.0.1/%1").arg(ser2net.rawPort), seconds);
    }
    out << "bare cat: local pseudo-terminal " << catLocal / 2 << " MB/s, raw TCP through ser2net " << catNetwork / 2
        << " MB/s (" << catNetwork / catLocal << " of the local one); the window takes " << local / catLocal
        << " of the first, " << network / catNetwork << " of the second" << Qt::endl;
    sim->terminate();
    sim->waitForFinished();
    return 0;
}
