// Receive throughput, event-loop stalls and memory: data from comkeys-sim over a real
// pseudo-terminal into the real receive display and log window.
//   bench_receive                 all workloads, each in a process of its own
//   bench_receive WORKLOAD SECS   one workload: plain, lf, crlf or naive (the per-byte baseline)
#include "PrivateDesign.h"
#include "Startup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <vector>

using namespace comkeys;

namespace {

class SilentDialogs : public Dialogs {
public:
    QStringList shown;
    MessageAnswer message(const QString& text, const QString&, MessageIcon, MessageButtons) override
    {
        shown << text;
        return MessageAnswer::No;
    }
    std::optional<QString> fileDialog(const FileDialogSettings&) override { return std::nullopt; }
};

qint64 peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

int runWorkload(const QString& workload, double seconds)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("Ports"));
    QProcess sim;
    const QString pattern = workload == QStringLiteral("naive") ? QStringLiteral("plain") : workload;
    sim.start(QStringLiteral(COMKEYS_SIM), { QStringLiteral("--link"), dir.filePath(QStringLiteral("Ports/COM1")) });
    if (!sim.waitForStarted() || !sim.waitForReadyRead(5000)) {
        return 1;
    }

    SilentDialogs dialogs;
    PrivateDesign window(dialogs, dir.path());
    window.show();
    window.showLog();

    QLineEdit naiveDisplay; // the original design: the whole text rewritten per byte
    const bool naive = workload == QStringLiteral("naive");
    if (naive) {
        QObject::disconnect(&window.uart(), &UartCom::OnComm, &window.link(), nullptr);
        naiveDisplay.show();
        QObject::connect(&window.uart(), &UartCom::OnComm, &naiveDisplay, [&] {
            window.uart().setInputLen(0);
            for (char byte : window.uart().Input()) {
                naiveDisplay.setText(naiveDisplay.text() + QChar(uchar(byte)));
            }
        });
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
    if (!dialogs.shown.isEmpty()) {
        QTextStream(stderr) << "key press refused: " << dialogs.shown.constFirst() << "\n";
        return 1;
    }
    window.link().clearLog();
    window.link().clearReceive();

    // Now start the flood from a second simulator process on the same line is not possible, so
    // the flooding simulator replaces the answering one.
    sim.terminate();
    sim.waitForFinished();
    (void)window.uart().setPortOpen(false);
    QProcess flood;
    flood.start(QStringLiteral(COMKEYS_SIM), { QStringLiteral("--link"), dir.filePath(QStringLiteral("Ports/COM1")),
                                               QStringLiteral("--flood"), QStringLiteral("0"),
                                               QStringLiteral("--pattern"), pattern });
    if (!flood.waitForStarted() || !flood.waitForReadyRead(5000)) {
        return 1;
    }
    window.link().openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
    if (!window.uart().PortOpen()) {
        return 1;
    }

    const qint64 startBytes = window.uart().bytesReceived();
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 worstGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worstGap = std::max(worstGap, now - lastTick);
        lastTick = now;
    });
    ticker.start();
    lastTick = clock.nsecsElapsed();
    QEventLoop loop; // not the application's: quitting that would close the windows
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    // The naive handler is still inside its first chunks when time is up: count what it showed.
    const qint64 bytes = naive ? naiveDisplay.text().size() : window.uart().bytesReceived() - startBytes;
    flood.terminate();
    flood.waitForFinished();

    QTextStream out(stdout);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(2);
    out << workload << ": " << double(bytes) / elapsed / 1e6 << " MB/s (" << bytes << " bytes) over " << elapsed << " s, worst stall "
        << double(std::max<qint64>(0, worstGap - 5'000'000)) / 1e6 << " ms, peak memory "
        << double(peakRssKiB()) / 1024 << " MiB";
    if (!naive) {
        out << ", display " << window.link().receiveText().text().size() << " chars, log "
            << window.link().logText().text().size() << " chars, log box "
            << window.debugForm()->text1()->blockCount() << " lines";
        out << "; key press " << double(pressNs[pressNs.size() / 2]) / 1000 << " us median, "
            << double(pressNs.back()) / 1000 << " us worst";
    }
    out << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 3) {
        QApplication app(argc, argv);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        installFontSubstitutions();
        return runWorkload(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]).toDouble());
    }
    const double seconds = argc == 2 ? QString::fromLocal8Bit(argv[1]).toDouble() : 30;
    QTextStream out(stdout);
    out << "targets: plain and lf at least 4 MB/s, crlf at least 2 MB/s, stalls under 50 ms" << Qt::endl;
    int rc = 0;
    for (const char* workload : { "plain", "lf", "crlf", "naive" }) {
        const double secs = qstrcmp(workload, "naive") == 0 ? std::min(seconds, 10.0) : seconds;
        rc |= QProcess::execute(QString::fromLocal8Bit(argv[0]), { QString::fromLatin1(workload), QString::number(secs) });
    }
    return rc;
}
