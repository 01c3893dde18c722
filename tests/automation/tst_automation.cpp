#include "AutomationEngine.h"
#include "DeviceSimulator.h"
#include "KeySet.h"
#include "KeyTable.h"
#include "Profile.h"
#include "ScriptedDialogs.h"
#include "SerialLink.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace comkeys;
using Engine = AutomationEngine;

Q_DECLARE_METATYPE(comkeys::AutomationEngine::StepResult)

class TestAutomation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Ports")));
        m_sim.reset(new DeviceSimulator);
        QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
        QVERIFY(QFile::link(m_sim->devicePath(), portLink()));
        m_uart.reset(new UartCom({ m_dir->path() }));
        m_link.reset(new SerialLink(m_state, *m_uart, m_dialogs));
        m_keys.setCommand(0, QStringLiteral("\"AT\""));
        m_engine.reset(new Engine(*m_link, m_keys));
        m_engine->setAppendCr([] { return true; });
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
        QVERIFY(m_uart->PortOpen());
    }

    void cleanup()
    {
        m_engine.reset();
        m_link.reset();
        m_uart.reset();
        m_sim.reset();
    }

    // Deadlines that pass while the loop is held up are skipped and counted, never caught up in
    // a burst; a tick whose last command still waits in the output queue is skipped too.
    void repeatSkipsRatherThanBursts()
    {
        QSignalSpy sent(m_engine.get(), &Engine::repeatSent);
        QVERIFY(m_engine->startRepeat({ 0, 20, 0, std::nullopt }));
        QTRY_VERIFY(sent.count() >= 3);
        const int beforeStall = sent.count();
        QThread::msleep(200); // ten deadlines pass unseen
        QTest::qWait(10);
        QVERIFY(sent.count() <= beforeStall + 2); // the late one, perhaps the next on time: not ten
        QVERIFY(m_engine->repeatState(0)->skipped >= 9);

        m_sim->setReading(false);
        const QString big = u'"' + QString(250, u'x') + u'"';
        // Filled until the system holds no more and our own queue holds some.
        for (int i = 0; i < 2000 && m_uart->queuedBytes() < 8000; ++i) {
            (void)m_link->sendCommand(big, false, {});
            QCoreApplication::processEvents();
        }
        const int before = sent.count();
        QTest::qWait(300);
        QVERIFY(m_uart->queuedBytes() > 0);
        QVERIFY(sent.count() <= before + 1); // at most the one that joined the queue
        const qint64 skipped = m_engine->repeatState(0)->skipped;
        QVERIFY(skipped >= 20);
        m_sim->setReading(true);
        QTRY_VERIFY(sent.count() >= before + 3);
        // Sent again once the queue drained, at the interval: the gaps are not a burst.
        QElapsedTimer t;
        t.start();
        const int resumed = sent.count();
        QTest::qWait(200);
        QVERIFY(sent.count() - resumed <= 200 / 20 + 1);
        m_engine->stopRepeat(0);
    }

    void repeatPausesWhileThePortIsAwayAndResumes()
    {
        QSignalSpy commands(m_sim.get(), &DeviceSimulator::commandReceived);
        QVERIFY(m_engine->startRepeat({ 0, 30, 0, std::nullopt }));
        QTRY_VERIFY(commands.count() >= 2);
        m_sim->unplug(portLink());
        QTRY_VERIFY(!m_uart->PortOpen());
        QVERIFY(m_link->logText().text().contains(QStringLiteral("定时重复发送暂停")));
        QVERIFY(m_sim->replug(portLink()));
        QTRY_VERIFY(m_uart->PortOpen());
        QSignalSpy after(m_sim.get(), &DeviceSimulator::commandReceived);
        QTRY_VERIFY(after.count() >= 3);
        QVERIFY(m_link->logText().text().contains(QStringLiteral("定时重复发送继续")));

        // Closed by the user: nothing goes out until it is opened again.
        m_link->closePressed();
        QTest::qWait(100);
        const int closed = after.count();
        QTest::qWait(150);
        QCOMPARE(after.count(), closed);
        m_link->openPressed(QStringLiteral("COM1"), QStringLiteral("115200"));
        QTRY_VERIFY(after.count() >= closed + 2);
        QVERIFY(m_dialogs.messages.isEmpty()); // automation never asks
    }

    void repeatStopsOnReplyOrCount()
    {
        m_sim->setReply("AT", "OK 3");
        QVERIFY(m_engine->startRepeat({ 0, 20, 0, Pattern::parse(QStringLiteral("re:OK \\d\\r")) }));
        QTRY_VERIFY(!m_engine->isRepeating(0));
        QCOMPARE(m_sim->received(), QByteArray("AT\r"));
        QVERIFY(m_engine->startRepeat({ 0, 10, 4, std::nullopt }));
        QTRY_VERIFY(!m_engine->isRepeating(0));
        QCOMPARE(m_sim->received(), QByteArray("AT\rAT\rAT\rAT\rAT\r"));
        QString error;
        QVERIFY(!m_engine->startRepeat({ 0, 9, 0, std::nullopt }, &error));
        QVERIFY(error.contains(QStringLiteral("毫秒")));
        QVERIFY(!m_engine->startRepeat({ 1, 100, 0, std::nullopt }, &error)); // key 2 is empty
        QCOMPARE(error, QStringLiteral("Key2：请输入要发送的命令"));
    }

    void sequencePassFailTimeoutGoTo()
    {
        m_engine->setAppendCr([] { return false; });
        auto send = [](const char* text) {
            Step s;
            s.kind = Step::Kind::SendText;
            s.text = QString::fromLatin1(text);
            return s;
        };
        auto expect = [](const char* pattern, int ms, Step::OnTimeout onTimeout, int gotoStep = 0) {
            Step s;
            s.kind = Step::Kind::Expect;
            s.pattern = Pattern::parse(QString::fromLatin1(pattern));
            s.ms = ms;
            s.onTimeout = onTimeout;
            s.gotoStep = gotoStep;
            return s;
        };
        Sequence seq;
        seq.name = QStringLiteral("检查");
        seq.steps = { send("\"AT\r\""), expect("OK", 1000, Step::OnTimeout::Stop), send("\"XY\r\""),
            expect("OK", 300, Step::OnTimeout::GoTo, 5),
            send("\"AT\r\""), // jumped over
            send("\"ZZ\""), expect("OK", 200, Step::OnTimeout::GoOn),
            Step { Step::Kind::Wait, 0, {}, 10, std::nullopt, Step::OnTimeout::Stop, 0 } };
        QSignalSpy steps(m_engine.get(), &Engine::stepFinished);
        QSignalSpy end(m_engine.get(), &Engine::sequenceFinished);
        QVERIFY(m_engine->startSequence(seq));
        QVERIFY(!m_engine->startSequence(seq)); // one at a time
        QTRY_COMPARE_WITH_TIMEOUT(end.count(), 1, 5000);
        QCOMPARE(end[0][0].value<Engine::SequenceEnd>(), Engine::SequenceEnd::Completed);
        QStringList got;
        for (const auto& args : steps) {
            const auto r = args[0].value<Engine::StepResult>();
            got << QStringLiteral("%1 %2").arg(r.step + 1).arg(Engine::verdictText(r.verdict));
        }
        QCOMPARE(got, (QStringList { "1 通过", "2 通过", "3 通过", "4 失败", "6 通过", "7 超时", "8 通过" }));
        const auto fail = steps[3][0].value<Engine::StepResult>();
        QCOMPARE(fail.reply, QByteArray("ERROR\r"));
        QVERIFY(fail.ms >= 300);
        QCOMPARE(m_sim->received(), QByteArray("AT\rXY\rZZ"));

        // Each send is a transcript row carrying the verdict of the expect that judged it.
        const QList<QByteArray> csv = m_link->transcript().csv().split('\n');
        QCOMPARE(csv.size(), 5);
        QVERIFY(csv[0].endsWith("步骤,结果,步骤用时(ms)\r"));
        QVERIFY(csv[1].contains(",检查 第2步,通过,"));
        QVERIFY(csv[2].contains(",检查 第4步,失败,3"));
        QVERIFY(csv[3].contains(",检查 第7步,超时,2"));

        // A step whose send the link refuses fails and ends the run.
        m_link->closePressed();
        QVERIFY(m_engine->startSequence(seq));
        QTRY_COMPARE(end.count(), 2);
        QCOMPARE(end[1][0].value<Engine::SequenceEnd>(), Engine::SequenceEnd::Aborted);
        QCOMPARE(steps.last()[0].value<Engine::StepResult>().detail, QStringLiteral("串口没有打开！"));
    }

    // An answer to a device that echoes would go on for ever: the guard pauses it.
    void loopGuardPausesARunawayRule()
    {
        m_sim->setEcho(true);
        m_engine->setRules({ *AnswerRule::parse(QStringLiteral("PING"), QStringLiteral("send \"PING\"")) });
        QSignalSpy paused(m_engine.get(), &Engine::rulePaused);
        m_link->sendCommand(QStringLiteral("\"PING\""), true, {});
        QTRY_COMPARE(paused.count(), 1);
        QTest::qWait(100);
        QCOMPARE(m_sim->received().count("PING"), 1 + AutomationSet::DefaultLoopGuard);
        QVERIFY(m_link->logText().text().contains(QStringLiteral("一秒内触发超过 10 次，已暂停")));
    }

    void keySetFileRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("problems");
        // A whole key set as the tool writes it, then the automation sections.
        KeyTable table;
        table.setCaption(0, QStringLiteral("Probe"));
        table.setCommand(0, QStringLiteral("\"AT\""));
        const QTemporaryDir dir;
        Profile written(dir.filePath(QStringLiteral("keys.ini")));
        QVERIFY(WriteKeySet(written, table, false));
        const QByteArray keys = written.bytes();
        QTest::newRow("without automation") << keys << QStringList();
        QTest::newRow("with automation") << keys
                + "[AutoRepeat]\r\nKey1=500 0 re:OK\\r$\r\n[AutoSequence]\r\nSeq1=3 上电 "
                  "检查\r\nSeq1.1=key 1\r\n"
                  "Seq1.2=expect 1000 goto:1 nocase:ok\r\nSeq1.3=send \"AT+X=1\"\r\nSeq1.4=wait "
                  "20\r\n"
                  "[AutoAnswer]\r\nRule1=login: \r\nRule1.do=send "
                  "\"root\"\r\nRule2=hex:07\r\nRule2.do=mark #ff0000\r\n"
                                         << QStringList();
        const int at = int(keys.count('\n'));
        QTest::newRow("broken entries stay")
            << keys
                + "[AutoRepeat]\r\nKey1=5 0\r\nKey2=100 3\r\n[AutoSequence]\r\nSeq1=1 "
                  "A\r\nSeq1.1=jump 3\r\n"
                  "Seq2=1 B\r\nSeq2.1=wait 5\r\n[AutoAnswer]\r\nRule1=re:(\r\nRule1.do=count\r\n; "
                  "mine\r\n"
            << QStringList { QStringLiteral("第 %1 行").arg(at + 2), QStringLiteral("第 %1 行").arg(at + 6),
                   QStringLiteral("第 %1 行").arg(at + 10) };
    }

    void keySetFileRoundTrip()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, problems);
        const QString path = m_dir->filePath(QStringLiteral("set.ini"));
        test::writeAll(path, file);
        AutomationSet set;
        QStringList reported;
        QVERIFY(loadAutomation(path, &set, &reported));
        QCOMPARE(reported.size(), problems.size());
        for (int i = 0; i < problems.size(); ++i) {
            QVERIFY2(reported[i].startsWith(problems[i]), qPrintable(reported[i]));
        }
        // The window's own writes: the key set into the working copy, then the automation.
        KeyTable keys;
        QVERIFY(ReadKeySet(path, keys));
        QCOMPARE(keys.caption(0), QStringLiteral("Probe"));
        QVERIFY(WriteKeySet(path, keys));
        QVERIFY(saveAutomation(path, set));
        const QByteArray written = test::readAll(path);
        if (problems.isEmpty()) {
            QCOMPARE(written, file); // the key entries and our own alike
            return;
        }
        // What loaded is written anew; what did not stays as it stood.
        for (const char* line :
            { "Key1=5 0\r\n", "Seq1=1 A\r\nSeq1.1=jump 3\r\n", "Rule1=re:(\r\nRule1.do=count\r\n", "; mine\r\n" }) {
            QVERIFY2(written.contains(line), line);
        }
        QVERIFY(written.startsWith(file.left(file.indexOf("[AutoRepeat]"))));
        AutomationSet again;
        QVERIFY(loadAutomation(path, &again));
        QCOMPARE(again, set);
        QVERIFY(saveAutomation(path, again));
        QCOMPARE(test::readAll(path), written);
    }

private:
    QString portLink() const { return m_dir->filePath(QStringLiteral("Ports/COM1")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DeviceSimulator> m_sim;
    SharedState m_state;
    test::ScriptedDialogs m_dialogs;
    std::unique_ptr<UartCom> m_uart;
    std::unique_ptr<SerialLink> m_link;
    KeyTable m_keys;
    std::unique_ptr<Engine> m_engine;
};

QTEST_GUILESS_MAIN(TestAutomation)
#include "tst_automation.moc"
