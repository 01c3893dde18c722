#include "DeviceSimulator.h"
#include "Ser2net.h"
#include "TestFiles.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <csignal>

using namespace comkeys;

namespace {
// The options a text names, "--run" and the like.
QSet<QString> optionsIn(const QString& text)
{
    QSet<QString> names;
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--([a-z][a-z-]*)"));
    for (const QRegularExpressionMatch& m : option.globalMatch(text)) {
        names.insert(m.captured(1));
    }
    return names;
}
} // namespace

// The windowless runner as a CI job runs it: the real program, no display, the simulator on the
// line.
class TestCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_sim.reset(new DeviceSimulator);
        QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
        m_dir.reset(new QTemporaryDir);
        test::writeAll(path("keys.ini"),
            "[KeySend]\r\nSend3=\"AT\"\r\n[AutoSequence]\r\nSeq1=2 上电检查\r\nSeq1.1=key 3\r\n"
            "Seq1.2=expect 500 stop re:^OK\\r\r\n");
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output"); // on stdout or, for exit 2, stderr
        QTest::newRow("passing") << QStringList { "--send", "\"AT\"", "--cr", "--expect", "OK" } << 0
                                 << QStringLiteral("1:2\texpect 1000 next OK\t\tOK<0D>\t通过\t");
        QTest::newRow("single dashes") << QStringList { "-send", "\"AT\"", "-cr", "-expect=OK" } << 0
                                       << QStringLiteral("1:2\texpect 1000 next OK\t\tOK<0D>\t通过\t");
        QTest::newRow("named, twice") << QStringList { "--run", "上电检查", "--cr", "--keys", "@keys.ini" } << 0
                                      << QStringLiteral("\n序列“上电检查”：4 步，2 个期待，0 个没有通过");
        QTest::newRow("list") << QStringList { "--list", "--keys", "@keys.ini" } << 0
                              << QStringLiteral("  上电检查\t2 步，2 遍\n按键：\n  3\tKey3\t\"AT\"\n");
        QTest::newRow("failing expect") << QStringList { "--send", "\"XY\"", "--cr", "--expect-timeout", "200",
            "--expect", "OK" } << 1 << QStringLiteral("expect 200 next OK\t\tERROR<0D>\t失败\t");
        QTest::newRow("overall timeout") << QStringList { "--send", "\"ZZ\"", "--expect", "OK", "--expect-timeout",
            "20000", "--timeout", "1" } << 3
                                         << QStringLiteral("结果：总时间用完");
        QTest::newRow("port won't open") << QStringList { "--port", "/dev/nonexistent", "--send", "\"AT\"" } << 2
                                         << QStringLiteral("串口没有打开");
        QTest::newRow("unknown option") << QStringList { "--sned", "\"AT\"" } << 2 << QStringLiteral("sned");
        QTest::newRow("unknown sequence")
            << QStringList { "--run", "nope", "--keys", "@keys.ini" } << 2 << QStringLiteral("（有：上电检查）");
        QTest::newRow("missing key set") << QStringList { "--run", "x", "--keys", "@none.ini" } << 2
                                         << QStringLiteral("不存在");
        QTest::newRow("report not written") << QStringList { "--send", "\"AT\"", "--cr", "--expect", "OK", "--junit",
            "/nonexistent/r.xml" } << 2 << QStringLiteral("JUnit 报告没有写成");
        QTest::newRow("bad pattern") << QStringList { "--send", "\"AT\"", "--expect", "re:(" } << 2
                                     << QStringLiteral("正则表达式有错");
    }

    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, output);
        QProcess p;
        start(p, arguments);
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 10000);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == code, qPrintable(out + err));
        QVERIFY2((code == 2 ? err : out).contains(output), qPrintable(out + err));
        if (code == 2) {
            QCOMPARE(err.count(u'\n'), 1); // one line saying why
        }
    }

    // A network port connects in the background: the run waits for it.
    void networkPort_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("raw TCP") << false;
        QTest::newRow("RFC 2217") << true;
    }

    void networkPort()
    {
        QFETCH(bool, telnet);
        test::Ser2net server;
        QVERIFY(server.start(m_sim->devicePath()));
        QProcess p;
        start(p, { "--port", server.url(telnet), "--send", "\"AT\"", "--cr", "--expect", "OK" });
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 15000);
        QVERIFY2(p.exitCode() == 0, p.readAllStandardOutput() + p.readAllStandardError());
    }

    // Ctrl+C: the port closed, the reports written with what ran, exit 130.
    void interruptedWritesReports()
    {
        QProcess p;
        start(p,
            { "--send", "\"AT\"", "--cr", "--expect", "OK", "--send", "\"XY\"", "--expect", "OK", "--wait", "20000",
                "--junit", path("r.xml"), "--csv", path("r.csv") });
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->received() == "AT\rXY\r", 10000);
        QTest::qWait(1200); // the second expect times out (ERROR came): a failure in the report
        ::kill(pid_t(p.processId()), SIGINT);
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 10000);
        QCOMPARE(p.exitCode(), 130);

        QXmlStreamReader xml(test::readAll(path("r.xml")));
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name(), u"testsuites");
        int suites = 0;
        QStringList verdicts;
        while (xml.readNextStartElement()) {
            QCOMPARE(xml.name(), u"testsuite");
            ++suites;
            const QXmlStreamAttributes suite = xml.attributes();
            for (const char* a :
                { "name", "tests", "failures", "errors", "time", "timestamp", "hostname", "id", "package" }) {
                QVERIFY2(suite.hasAttribute(QLatin1String(a)), a);
            }
            QVERIFY(QDateTime::fromString(suite.value(QLatin1String("timestamp")).toString(), Qt::ISODate).isValid());
            QStringList children;
            int cases = 0;
            int failures = 0;
            while (xml.readNextStartElement()) {
                children << xml.name().toString();
                if (xml.name() == u"testcase") {
                    ++cases;
                    for (const char* a : { "name", "classname", "time" }) {
                        QVERIFY2(xml.attributes().hasAttribute(QLatin1String(a)), a);
                    }
                    QString verdict = QStringLiteral("pass");
                    while (xml.readNextStartElement()) {
                        QCOMPARE(xml.name(), u"failure");
                        QVERIFY(xml.attributes().hasAttribute(QLatin1String("type")));
                        ++failures;
                        verdict = xml.readElementText();
                    }
                    verdicts << verdict;
                } else {
                    xml.skipCurrentElement();
                }
            }
            // The schema's order: properties, the cases, system-out, system-err.
            QCOMPARE(children.first(), QStringLiteral("properties"));
            QCOMPARE(children.mid(children.size() - 2), (QStringList { "system-out", "system-err" }));
            QCOMPARE(suite.value(QLatin1String("tests")).toInt(), cases);
            QCOMPARE(suite.value(QLatin1String("failures")).toInt(), failures);
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(suites, 1);
        QCOMPARE(verdicts, (QStringList { "pass", "期望：OK\n收到：ERROR<0D>" }));

        QByteArray csv = test::readAll(path("r.csv"));
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QStringList rows = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows[0].endsWith(QStringLiteral(",步骤,结果,步骤用时(ms)")));
        QVERIFY(rows[1].contains(QStringLiteral(",AT<0D>,OK<0D>,")));
        QVERIFY(rows[2].contains(QStringLiteral(",命令行 第4步,失败,")));
    }

    void helpMatchesTheManualPage()
    {
        QProcess p;
        start(p, { "--help" });
        QTRY_VERIFY(p.state() == QProcess::NotRunning);
        QCOMPARE(p.exitCode(), 0);
        const QSet<QString> help = optionsIn(QString::fromUtf8(p.readAllStandardOutput()));
        QString man = QString::fromUtf8(test::readAll(QStringLiteral(COMKEYS_MAN)));
        man.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        QCOMPARE(optionsIn(man), help);
        QVERIFY(help.contains(QStringLiteral("expect-timeout")));
    }

private:
    QString path(const char* name) const { return m_dir->filePath(QString::fromUtf8(name)); }

    void start(QProcess& p, QStringList arguments)
    {
        for (QString& a : arguments) {
            if (a.startsWith(u'@')) {
                a = m_dir->filePath(a.mid(1));
            }
        }
        if (!arguments.contains(QStringLiteral("--port")) && !arguments.contains(QStringLiteral("--help"))) {
            arguments << QStringLiteral("--port") << m_sim->devicePath();
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" }) {
            env.remove(QString::fromLatin1(name));
        }
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(COMKEYS_BIN), arguments);
        QVERIFY(p.waitForStarted());
    }

    std::unique_ptr<DeviceSimulator> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
