// Network ports through the real serial link: a real ser2net in front of the simulator's
// pseudo-terminal, and a small Telnet server of our own for what ser2net never does.
#include "DeviceSimulator.h"
#include "PrivateDesign.h"
#include "ScriptedDialogs.h"
#include "Ser2net.h"

#include <QComboBox>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <unistd.h>

using namespace comkeys;
using namespace comkeys::telnet;
using comkeys::test::ScriptedDialogs;
using comkeys::test::Ser2net;
using Status = SerialLink::Status;

namespace {

enum class Script {
    SplitIac, // answers everything, then sends A IAC | IAC B in two writes
    RefuseComPort, // WONT COM-PORT-OPTION
    ControlUnanswered, // answers the line format, never SET-CONTROL
    Silent, // accepts and never speaks
    LineEvents, // answers everything, then reports a break, a framing error and a lost carrier
    NotReading, // a raw line whose reader takes nothing until told to
};

// Takes one connection and answers the way its script says, echoing each request's value.
struct TelnetServer : QTcpServer {
    Script script;
    QByteArray wire; // every byte the client sent, as sent
    QTcpSocket* client = nullptr;
    Parser parser;

    explicit TelnetServer(Script s)
        : script(s)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            client = nextPendingConnection();
            client->setReadBufferSize(script == Script::NotReading ? 1 : 0); // the rest waits in the system
            connect(client, &QTcpSocket::readyRead, this, &TelnetServer::onReadyRead);
            if (script != Script::Silent && script != Script::NotReading) {
                client->write(command(Do, OptBinary) + command(Will, OptBinary)
                              + command(script == Script::RefuseComPort ? Wont : Do, OptComPort));
            }
        });
    }

    void onReadyRead()
    {
        const QByteArray bytes = client->readAll();
        wire += bytes;
        QByteArray data;
        std::vector<Event> events;
        parser.feed(bytes, data, events);
        for (const Event& e : events) {
            const auto cmd = std::uint8_t(e.payload.isEmpty() ? 0 : e.payload[0]);
            if (e.verb != Sb || script == Script::Silent || (cmd == CpSetControl && script == Script::ControlUnanswered)) {
                continue;
            }
            client->write(comPort(cmd + ServerOffset, e.payload.mid(1)));
            if (cmd == CpSetModemStateMask && script == Script::LineEvents) {
                client->write(comPort(ServerOffset + CpNotifyModemState, "\x80") + comPort(ServerOffset + CpNotifyLineState, "\x18")
                              + comPort(ServerOffset + CpNotifyModemState, "\x08"));
            }
            if (cmd == CpSetModemStateMask && script == Script::SplitIac) {
                client->write("A\xFF");
                client->flush();
                QTimer::singleShot(100, client, [c = client] { c->write("\xFF" "B"); });
            }
        }
    }
};

} // namespace

