#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

namespace comkeys::test {

// A real ser2net on 127.0.0.1 in front of a device path: one raw TCP port and one RFC 2217
// port, with a configuration, pid file and ports of its own.
class Ser2net {
public:
    quint16 rawPort = freePort();
    quint16 telnetPort = freePort();
    QString options; // more option lines for both connections, each "      name: value\n"

    ~Ser2net() { stop(); }

    // A port nobody listens on now (the system's choice).
    static quint16 freePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    }

    bool start(const QString& device)
    {
        QFile config(m_dir.filePath(QStringLiteral("ser2net.yaml")));
        const QString connection = QStringLiteral("connection: &c%1\n    accepter: %2tcp,127.0.0.1,%1\n"
                                                  "    options:\n      kickolduser: true\n%3"
                                                  "    connector: serialdev,%4,9600n81,local\n");
        if (!config.open(QIODevice::WriteOnly)
            || config.write(connection.arg(rawPort).arg(QString(), options, device).toUtf8()
                            + connection.arg(telnetPort).arg(QStringLiteral("telnet(rfc2217),"), options, device).toUtf8())
                < 0) {
            return false;
        }
        config.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ser2net"), { QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config.fileName(),
                                                     QStringLiteral("-P"), m_dir.filePath(QStringLiteral("pid")) });
        // Listening shows in the kernel's socket table; connecting to find out would open the device.
        m_process.waitForStarted(5000);
        for (QDeadlineTimer deadline(5000); m_process.state() == QProcess::Running && !deadline.hasExpired(); QThread::msleep(20)) {
            if (listening(rawPort) && listening(telnetPort)) {
                return true;
            }
        }
        return false;
    }

    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    QString url(bool telnet) const
    {
        return telnet ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort) : QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);
    }

    qint64 processId() const { return m_process.processId(); }

private:
    static bool listening(quint16 port)
    {
        QFile tcp(QStringLiteral("/proc/net/tcp"));
        const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : tcp.open(QIODevice::ReadOnly) ? tcp.readAll().split('\n') : QByteArrayList()) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1] == local && fields[3] == "0A") { // 0A: listening
                return true;
            }
        }
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace comkeys::test
