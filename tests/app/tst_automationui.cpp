#include "AutomationWindow.h"
#include "DeviceSimulator.h"
#include "PrivateDesign.h"
#include "RepeatDialog.h"
#include "ScriptedDialogs.h"
#include "WindowTest.h"
#include "TestFiles.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace comkeys;
using comkeys::test::ScriptedDialogs;

// Keys, repeats, sequences and automatic answers driven through the real windows against the
// simulator.
class TestAutomationUi : public comkeys::test::WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        openWindow();
        setUpAT();
        openOnSimulator();
    }

    void cleanup() { closeWindow(); }

    void repeatDialogRefusesBadInput_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("stopKind"); // 0: none, then text, text in any case, regex, hex
        QTest::addColumn<QString>("stopText");
        QTest::addColumn<QString>("says");
        QTest::newRow("interval too short") << 0 << "9" << "0" << 0 << "" << "10 到 86400000 毫秒";
        QTest::newRow("interval too long") << 0 << "86400001" << "0" << 0 << "" << "10 到 86400000 毫秒";
        QTest::newRow("interval not a number") << 0 << "1s" << "0" << 0 << "" << "整数毫秒数";
        QTest::newRow("negative count") << 0 << "100" << "-1" << 0 << "" << "负数";
        QTest::newRow("bad expression") << 0 << "100" << "0" << 3 << "OK(" << "正则表达式有错";
        QTest::newRow("bad hex") << 0 << "100" << "0" << 4 << "0G" << "不是十六进制字节";
        QTest::newRow("key the line refuses") << 1 << "100" << "0" << 0 << "" << "Key2：请输入要发送的命令";
    }

    void repeatDialogRefusesBadInput()
    {
        QFETCH(int, key);
        QFETCH(QString, interval);
        QFETCH(QString, count);
        QFETCH(int, stopKind);
        QFETCH(QString, stopText);
        QFETCH(QString, says);
        m_window->automation().openRepeatDialog(key, m_window.get());
        auto* dialog = m_window->findChild<RepeatDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        dialog->findChild<QLineEdit*>(QStringLiteral("interval"))->setText(interval);
        dialog->findChild<QLineEdit*>(QStringLiteral("count"))->setText(count);
        dialog->findChild<QComboBox*>(QStringLiteral("stopKind"))->setCurrentIndex(stopKind);
        dialog->findChild<QLineEdit*>(QStringLiteral("stopText"))->setText(stopText);
        QTest::mouseClick(buttonNamed(dialog, QStringLiteral("开始")), Qt::LeftButton);
        QVERIFY2(dialog->problem().contains(says), qPrintable(dialog->problem()));
        QVERIFY(dialog->isVisible());
        QTest::qWait(50);
        QCOMPARE(m_sim->received(), QByteArray());
        QVERIFY(!m_window->keyButton(key)->isMarked());
        dialog->reject();
    }

    void repeatFromTheMenuSendsIsMarkedAndEscStopsIt()
    {
        FaceButton* key = m_window->keyButton(0);
        const QImage idle = key->grab().toImage();
        QVERIFY(m_window->setKeyShortcut(0, QKeySequence(Qt::Key_F6)));
        chooseFromKeyMenu(0, QStringLiteral("定时重复发送…"));
        auto* dialog = m_window->findChild<RepeatDialog*>();
        QVERIFY(dialog);
        dialog->findChild<QLineEdit*>(QStringLiteral("interval"))->setText(QStringLiteral("40"));
        QTest::mouseClick(buttonNamed(dialog, QStringLiteral("开始")), Qt::LeftButton);
        QTRY_VERIFY(m_sim->received().count("AT\r") >= 3);
        QVERIFY(key->grab().toImage() != idle);
        // The repeat and the shortcut share the tip, neither hiding the other.
        QVERIFY(key->toolTip().contains(QStringLiteral("每 40 毫秒")));
        QVERIFY(key->toolTip().contains(QStringLiteral("快捷键 F6")));

        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QCOMPARE(key->grab().toImage(), idle);
        QCOMPARE(key->toolTip(), QStringLiteral("快捷键 F6（只在第一页起作用）"));
        const QByteArray sent = m_sim->received();
        QTest::qWait(150);
        QCOMPARE(m_sim->received(), sent);
        QVERIFY(m_window->link().logText().text().contains(QStringLiteral("已停止全部自动发送")));
        QVERIFY(m_dialogs->messages.isEmpty());
    }

    // Steps as typed into the window: "kind|key, text or pattern|pattern kind|ms|on timeout|go to".
    void sequenceBuiltInTheWindowRuns_data()
    {
        QTest::addColumn<int>("replyDelay");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("refused"); // what the window says about the last step
        QTest::addColumn<QStringList>("verdicts");
        QTest::addColumn<QString>("firstSend"); // its verdict in 收发记录: the expect's after it
        QTest::newRow("pass, fail and go on")
            << 0 << QStringList { "0|1", "3|OK|0|1000|1", "1|\"XY\"", "3|^OK$|2|300|0", "2||0|20" } << ""
            << QStringList { "通过", "通过", "通过", "失败", "通过" } << "通过";
        QTest::newRow("timeout, then the late reply")
            << 400 << QStringList { "0|1", "3|OK|0|150|0", "3|ok|1|2000|1" } << ""
            << QStringList { "通过", "超时", "通过" } << "超时";
        QTest::newRow("go to a later step")
            << 0 << QStringList { "1|\"XY\"", "3|OK|0|200|0", "1|\"AT\"", "3|45 52|3|500|1", "@2:3|OK|0|200|2|4" } << ""
            << QStringList { "通过", "失败", "", "通过" } << "失败"; // a later pass hides no failure
        QTest::newRow("bad expression refused")
            << 0 << QStringList { "1|\"AT\"", "3|OK(|2|100|1" } << "正则表达式有错" << QStringList { "通过" } << "通过";
        QTest::newRow("empty key refused")
            << 0 << QStringList { "1|\"AT\"", "0|2" } << "请输入要发送的命令" << QStringList { "通过" } << "通过";
    }

    void sequenceBuiltInTheWindowRuns()
    {
        QFETCH(int, replyDelay);
        QFETCH(QStringList, steps);
        QFETCH(QString, refused);
        QFETCH(QStringList, verdicts);
        QFETCH(QString, firstSend);
        m_sim->setReplyDelay(replyDelay);
        QTest::keyClick(m_window.get(), Qt::Key_J, Qt::ControlModifier);
        AutomationWindow* window = m_window->automationWindow();
        QVERIFY(window && window->isVisible());
        QTest::mouseClick(buttonNamed(window, QStringLiteral("新建序列")), Qt::LeftButton);
        for (const QString& step : steps) {
            typeStep(window, step);
        }
        QTRY_VERIFY(window->problem().contains(refused) && (refused.isEmpty() == window->problem().isEmpty()));
        QTableWidget* table = window->stepTable();
        QCOMPARE(table->rowCount(), verdicts.size());
        QTest::mouseClick(buttonNamed(window, QStringLiteral("运行")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->runStatus().contains(QStringLiteral("运行完毕")), 5000);
        for (int r = 0; r < verdicts.size(); ++r) {
            const QTableWidgetItem* verdict = table->item(r, 4);
            QCOMPARE(verdict->text(), verdicts[r]);
            if (!verdicts[r].isEmpty()) {
                QVERIFY(table->item(r, 5)->text().toLongLong() >= 0);
            }
        }
        // Every send of the run is a row of 收发记录 with its step, verdict and time.
        m_window->showTranscript();
        const QAbstractItemModel* rows = m_window->transcriptWindow()->table()->model();
        QCOMPARE(rows->headerData(7, Qt::Horizontal).toString(), QStringLiteral("结果"));
        QVERIFY(rows->rowCount() >= 1);
        QVERIFY(rows->index(0, 6).data().toString().startsWith(QStringLiteral("序列1 第")));
        QCOMPARE(rows->index(0, 7).data().toString(), firstSend);
        QVERIFY(!rows->index(0, 8).data().toString().isEmpty());
    }

    void removingAStepAnotherGoesToIsRefusedByItsNumber()
    {
        QTest::keyClick(m_window.get(), Qt::Key_J, Qt::ControlModifier);
        AutomationWindow* window = m_window->automationWindow();
        QTest::mouseClick(buttonNamed(window, QStringLiteral("新建序列")), Qt::LeftButton);
        typeStep(window, QStringLiteral("1|\"AT\""));
        typeStep(window, QStringLiteral("3|OK|0|200|2|1")); // on timeout back to step 1
        window->stepTable()->selectRow(0);
        QTest::mouseClick(buttonNamed(window, QStringLiteral("删除步骤")), Qt::LeftButton);
        QVERIFY2(window->problem().contains(QStringLiteral("第 2 步超时后要转到这一步")), qPrintable(window->problem()));
        QCOMPARE(window->stepTable()->rowCount(), 2);
    }

    void automationTravelsWithSaveAsAndLoad()
    {
        QTest::keyClick(m_window.get(), Qt::Key_J, Qt::ControlModifier);
        AutomationWindow* window = m_window->automationWindow();
        QTest::mouseClick(buttonNamed(window, QStringLiteral("新建序列")), Qt::LeftButton);
        typeStep(window, QStringLiteral("0|1"));
        typeStep(window, QStringLiteral("3|OK|1|500|1"));
        window->findChild<QLineEdit*>(QStringLiteral("rulePattern"))->setText(QStringLiteral("ERROR"));
        window->findChild<QComboBox*>(QStringLiteral("ruleAction"))->setCurrentIndex(int(AnswerRule::Action::Mark));
        window->findChild<QLineEdit*>(QStringLiteral("ruleColour"))->setText(QStringLiteral("#ff0000"));
        QTest::mouseClick(buttonNamed(window, QStringLiteral("添加规则")), Qt::LeftButton);
        QVERIFY(window->problem().isEmpty());
        const ColourRules marks = window->colourRules();

        const QString saved = m_dir->filePath(QStringLiteral("bench.ini"));
        m_dialogs->files = { saved };
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("SaveIniCmd")), Qt::LeftButton);
        const QByteArray bytes = test::readAll(saved);
        QVERIFY(bytes.contains("[AutoSequence]\r\nSeq1=1 序列1\r\nSeq1.1=key 1\r\nSeq1.2=expect 500 stop nocase:OK\r\n"));
        QVERIFY(bytes.contains("[AutoAnswer]\r\nRule1=ERROR\r\nRule1.do=mark #ff0000\r\n"));

        // Forgotten here, back with the load.
        QTest::mouseClick(buttonNamed(window, QStringLiteral("删除序列")), Qt::LeftButton);
        window->ruleTable()->selectRow(0);
        QTest::mouseClick(buttonNamed(window, QStringLiteral("删除规则")), Qt::LeftButton);
        QCOMPARE(window->ruleTable()->rowCount(), 0);
        QVERIFY(window->colourRules().isEmpty());
        m_dialogs->files = { saved };
        m_dialogs->answers = { MessageAnswer::Yes };
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("CallIniCmd")), Qt::LeftButton);
        QCOMPARE(window->stepTable()->rowCount(), 2);
        QCOMPARE(window->ruleTable()->rowCount(), 1);
        QCOMPARE(window->colourRules(), marks);
        QCOMPARE(marks.size(), 1);
        QCOMPARE(test::readAll(m_window->files().workingCopy()), bytes);
        QCOMPARE(m_dialogs->texts(),
                 (QStringList { QStringLiteral("配置文件保存成功！"), QStringLiteral("确定要覆盖当前的配置吗？") }));

        // The next start begins without automation; loading the same file, whose bytes the working
        // copy already holds, still brings it.
        m_window = std::make_unique<PrivateDesign>(*m_dialogs, m_dir->path());
        m_dialogs->files = { saved };
        m_dialogs->answers = { MessageAnswer::Yes };
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("CallIniCmd")), Qt::LeftButton);
        QCOMPARE(m_window->automation().set().sequences.size(), 1);
    }

