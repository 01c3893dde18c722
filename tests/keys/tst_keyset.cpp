#include "IniValue.h"
#include "KeyEditor.h"
#include "KeyGrid.h"
#include "KeySet.h"
#include "TestFiles.h"
#include "KeySetFiles.h"
#include "ScriptedDialogs.h"
#include "SmallDisk.h"
#include "Profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace comkeys;
using comkeys::test::readAll;
using comkeys::test::writeAll;
using comkeys::test::ScriptedDialogs;
using comkeys::test::SmallDisk;

namespace {

// The keys as plain arrays, with the page state a window would show.
class ArrayKeys : public KeyWindow {
public:
    ArrayKeys()
    {
        for (int i = 0; i < KeyCount; ++i) {
            captions[i] = defaultCaption(i);
        }
    }
    QString caption(int i) const override { return captions[i]; }
    void setCaption(int i, const QString& c) override { captions[i] = c; }
    QString command(int i) const override { return commands[i]; }
    void setCommand(int i, const QString& c) override { commands[i] = c; }
    void setPageLeft(int, int) override { }
    void setSelectorRed(int, bool) override { }

    std::array<QString, KeyCount> captions;
    std::array<QString, KeyCount> commands;
};

} // namespace

class TestKeySet : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Modules")));
        m_working = m_dir->filePath(QStringLiteral("Modules/Temp.ini"));
    }

    void newWorkingCopyHasFixedFormatAndOrder()
    {
        ArrayKeys keys;
        keys.captions[1] = QStringLiteral("Reset");
        keys.captions[2] = QString();
        keys.commands[0] = QStringLiteral("\"AT\"");
        QVERIFY(WriteKeySet(m_working, keys));

        QByteArray expected = "[KeyName]\r\n";
        for (int n = 1; n <= KeyCount; ++n) {
            const QByteArray caption = n == 2 ? "Reset" : n == 3 ? "" : "Key" + QByteArray::number(n);
            expected += "key" + QByteArray::number(n) + "=" + caption + "\r\n";
        }
        expected += "[KeySend]\r\n";
        for (int n = 1; n <= KeyCount; ++n) {
            expected += "Send" + QByteArray::number(n) + "=" + (n == 1 ? "\"AT\"" : "Kestrelbay") + "\r\n";
        }
        QCOMPARE(readAll(m_working), expected);
    }

    void writeOverwritesEntriesAndKeepsTheRest()
    {
        writeAll(m_working, "; my notes\r\n[KeySend]\r\nSend1=\"OLD\"\r\n[Other]\r\nx=1\r\n");
        ArrayKeys keys;
        QVERIFY(WriteKeySet(m_working, keys));
        const QByteArray after = readAll(m_working);
        QVERIFY(after.startsWith("; my notes\r\n[KeySend]\r\nSend1=Kestrelbay\r\nSend2=Kestrelbay\r\n"));
        QVERIFY(after.contains("Send192=Kestrelbay\r\n[Other]\r\nx=1\r\n[KeyName]\r\nkey1=Key1\r\n"));
    }

    void keysComeBackAsTyped_data()
    {
        QTest::addColumn<bool>("isCaption");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("restored");
        QTest::newRow("quoted") << false << "\"AT\"" << "\"AT\"";
        QTest::newRow("without quotes gets them") << false << "AT" << "\"AT\"";
        QTest::newRow("open quote only") << false << "\"AT" << "\"AT";
        QTest::newRow("spaces inside quotes kept") << false << "\" AT \"" << "\" AT \"";
        QTest::newRow("only spaces inside quotes") << false << "\"   \"" << "\"   \"";
        QTest::newRow("two quotes only") << false << "\"\"" << "";
        QTest::newRow("empty") << false << "" << "";
        QTest::newRow("the marker itself") << false << "Kestrelbay" << "";
        QTest::newRow("254 characters") << false << (u'"' + QString(252, u'x') + u'"') << (u'"' + QString(252, u'x') + u'"');
        QTest::newRow("hexadecimal-looking text") << false << "\"\\x0D^M\"" << "\"\\x0D^M\"";
        QTest::newRow("Chinese") << false << "\"查询\"" << "\"查询\"";
        QTest::newRow("caption") << true << "Reset" << "Reset";
        QTest::newRow("empty caption gives default") << true << "" << "Key8";
        QTest::newRow("marker caption gives default") << true << "Kestrelbay" << "Key8";
        QTest::newRow("caption quotes removed") << true << "\"Cap\"" << "Cap";
        QTest::newRow("130-character caption whole") << true << QString(130, u'c') << QString(130, u'c');
        QTest::newRow("prompt text as caption") << true << "请出入新的键名" << "请出入新的键名";
    }

    void keysComeBackAsTyped()
    {
        QFETCH(bool, isCaption);
        QFETCH(QString, typed);
        QFETCH(QString, restored);
        ArrayKeys keys;
        (isCaption ? keys.captions : keys.commands)[7] = typed;
        QVERIFY(WriteKeySet(m_working, keys));
        ArrayKeys back;
        back.commands[7] = QStringLiteral("stale");
        ReadKeySet(m_working, back);
        QCOMPARE((isCaption ? back.captions : back.commands)[7], restored);
    }

    void handEditedProfiles()
    {
        writeAll(m_working, "[KeyName]\nKey7=X\n");
        ArrayKeys keys;
        keys.commands[0] = QStringLiteral("x");
        ReadKeySet(m_working, keys);
        QCOMPARE(keys.captions[6], QStringLiteral("X"));
        QCOMPARE(keys.captions[0], QStringLiteral("Key1"));
        QCOMPARE(keys.commands[0], QString());

        writeAll(m_working, "[KeySend]\r\nSend2=AT\r\n");
        keys.captions[5] = QStringLiteral("gone");
        ReadKeySet(m_working, keys);
        QCOMPARE(keys.captions[5], QStringLiteral("Key6"));
        QCOMPARE(keys.commands[1], QStringLiteral("\"AT\""));
    }

    // Key editing and pages.

    void renameUsesTheChosenKeyAndStores()
    {
        ArrayKeys keys;
        SharedState state;
        ScriptedDialogs dialogs;
        KeyEditor editor(state, keys, m_working, dialogs);
        editor.rename(QStringLiteral("First"));
        QCOMPARE(keys.captions[0], QStringLiteral("First"));
        QCOMPARE(ReadIniValue(m_working, QStringLiteral("KeyName"), QStringLiteral("key1")), QStringLiteral("First"));

        editor.keyChosen(4);
        editor.rename(QString());
        QCOMPARE(keys.captions[4], QString());
        QCOMPARE(readAll(m_working).count("key5=\r\n"), 1);

        editor.keyChosen(191);
        editor.keyChosen(192); // no such item: the choice stays
        editor.rename(QStringLiteral("Last"));
        QCOMPARE(keys.captions[191], QStringLiteral("Last"));
    }

    void resetLeavesTheWorkingCopyUntilTheNextWrite()
    {
        ArrayKeys keys;
        SharedState state;
        ScriptedDialogs dialogs;
        KeyEditor editor(state, keys, m_working, dialogs);
        keys.captions[9] = QStringLiteral("Ten");
        keys.commands[9] = QStringLiteral("\"T\"");
        editor.commandFocused();
        const QByteArray stored = readAll(m_working);
        state.Key_Select = 9;
        editor.resetAll();
        QCOMPARE(keys.captions[9], QStringLiteral("Key10"));
        QCOMPARE(keys.commands[9], QString());
        QCOMPARE(readAll(m_working), stored);
        editor.commandFocused();
        QVERIFY(readAll(m_working).contains("Send10=Kestrelbay"));
    }

    // Save-as and load through the dialogs.

    void saveAs_data()
    {
        QTest::addColumn<QString>("target"); // in the temporary folder; empty: Cancel
        QTest::addColumn<QByteArray>("before"); // the target's content; "folder": a folder
        QTest::addColumn<QList<MessageAnswer>>("answers");
        QTest::addColumn<QStringList>("texts"); // the messages shown, each by a part of it
        QTest::addColumn<int>("dialogs");
        QTest::addColumn<bool>("saved"); // the target holds the working copy afterwards
        using A = QList<MessageAnswer>;
        const QString ok = QStringLiteral("配置文件保存成功！");
        const QString overwrite = QStringLiteral("确定要覆盖原来的配置文件吗？\r\nRename Select[No]!");
        QTest::newRow("cancel") << "" << QByteArray() << A {} << QStringList {} << 1 << false;
        QTest::newRow("new file") << "mine.ini" << QByteArray() << A {} << QStringList { ok } << 1 << true;
        QTest::newRow("existing: No asks again, Yes replaces")
            << "mine.ini" << QByteArray("[KeyName]\r\nkey1=Old\r\n") << A { MessageAnswer::No, MessageAnswer::Yes }
            << QStringList { overwrite, overwrite, ok } << 2 << true;
        QTest::newRow("without extension") << "noext" << QByteArray() << A {} << QStringList { ok } << 1 << true;
        QTest::newRow("the pattern itself saves nothing") << "*.ini" << QByteArray() << A {} << QStringList {} << 1 << false;
        QTest::newRow("a folder named like a key set")
            << "blocked.ini" << QByteArray("folder") << A {}
            << QStringList { QStringLiteral("是一个文件夹"), QStringLiteral("是一个文件夹") } << 3 << false;
        QTest::newRow("onto the working copy") << "Modules/Temp.ini" << QByteArray() << A { MessageAnswer::Yes }
                                               << QStringList { overwrite, ok } << 1 << true;
        // Without the Modules folder the working copy cannot be brought up to date: nothing
        // older than the screen is saved, and the user is told before any dialog.
        QTest::newRow("working copy cannot be written")
            << "old.ini" << QByteArray("[KeyName]\r\nkey1=Old\r\n") << A { MessageAnswer::Yes }
            << QStringList { QStringLiteral("无法更新工作副本") } << 0 << false;
    }

    void saveAs()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, before);
        QFETCH(QList<MessageAnswer>, answers);
        QFETCH(QStringList, texts);
        QFETCH(int, dialogs);
        QFETCH(bool, saved);
        const QString overwrite = QStringLiteral("确定要覆盖原来的配置文件吗？\r\nRename Select[No]!");
        ArrayKeys keys;
        keys.commands[0] = QStringLiteral("\"AT\"");
        ScriptedDialogs script;
        KeySetFiles files(script, keys, m_working, m_dir->path());
        const QString path = m_dir->filePath(target);
        if (before == "folder") {
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
        } else if (!before.isNull()) {
            writeAll(path, before);
        }
        if (dialogs == 0) {
            QVERIFY(QDir(m_dir->filePath(QStringLiteral("Modules"))).removeRecursively());
        }
        if (!target.isEmpty()) {
            script.files = { path, path };
        }
        script.answers = { answers.begin(), answers.end() };
        files.saveAs();
        QCOMPARE(script.texts().size(), texts.size());
        for (qsizetype i = 0; i < texts.size(); ++i) {
            QVERIFY2(script.texts()[i].contains(texts[i]), qPrintable(script.texts()[i]));
            QCOMPARE(script.messages[i].title, QStringLiteral("提示"));
            QCOMPARE(script.messages[i].buttons, texts[i] == overwrite ? MessageButtons::YesNo : MessageButtons::Ok);
        }
        QCOMPARE(script.dialogs.size(), dialogs);
        if (dialogs > 0) {
            QCOMPARE(script.dialogs[0].initialFolder, m_dir->path());
            QCOMPARE(script.dialogs[0].filter, QStringLiteral("配置文件(*.ini)|*.ini"));
            QVERIFY(readAll(m_working).contains("Send1=\"AT\"\r\n"));
        }
        if (saved) {
            QCOMPARE(readAll(path), readAll(m_working));
        } else if (before == "folder") {
            QVERIFY(QFileInfo::exists(path + QStringLiteral("/inside")));
        } else {
            QCOMPARE(readAll(path), before.isNull() ? QByteArray("<missing>") : before);
        }
    }

    void load_data()
    {
        QTest::addColumn<QString>("file"); // in the temporary folder; empty: Cancel
        QTest::addColumn<QByteArray>("content"); // null: no such file
        QTest::addColumn<QList<MessageAnswer>>("answers");
        QTest::addColumn<QStringList>("texts"); // the messages shown, each by a part of it
        QTest::addColumn<QString>("caption"); // key 1's caption afterwards; null: not checked
        QTest::addColumn<QByteArray>("working"); // the working copy's start afterwards; null: unchanged
        using A = QList<MessageAnswer>;
        const A yes { MessageAnswer::Yes };
        const QString ask = QStringLiteral("确定要覆盖当前的配置吗？");
        const QByteArray set("[KeyName]\r\nkey1=Loaded\r\n");
        QTest::newRow("cancel") << "" << QByteArray() << A {} << QStringList {} << "Mine" << QByteArray();
        QTest::newRow("not .ini") << "SET.INI" << set << yes << QStringList { "T文件类型不正确！" } << "Mine" << QByteArray();
        QTest::newRow("No keeps everything") << "set.ini" << set << A { MessageAnswer::No } << QStringList { ask } << "Mine"
                                             << QByteArray();
        QTest::newRow("no such file") << "absent.ini" << QByteArray() << yes << QStringList { ask, "无法读取" } << "Mine"
                                      << QByteArray();
        QTest::newRow("larger than any key set") << "huge.ini" << ("[KeyName]\r\n" + QByteArray(Profile::MaxFileBytes, ';'))
                                                 << yes << QStringList { ask, "太大" } << "Mine" << QByteArray();
        QTest::newRow("loaded") << "set.ini" << set << yes << QStringList { ask } << "Loaded"
                                << QByteArray("[KeyName]\r\nkey1=Loaded\r\nkey2=Key2\r\n");
        QTest::newRow("empty file gives defaults") << "empty.ini" << QByteArray("") << yes << QStringList { ask } << "Key1"
                                                   << QByteArray("[KeyName]\r\nkey1=Key1\r\n");
        QTest::newRow("the working copy itself") << "Modules/Temp.ini" << QByteArray("[KeyName]\r\nkey1=Self\r\n") << yes
                                                 << QStringList { ask } << "Self" << QByteArray("[KeyName]\r\nkey1=Self\r\n");
        // Not UTF-8 throughout: entries the load does not change keep their bytes.
        const QByteArray mixed("[KeyName]\r\nkey1=\xE4\xB8\xAD\r\nkey2=caf\xE9\r\n[KeySend]\r\nSend1=\"AT\"\r\n");
        QTest::newRow("bytes it cannot decode") << "mixed.ini" << mixed << yes << QStringList { ask } << QString()
                                                << QByteArray("[KeyName]\r\nkey1=\xE4\xB8\xAD\r\nkey2=caf\xE9\r\nkey3=Key3\r\n");
    }

    void load()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QList<MessageAnswer>, answers);
        QFETCH(QStringList, texts);
        QFETCH(QString, caption);
        QFETCH(QByteArray, working);
        ArrayKeys keys;
        keys.captions[0] = QStringLiteral("Mine");
        writeAll(m_working, "[KeyName]\r\nkey1=Working\r\n");
        const QString path = m_dir->filePath(file);
        if (!content.isNull()) {
            writeAll(path, content);
        }
        ScriptedDialogs script;
        script.files = { file.isEmpty() ? QString() : path };
        script.answers = { answers.begin(), answers.end() };
        KeySetFiles files(script, keys, m_working, m_dir->path());
        files.load();
        QCOMPARE(script.dialogs.size(), 1);
        QCOMPARE(script.dialogs[0].kind, FileDialogSettings::Kind::Open);
        QCOMPARE(script.dialogs[0].title, QStringLiteral("调入配置文件"));
        QCOMPARE(script.texts().size(), texts.size());
        for (qsizetype i = 0; i < texts.size(); ++i) {
            QVERIFY2(script.texts()[i].contains(texts[i]), qPrintable(script.texts()[i]));
        }
        if (!caption.isNull()) {
            QCOMPARE(keys.captions[0], caption);
        }
        const QByteArray after = readAll(m_working);
        if (working.isNull()) {
            QCOMPARE(after, QByteArray("[KeyName]\r\nkey1=Working\r\n"));
            if (content.size() > Profile::MaxFileBytes) { // refused unread, for writing too
                QVERIFY(!WriteIniValue(path, QStringLiteral("KeyName"), QStringLiteral("key1"), QStringLiteral("x")));
            }
            QCOMPARE(readAll(path), content.isNull() ? QByteArray("<missing>") : content);
            return;
        }
        QVERIFY2(after.startsWith(working), after.left(200).constData());
        QVERIFY(after.contains("Send192=Kestrelbay\r\n"));
        // What was loaded is what the working copy holds: writing the keys again changes no byte.
        QVERIFY(WriteKeySet(m_working, keys));
        QCOMPARE(readAll(m_working), after);
    }

    // Writes that cannot happen: a full disk and a read-only folder, for real.

    void writesThatFailKeepEveryFile_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("full disk") << false;
        QTest::newRow("read-only folder") << true;
    }

    void writesThatFailKeepEveryFile()
    {
        QFETCH(bool, readOnly);
        SmallDisk disk;
        if (!disk.ready()) {
            QSKIP(disk.why());
        }
        QVERIFY(QDir(disk.path()).mkdir(QStringLiteral("Modules")));
        const QString working = disk.filePath(QStringLiteral("Modules/Temp.ini"));
        const QString saved = disk.filePath(QStringLiteral("set.ini"));
        const QString other = disk.filePath(QStringLiteral("other.ini"));
        ArrayKeys keys;
        keys.commands[0] = QStringLiteral("\"AT\"");
        QVERIFY(WriteKeySet(working, keys));
        QVERIFY(WriteKeySet(saved, keys));
        writeAll(other, "[KeyName]\r\nkey1=Other\r\n");
        const QByteArray workingBefore = readAll(working);
        const QByteArray savedBefore = readAll(saved);
        auto breakDisk = [&] { readOnly ? disk.setReadOnly(true) : disk.fill(); };
        auto mendDisk = [&] { readOnly ? disk.setReadOnly(false) : disk.free(); };

        ScriptedDialogs dialogs;
        SharedState state;
        KeyEditor editor(state, keys, working, dialogs);
        KeySetFiles files(dialogs, keys, working, disk.path());
        breakDisk();

        // Clicks into command boxes: told once, the file and the screen both kept.
        keys.captions[0] = QStringLiteral("New");
        editor.commandFocused();
        editor.commandFocused();
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.texts()[0].startsWith(QStringLiteral("键设置没有保存到工作副本")));
        QVERIFY(dialogs.texts()[0].contains(readOnly ? QStringLiteral("只读") : QStringLiteral("磁盘空间不足")));
        QCOMPARE(readAll(working), workingBefore);
        QCOMPARE(keys.captions[0], QStringLiteral("New"));

        // Save-as would save the older working copy: refused before the dialog.
        dialogs.messages.clear();
        files.saveAs();
        QCOMPARE(dialogs.dialogs.size(), 0);
        QVERIFY(dialogs.texts().value(0).startsWith(QStringLiteral("无法更新工作副本")));

        // With the screen back in step, save-as onto an existing set fails and says so.
        keys.captions[0] = QStringLiteral("Key1");
        dialogs.messages.clear();
        dialogs.files = { saved };
        dialogs.answers = { MessageAnswer::Yes };
        files.saveAs();
        QVERIFY(dialogs.texts().last().startsWith(QStringLiteral("配置文件没有保存")));
        QVERIFY(!dialogs.texts().contains(QStringLiteral("配置文件保存成功！")));
        QCOMPARE(readAll(saved), savedBefore);

        // Load cannot copy into the working copy: keys and file stay.
        dialogs.messages.clear();
        dialogs.files = { other };
        dialogs.answers = { MessageAnswer::Yes };
        files.load();
        QVERIFY(dialogs.texts().last().startsWith(QStringLiteral("无法写入工作副本")));
        QCOMPARE(keys.captions[0], QStringLiteral("Key1"));
        QCOMPARE(keys.commands[0], QStringLiteral("\"AT\""));
        QCOMPARE(readAll(working), workingBefore);

        // Mended, the next click stores; broken anew, the user hears of it anew.
        mendDisk();
        dialogs.messages.clear();
        keys.captions[1] = QStringLiteral("Two");
        editor.commandFocused();
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(readAll(working).contains("key2=Two\r\n"));
        breakDisk();
        keys.captions[1] = QStringLiteral("Three");
        editor.commandFocused();
        QCOMPARE(dialogs.messages.size(), 1);
        mendDisk();
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_working;
};

QTEST_GUILESS_MAIN(TestKeySet)
#include "tst_keyset.moc"
