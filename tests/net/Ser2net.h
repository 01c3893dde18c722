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
    quint16 rawPort = 0;
    quint16 telnetPort = 0;
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
        if (rawPort == 0) {
            rawPort = freePort();
            telnetPort = freePort();
        }
        const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            return false;
        }
        const QString connection = QStringLiteral("connection: &%1\n"
                                                  "    accepter: %2tcp,127.0.0.1,%3\n"
                                                  "    enable: on\n"
                                                  "    options:\n"
                                                  "      kickolduser: true\n"
                                                  "%5"
                                                  "    connector: serialdev,%4,9600n81,local\n");
        file.write(connection.arg(QStringLiteral("raw"), QString(), QString::number(rawPort), device, options).toUtf8());
        file.write(connection.arg(QStringLiteral("rfc2217"), QStringLiteral("telnet(rfc2217),"),
                                  QString::number(telnetPort), device, options)
                       .toUtf8());
        file.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("ser2net"),
                        { QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config, QStringLiteral("-P"),
                          m_dir.filePath(QStringLiteral("ser2net.pid")) });
        if (!m_process.waitForStarted(5000)) {
            return false;
        }
        // Listening shows in the kernel's socket table; connecting to find out would open the device.
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (listening(rawPort) && listening(telnetPort)) {
                return true;
            }
            QThread::msleep(20);
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
    }

    QString url(bool telnet) const
    {
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(telnet ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
            .arg(telnet ? telnetPort : rawPort);
    }

private:
    static bool listening(quint16 port)
    {
        QFile tcp(QStringLiteral("/proc/net/tcp"));
        if (!tcp.open(QIODevice::ReadOnly)) {
            return false;
        }
        const QByteArray local = QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : tcp.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 3 && f[1] == local && f[3] == "0A") {
                return true;
            }
        }
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace comkeys::test