private:
    static QPushButton* buttonNamed(QWidget* parent, const QString& text)
    {
        for (QPushButton* b : parent->findChildren<QPushButton*>()) {
            if (b->text() == text) {
                return b;
            }
        }
        qFatal("no button %s", qPrintable(text));
    }

    void chooseFromKeyMenu(int key, const QString& entry)
    {
        // Shared, so a menu that never showed cannot leave the timer writing into a finished call.
        const auto chosen = std::make_shared<bool>(false);
        QTimer::singleShot(50, this, [chosen, entry] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            for (QAction* a : menu ? menu->actions() : QList<QAction*>()) {
                if (a->text() == entry) {
                    menu->close();
                    a->trigger();
                    *chosen = true;
                }
            }
        });
        FaceButton* button = m_window->keyButton(key);
        Q_EMIT button->customContextMenuRequested(button->rect().center());
        QVERIFY(*chosen);
    }

    // "@N:" in front changes step N instead of adding one.
    static void typeStep(AutomationWindow* window, QString written)
    {
        int change = -1;
        if (written.startsWith(u'@')) {
            change = written.mid(1, written.indexOf(u':') - 1).toInt() - 1;
            written = written.mid(written.indexOf(u':') + 1);
        }
        const QStringList f = written.split(u'|');
        window->stepTable()->setCurrentCell(change, change < 0 ? -1 : 0); // fills the form with that step
        const int kind = f[0].toInt();
        window->findChild<QComboBox*>(QStringLiteral("stepKind"))->setCurrentIndex(kind);
        if (kind == int(Step::Kind::SendKey)) {
            window->findChild<QSpinBox*>(QStringLiteral("stepKey"))->setValue(f[1].toInt());
        } else {
            window->findChild<QLineEdit*>(QStringLiteral("stepText"))->setText(f.value(1));
        }
        if (f.size() > 3) {
            window->findChild<QComboBox*>(QStringLiteral("stepPatternKind"))->setCurrentIndex(f[2].toInt());
            window->findChild<QLineEdit*>(QStringLiteral("stepMs"))->setText(f[3]);
        }
        if (f.size() > 4) {
            window->findChild<QComboBox*>(QStringLiteral("onTimeout"))->setCurrentIndex(f[4].toInt());
        }
        if (f.size() > 5) {
            window->findChild<QSpinBox*>(QStringLiteral("gotoStep"))->setValue(f[5].toInt());
        }
        QTest::mouseClick(buttonNamed(window, change < 0 ? QStringLiteral("添加步骤") : QStringLiteral("修改步骤")),
                          Qt::LeftButton);
    }
};

QTEST_MAIN(TestAutomationUi)
#include "tst_automationui.moc"
