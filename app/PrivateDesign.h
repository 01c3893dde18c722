#pragma once

#include "AutomationWindow.h"
#include "DebugForm.h"
#include "KeyAutomation.h"
#include "ReceiveDisplay.h"
#include "TranscriptWindow.h"
#include "PlotWindow.h"
#include "Dialogs.h"
#include "KeyEditor.h"
#include "KeySetFiles.h"
#include "KeyShortcuts.h"
#include "ColourRule.h"
#include "SerialLink.h"
#include "SharedState.h"
#include "ToolFolders.h"
#include "UartCom.h"

#include <QPointer>
#include <QSettings>
#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;

namespace comkeys {

class FaceButton;
class FindBar;
class StatusCircle;

// The main window: tool bar, four pages of 48 command keys and the receive display. It wires its
// controls to the key editing, key-set files and serial link, and shows their state.
class PrivateDesign : public QWidget, public KeyWindow {
    Q_OBJECT
public:
    PrivateDesign(Dialogs& dialogs, const QString& programFolder, QWidget* parent = nullptr);
    ~PrivateDesign() override;

    // KeyWindow
    QString caption(int index) const override;
    void setCaption(int index, const QString& caption) override;
    QString command(int index) const override;
    void setCommand(int index, const QString& command) override;
    void setPageLeft(int page, int twips) override;
    void setSelectorRed(int page, bool red) override;
    // The keys' shortcuts travel in the key-set file.
    bool storeExtras(Profile& profile) const override;
    void readExtras(const Profile& profile) override;

    SharedState& state() { return m_state; }
    SerialLink& link() { return m_link; }
    UartCom& uart() { return m_uart; }
    KeyEditor& editor() { return m_editor; }
    KeySetFiles& files() { return m_files; }
    // The log window, or null until something first writes to or empties its text.
    DebugForm* debugForm() const { return m_debugForm; }
    // Brings the log window on screen, creating it if needed.
    void showLog();
    // Brings the transcript window (收发记录) on screen, creating it if needed.
    void showTranscript();
    TranscriptWindow* transcriptWindow() const { return m_transcriptWindow; }
    // Repeats, sequences and automatic answers, kept in the working copy.
    KeyAutomation& automation() { return *m_automation; }
    // Brings the sequence window (发送序列) on screen, creating it if needed.
    void showAutomation();
    AutomationWindow* automationWindow() const { return m_automationWindow; }
    // Brings the plot window (曲线) on screen, creating it if needed.
    void showPlot();
    PlotWindow* plotWindow() const { return m_plotWindow; }
    ReceiveDisplay* receiveDisplay() const { return m_text1; }
    // 保存接收数据…: the received bytes as they came (.bin) or the timed transcript (.txt).
    void saveReceived();
    // Starts capturing what arrives to a file the user names, or stops a running capture.
    void toggleCapture();

    FaceButton* keyButton(int index) const { return m_keyButtons[std::size_t(index)]; }
    QLineEdit* keyText(int index) const { return m_keyTexts[std::size_t(index)]; }
    QFrame* page(int p) const { return m_pages[std::size_t(p)]; }
    FaceButton* pageButton(int p) const { return m_pageButtons[std::size_t(p)]; }

    // Where this window keeps its working copy and looks for Ports links.
    const ToolFolders& folders() const { return m_folders; }
    // The options the tool remembers for the user (~/.config/ComKeys/ComKeys.conf).
    static QSettings userSettings();

    // The find bar over the receive display (Ctrl+F), made the first time it is wanted.
    FindBar& findBar();
    // Shows the row of 收发记录 of the command sent as record entry sentEntry.
    void showTranscriptRow(qint64 sentEntry);

    // The user's colour rules (kept with the user's options) and the rules other parts of the
    // tool add (the automatic answers' marks): one list for the display, the user's first.
    ColourRules userColourRules() const { return m_userRules; }
    void setUserColourRules(const ColourRules& rules);
    void setExtraColourRules(const ColourRules& rules);
    void editColourRules();

    // Gives key `index` a shortcut (an empty one takes it away) and stores the key set; a
    // combination the tool or another key of the page has already is refused with a message.
    bool setKeyShortcut(int index, const QKeySequence& keys);
    QKeySequence keyShortcut(int index) const { return m_shortcuts.shortcut(index); }
    void editKeyShortcut(int index);
    // The tool's own shortcuts and what each does.
    static QList<std::pair<QKeySequence, QString>> toolShortcuts();
    // The page in view, 0 to 3.
    int currentPage() const;

    static QString windowCaption();
    // The button-face colour the page selectors take when not chosen.
    static QColor buttonFace();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolBar();
    void buildPages();
    void fillAtCreation();
    void setTabOrder();
    void wire();
    void showStatus();
    // The status area's context menu: switching automatic reconnection on and off.
    void statusMenu(const QPoint& at);
    DebugForm& ensureDebugForm();
    // The automation's entries in the keys' caption menus, the window's actions and markers.
    void wireAutomation();
    void applyKeyShortcuts();
    void updateKeyTip(int key);
    void keyCaptionMenu(int index, const QPoint& at);

    ToolFolders m_folders;
    Dialogs& m_dialogs;
    SharedState m_state;
    UartCom m_uart;
    SerialLink m_link;
    KeyEditor m_editor;
    KeySetFiles m_files;
    std::unique_ptr<KeyAutomation> m_automation;

    QPushButton* m_command4 = nullptr;
    ReceiveDisplay* m_text1 = nullptr;
    std::array<QFrame*, 4> m_pages {};
    QFrame* m_picture1 = nullptr;
    QPushButton* m_command3 = nullptr;
    std::array<FaceButton*, 4> m_pageButtons {};
    QCheckBox* m_enterCheck = nullptr;
    QPushButton* m_command2 = nullptr;
    FaceButton* m_openButton = nullptr; // SaveCmd(3)
    FaceButton* m_closeButton = nullptr; // SaveCmd(2)
    QPushButton* m_command1 = nullptr;
    QComboBox* m_baudCombo = nullptr;
    FaceButton* m_saveIniCmd = nullptr;
    FaceButton* m_callIniCmd = nullptr;
    QLineEdit* m_keyName = nullptr;
    QComboBox* m_keyCombo = nullptr;
    QComboBox* m_portCombo = nullptr;
    StatusCircle* m_shape1 = nullptr;
    QLabel* m_connectLab = nullptr;
    QLabel* m_captureLab = nullptr; // shown while a capture runs, beside the clear button
    std::array<FaceButton*, 192> m_keyButtons {};
    std::array<QLineEdit*, 192> m_keyTexts {};
    QPointer<DebugForm> m_debugForm;
    QPointer<TranscriptWindow> m_transcriptWindow;
    QPointer<AutomationWindow> m_automationWindow;
    QPointer<PlotWindow> m_plotWindow;
    FindBar* m_findBar = nullptr;
    ColourRules m_userRules;
    ColourRules m_extraRules;
    KeyShortcuts m_shortcuts;
    QList<QShortcut*> m_keyShortcuts; // one for each combination in use
};

} // namespace comkeys
