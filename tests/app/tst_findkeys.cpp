#include "ColourRulesDialog.h"
#include "DeviceSimulator.h"
#include "FindBar.h"
#include "PrivateDesign.h"
#include "ScriptedDialogs.h"
#include "WindowTest.h"
#include "Startup.h"
#include "TestFiles.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QKeySequenceEdit>

using namespace comkeys;
using comkeys::test::ScriptedDialogs;

Q_DECLARE_METATYPE(ReceiveDisplay::View)

class TestFindKeys : public comkeys::test::WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        installFontSubstitutions();
    }

    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    // Find.

    void findsInEveryView_data()
    {
        QTest::addColumn<ReceiveDisplay::View>("view");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("count");
        QTest::newRow("text") << ReceiveDisplay::View::Text << 0 << "ERROR" << "3";
        QTest::newRow("regex") << ReceiveDisplay::View::Text << 1 << "ERR\\w+ [12]" << "2";
        QTest::newRow("hex view, hex") << ReceiveDisplay::View::Hex << 2 << "0D 0A" << "3";
        QTest::newRow("timestamps") << ReceiveDisplay::View::Timestamps << 1 << "\\.\\d{3} ERROR" << "2";
    }

    void findsInEveryView()
    {
        QFETCH(ReceiveDisplay::View, view);
        QFETCH(int, mode);
        QFETCH(QString, pattern);
        QFETCH(QString, count);
        ReceiveDisplay* display = m_window->receiveDisplay();
        display->setView(view);
        LineRecord& record = m_window->link().record();
        for (const char* chunk : { "ERROR 1\r\n", "ok\r\nERR", "OR 2\r\n", "ERROR 3" }) {
            record.addReceived(chunk, 1000);
        }
        QTest::keyClick(m_window.get(), Qt::Key_F, Qt::ControlModifier);
        FindBar& bar = m_window->findBar();
        QVERIFY(bar.isVisible() && bar.edit()->hasFocus());
        bar.mode()->setCurrentIndex(mode);
        QTest::keyClicks(bar.edit(), pattern);
        // The nearest match above the bottom of the view is the current one.
        QTRY_COMPARE(bar.countLabel()->text(), count + u'/' + count);
        QTest::keyClick(bar.edit(), Qt::Key_Return);
        QCOMPARE(bar.countLabel()->text(), QStringLiteral("1/") + count);
        // The current match is drawn on its background.
        const QImage shot = display->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto* pixels = reinterpret_cast<const QRgb*>(shot.constBits());
        QVERIFY(std::count(pixels, pixels + shot.width() * shot.height(), Decor::currentBack().rgb()) > 0);
        QDir().mkpath(QStringLiteral(COMKEYS_RENDER_DIR));
        m_window->grab().save(QStringLiteral(COMKEYS_RENDER_DIR "/find-bar-%1.png").arg(QString::fromLatin1(QTest::currentDataTag())));
        QTest::keyClick(m_window.get(), Qt::Key_F3);
        QCOMPARE(bar.countLabel()->text(), QStringLiteral("2/") + count);
        QTest::keyClick(bar.edit(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClick(m_window.get(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(bar.countLabel()->text(), count + u'/' + count);
        // The count follows what arrives.
        record.addReceived("ERROR 1\r\n", 2000);
        const QString more = QString::number(count.toInt() + 1);
        QTRY_COMPARE(bar.countLabel()->text(), count + u'/' + more);
        QTest::keyClick(bar.edit(), Qt::Key_Escape);
        QVERIFY(!bar.isVisible());
    }

    void followsMatchesBeyondWhatTheDisplayKeeps()
    {
        // 8 MB: the display holds the newest 3; a match at the very start is found and shown.
        LineRecord& record = m_window->link().record();
        record.addReceived("first MARKER here\n", 1000);
        const QByteArray filler = QByteArray(4095, 'x') + '\n';
        for (int i = 0; i < 2048; ++i) {
            record.addReceived(filler, 1000);
        }
        record.addReceived("last MARKER\n", 1000);
        ReceiveDisplay* display = m_window->receiveDisplay();
        QVERIFY(!display->text().contains(QStringLiteral("first MARKER")));
        FindBar& bar = m_window->findBar();
        bar.open();
        QTest::keyClicks(bar.edit(), QStringLiteral("MARKER"));
        QTRY_COMPARE(bar.countLabel()->text(), QStringLiteral("2/2"));
        const qint64 top = display->topLine();
        QTest::keyClick(bar.edit(), Qt::Key_Return); // round to the oldest
        QCOMPARE(bar.countLabel()->text(), QStringLiteral("1/2"));
        QVERIFY(display->text().startsWith(QStringLiteral("first MARKER")));
        QVERIFY(display->topLine() != top);
        // Esc leaves the view where it is; Ctrl+End comes back to the newest data.
        const qint64 there = display->topLine();
        QTest::keyClick(bar.edit(), Qt::Key_Escape);
        QCOMPARE(display->topLine(), there);
        QTest::keyClick(display, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(display->text().endsWith(QStringLiteral("last MARKER\n")));
        // Back at the oldest match, the record then drops what followed it: paging on comes to
        // the newest data.
        bar.open();
        QTRY_VERIFY(bar.countLabel()->text().endsWith(QStringLiteral("/2")));
        for (int i = 0; i < 2 && bar.countLabel()->text() != QStringLiteral("1/2"); ++i) {
            QTest::keyClick(bar.edit(), Qt::Key_Return);
        }
        QVERIFY(display->text().startsWith(QStringLiteral("first MARKER")));
        QTest::keyClick(bar.edit(), Qt::Key_Escape);
        const QByteArray block = QByteArray(64 * 1024 - 1, 'y') + '\n';
        for (qint64 i = 0; i <= LineRecord::DefaultLimit / block.size(); ++i) {
            record.addReceived(block, 1000);
        }
        record.addReceived("tail\n", 1000);
        for (int i = 0; i < 1000 && !display->text().endsWith(QStringLiteral("tail\n")); ++i) {
            QTest::keyClick(display, Qt::Key_PageDown);
        }
        QVERIFY(display->text().endsWith(QStringLiteral("tail\n")));
        // After the clear button, only what came since is searched.
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
        record.addReceived("after MARKER\n", 1000);
        QTest::keyClick(m_window.get(), Qt::Key_F, Qt::ControlModifier);
        QTRY_COMPARE(bar.countLabel()->text(), QStringLiteral("1/1"));
    }

    void filterShowsMatchingLinesUnderAStream()
    {
        openOnSimulator();
        ReceiveDisplay* display = m_window->receiveDisplay();
        QByteArray lines;
        for (int i = 0; i < 100; ++i) {
            lines += (i % 10 == 3 ? "ERROR " : "ok ") + QByteArray::number(i) + "\r\n";
        }
        m_sim->send(lines);
        QTRY_VERIFY(display->text().endsWith(QStringLiteral("ok 99\n")));
        FindBar& bar = m_window->findBar();
        bar.open();
        QTest::keyClicks(bar.edit(), QStringLiteral("ERROR"));
        QTRY_COMPARE(bar.countLabel()->text(), QStringLiteral("10/10"));
        QTest::keyClick(display, Qt::Key_Home, Qt::ControlModifier); // a place that is not the end
        const qint64 top = display->topLine();
        bar.filterBox()->setChecked(true);
        FilterView* filter = bar.filterView();
        QVERIFY(filter->isVisible());
        QCOMPARE(filter->lineCount(), 10);
        QVERIFY(filter->text().startsWith(QStringLiteral("ERROR 3\nERROR 13\n")));
        // Live, a line at a time, even when it comes in pieces.
        m_sim->send("ok 100\r\nERR");
        QTRY_COMPARE(m_window->link().record().receivedTotal(), lines.size() + 11);
        m_sim->send("OR 101\r\nok 102\r\n");
        QTRY_VERIFY(filter->text().endsWith(QStringLiteral("ERROR 93\nERROR 101\n")));
        QCOMPARE(filter->lineCount(), 11);
        bar.filterBox()->setChecked(false);
        QVERIFY(!filter->isVisible());
        QCOMPARE(display->topLine(), top);
    }

    void matchFollowsToItsTranscriptRow()
    {
        openOnSimulator();
        m_window->keyText(0)->setText(QStringLiteral("\"AT\""));
        m_window->keyText(1)->setText(QStringLiteral("\"XY\""));
        m_window->findChild<QCheckBox*>(QStringLiteral("Enter_Check"))->setChecked(true);
        for (const auto& [key, shown] : { std::pair(0, "OK"), std::pair(1, "OKERROR"), std::pair(0, "OKERROROK") }) {
            QTest::mouseClick(m_window->keyButton(key), Qt::LeftButton);
            QTRY_COMPARE(m_window->receiveDisplay()->text(), QString::fromLatin1(shown));
        }
        FindBar& bar = m_window->findBar();
        bar.open();
        QTest::keyClicks(bar.edit(), QStringLiteral("ERROR"));
        QTRY_COMPARE(bar.countLabel()->text(), QStringLiteral("1/1"));
        auto* follow = bar.findChild<QPushButton*>(QStringLiteral("FindToTranscript"));
        QVERIFY(follow->isEnabled());
        follow->click();
        TranscriptWindow* transcript = m_window->transcriptWindow();
        QVERIFY(transcript && transcript->isVisible());
        QCOMPARE(transcript->selectedRowsText().split(u'\t').mid(1, 3), (QStringList { "Key2", "XY<0D>", "ERROR<0D>" }));
    }

    // Colour rules.

    void colourRulesAreDrawn_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("wholeLine");
        QTest::addColumn<QList<int>>("redLines"); // of "ok", "an ERROR here", "ok"
        QTest::newRow("whole line") << 0 << "ERROR" << true << QList<int> { 1 };
        QTest::newRow("only the text, regex") << 1 << "ERR?OR" << false << QList<int> { 1 };
        QTest::newRow("hex") << 2 << "6F 6B" << true << QList<int> { 0, 2 };
        QTest::newRow("broken regex: said in the dialog, draws nothing") << 1 << "ERR(" << true << QList<int> {};
        QTest::newRow("no rule") << 0 << "" << true << QList<int> {};
    }

    void colourRulesAreDrawn()
    {
        QFETCH(int, kind);
        QFETCH(QString, pattern);
        QFETCH(bool, wholeLine);
        QFETCH(QList<int>, redLines);
        if (!pattern.isEmpty()) {
            ColourRulesDialog dialog({}, m_window.get());
            dialog.addRule();
            dialog.findChild<QComboBox*>(QStringLiteral("RuleKind"))->setCurrentIndex(kind);
            dialog.patternEdit()->setText(pattern);
            dialog.colourBox()->setCurrentText(QStringLiteral("红"));
            for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
                if (box->text().startsWith(QStringLiteral("整行"))) {
                    box->setChecked(wholeLine);
                }
            }
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("RuleProblem"))->text().isEmpty(), !redLines.isEmpty());
            m_window->setUserColourRules(dialog.rules());
        }
        m_window->link().record().addReceived("ok\nan ERROR here\nok\n", 1000);
        ReceiveDisplay* display = m_window->receiveDisplay();
        QTRY_VERIFY(display->paintedEnd() > 0);
        const QImage image = display->grab().toImage();
        const qreal lineHeight = QFontMetricsF(display->font()).lineSpacing();
        // Glyph edges blend into the black: a pixel counts as red or green by its leading channel.
        auto has = [&](int line, bool red) {
            const int top = int(display->contentsRect().top() + 2 + line * lineHeight);
            for (int y = top + 1; y < top + int(lineHeight) - 1; ++y) {
                for (int x = 4; x < 120; ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (red ? c.red() > 100 && c.red() > c.green() + 60 : c.green() > 100 && c.green() > c.red() + 30) {
                        return true;
                    }
                }
            }
            return false;
        };
        for (int line = 0; line < 3; ++line) {
            QCOMPARE(has(line, true), redLines.contains(line));
            QCOMPARE(has(line, false), !redLines.contains(line) || !wholeLine);
        }
        // Kept for the user: a new window draws them too.
        QCOMPARE(PrivateDesign(*m_dialogs, m_dir->path()).userColourRules().size(), pattern.isEmpty() ? 0 : 1);
    }

    // Key shortcuts.

    void colourRulesThatCannotBeKeptAreSaid()
    {
        // A folder where the settings file should be: no user, root included, can write it.
        const QString file = PrivateDesign::userSettings().fileName();
        QFile::remove(file);
        QVERIFY(QDir().mkpath(file));
        ColourRule rule;
        rule.pattern = QStringLiteral("ERROR");
        rule.colour = Qt::red;
        m_window->setUserColourRules({ rule });
        QVERIFY(QDir().rmdir(file));
        QCOMPARE(m_dialogs->messages.size(), 1);
        QVERIFY2(m_dialogs->texts()[0].contains(QStringLiteral("着色规则没有保存")), qPrintable(m_dialogs->texts()[0]));
        QCOMPARE(m_window->userColourRules().size(), 1); // still in effect
    }

    void shortcutConflictsAreRefused_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("refusal"); // empty: taken
        QTest::newRow("free") << 1 << QKeySequence(Qt::Key_F6) << "";
        QTest::newRow("another key on the page") << 1 << QKeySequence(Qt::Key_F5) << "已是本页按键 1（Key1）";
        QTest::newRow("a key on another page") << 48 << QKeySequence(Qt::Key_F5) << "";
        QTest::newRow("the tool's own") << 1 << QKeySequence(Qt::CTRL | Qt::Key_L) << "显示调试信息打印窗口";
        QTest::newRow("page switch") << 1 << QKeySequence(Qt::CTRL | Qt::Key_2) << "第2页";
        QTest::newRow("two chords") << 1 << QKeySequence(QKeyCombination(Qt::CTRL | Qt::Key_K), QKeyCombination(Qt::Key_K)) << "连按";
    }

    void shortcutConflictsAreRefused()
    {
        QFETCH(int, key);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, refusal);
        QVERIFY(m_window->setKeyShortcut(0, QKeySequence(Qt::Key_F5)));
        QCOMPARE(m_window->setKeyShortcut(key, keys), refusal.isEmpty());
        if (refusal.isEmpty()) {
            QVERIFY(m_dialogs->messages.isEmpty());
            QVERIFY(m_window->keyButton(key)->toolTip().contains(keys.toString(QKeySequence::NativeText)));
            QCOMPARE(m_window->keyShortcut(key), keys);
        } else {
            QCOMPARE(m_dialogs->messages.size(), 1);
            QVERIFY2(m_dialogs->texts()[0].contains(refusal), qPrintable(m_dialogs->texts()[0]));
            QCOMPARE(m_window->keyShortcut(key), QKeySequence());
        }
    }

    void shortcutsWorkOnTheirPageAndNeverWhileTyping()
    {
        openOnSimulator();
        m_window->keyText(0)->setText(QStringLiteral("\"P0\""));
        m_window->keyText(48)->setText(QStringLiteral("\"P1\""));
        QVERIFY(m_window->setKeyShortcut(0, QKeySequence(Qt::Key_F5)));
        QVERIFY(m_window->setKeyShortcut(48, QKeySequence(Qt::Key_F5)));
        QVERIFY(m_window->keyButton(48)->toolTip().contains(QStringLiteral("第二页")));
        auto sent = [this] {
            QStringList list;
            const LineRecord& r = m_window->link().record();
            for (qint64 n = r.firstNumber(); n < r.nextNumber(); ++n) {
                if (r.entry(n).direction == LineRecord::Direction::Sent) {
                    list << QString::fromLatin1(r.entry(n).bytes);
                }
            }
            return list;
        };
        m_window->keyButton(5)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(m_window->currentPage(), 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(m_window->currentPage(), 0);
        QCOMPARE(m_window->pageButton(0)->face(), QColor(255, 0, 0));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
        QTRY_COMPARE(sent(), (QStringList { "P0", "P1", "P0" }));
        // Typing must type: not in a command box, not in the port box.
        for (QWidget* box : { static_cast<QWidget*>(m_window->keyText(0)),
                              static_cast<QWidget*>(m_window->findChild<QComboBox*>(QStringLiteral("UART_Com_Combo"))) }) {
            box->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
            QTest::qWait(50);
            QVERIFY(m_window->uart().PortOpen());
            QCOMPARE(sent().size(), 3);
        }
    }

    void shortcutsTravelWithTheKeySet()
    {
        // A hand-made key set with shortcuts: loaded, it comes back byte for byte; saved again,
        // the copy is the same bytes.
        QByteArray file = "; made by hand\r\n[KeyName]\r\n";
        for (int n = 1; n <= 192; ++n) {
            file += "key" + QByteArray::number(n) + (n == 2 ? "=Reset" : "=Key" + QByteArray::number(n)) + "\r\n";
        }
        file += "[KeySend]\r\n";
        for (int n = 1; n <= 192; ++n) {
            file += "Send" + QByteArray::number(n) + (n == 1 ? "=\"AT\"" : "=Kestrelbay") + "\r\n";
        }
        file += "[Shortcuts]\r\nkey1=Ctrl+F5\r\nkey49=F5\r\n";
        const QString mine = m_dir->filePath(QStringLiteral("mine.ini"));
        test::writeAll(mine, file);
        m_dialogs->files = { mine };
        m_dialogs->answers = { MessageAnswer::Yes };
        m_window->files().load();
        QCOMPARE(m_window->keyShortcut(0), QKeySequence(Qt::CTRL | Qt::Key_F5));
        QCOMPARE(m_window->keyShortcut(48), QKeySequence(Qt::Key_F5));
        QCOMPARE(m_window->keyButton(1)->text(), QStringLiteral("Reset"));
        const QString working = m_dir->filePath(QStringLiteral("Modules/Temp.ini"));
        QCOMPARE(test::readAll(working), file);
        const QString copy = m_dir->filePath(QStringLiteral("copy.ini"));
        m_dialogs->files = { copy };
        m_window->files().saveAs();
        QCOMPARE(test::readAll(copy), file);

        // Taking one away empties its entry and touches nothing else.
        QVERIFY(m_window->setKeyShortcut(48, QKeySequence()));
        QCOMPARE(test::readAll(working), QByteArray(file).replace("key49=F5", "key49="));
        // A clashing entry is left out, with a message.
        test::writeAll(mine, QByteArray(file).replace("key49=F5", "key2=Ctrl+F5"));
        m_dialogs->files = { mine };
        m_dialogs->answers = { MessageAnswer::Yes };
        m_dialogs->messages.clear();
        m_window->files().load();
        QCOMPARE(m_window->keyShortcut(1), QKeySequence());
        QCOMPARE(m_dialogs->messages.size(), 2);
        QVERIFY2(m_dialogs->texts()[1].contains(QStringLiteral("按键 2")), qPrintable(m_dialogs->texts()[1]));
    }
};

QTEST_MAIN(TestFindKeys)
#include "tst_findkeys.moc"