class TestNetworkPort : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_sim.reset(new DeviceSimulator);
        QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
        m_state = {};
        m_dialogs.reset(new ScriptedDialogs);
        m_uart.reset(new UartCom({}));
        m_link.reset(new SerialLink(m_state, *m_uart, *m_dialogs));
        m_ser2net.reset(new Ser2net);
    }

    void cleanup()
    {
        m_link.reset();
        m_uart.reset();
        m_ser2net.reset();
        m_sim.reset();
    }

    void atGetsOkAndSurvivesAServerRestart_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("raw TCP") << false;
        QTest::newRow("RFC 2217") << true;
    }

    void atGetsOkAndSurvivesAServerRestart()
    {
        QFETCH(bool, telnet);
        QVERIFY(m_ser2net->start(m_sim->devicePath()));
        open(m_ser2net->url(telnet), QStringLiteral("9600"));
        for (int round = 0; round < 2; ++round) {
            m_link->clearReceive();
            m_link->keyPressed(QStringLiteral("\"AT\""), true);
            QTRY_COMPARE(m_link->record().receivedBytes().count("OK\r"), qsizetype(round + 1));
            QCOMPARE(m_link->logText().text().count(QStringLiteral("AT     <CR>\r\n")), round + 1);
            if (round == 0) {
                m_ser2net->stop();
                QTRY_COMPARE(m_link->status(), Status::Lost);
                QCOMPARE(m_link->indicatorColor(), QColor(255, 0, 0));
                QVERIFY(m_ser2net->start(m_sim->devicePath()));
                QTRY_COMPARE_WITH_TIMEOUT(m_link->status(), Status::Opened, 10000);
                QVERIFY(m_link->logText().text().contains(QStringLiteral("串口已自动重新打开")));
            }
        }
        // Closed by the user, it stays closed when the server goes and comes again.
        m_link->closePressed();
        m_ser2net->stop();
        QVERIFY(m_ser2net->start(m_sim->devicePath()));
        QTest::qWait(1500);
        QCOMPARE(m_link->status(), Status::Closed);
        QVERIFY(m_dialogs->messages.isEmpty());
    }

    void everyByteValueRoundTrips()
    {
        QVERIFY(m_ser2net->start(m_sim->devicePath()));
        open(m_ser2net->url(true), QStringLiteral("115200"));
        QByteArray all;
        for (int b = 0; b < 256; ++b) {
            all += char(b);
        }
        QVERIFY(m_sim->send(all));
        QTRY_COMPARE(m_link->record().receivedBytes(), all);
        // Commands are ISO-8859-1: a key holding ÿ sends the byte 0xFF.
        m_link->keyPressed(u'"' + QString::fromLatin1(all.left(128)) + u'"', false);
        m_link->keyPressed(u'"' + QString::fromLatin1(all.mid(128)) + u'"', false);
        QTRY_COMPARE(m_sim->received(), all);
        QVERIFY(m_dialogs->messages.isEmpty());
    }

    void lineFormatReachesTheRemotePort_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("acknowledged");
        QTest::addColumn<QString>("termios");
        QTest::newRow("19200") << "19200" << "速率 19200，数据位 8，校验 n，停止位 1" << "19200,n,8,1";
        QTest::newRow("two stop bits") << "115200,n,8,2" << "速率 115200，数据位 8，校验 n，停止位 2" << "115200,n,8,2";
        // Acknowledged is not done: a pseudo-terminal keeps 8 bits without parity.
        QTest::newRow("7 bits, even parity") << "4800,e,7,1" << "速率 4800，数据位 7，校验 e，停止位 1" << "4800,n,8,1";
    }

    void lineFormatReachesTheRemotePort()
    {
        QFETCH(QString, rate);
        QFETCH(QString, acknowledged);
        QFETCH(QString, termios);
        QVERIFY(m_ser2net->start(m_sim->devicePath()));
        open(m_ser2net->url(true), rate);
        const QString said = QStringLiteral("服务器已确认（acknowledged）") + acknowledged;
        QVERIFY2(m_link->statusDetail().contains(said), qPrintable(m_link->statusDetail()));
        QVERIFY(m_link->logText().text().contains(said));
        QCOMPARE(m_sim->lineSettings(), termios);
    }

    void awkwardServers_data()
    {
        QTest::addColumn<int>("script");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<QByteArray>("received");
        QTest::newRow("IAC split across reads") << int(Script::SplitIac) << "127.0.0.1"
                                                << QStringList { "服务器已确认（acknowledged）速率 9600" } << QByteArray("A\xFF" "B");
        QTest::newRow("WONT COM-PORT-OPTION, IPv6")
            << int(Script::RefuseComPort) << "::1"
            << QStringList { "警告：rfc2217://[::1]:%1：服务器不接受 COM-PORT-OPTION，线路设置 9600,n,8,1 没有设置" } << QByteArray();
        QTest::newRow("SET-CONTROL never answered") << int(Script::ControlUnanswered) << "127.0.0.1"
                                                    << QStringList { "警告：服务器在 2 秒内没有回应 DTR/RTS 设置（SET-CONTROL）" } << QByteArray();
        QTest::newRow("accepts and never speaks, IPv6") << int(Script::Silent) << "::1"
                                                        << QStringList { "服务器没有回应 COM-PORT-OPTION" } << QByteArray();
        QTest::newRow("line events") << int(Script::LineEvents) << "127.0.0.1"
                                     << QStringList { "远端串口报告：中断信号（break）、帧错误", "远端串口：载波丢失（carrier lost）" }
                                     << QByteArray();
    }

    void awkwardServers()
    {
        QFETCH(int, script);
        QFETCH(QString, host);
        QFETCH(QStringList, logged);
        QFETCH(QByteArray, received);
        TelnetServer server { Script(script) };
        QVERIFY(server.listen(QHostAddress(host), 0));
        open(NetworkAddress { NetworkAddress::Kind::Rfc2217, host, server.serverPort() }.text(), QStringLiteral("9600"));
        for (QString log : logged) {
            log.replace(QStringLiteral("%1"), QString::number(server.serverPort()));
            QTRY_VERIFY2_WITH_TIMEOUT(m_link->logText().text().contains(log), qPrintable(m_link->logText().text()), 5000);
        }
        QTRY_COMPARE(m_link->record().receivedBytes(), received);
        // Whatever the server made of the line format, the line carries bytes, IAC doubled.
        m_link->keyPressed(QStringLiteral("\"ÿ!\""), false);
        QTRY_VERIFY(server.wire.endsWith("\xFF\xFF!"));
        QVERIFY(m_dialogs->messages.isEmpty());
    }

    void failedOpens_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("reason");
        const QString free = QString::number(Ser2net::freePort());
        QTest::newRow("refused") << "tcp://127.0.0.1:" + free << "拒绝连接";
        QTest::newRow("refused, by name") << "rfc2217://localhost:" + free << "拒绝连接";
        QTest::newRow("no answer to the connect") << "" << "5 秒内没有连上";
        const QString malformed = QStringLiteral("不是网络端口");
        const char* texts[] = { "tcp://::1:2000", "tcp://[127.0.0.1]:2000", "rfc2217://127.0.0.1", "tcp://127.0.0.1:0",
                                "tcp://127.0.0.1:65536", "tcp://:2000", "tcp://127.0.0.256:2000", "tcp://-host:2000" };
        for (const char* text : texts) {
            QTest::newRow(text) << text << malformed;
        }
    }

    void failedOpens()
    {
        QFETCH(QString, port);
        QFETCH(QString, reason);
        // A listener whose accept queue is full drops further connects unanswered, as an
        // unreachable host does.
        QTcpServer full;
        full.setMaxPendingConnections(0);
        QTcpSocket queued;
        if (port.isEmpty()) {
            QVERIFY(full.listen(QHostAddress::LocalHost, 0));
            const int fd = int(full.socketDescriptor());
            QVERIFY(::listen(fd, 0) == 0);
            full.pauseAccepting();
            queued.connectToHost(QHostAddress::LocalHost, full.serverPort());
            QVERIFY(queued.waitForConnected(2000));
            port = QStringLiteral("tcp://127.0.0.1:%1").arg(full.serverPort());
        }
        m_link->openPressed(port, QStringLiteral("9600"));
        QTRY_COMPARE_WITH_TIMEOUT(m_link->status(), Status::OpenFailed, 8000);
        QCOMPARE(m_dialogs->texts(), QStringList { QStringLiteral("串口没有打开！") });
        QVERIFY2(m_link->statusDetail().contains(reason), qPrintable(m_link->statusDetail()));
        QVERIFY(m_link->logText().text().contains(reason));
        if (reason != QStringLiteral("不是网络端口")) {
            QCOMPARE(m_link->statusDetail().count(port), 1); // the address said once
        }
    }

    void wholeCommandsThroughAFullLine()
    {
        TelnetServer server { Script::NotReading };
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        open(QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort()), QStringLiteral("9600"));
        const QByteArray command = QByteArray(250, 'x') + '\r';
        int accepted = 0;
        while (m_dialogs->messages.isEmpty() && accepted < 200000) {
            m_link->keyPressed(u'"' + QString::fromLatin1(command.chopped(1)) + u'"', true);
            accepted += m_dialogs->messages.isEmpty() ? 1 : 0;
            if (accepted % 64 == 0) {
                QCoreApplication::processEvents();
            }
        }
        QVERIFY2(m_dialogs->texts().value(0).contains(QStringLiteral("发送队列已满")), qPrintable(m_dialogs->texts().value(0)));
        // Counted in the record: the log window keeps only its last 4 MiB, fewer lines than a
        // socket can take before it is full.
        auto logged = [this] {
            const LineRecord& record = m_link->record();
            int sent = 0;
            for (qint64 n = record.firstNumber(); n < record.nextNumber(); ++n) {
                sent += record.entry(n).direction == LineRecord::Direction::Sent ? 1 : 0;
            }
            return sent;
        };
        QVERIFY(logged() < accepted); // what still waits is not logged
        server.client->setReadBufferSize(0);
        QTRY_COMPARE_WITH_TIMEOUT(server.wire.size() + server.client->bytesAvailable(), accepted * command.size(), 30000);
        QCOMPARE(server.wire + server.client->readAll(), command.repeated(accepted));
        QTRY_COMPARE_WITH_TIMEOUT(logged(), accepted, 30000);
    }

    void recentNetworkPortsOffered()
    {
        QStandardPaths::setTestModeEnabled(true); // the user's own options stay untouched
        PrivateDesign::userSettings().clear();
        TelnetServer server { Script::Silent };
        QVERIFY(server.listen(QHostAddress::LocalHostIPv6, 0));
        QTemporaryDir folder;
        {
            PrivateDesign window(*m_dialogs, folder.path());
            window.link().openPressed(QStringLiteral("TCP://[::1]:%1").arg(server.serverPort()), QStringLiteral("9600"));
            QTRY_COMPARE(window.link().status(), Status::Opened);
        }
        // The next start offers it after the devices, as the user would write it.
        PrivateDesign window(*m_dialogs, folder.path());
        auto* list = window.findChild<QComboBox*>(QStringLiteral("UART_Com_Combo"));
        QCOMPARE(list->itemText(list->count() - 1), QStringLiteral("tcp://[::1]:%1").arg(server.serverPort()));
        QCOMPARE(list->currentText(), QStringLiteral("COM1"));
        PrivateDesign::userSettings().clear();
    }

private:
    void open(const QString& port, const QString& rate)
    {
        m_link->openPressed(port, rate);
        QCOMPARE(m_link->status(), Status::Connecting); // the window is not held up
        QTRY_COMPARE_WITH_TIMEOUT(m_link->status(), Status::Opened, 5000);
        QCOMPARE(m_link->indicatorColor(), QColor(0, 255, 0));
    }

    std::unique_ptr<DeviceSimulator> m_sim;
    std::unique_ptr<Ser2net> m_ser2net;
    SharedState m_state;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<UartCom> m_uart;
    std::unique_ptr<SerialLink> m_link;
};

QTEST_MAIN(TestNetworkPort)
#include "tst_networkport.moc"
