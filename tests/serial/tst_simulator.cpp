#include "DeviceSimulator.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

using namespace comkeys;

class TestSimulator : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_sim.reset(new DeviceSimulator);
        QVERIFY(m_sim->start());
        QVERIFY(m_sim->devicePath().startsWith(QStringLiteral("/dev/")));
        m_received.clear();
        m_port.reset(new QSerialPort);
        m_port->setPortName(m_sim->devicePath());
        QVERIFY(m_port->open(QIODevice::ReadWrite));
    }

    void cleanup()
    {
        m_port.reset();
        m_sim.reset();
    }

    void answers_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("AT") << false << QByteArray("AT\r") << QByteArray("OK\r");
        QTest::newRow("unknown") << false << QByteArray("ATZ\r") << QByteArray("ERROR\r");
        QTest::newRow("line feeds ignored") << false << QByteArray("\nA\nT\r\n") << QByteArray("OK\r");
        QTest::newRow("two commands at once") << false << QByteArray("AT\rX\r") << QByteArray("OK\rERROR\r");
        QTest::newRow("echo") << true << QByteArray("HELLO 1\r") << QByteArray("HELLO 1\r");
        QTest::newRow("empty command: no reply") << false << QByteArray("\r") << QByteArray();
    }

    void answers()
    {
        QFETCH(bool, echo);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        m_sim->setEcho(echo);
        m_port->write(sent);
        QTRY_COMPARE(m_sim->received(), sent);
        QTRY_COMPARE(m_received += m_port->readAll(), reply);
        QTest::qWait(20);
        QCOMPARE(m_received += m_port->readAll(), reply);
    }

    void replyTable()
    {
        QTemporaryDir dir;
        const QString table = dir.filePath(QStringLiteral("replies.txt"));
        QFile f(table);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# device replies\nPING=PONG\n\n*IDN?=ACME,1,2\n");
        f.close();
        QVERIFY(m_sim->loadReplies(table));
        m_port->write("PING\r*IDN?\rAT\r");
        QTRY_COMPARE(m_received += m_port->readAll(), QByteArray("PONG\rACME,1,2\rOK\r"));

        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("broken line\n");
        f.close();
        QVERIFY(!m_sim->loadReplies(table));
        QVERIFY(m_sim->errorString().contains(QStringLiteral("broken line")));
    }

    void floodPatterns_data()
    {
        QTest::addColumn<int>("pattern");
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("plain") << int(DeviceSimulator::FloodPattern::Plain) << QByteArray();
        QTest::newRow("lf") << int(DeviceSimulator::FloodPattern::LineFeed) << QByteArray("\n");
        QTest::newRow("crlf") << int(DeviceSimulator::FloodPattern::CarriageReturnLineFeed) << QByteArray("\r\n");
    }

    void floodPatterns()
    {
        QFETCH(int, pattern);
        QFETCH(QByteArray, ending);
        m_sim->startFlood(0, DeviceSimulator::FloodPattern(pattern));
        QByteArray data;
        QTRY_VERIFY((data += m_port->readAll()).size() > 20000);
        m_sim->stopFlood();
        QVERIFY(!data.startsWith('#'));
        if (ending.isEmpty()) {
            QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9]+$")).match(QString::fromLatin1(data)).hasMatch());
            return;
        }
        const QList<QByteArray> lines = data.split('\n');
        QVERIFY(lines.size() > 100);
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            QCOMPARE(lines[i].size(), 80 + ending.size() - 1);
            QCOMPARE(lines[i].indexOf('\r'), ending.size() == 2 ? 80 : -1);
        }
    }

    void floodKeepsToItsRate()
    {
        QElapsedTimer timer;
        timer.start();
        m_sim->startFlood(2000, DeviceSimulator::FloodPattern::Plain);
        QTest::qWait(300);
        const qint64 sent = m_sim->bytesFlooded();
        QVERIFY(sent > 0);
        // A few bytes of slack for the millisecond clock the simulator keeps its budget by.
        QVERIFY2(sent <= 2000 * timer.elapsed() / 1000 + 5, qPrintable(QString::number(sent)));
    }

    void theProgram()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("COM1"));
        QProcess sim;
        sim.start(QStringLiteral(COMKEYS_SIM), { QStringLiteral("--link"), link });
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY(sim.canReadLine());
        const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QVERIFY(device.startsWith(QStringLiteral("/dev/")));
        QCOMPARE(QFileInfo(link).symLinkTarget(), device);

        QSerialPort port;
        port.setPortName(link);
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write("AT\r");
        QByteArray reply;
        QTRY_COMPARE(reply += port.readAll(), QByteArray("OK\r"));
        port.close();

        sim.terminate();
        QVERIFY(sim.waitForFinished());
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

        QProcess bad;
        bad.start(QStringLiteral(COMKEYS_SIM), { QStringLiteral("--flood"), QStringLiteral("fast") });
        QVERIFY(bad.waitForFinished());
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--flood"));
    }

private:
    std::unique_ptr<DeviceSimulator> m_sim;
    std::unique_ptr<QSerialPort> m_port;
    QByteArray m_received;
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
