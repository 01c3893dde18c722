#include "DeviceSimulator.h"
#include "LineTermios.h"
#include "ScriptedDialogs.h"
#include "SerialLink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace comkeys;
using comkeys::test::ScriptedDialogs;

namespace {
const QString NotOpen = QStringLiteral("串口没有打开！");
const QString Header = QStringLiteral("           *****************接收数据\r\n");
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Ports")));
        m_sim.reset(new DeviceSimulator);
        QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
        linkPort(1, m_sim->devicePath());
        m_state = {};
        m_dialogs.reset(new ScriptedDialogs);
        m_uart.reset(new UartCom({ m_dir->path() }));
        m_link.reset(new SerialLink(m_state, *m_uart, *m_dialogs));
    }

    void cleanup()
    {
        m_link.reset();
        m_uart.reset();
        m_sim.reset();
    }

    // Port settings and connection.

    void openTwiceThenCloseTwice()
    {
        m_link->closePressed(); // never opened: nothing
        QCOMPARE(m_link->statusText(), QStringLiteral("串口没有打开"));
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        QCOMPARE(m_link->statusText(), QStringLiteral("串口已经打开"));
        QCOMPARE(m_sim->lineSettings(), QStringLiteral("9600,n,8,1"));
        QVERIFY(m_dialogs->messages.isEmpty());

        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        QCOMPARE(m_dialogs->texts(), QStringList { QStringLiteral("串口已经打开！") });
        QCOMPARE(m_dialogs->messages[0].title, QStringLiteral("提示"));
        QVERIFY(m_uart->PortOpen());

        QSignalSpy status(m_link.get(), &SerialLink::statusChanged);
        m_link->closePressed();
        QVERIFY(!m_uart->PortOpen());
        QCOMPARE(m_link->statusText(), QStringLiteral("串口已经关闭"));
        QCOMPARE(m_link->statusColor(), QColor(255, 0, 0)); // the window starts red, so it must turn red again
        m_link->closePressed();
        QCOMPARE(status.count(), 1);
        QCOMPARE(m_dialogs->messages.size(), 1);

        // Choosing from a list closes too, after a pause; closed already, nothing and no wait.
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        QElapsedTimer timer;
        timer.start();
        m_link->listChosen();
        QVERIFY(timer.elapsed() >= 100);
        QVERIFY(!m_uart->PortOpen());
        QCOMPARE(m_link->statusText(), QStringLiteral("串口已经关闭"));
        timer.restart();
        m_link->listChosen();
        QVERIFY(timer.elapsed() < 100);
    }

    void portTextsAndRates_data()
    {
        QTest::addColumn<QString>("port"); // "device": the simulator's device path
        QTest::addColumn<int>("linked"); // the Ports/COMn link that leads to the simulator
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("line");
        QTest::newRow("COM3 at 115200") << "COM3" << 3 << "115200" << "115200,n,8,1";
        QTest::newRow("COM255 opens port 15") << "COM255" << 15 << "1200" << "1200,n,8,1";
        QTest::newRow("any three characters and 7") << "ab#7" << 7 << "38400" << "38400,n,8,1";
        QTest::newRow("lower case and leading zero") << "com07" << 7 << "57600" << "57600,n,8,1";
        QTest::newRow("device path as typed") << "device" << 0 << "19200" << "19200,n,8,1";
    }

    void portTextsAndRates()
    {
        QFETCH(QString, port);
        QFETCH(int, linked);
        QFETCH(QString, rate);
        QFETCH(QString, line);
        QFile::remove(m_dir->filePath(QStringLiteral("Ports/COM1")));
        if (linked > 0) {
            linkPort(linked, m_sim->devicePath());
        }
        m_link->openPressed(port == QStringLiteral("device") ? m_sim->devicePath() : port, rate);
        QVERIFY2(m_uart->PortOpen(), qPrintable(m_link->statusDetail()));
        QCOMPARE(m_sim->lineSettings(), line);
    }

    void failedOpens_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("rate");
        QTest::newRow("absent device") << "COM5" << "9600";
        QTest::newRow("no number") << "COM" << "9600";
        QTest::newRow("letters") << "COMx1" << "9600";
        QTest::newRow("port 0") << "COM0" << "9600";
        QTest::newRow("port 256") << "COM256" << "9600";
        QTest::newRow("empty port") << "" << "9600";
        QTest::newRow("rate not a number") << "COM1" << "fast";
        QTest::newRow("rate zero") << "COM1" << "0";
        QTest::newRow("empty rate") << "COM1" << "";
        QTest::newRow("unknown parity") << "COM1" << "9600,x,8,1";
        QTest::newRow("nine data bits") << "COM1" << "9600,n,9,1";
        QTest::newRow("1.5 stop bits") << "COM1" << "9600,n,8,1.5";
        // A pseudo-terminal carries whole bytes: it cannot hold 7 data bits or a parity.
        QTest::newRow("7E1 on a pseudo-terminal") << "COM1" << "9600,e,7,1";
        QTest::newRow("parity on a pseudo-terminal") << "COM1" << "9600,o,8,1";
        QTest::newRow("absent device path") << "/dev/comkeys-none" << "9600";
        QTest::newRow("not a terminal") << "/dev/null" << "9600";
    }

    void failedOpens()
    {
        QFETCH(QString, port);
        QFETCH(QString, rate);
        linkPort(5, m_dir->filePath(QStringLiteral("nothing-here")));
        m_link->openPressed(port, rate);
        QVERIFY(!m_uart->PortOpen());
        QCOMPARE(m_dialogs->texts(), QStringList { NotOpen });
        QCOMPARE(m_dialogs->messages[0].title, QStringLiteral("提示"));
        QCOMPARE(m_link->statusText(), QStringLiteral("串口没有打开成功"));
        // Said in Chinese where the user looks: the tooltip and a line in the log window.
        QVERIFY(!m_link->statusDetail().isEmpty());
        QVERIFY(m_link->logText().text().startsWith(QStringLiteral("【串口】串口没有打开成功：")));
        QVERIFY(m_link->logText().text().contains(m_link->statusDetail()));
    }

    void realUartLineFormats_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("held"); // what the driver holds afterwards, empty: open fails
        QTest::newRow("7E1") << "9600,e,7,1" << "9600,e,7,1";
        QTest::newRow("mark parity, 5 bits, 2 stop") << "1200,m,5,2" << "1200,m,5,2";
        QTest::newRow("a rate the UART cannot make") << "250000" << "";
    }

    void realUartLineFormats()
    {
        // A pseudo-terminal takes any rate and no framing; a real UART driver holds framing and
        // keeps its old rate for one it cannot make. Read back from the driver's termios.
        QFETCH(QString, rate);
        QFETCH(QString, held);
        m_link->openPressed(QStringLiteral("/dev/ttyS0"), rate);
        if (m_link->statusDetail().contains(QStringLiteral("/dev/ttyS0: 设备"))) {
            QSKIP("no UART at /dev/ttyS0 here");
        }
        QCOMPARE(m_uart->PortOpen(), !held.isEmpty());
        if (held.isEmpty()) {
            QVERIFY2(m_link->statusDetail().contains(QStringLiteral("不是要求的 250000,n,8,1")), qPrintable(m_link->statusDetail()));
            return;
        }
        const std::optional<LineState> line = readLineState(m_uart->handle());
        QVERIFY(line);
        QCOMPARE(QStringLiteral("%1,%2,%3,%4").arg(line->rate).arg(QChar::fromLatin1(line->parity)).arg(line->dataBits).arg(line->stopBits), held);
    }

    // Sending.

    void sends_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cr");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("log");
        QTest::newRow("AB") << "\"AB\"" << false << QByteArray("AB") << "AB\r\n";
        QTest::newRow("AB with CR") << "\"AB\"" << true << QByteArray("AB\r") << "AB     <CR>\r\n";
        QTest::newRow("CR only") << "\"\"" << true << QByteArray("\r") << "     <CR>\r\n";
        QTest::newRow("no delimiters") << "ABC" << false << QByteArray("B") << "B\r\n";
        QTest::newRow("nothing interpreted") << "\"\\x0D^M%1\"" << false << QByteArray("\\x0D^M%1") << "\\x0D^M%1\r\n";
        QTest::newRow("Latin-1 byte") << QStringLiteral("\"\u00FF\u00E9\"") << false << QByteArray("\xFF\xE9")
                                      << QStringLiteral("\u00FF\u00E9\r\n");
        QTest::newRow("255 characters") << (u'"' + QString(253, u'x') + u'"') << false << QByteArray(253, 'x')
                                        << (QString(253, u'x') + QStringLiteral("\r\n"));
        QTest::newRow("254 characters with CR") << (u'"' + QString(252, u'y') + u'"') << true
                                                << (QByteArray(252, 'y') + '\r')
                                                << (QString(252, u'y') + QStringLiteral("     <CR>\r\n"));
    }

    void sends()
    {
        QFETCH(QString, text);
        QFETCH(bool, cr);
        QFETCH(QByteArray, wire);
        QFETCH(QString, log);
        m_sim->setEcho(true);
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
        m_link->keyPressed(text, cr);
        QVERIFY(m_dialogs->messages.isEmpty());
        QTRY_COMPARE(m_sim->received(), wire);
        QCOMPARE(m_link->logText().text().left(log.size()), log);
    }

    void refusedSends_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cr");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("message");
        const QString tooLong = QStringLiteral("命令太长：连同首尾引号最多 255 个字符，勾选加回车符时最多 254 个");
        QTest::newRow("empty") << "" << false << true << "请输入要发送的命令";
        QTest::newRow("empty, port closed") << "" << true << false << "请输入要发送的命令";
        QTest::newRow("port closed") << "\"AT\"" << false << false << NotOpen;
        QTest::newRow("port closed, 254 characters") << QString(254, u'x') << true << false << NotOpen;
        QTest::newRow("single character") << "\"" << true << true
                                          << "命令至少要有首尾两个字符（一对引号），这个命令没有可发送的内容";
        QTest::newRow("empty body without CR") << "\"\"" << false << true
                                               << "两个引号之间没有命令，不加回车符时没有可发送的字节";
        QTest::newRow("256 characters") << QString(256, u'x') << false << true << tooLong;
        QTest::newRow("255 characters with CR") << QString(255, u'x') << true << true << tooLong;
        QTest::newRow("character above 255") << "\"查询\"" << false << true << "命令中的字符“查”不能按单字节发送，没有发送";
    }

    void refusedSends()
    {
        QFETCH(QString, text);
        QFETCH(bool, cr);
        QFETCH(bool, open);
        QFETCH(QString, message);
        if (open) {
            m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        }
        m_link->keyPressed(text, cr);
        QCOMPARE(m_dialogs->texts(), QStringList { message });
        QCOMPARE(m_dialogs->messages[0].title, QStringLiteral("提示"));
        QVERIFY(m_link->logText().text().isEmpty());
        QTest::qWait(20);
        QVERIFY(m_sim->received().isEmpty());
    }

    void slowDeviceGetsEveryLoggedCommandWhole()
    {
        // The device stops reading: the line fills, the rest waits in the queue, a full queue
        // refuses a key whole; nothing closes the port. Once the device reads again, every
        // logged command arrives whole and in order, and nothing refused arrives at all.
        m_sim->setReading(false);
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
        for (int press = 0; press < 400; ++press) {
            const QString body = QStringLiteral("%1").arg(press, 4, 10, QChar(u'0')) + QString(244, QChar(u'a' + press % 26));
            m_link->keyPressed(u'"' + body + u'"', true);
        }
        const int refused = int(m_dialogs->messages.size());
        QVERIFY(refused > 0);
        for (const QString& text : m_dialogs->texts()) {
            QVERIFY2(text.startsWith(QStringLiteral("设备没有及时读取")), qPrintable(text));
        }
        QVERIFY(m_uart->PortOpen());
        m_sim->setReading(true);
        QTRY_COMPARE_WITH_TIMEOUT(m_uart->queuedBytes(), 0, 10000);
        QVERIFY(m_uart->PortOpen());
        QByteArray expected;
        int logged = 0;
        for (const QString& line : m_link->logText().text().split(QStringLiteral("\r\n"))) {
            if (line.endsWith(QStringLiteral("     <CR>"))) { // the device's replies add marker lines
                expected += line.chopped(9).toLatin1() + '\r';
                ++logged;
            }
        }
        QCOMPARE(logged + refused, 400);
        QTRY_COMPARE(m_sim->received().size(), expected.size());
        QCOMPARE(m_sim->received(), expected);
    }

    // Receiving: every byte goes to the record, every carriage return adds a marker line.

    void receivedChunks_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QString>("log");
        const QString cr = QStringLiteral("<CR>");
        QTest::newRow("worked example") << QByteArrayList { "OK\r", "OK\r", "#1\r" }
                                        << cr + Header + cr + cr + Header + cr + Header;
        QTest::newRow("no CR: no marker") << QByteArrayList { "plain\nline\x01" } << QString();
        QTest::newRow("CR CR in one chunk") << QByteArrayList { "\r\r" } << cr + Header + cr + cr + Header;
        QTest::newRow("'#' inside a chunk empties nothing") << QByteArrayList { "\r", "a#\r" }
                                                            << cr + Header + cr + cr + Header;
        QTest::newRow("'#' first empties before the chunk's own") << QByteArrayList { "\r", "#\r\r" }
                                                                  << cr + Header + cr + Header + cr + cr + Header;
        QTest::newRow("markers stop at 256") << QByteArrayList { QByteArray(257, '\r') }
                                             << cr.repeated(256) + Header;
    }

    void receivedChunks()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QString, log);
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        QByteArray all;
        for (const QByteArray& chunk : chunks) {
            deliver(chunk);
            all += chunk;
        }
        QCOMPARE(m_link->record().receivedBytes(), all);
        QVERIFY2(m_link->logText().text().endsWith(log), qPrintable(m_link->logText().text().right(200)));
        QCOMPARE(m_link->logText().text().count(Header), all.count('\r'));
    }

    void clearingTheDisplayAndTheLog()
    {
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        deliver("abc\r");
        m_link->clearReceive();
        QVERIFY(!m_link->logText().text().isEmpty()); // the display's clear leaves the log
        m_link->clearLog();
        QCOMPARE(m_link->logText().text(), QString());
        deliver("\r"); // the markers survive a clear
        QCOMPARE(m_link->logText().text(), QStringLiteral("<CR><CR>") + Header);
    }

    void inputWithoutReceiveEvents()
    {
        // With receive events off, bytes wait in the system for whoever asks.
        QVERIFY(m_uart->setPortOpen(true));
        QSignalSpy events(m_uart.get(), &UartCom::OnComm);
        QVERIFY(m_sim->send("abc"));
        QTest::qWait(50);
        QCOMPARE(events.count(), 0);
        m_uart->setInputLen(2);
        QCOMPARE(m_uart->Input(), QByteArray("ab"));
        m_uart->setInputLen(0);
        QCOMPARE(m_uart->Input(), QByteArray("c"));
    }

    void boundedTextsKeepTheirNewestPart()
    {
        TextBuffer buffer(1000);
        for (int i = 0; i < 100; ++i) {
            buffer.append(QString(30, QChar(u'a' + i % 26)));
        }
        QVERIFY(buffer.text().size() <= 1000 && buffer.text().size() >= 750);
        QCOMPARE(buffer.total(), 3000);
        QVERIFY(buffer.text().endsWith(QString(30, QChar(u'a' + 99 % 26))));
        buffer.append(QString(5000, u'z'));
        QCOMPARE(buffer.text(), QString(750, u'z'));
        // A long line logged again and again, also many times in one call, between short texts.
        const QString line = QString::fromLatin1(QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ").repeated(24).left(600));
        QString all = buffer.text();
        for (const int times : { 1, 3, 1, 2 }) {
            buffer.append(line, times);
            buffer.append(QStringLiteral("<>"));
            all += line.repeated(times) + QStringLiteral("<>");
            QCOMPARE(buffer.text(), all.right(buffer.text().size()));
            QCOMPARE(buffer.tail(650), all.right(650));
        }
        QCOMPARE(buffer.total(), 3000 + 5000 + 7 * 600 + 4 * 2);
        QVERIFY(buffer.text().size() >= 750);
    }

    void receiveAndTransmitInterleave()
    {
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        m_link->keyPressed(QStringLiteral("\"AT\""), true);
        QTRY_COMPARE(m_link->record().receivedBytes(), QByteArray("OK\r"));
        m_link->keyPressed(QStringLiteral("\"XY\""), true);
        QTRY_COMPARE(m_link->record().receivedBytes(), QByteArray("OK\rERROR\r"));
        QCOMPARE(m_link->logText().text(), QStringLiteral("AT     <CR>\r\n<CR>") + Header
                     + QStringLiteral("XY     <CR>\r\n<CR><CR>") + Header);
    }

    // The device going away.

    void vanishingDeviceClosesThePortAndComesBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Ports link") << "Ports/COM1";
        // How adapters are named: a link that udev makes anew on every plug.
        QTest::newRow("device path that is a link") << "by-id/usb-sim";
    }

    void vanishingDeviceClosesThePortAndComesBack()
    {
        QFETCH(QString, name);
        const QString link = m_dir->filePath(name);
        const QString port = name.startsWith(QStringLiteral("Ports/")) ? QStringLiteral("COM1") : link;
        QDir(m_dir->path()).mkpath(QFileInfo(link).path());
        QVERIFY(QFileInfo(link).isSymLink() || QFile::link(m_sim->devicePath(), link));
        m_link->openPressed(port, QStringLiteral("9600,N,8,2"));
        QVERIFY(m_uart->PortOpen());
        m_sim->unplug(link);
        QTRY_VERIFY(!m_uart->PortOpen());
        QCOMPARE(m_link->statusText(), QStringLiteral("串口已经断开"));
        QVERIFY(m_link->logText().text().startsWith(QStringLiteral("【串口】串口设备已断开：")));
        m_link->keyPressed(QStringLiteral("\"AT\""), true);
        QCOMPARE(m_dialogs->texts(), QStringList { NotOpen });
        QVERIFY(m_link->isWaitingToReconnect());
        // Without its link, COM1 would name /dev/ttyS0: that is not the device that went away.
        QTest::qWait(1200);
        QVERIFY(!m_uart->PortOpen());

        // Plugged in again under the same name: open by itself, with the same settings.
        QVERIFY(m_sim->replug(link));
        QTRY_VERIFY(m_uart->PortOpen());
        QCOMPARE(m_link->statusText(), QStringLiteral("串口已经打开"));
        QCOMPARE(m_sim->lineSettings(), QStringLiteral("9600,n,8,2"));
        QVERIFY(m_link->logText().text().contains(QStringLiteral("【串口】串口已自动重新打开")));
        m_link->keyPressed(QStringLiteral("\"AT\""), true);
        QTRY_VERIFY(m_link->record().receivedBytes().endsWith("OK\r"));

        // Closed by the user, or with reconnecting switched off: it stays closed.
        m_link->closePressed();
        m_sim->unplug(link);
        QVERIFY(m_sim->replug(link));
        QTest::qWait(1200);
        QVERIFY(!m_uart->PortOpen());
        m_link->openPressed(port, QStringLiteral("9600"));
        m_link->setAutoReconnect(false);
        m_sim->unplug(link);
        QTRY_VERIFY(!m_uart->PortOpen());
        QVERIFY(!m_link->isWaitingToReconnect());
        QVERIFY(m_sim->replug(link));
        QTest::qWait(1200);
        QVERIFY(!m_uart->PortOpen());
    }

    void writeToAVanishedDeviceIsNotLogged()
    {
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        m_sim->vanish();
        // Pressed before the event loop has noticed: the write itself fails.
        m_link->keyPressed(QStringLiteral("\"AT\""), true);
        QCOMPARE(m_dialogs->messages.size(), 1);
        QVERIFY(m_dialogs->texts()[0].startsWith(QStringLiteral("串口写入失败，命令没有发送")));
        QVERIFY(!m_link->logText().text().contains(QStringLiteral("AT")));
        QTRY_VERIFY(!m_uart->PortOpen());
        QCOMPARE(m_link->statusText(), QStringLiteral("串口已经断开"));
    }

private:
    void linkPort(int n, const QString& target)
    {
        const QString link = m_dir->filePath(QStringLiteral("Ports/COM%1").arg(n));
        QFile::remove(link);
        QVERIFY(QFile::link(target, link));
    }

    // Sends one chunk from the device and waits until the link has recorded all of it.
    void deliver(const QByteArray& bytes)
    {
        const qint64 before = m_link->record().receivedTotal();
        QVERIFY(m_sim->send(bytes));
        QTRY_COMPARE(m_link->record().receivedTotal(), before + bytes.size());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DeviceSimulator> m_sim;
    SharedState m_state;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<UartCom> m_uart;
    std::unique_ptr<SerialLink> m_link;
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
