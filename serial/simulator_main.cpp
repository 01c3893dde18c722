// comkeys-sim: a device on a pseudo-terminal for trying the tool without hardware.
#include "DeviceSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {
int signalPipe[2] = { -1, -1 };
void onSignal(int) { (void)!::write(signalPipe[1], "x", 1); }
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("comkeys-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Creates a pseudo-terminal, prints its device path and answers like a simple "
        "command-driven device: AT gets OK, anything else ERROR, each reply ending in a "
        "carriage return."));
    parser.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make a symbolic link at <path> to the device "
                                                 "(for instance Ports/COM1 beside the tool)."),
                                  QStringLiteral("path"));
    const QCommandLineOption echo(QStringLiteral("echo"), QStringLiteral("Answer each command with itself."));
    const QCommandLineOption replies(QStringLiteral("replies"),
                                     QStringLiteral("Reply table: lines command=reply."),
                                     QStringLiteral("file"));
    const QCommandLineOption flood(QStringLiteral("flood"),
                                   QStringLiteral("Send data at <rate> bytes per second (0: as fast "
                                                  "as possible)."),
                                   QStringLiteral("rate"));
    const QCommandLineOption pattern(QStringLiteral("pattern"),
                                     QStringLiteral("Flood data: plain, lf or crlf (80-character lines)."),
                                     QStringLiteral("pattern"), QStringLiteral("plain"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Quit after <n> seconds."), QStringLiteral("n"));
    parser.addOptions({ link, echo, replies, flood, pattern, seconds });
    parser.process(app);

    QTextStream err(stderr);
    comkeys::DeviceSimulator sim;
    if (!sim.start()) {
        err << "comkeys-sim: cannot create a pseudo-terminal: " << sim.errorString() << Qt::endl;
        return 1;
    }
    sim.setEcho(parser.isSet(echo));
    if (parser.isSet(replies) && !sim.loadReplies(parser.value(replies))) {
        err << "comkeys-sim: " << parser.value(replies) << ": " << sim.errorString() << Qt::endl;
        return 1;
    }
    QString linkPath;
    if (parser.isSet(link)) {
        linkPath = parser.value(link);
        QFile::remove(linkPath);
        if (!QFile::link(sim.devicePath(), linkPath)) {
            err << "comkeys-sim: cannot create the link " << linkPath << Qt::endl;
            return 1;
        }
    }
    if (parser.isSet(flood)) {
        bool ok = false;
        const qint64 rate = parser.value(flood).toLongLong(&ok);
        const QString p = parser.value(pattern);
        using P = comkeys::DeviceSimulator::FloodPattern;
        const P kind = p == QStringLiteral("lf") ? P::LineFeed
            : p == QStringLiteral("crlf")        ? P::CarriageReturnLineFeed
                                                 : P::Plain;
        if (!ok || rate < 0 || (p != QStringLiteral("plain") && kind == P::Plain)) {
            err << "comkeys-sim: --flood takes a rate of 0 or more, --pattern plain, lf or crlf" << Qt::endl;
            return 2;
        }
        sim.startFlood(rate, kind);
    }
    if (parser.isSet(seconds)) {
        QTimer::singleShot(int(parser.value(seconds).toDouble() * 1000), &app, &QCoreApplication::quit);
    }

    if (::pipe(signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
    }

    QTextStream out(stdout);
    out << sim.devicePath() << Qt::endl;
    err << "comkeys-sim: device " << sim.devicePath();
    if (!linkPath.isEmpty()) {
        err << " (linked as " << linkPath << ")";
    }
    err << "; Ctrl+C ends it" << Qt::endl;

    const int rc = app.exec();
    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
    }
    return rc;
}
