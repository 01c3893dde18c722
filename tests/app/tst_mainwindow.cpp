#include "DeviceSimulator.h"
#include "KeyGrid.h"
#include "PrivateDesign.h"
#include "ScriptedDialogs.h"
#include "WindowTest.h"
#include "SmallDisk.h"
#include "Startup.h"
#include "TestFiles.h"
#include "ToolFolders.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QAbstractItemView>
#include <QWheelEvent>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QClipboard>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QSettings>
#include <QStandardPaths>

#include <functional>


using namespace comkeys;
using comkeys::test::ScriptedDialogs;
using comkeys::test::SmallDisk;

namespace {
const QString Outside; // a control placed directly on the main window

QString buildFolder() { return QStringLiteral(COMKEYS_RENDER_DIR); }

// Bytes back from the transcript's text, as its reader would take them: <XX> is byte XX.
QByteArray readBack(const QString& text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); i += text[i] == u'<' ? 4 : 1) {
        bytes += text[i] == u'<' ? char(text.mid(i + 1, 2).toInt(nullptr, 16)) : char(text[i].unicode());
    }
    return bytes;
}
} // namespace

class TestMainWindow : public comkeys::test::WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true); // options the tool remembers stay out of the user's
        PrivateDesign::userSettings().clear();
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        installFontSubstitutions();
        QDir().mkpath(buildFolder());
    }

    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    // Start-up.

    void runningToolBlocksUntilKilled()
    {
        // The real program holds the lock while it runs; killed, it leaves the lock file behind,
        // and the next start takes it over.
        const QString path = m_dir->filePath(QStringLiteral("d.lock"));
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("COMKEYS_LOCK_FILE"), path);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(COMKEYS_APP), {});
        QVERIFY(tool.waitForStarted());
        QTRY_VERIFY(QFileInfo::exists(path));

        ScriptedDialogs second;
        InstanceLock secondLock({ path });
        QVERIFY(!runStartup({ QStringLiteral("arg") }, second, secondLock));
        QCOMPARE(second.texts(), (QStringList { QStringLiteral("arg"), QStringLiteral("我已经运行了哦，在[开始]右边的任务栏找找看吧！") }));
        // The command line's text comes first, as a plain notice.
        QCOMPARE(second.messages[0].icon, MessageIcon::None);
        QCOMPARE(second.messages[1].icon, MessageIcon::Information);
        QCOMPARE(second.messages[1].title, QStringLiteral("ComKeys"));
        QCOMPARE(tool.state(), QProcess::Running);

        tool.kill();
        QVERIFY(tool.waitForFinished());
        QVERIFY(QFileInfo::exists(path));
        ScriptedDialogs next;
        InstanceLock lock({ path });
        QVERIFY(runStartup({}, next, lock));
        QVERIFY(next.messages.isEmpty());
    }

    void lockThatCannotBeMadeIsNeverIgnored()
    {
        // The first place cannot hold a lock: the next one is used, by both instances alike.
        const QString impossible = m_dir->filePath(QStringLiteral("no/such/folder/x.lock"));
        const QString fallback = m_dir->filePath(QStringLiteral("fallback.lock"));
        InstanceLock first({ impossible, fallback });
        ScriptedDialogs dialogs;
        QVERIFY(runStartup({}, dialogs, first));
        QCOMPARE(first.path(), fallback);
        InstanceLock second({ impossible, fallback });
        QVERIFY(!runStartup({}, dialogs, second));
        QCOMPARE(dialogs.texts(), QStringList { QStringLiteral("我已经运行了哦，在[开始]右边的任务栏找找看吧！") });

        // Nowhere to put it: the user is told and the tool does not start.
        ScriptedDialogs none;
        InstanceLock nowhere({ impossible });
        QVERIFY(!runStartup({}, none, nowhere));
        QCOMPARE(none.messages.size(), 1);
        QVERIFY(none.texts()[0].startsWith(QStringLiteral("无法创建单实例锁文件")));
        QCOMPARE(none.messages[0].title, QStringLiteral("ComKeys"));
    }

    void displayThatCannotBeReachedEndsInOneLine_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("says");
        QTest::newRow("none set") << QString() << "no display found";
        QTest::newRow("set but absent") << ":987" << "the display cannot be reached (DISPLAY=:987)";
    }

    void displayThatCannotBeReachedEndsInOneLine()
    {
        QFETCH(QString, display);
        QFETCH(QString, says);
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DISPLAY"));
        if (!display.isEmpty()) {
            env.insert(QStringLiteral("DISPLAY"), display);
        }
        env.insert(QStringLiteral("COMKEYS_LOCK_FILE"), m_dir->filePath(QStringLiteral("e.lock")));
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(COMKEYS_APP), {});
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 1);
        const QStringList lines = QString::fromLocal8Bit(tool.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(says) && lines[0].contains(QStringLiteral("xvfb-run -a")), qPrintable(lines[0]));
    }

    // Layout.

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("text");

        auto row = [](const char* name, const QString& container, QRect r, const QString& text) {
            QTest::newRow(name) << QString::fromUtf8(name) << container << r << text;
        };
        const QString bar = QStringLiteral("Picture1");
        row("Command4", Outside, QRect(15000, 120, 1935, 555), QStringLiteral("清除调试打印信息"));
        row("Text1", Outside, QRect(14880, 960, 5055, 8775), QString());
        row("Picture2_3", Outside, QRect(15000, 960, 14775, 8775), QString());
        row("Picture2_0", Outside, QRect(0, 960, 14775, 8775), QString());
        row("Picture1", Outside, QRect(0, 0, 14775, 855), QString());
        row("Command3", bar, QRect(5880, 480, 2055, 315), QStringLiteral("清除调试打印信息"));
        row("RS232_Control_3", bar, QRect(1680, 360, 1695, 375), QStringLiteral("第四页控制命令"));
        row("RS232_Control_2", bar, QRect(0, 360, 1695, 375), QStringLiteral("第三页控制命令"));
        row("RS232_Control_1", bar, QRect(1680, 0, 1695, 375), QStringLiteral("第二页控制命令"));
        row("Enter_Check", bar, QRect(3600, 480, 2295, 315), QStringLiteral("所有发送加回车符 <CR>"));
        row("Command2", bar, QRect(9240, 0, 975, 375), QStringLiteral("清屏"));
        row("SaveCmd_3", bar, QRect(13320, 0, 1335, 375), QStringLiteral("打开串口"));
        row("SaveCmd_2", bar, QRect(13320, 360, 1335, 375), QStringLiteral("关闭串口"));
        row("Command1", bar, QRect(8160, 0, 855, 375), QStringLiteral("重命名"));
        row("Buad_Combo", bar, QRect(12000, 360, 1215, 330), QStringLiteral("9600"));
        row("SaveIniCmd", bar, QRect(10440, 0, 1335, 375), QStringLiteral("配置另存为"));
        row("CallIniCmd", bar, QRect(10440, 360, 1335, 375), QStringLiteral("调入配置"));
        row("Key_Name", bar, QRect(4920, 0, 3015, 375), QStringLiteral("请出入新的键名"));
        row("Key_Combo", bar, QRect(3600, 0, 1215, 330), QStringLiteral("Key1"));
        row("UART_Com_Combo", bar, QRect(12000, 0, 1215, 330), QStringLiteral("COM1"));
        row("RS232_Control_0", bar, QRect(0, 0, 1695, 375), QStringLiteral("第一页控制命令"));
        row("Shape1", bar, QRect(8520, 480, 255, 255), QString());
        row("ConnectLab", bar, QRect(9120, 480, 1260, 210), QStringLiteral("串口没有打开"));
        row("RS232_Cmd_0", QStringLiteral("Picture2_0"), QRect(0, 0, 2295, 495), QStringLiteral("Key1"));
        row("RS232_Text_0", QStringLiteral("Picture2_0"), QRect(2400, 0, 2415, 495), QString());
        row("RS232_Cmd_47", QStringLiteral("Picture2_0"), QRect(9840, 8160, 2295, 495), QStringLiteral("Key48"));
        row("RS232_Text_47", QStringLiteral("Picture2_0"), QRect(12240, 8160, 2415, 495), QString());
        row("RS232_Cmd_95", QStringLiteral("Picture2_1"), QRect(0, 0, 2295, 495), QStringLiteral("Key96"));
        row("RS232_Cmd_48", QStringLiteral("Picture2_1"), QRect(9840, 8160, 2295, 495), QStringLiteral("Key49"));
        row("RS232_Text_144", QStringLiteral("Picture2_3"), QRect(12240, 8160, 2415, 495), QString());
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, twips);
        QFETCH(QString, text);
        auto* w = m_window->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->parentWidget()->objectName(), container.isEmpty() ? QStringLiteral("PrivateDesign") : container);
        const int inset = container.isEmpty() ? 0 : 2; // inside the panel's sunken border
        QCOMPARE(w->geometry(), twipsRect(twips.x(), twips.y(), twips.width(), twips.height()).translated(inset, inset));
        auto* list = qobject_cast<QComboBox*>(w);
        QCOMPARE(list ? list->currentText() : w->property("text").toString(), text);
        QCOMPARE(w->isVisibleTo(m_window.get()), name != QStringLiteral("Command3"));
    }

    void windowAndColours()
    {
        QCOMPARE(m_window->size(), QSize(1325, 652));
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QCOMPARE(m_window->windowTitle(), QStringLiteral("ComKeys - RS-232 控制命令调试器 V02"));
        QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(m_window->windowFlags() & Qt::WindowMinimizeButtonHint));

        auto* text1 = m_window->findChild<ReceiveDisplay*>(QStringLiteral("Text1"));
        QCOMPARE(text1->palette().color(QPalette::Base), QColor(0, 0, 0));
        QCOMPARE(text1->palette().color(QPalette::Text), QColor(192, 255, 192));
        for (int p = 0; p < 4; ++p) {
            QCOMPARE(m_window->page(p)->palette().color(QPalette::Window), QColor(128, 128, 255));
            QCOMPARE(m_window->pageButton(p)->face(), p == 0 ? QColor(255, 0, 0) : PrivateDesign::buttonFace());
            QCOMPARE(m_window->pageButton(p)->font().family(), QStringLiteral("宋体"));
            QCOMPARE(m_window->pageButton(p)->font().pointSizeF(), 9.75);
        }
        for (const char* name : { "SaveCmd_3", "SaveCmd_2", "SaveIniCmd", "CallIniCmd" }) {
            QCOMPARE(m_window->findChild<FaceButton*>(QString::fromLatin1(name))->face(), QColor(255, 128, 128));
        }
        for (int i = 0; i < KeyCount; ++i) {
            QCOMPARE(m_window->keyButton(i)->face(), QColor(255, 192, 192));
            QCOMPARE(m_window->keyText(i)->font().family(), QStringLiteral("MS Sans Serif"));
        }
        QCOMPARE(m_window->findChild<StatusCircle*>(QStringLiteral("Shape1"))->fillColor(), QColor(255, 0, 0));
        QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("ConnectLab"))->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(m_window->findChild<QComboBox*>(QStringLiteral("Buad_Combo"))->font().pointSizeF(), 10.5);
        QVERIFY(!m_window->findChild<QCheckBox*>(QStringLiteral("Enter_Check"))->isChecked());
    }

    void stackingOrder()
    {
        auto names = [](const QWidget* parent) {
            QStringList list;
            for (QObject* o : parent->children()) {
                if (o->isWidgetType() && !o->objectName().isEmpty() && !o->objectName().startsWith(u'q')) {
                    list.prepend(o->objectName()); // children() runs back to front
                }
            }
            return list;
        };
        QCOMPARE(names(m_window.get()),
                 (QStringList { "CaptureLab", "Command4", "Text1", "Picture2_3", "Picture2_2", "Picture2_1", "Picture2_0", "Picture1" }));
        QCOMPARE(names(m_window->findChild<QWidget*>(QStringLiteral("Picture1"))),
                 (QStringList { "Command3", "RS232_Control_3", "RS232_Control_2", "RS232_Control_1", "Enter_Check",
                                "Command2", "SaveCmd_3", "SaveCmd_2", "Command1", "Buad_Combo", "SaveIniCmd",
                                "CallIniCmd", "Key_Name", "Key_Combo", "UART_Com_Combo", "RS232_Control_0", "Shape1",
                                "ConnectLab" }));
    }

    void keyboardOrder_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("next"); // the next control that takes the focus
        QTest::newRow("tool bar into page 1") << "UART_Com_Combo" << "RS232_Cmd_0";
        QTest::newRow("down a column's keys") << "RS232_Cmd_0" << "RS232_Cmd_1";
        QTest::newRow("keys, then the same column's texts") << "RS232_Cmd_15" << "RS232_Text_0";
        QTest::newRow("texts, then the next column's keys") << "RS232_Text_15" << "RS232_Cmd_16";
        QTest::newRow("page 1 done, back to the tool bar") << "RS232_Text_47" << "Key_Combo";
        QTest::newRow("close before open") << "SaveCmd_2" << "SaveCmd_3";
        QTest::newRow("tool bar into page 2") << "RS232_Control_3" << "RS232_Text_48";
        QTest::newRow("other pages: texts before keys") << "RS232_Text_63" << "RS232_Cmd_48";
        QTest::newRow("last page to the hidden clear button") << "RS232_Cmd_191" << "Command3";
        QTest::newRow("then the display") << "Command3" << "Text1";
        QTest::newRow("the clear button last") << "Text1" << "Command4";
    }

    void keyboardOrder()
    {
        QFETCH(QString, from);
        QFETCH(QString, next);
        QWidget* w = m_window->findChild<QWidget*>(from)->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty() || w->objectName().startsWith(u'q')) {
            w = w->nextInFocusChain();
        }
        QCOMPARE(w->objectName(), next);
    }

    void listsAfterCreation()
    {
        auto* keys = m_window->findChild<QComboBox*>(QStringLiteral("Key_Combo"));
        auto* rates = m_window->findChild<QComboBox*>(QStringLiteral("Buad_Combo"));
        auto* ports = m_window->findChild<QComboBox*>(QStringLiteral("UART_Com_Combo"));
        QCOMPARE(keys->count(), 192);
        for (int i = 0; i < 192; ++i) {
            QCOMPARE(keys->itemText(i), QStringLiteral("Key%1").arg(i + 1));
            QCOMPARE(m_window->keyButton(i)->text(), QStringLiteral("Key%1").arg(i + 1));
        }
        QStringList rateItems;
        for (int i = 0; i < rates->count(); ++i) {
            rateItems << rates->itemText(i);
        }
        QCOMPARE(rateItems, (QStringList { "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200" }));
        QVERIFY(ports->count() >= 15);
        for (int k = 0; k < 15; ++k) {
            QCOMPARE(ports->itemText(k), QStringLiteral("COM%1").arg(k + 1));
        }
        for (QComboBox* box : { keys, rates, ports }) {
            QCOMPARE(box->currentIndex(), -1);
        }
    }

    // Using the window.

    void pagesSwitchAndKeepTheirColours()
    {
        for (int p : { 3, 1, 2, 0 }) {
            QTest::mouseClick(m_window->pageButton(p), Qt::LeftButton);
            const QImage image = m_window->grab().toImage();
            QVERIFY(image.save(buildFolder() + QStringLiteral("/main-window-page%1.png").arg(p)));
            // The page shown is the one painted at the window's left: its first cell is a key face.
            QCOMPARE(image.pixelColor(8, 72), QColor(255, 192, 192));
            QCOMPARE(m_window->childAt(8, 72), m_window->keyButton(keyIndexAt(p, 0, 0)));
            QCOMPARE(m_window->childAt(toPixels(15500), toPixels(1100))->objectName(), QStringLiteral("Text1"));
            for (int q = 0; q < 4; ++q) {
                QCOMPARE(m_window->pageButton(q)->face(), q == p ? QColor(255, 0, 0) : PrivateDesign::buttonFace());
            }
        }
        m_window->showLog();
        QVERIFY(m_window->debugForm()->grab().save(buildFolder() + QStringLiteral("/log-window.png")));
    }

    void renameAndFocusWriteTheWorkingCopy()
    {
        const QString working = m_dir->filePath(QStringLiteral("Modules/Temp.ini"));
        auto* keys = m_window->findChild<QComboBox*>(QStringLiteral("Key_Combo"));
        Q_EMIT keys->activated(4);
        auto* name = m_window->findChild<QLineEdit*>(QStringLiteral("Key_Name"));
        name->setText(QStringLiteral("Reset"));
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
        QCOMPARE(m_window->keyButton(4)->text(), QStringLiteral("Reset"));
        QCOMPARE(keys->itemText(4), QStringLiteral("Key5"));

        QFile::remove(working);
        QTest::mouseClick(m_window->keyText(0), Qt::LeftButton);
        QTest::keyClicks(m_window->keyText(0), QStringLiteral("\"AT\""));
        QVERIFY(QFileInfo::exists(working)); // written on the way in, before the typing
        QTest::mouseClick(m_window->keyText(1), Qt::LeftButton);
        const QByteArray stored = test::readAll(working);
        QVERIFY(stored.contains("key5=Reset\r\n"));
        QVERIFY(stored.contains("Send1=\"AT\"\r\n"));

        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("Command2")), Qt::LeftButton);
        QCOMPARE(m_window->keyButton(4)->text(), QStringLiteral("Key5"));
        QCOMPARE(m_window->keyText(0)->text(), QString());
    }

    void longCommandsSurviveTheWindow()
    {
        // Longer than a line edit takes by default: stored, loaded back and shown whole.
        const QString command = u'"' + QString(40000, u'x') + u'"';
        m_window->keyText(5)->setText(command);
        QCOMPARE(m_window->keyText(5)->text(), command);
        const QString saved = m_dir->filePath(QStringLiteral("long.ini"));
        m_dialogs->files = { saved, saved };
        m_dialogs->answers = { MessageAnswer::Yes };
        m_window->files().saveAs();
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("Command2")), Qt::LeftButton);
        QCOMPARE(m_window->keyText(5)->text(), QString());
        m_window->files().load();
        QCOMPARE(m_window->keyText(5)->text(), command);
        QCOMPARE(m_dialogs->texts(), (QStringList { QStringLiteral("配置文件保存成功！"), QStringLiteral("确定要覆盖当前的配置吗？") }));
    }

    void installedToolKeepsItsFilesInTheUsersFolder()
    {
        // A program folder the user cannot write (here a read-only mount, which binds root too):
        // the working copy, the dialogs and the Ports links move to the user's data folder.
        SmallDisk disk;
        if (!disk.ready()) {
            QSKIP(disk.why());
        }
        QVERIFY(QDir(disk.path()).mkdir(QStringLiteral("Modules")));
        disk.setReadOnly(true);
        const QString user = userDataFolder();
        QVERIFY(QDir(user).removeRecursively() || !QFileInfo::exists(user));
        ScriptedDialogs dialogs;
        PrivateDesign window(dialogs, disk.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.keyText(0)->setText(QStringLiteral("\"AT\""));
        QTest::mouseClick(window.keyText(1), Qt::LeftButton);
        QVERIFY(test::readAll(user + QStringLiteral("/Modules/Temp.ini")).contains("Send1=\"AT\"\r\n"));

        const QString mine = user + QStringLiteral("/mine.ini");
        dialogs.files = { mine, mine };
        dialogs.answers = { MessageAnswer::Yes };
        window.files().saveAs();
        QCOMPARE(dialogs.dialogs[0].initialFolder, user);
        QCOMPARE(dialogs.texts(), QStringList { QStringLiteral("配置文件保存成功！") });
        window.editor().resetAll();
        window.files().load();
        QCOMPARE(window.keyText(0)->text(), QStringLiteral("\"AT\""));

        m_sim.reset(new DeviceSimulator);
        QVERIFY(m_sim->start());
        QVERIFY(QDir().mkpath(user + QStringLiteral("/Ports")));
        QVERIFY(QFile::link(m_sim->devicePath(), user + QStringLiteral("/Ports/COM1")));
        window.link().openPressed(QStringLiteral("COM1"), QStringLiteral("9600"));
        QVERIFY2(window.uart().PortOpen(), qPrintable(window.link().statusDetail()));
        window.link().closePressed();
        QCOMPARE(QDir(disk.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList { QStringLiteral("Modules") });
        disk.setReadOnly(false);
    }

    void listsChooseOnlyWhenMeant()
    {
        auto* keys = m_window->findChild<QComboBox*>(QStringLiteral("Key_Combo"));
        QSignalSpy chosen(keys, &QComboBox::activated);
        keys->lineEdit()->clear();
        QTest::keyClicks(keys->lineEdit(), QStringLiteral("Key5"));
        QTest::keyClick(keys->lineEdit(), Qt::Key_Return);
        QCOMPARE(chosen.count(), 0);
        QCOMPARE(keys->currentText(), QStringLiteral("Key5"));
        QCOMPARE(keys->count(), 192);

        // The wheel over a list the user has not clicked into chooses nothing (a new rate would close the port).
        openOnSimulator();
        auto* rates = m_window->findChild<QComboBox*>(QStringLiteral("Buad_Combo"));
        auto wheel = [rates] {
            QWheelEvent event(QPointF(10, 10), rates->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(rates, &event);
        };
        wheel();
        QVERIFY(m_window->uart().PortOpen());
        QCOMPARE(rates->currentText(), QStringLiteral("9600"));
        QCOMPARE(rates->currentIndex(), -1);

        // Clicked into, the box takes the wheel as a choice from its list.
        rates->setFocus(Qt::MouseFocusReason);
        QVERIFY(rates->hasFocus());
        wheel();
        QVERIFY(rates->currentIndex() >= 0);
        QVERIFY(!m_window->uart().PortOpen());
    }

    void portListFollowsTheSystem()
    {
        auto* ports = m_window->findChild<PortCombo*>(QStringLiteral("UART_Com_Combo"));
        QVERIFY(ports);
        while (ports->count() > PortCombo::FixedPorts) {
            ports->removeItem(ports->count() - 1);
        }
        ports->setEditText(QStringLiteral("/dev/typed"));
        ports->showPopup();
        const QList<QSerialPortInfo> devices = QSerialPortInfo::availablePorts();
        QCOMPARE(ports->count(), PortCombo::FixedPorts + devices.size());
        QCOMPARE(ports->currentText(), QStringLiteral("/dev/typed"));
        if (!devices.isEmpty()) {
            QCOMPARE(ports->itemText(ports->count() - 1), devices.last().systemLocation());
            QVERIFY(!ports->itemData(ports->count() - 1, Qt::ToolTipRole).toString().isEmpty());
        }
        ports->hidePopup();
    }

    void logWindowAppearsOnlyWhenAsked()
    {
        m_window->link().clearLog(); // the hidden clear button's action
        QVERIFY(m_window->debugForm() && !m_window->debugForm()->isVisible());
        QTest::keyClick(m_window.get(), Qt::Key_L, Qt::ControlModifier);
        DebugForm* form = m_window->debugForm();
        QVERIFY(form->isVisible());
        QCOMPARE(form->windowTitle(), QStringLiteral("调试信息打印窗口"));
        QCOMPARE(form->size(), QSize(572, 395));
        QCOMPARE(form->text1()->geometry(), QRect(0, 0, 569, 393));
        QCOMPARE(form->text1()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        // Scrolled back, new lines leave the view where it is; at the bottom it follows again.
        openOnSimulator();
        QScrollBar* bar = form->text1()->verticalScrollBar();
        auto fill = [this](int count) {
            const qsizetype before = m_window->link().logText().total();
            m_sim->send(QByteArray(count, '\r'));
            QTRY_VERIFY(m_window->link().logText().total() > before);
            QTest::qWait(60);
        };
        fill(100);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(3);
        fill(50);
        QCOMPARE(bar->value(), 3);
        bar->setValue(bar->maximum());
        fill(50);
        QCOMPARE(bar->value(), bar->maximum());

        QPointer<DebugForm> alive(form);
        m_window->close();
        QVERIFY(alive.isNull());
        QVERIFY(m_dialogs->messages.isEmpty());
    }


    // The receive display as a view of the record.

    void receiveDisplayIsARealView()
    {
        openOnSimulator();
        pressAT();
        auto* text1 = m_window->receiveDisplay();
        QTRY_COMPARE(text1->text(), QStringLiteral("OK"));
        QTRY_VERIFY(text1->paintedEnd() == 2);
        m_window->grab().save(buildFolder() + QStringLiteral("/main-window-after-AT.png"));
        // A drag over the text selects it, Ctrl+C copies exactly that.
        const QRect area = text1->contentsRect();
        QTest::mousePress(text1, Qt::LeftButton, Qt::NoModifier, area.topLeft() + QPoint(2, 5));
        QTest::mouseMove(text1, area.topLeft() + QPoint(200, 5));
        QTest::mouseRelease(text1, Qt::LeftButton, Qt::NoModifier, area.topLeft() + QPoint(200, 5));
        QCOMPARE(text1->selectedText(), QStringLiteral("OK"));
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(text1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("OK"));

        // More text: a double click takes a word, shift-click extends, Ctrl+A takes all.
        m_sim->send("\nhello world\r\n");
        QTRY_COMPARE(text1->text(), QStringLiteral("OK\nhello world\n"));
        const int lineHeight = QFontMetrics(text1->font()).lineSpacing();
        const QPoint second = area.topLeft() + QPoint(6, 2 + lineHeight + lineHeight / 2);
        QTest::mouseDClick(text1, Qt::LeftButton, Qt::NoModifier, second);
        QCOMPARE(text1->selectedText(), QStringLiteral("hello"));
        QTest::mouseClick(text1, Qt::LeftButton, Qt::ShiftModifier, second + QPoint(400, 0));
        QCOMPARE(text1->selectedText(), QStringLiteral("hello world"));
        QTest::keyClick(text1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(text1->selectedText(), QStringLiteral("OK\nhello world\n"));

        // The same record as hex rows and with arrival times, switched back and forth.
        QTest::keyClick(m_window.get(), Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(text1->view(), ReceiveDisplay::View::Hex);
        QCOMPARE(text1->text(),
                 QStringLiteral("00000000  4F 4B 0D 0A 68 65 6C 6C 6F 20 77 6F 72 6C 64 0D  OK..hello world.\n"
                                "00000010  0A") + QString(1 + 15 * 3 + 1, u' ') + QStringLiteral("."));
        text1->setView(ReceiveDisplay::View::Timestamps);
        const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} OK(\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \nhello world\n)?"));
        QVERIFY2(stamped.match(text1->text()).hasMatch(), qPrintable(text1->text()));
        text1->setView(ReceiveDisplay::View::Text);
        QCOMPARE(text1->text(), QStringLiteral("OK\nhello world\n"));

        // Scrolled back, new data leaves the view where it is; at the bottom it follows again.
        QByteArray lines;
        for (int i = 0; i < 200; ++i) {
            lines += "line " + QByteArray::number(i) + "\n";
        }
        m_sim->send(lines);
        QTRY_VERIFY(text1->text().endsWith(QStringLiteral("line 199\n")));
        QTest::keyClick(text1, Qt::Key_Home, Qt::ControlModifier);
        QVERIFY(!text1->isFollowing());
        const qint64 top = text1->topLine();
        m_sim->send("more\nand more\n");
        QTRY_VERIFY(text1->text().endsWith(QStringLiteral("and more\n")));
        QCOMPARE(text1->topLine(), top);
        QTest::keyClick(text1, Qt::Key_PageDown);
        QCOMPARE(text1->topLine(), top + text1->visibleLines() - 1);
        QWheelEvent up(QPointF(20, 20), text1->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(text1, &up);
        QCOMPARE(text1->topLine(), top + text1->visibleLines() - 4);
        QTest::keyClick(text1, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(text1->isFollowing());
        m_window->grab().save(buildFolder() + QStringLiteral("/receive-display-scrolled.png"));

        // The clear button empties the display, not the record.
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
        QCOMPARE(text1->text(), QString());
        QVERIFY(m_window->link().record().receivedBytes().startsWith("OK\r\nhello"));
    }

    void receivedBytesAsShown_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text"); // as copied from the display
        QTest::addColumn<QString>("painted");
        QTest::newRow("carriage returns left out") << QByteArray("OK\r\r\nA") << "OK\nA" << "OK\nA";
        QTest::newRow("controls as their pictures") << QByteArray("\0\a\x1B\x7F", 4) << QStringLiteral("\0\a\x1B\x7F")
                                                    << QStringLiteral("\u2400\u2407\u241B\u2421");
        QTest::newRow("each byte its own character") << QByteArray("\xC4\xE3\x80\xFF") << QStringLiteral("\u00C4\u00E3\u0080\u00FF")
                                                     << QStringLiteral("\u00C4\u00E3\u0080\u00FF");
    }

    void receivedBytesAsShown()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(QString, painted);
        QString shown;
        for (QChar c : text) {
            shown += c == u'\n' ? c : WrappedText::shown(c);
        }
        QCOMPARE(shown, painted);
        // The display shows exactly that, and the record keeps the bytes as they came.
        openOnSimulator();
        m_sim->send(bytes);
        QTRY_COMPARE(m_window->receiveDisplay()->text(), text);
        QCOMPARE(m_window->link().record().receivedBytes(), bytes);
    }

    void receivedDataIsSavedAndCaptured()
    {
        openOnSimulator();
        pressAT();
        QTRY_COMPARE(m_window->link().record().receivedTotal(), 3);
        QByteArray all;
        for (int b = 0; b < 256; ++b) {
            all += char(b);
        }
        m_sim->send(all);
        QTRY_COMPARE(m_window->link().record().receivedTotal(), 3 + 256);
        m_sim->send("lit<0D>end\r");
        QTRY_COMPARE(m_window->link().record().receivedTotal(), 3 + 256 + 11);
        all += "lit<0D>end\r";
        const QString bin = m_dir->filePath(QStringLiteral("got.bin"));
        const QString txt = m_dir->filePath(QStringLiteral("got.txt"));
        m_dialogs->files = { bin, txt };
        m_window->saveReceived();
        m_window->saveReceived();
        QCOMPARE(test::readAll(bin), QByteArray("OK\r") + all);
        const QString transcript = QString::fromUtf8(test::readAll(txt));
        QVERIFY2(transcript.contains(QRegularExpression(QStringLiteral(" 发 \\[Key1\\] AT<0D>\r\n.* 收 OK<0D>\r\n"))), qPrintable(transcript));
        QByteArray got;
        for (const QString& line : transcript.split(QStringLiteral("\r\n"))) {
            if (line.mid(12, 3) == QStringLiteral(" 收 ")) {
                got += readBack(line.mid(15));
            }
        }
        QCOMPARE(got, QByteArray("OK\r") + all);
        QVERIFY(m_dialogs->messages.isEmpty());

        // Capture onto a disk that fills up: stopped with a message, every byte written kept.
        SmallDisk disk(64);
        if (!disk.ready()) {
            QSKIP(disk.why());
        }
        const QString captured = disk.filePath(QStringLiteral("capture.bin"));
        m_dialogs->files = { captured };
        m_window->toggleCapture();
        QVERIFY(m_window->link().capture().isCapturing());
        QByteArray sent;
        for (int i = 0; i < 40 && m_window->link().capture().isCapturing(); ++i) {
            const QByteArray chunk(4000, char('a' + i % 26));
            sent += chunk;
            m_sim->send(chunk);
            QTRY_COMPARE(m_window->link().record().receivedTotal(), 3 + 256 + 11 + sent.size());
        }
        QVERIFY(!m_window->link().capture().isCapturing());
        QCOMPARE(m_dialogs->messages.size(), 1);
        QVERIFY2(m_dialogs->texts()[0].startsWith(QStringLiteral("捕获已停止")), qPrintable(m_dialogs->texts()[0]));
        const QByteArray kept = test::readAll(captured);
        QVERIFY(kept.size() > 0 && kept.size() < sent.size());
        QCOMPARE(kept, sent.left(kept.size()));
        QVERIFY(m_dialogs->texts()[0].contains(QString::number(kept.size())));
    }

    // A file the user made read-only stays as it is, even for root, whom the system lets write it.
    void readOnlyFilesAreNotReplaced_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<std::function<void(PrivateDesign&)>>("save");
        QTest::newRow("配置另存为") << "mine.ini" << std::function([](PrivateDesign& w) { w.files().saveAs(); });
        QTest::newRow("保存接收数据") << "mine.txt" << std::function([](PrivateDesign& w) { w.saveReceived(); });
        QTest::newRow("捕获") << "mine.bin" << std::function([](PrivateDesign& w) { w.toggleCapture(); });
        QTest::newRow("导出 CSV") << "mine.csv" << std::function([](PrivateDesign& w) {
            w.showTranscript();
            w.transcriptWindow()->exportCsv();
        });
    }

    void readOnlyFilesAreNotReplaced()
    {
        QFETCH(QString, name);
        QFETCH(std::function<void(PrivateDesign&)>, save);
        const QString path = m_dir->filePath(name);
        test::writeAll(path, "mine\n");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        m_dialogs->files = { path };
        m_dialogs->answers = { MessageAnswer::Yes };
        save(*m_window);
        QCOMPARE(test::readAll(path), QByteArray("mine\n"));
        QVERIFY(!m_window->link().capture().isCapturing());
        QCOMPARE(m_dialogs->messages.size(), 2); // replace it? Yes; then why not
        QCOMPARE(m_dialogs->messages.last().title, QStringLiteral("提示"));
        QVERIFY2(m_dialogs->messages.last().text.contains(path) && m_dialogs->messages.last().text.contains(QStringLiteral("只读")),
                 qPrintable(m_dialogs->messages.last().text));
    }

    void captureMarkCoversNothing()
    {
        const QImage before = m_window->receiveDisplay()->grab().toImage();
        m_dialogs->files = { m_dir->filePath(QStringLiteral("c.bin")) };
        m_window->toggleCapture();
        QVERIFY(m_window->link().capture().isCapturing());
        QCOMPARE(m_window->receiveDisplay()->grab().toImage(), before);
        QLabel* mark = nullptr;
        for (QLabel* label : m_window->findChildren<QLabel*>()) {
            mark = label->isVisible() && label->text().startsWith(QStringLiteral("● 正在捕获")) ? label : mark;
        }
        QVERIFY(mark);
        const QRect at(mark->mapTo(m_window.get(), QPoint()), mark->size());
        QVERIFY(m_window->rect().contains(at));
        for (QWidget* w : m_window->findChildren<QWidget*>()) {
            const QRect other(w->mapTo(m_window.get(), QPoint()), w->size());
            QVERIFY2(w == mark || w->isAncestorOf(mark) || !w->isVisible() || !other.intersects(at), qPrintable(w->objectName()));
        }
        m_window->toggleCapture();
        QVERIFY(!mark->isVisible());
    }

    void transcriptTimesEachCommand()
    {
        openOnSimulator();
        m_sim->setReplyDelay(150);
        m_window->keyButton(0)->setText(QStringLiteral("Probe"));
        pressAT();
        QTRY_COMPARE(m_window->receiveDisplay()->text(), QStringLiteral("OK"));
        m_window->keyText(1)->setText(QStringLiteral("\"XY\""));
        QTest::mouseClick(m_window->keyButton(1), Qt::LeftButton);
        QTRY_COMPARE(m_window->receiveDisplay()->text(), QStringLiteral("OKERROR"));
        m_sim->send("lit<0D>end\r");
        QTRY_VERIFY(m_window->receiveDisplay()->text().endsWith(QStringLiteral("end")));

        QTest::keyClick(m_window.get(), Qt::Key_T, Qt::ControlModifier);
        TranscriptWindow* window = m_window->transcriptWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("收发记录"));
        QCOMPARE(window->table()->model()->rowCount(), 2);
        QTRY_COMPARE(window->table()->model()->index(1, 3).data().toString(), QStringLiteral("ERROR<0D>lit<3C>0D>end<0D>"));
        window->table()->selectRow(1);
        window->copySelection();
        const QStringList copied = QGuiApplication::clipboard()->text().split(u'\t');
        QCOMPARE(copied.mid(1, 2), (QStringList { "Key2", "XY<0D>" }));
        QCOMPARE(readBack(copied[3]), QByteArray("ERROR\rlit<0D>end\r"));
        const QString csv = m_dir->filePath(QStringLiteral("t.csv"));
        m_dialogs->files = { csv };
        window->exportCsv();
        const QStringList lines = QString::fromUtf8(test::readAll(csv)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(test::readAll(csv).startsWith("\xEF\xBB\xBF"));
        QCOMPARE(lines[0], QStringLiteral("发送时间,按键,发送内容,回应,首字节(ms),首个回车(ms),步骤,结果,步骤用时(ms)"));
        QVERIFY(lines[1].contains(QStringLiteral(",Probe,AT<0D>,OK<0D>,")));
        QCOMPARE(readBack(lines[2].section(u',', 3, 3)), QByteArray("ERROR\rlit<0D>end\r"));
        // Round-trip times as the user gets them: the reply 150 ms after the command, its CR no sooner.
        for (const QString& line : lines.mid(1)) {
            const int firstByte = line.section(u',', 4, 4).toInt(), firstCr = line.section(u',', 5, 5).toInt();
            QVERIFY2(firstByte >= 145 && firstByte < 1000 && firstCr >= firstByte, qPrintable(line));
        }
        window->grab().save(buildFolder() + QStringLiteral("/transcript-window.png"));
    }

    // A reply that keeps growing costs what arrives, not what arrived before: its row is not
    // redone for every chunk, and its cell shows a bounded part.
    void growingReplyIsNotRedonePerChunk()
    {
        openOnSimulator();
        pressAT();
        m_window->showTranscript();
        QAbstractItemModel* model = m_window->transcriptWindow()->table()->model();
        QTRY_COMPARE(model->index(0, 3).data().toString(), QStringLiteral("OK<0D>"));
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        for (int i = 0; i < 40; ++i) {
            m_sim->send(QByteArray(100, 'x'));
            QTest::qWait(10);
        }
        QTRY_COMPARE(m_window->link().transcript().rows().back().reply.size(), 3 + 4000);
        QTest::qWait(100);
        QVERIFY2(changed.size() <= 3, qPrintable(QString::number(changed.size())));
        const QString shown = model->index(0, 3).data().toString();
        QVERIFY(shown.startsWith(QStringLiteral("OK<0D>xxx")) && shown.endsWith(u'…') && shown.size() < 1000);
    }

private:
    void pressAT()
    {
        setUpAT();
        QTest::mouseClick(m_window->keyButton(0), Qt::LeftButton);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
