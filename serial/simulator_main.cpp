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
void onSignal(int number)
{
    const char c = char(number);
    (void)!::write(signalPipe[1], &c, 1);
}
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
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Answer each command <ms> milliseconds after it arrived."),
                                   QStringLiteral("ms"), QStringLiteral("0"));
    parser.addOptions({ link, echo, replies, flood, pattern, seconds, delay });
    parser.addHelpOption();
    parser.setApplicationDescription(parser.applicationDescription()
                                     + QStringLiteral(" SIGUSR1 unplugs the device (its link goes too), SIGUSR2 "
                                                      "plugs it in again under the same link."));
    parser.process(app);

    QTextStream err(stderr);
    comkeys::DeviceSimulator sim;
    if (!sim.start()) {
        err << "comkeys-sim: cannot create a pseudo-terminal: " << sim.errorString() << Qt::endl;
        return 1;
    }
    sim.setEcho(parser.isSet(echo));
    bool delayOk = false;
    const int delayMs = parser.value(delay).toInt(&delayOk);
    if (!delayOk || delayMs < 0) {
        err << "comkeys-sim: --delay takes a number of milliseconds, 0 or more" << Qt::endl;
        return 2;
    }
    sim.setReplyDelay(delayMs);
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
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&] {
            char c = 0;
            if (::read(signalPipe[0], &c, 1) != 1) {
                return;
            }
            if (c == SIGUSR1) {
                sim.unplug(linkPath);
                err << "comkeys-sim: unplugged" << Qt::endl;
            } else if (c == SIGUSR2) {
                const bool back = linkPath.isEmpty() ? sim.start() : sim.replug(linkPath);
                err << "comkeys-sim: " << (back ? "plugged in again as " + sim.devicePath() : "cannot plug in again: " + sim.errorString())
                    << Qt::endl;
            } else {
                QCoreApplication::quit();
            }
        });
        for (int s : { SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2 }) {
            std::signal(s, onSignal);
        }
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
