#pragma once

#include "AutomationEngine.h"
#include "AutomationSet.h"
#include "Dialogs.h"

#include <QObject>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace comkeys {

class KeyBoard;
class SerialLink;

// The window's side of the automation: the engine, the key set's automation kept in the
// working copy's own sections (so save-as and load carry it), and the entries of a key's menu.
class KeyAutomation : public QObject {
    Q_OBJECT
public:
    KeyAutomation(SerialLink& link, const KeyBoard& keys, QString workingCopy, Dialogs& dialogs,
                  std::function<bool()> appendCr, QObject* parent = nullptr);

    AutomationEngine& engine() { return m_engine; }
    const KeyBoard& keys() const { return m_keys; }
    bool appendCr() const { return m_appendCr(); }
    const AutomationSet& set() const { return m_set; }

    // Reads the automation from the working copy, as it stands after a load or at start. Broken
    // entries go to the log window, and to a message when `tell`.
    void reload(bool tell);
    // Writes the automation into the working copy; a failure is told once until it works again.
    void store();
    void setSequences(const QList<Sequence>& sequences);
    void setRules(const QList<AnswerRule>& rules, int loopGuard);

    // 停止全部自动发送 (Esc), owned here and added to every window and menu that offers it.
    QAction* stopAllAction() const { return m_stopAll; }
    // 定时重复发送…, 停止重复 and 停止全部自动发送 for a key's caption menu; the dialog opens
    // over `parent`.
    void addKeyMenuEntries(QMenu& menu, int key, QWidget* parent);
    // Opens 定时重复发送… for the key, filled in with its last settings.
    void openRepeatDialog(int key, QWidget* parent);

Q_SIGNALS:
    // The sequences or the rules were replaced (a load, or an edit).
    void setChanged();

private:
    QString startRepeat(const RepeatSpec& spec);

    SerialLink& m_link;
    const KeyBoard& m_keys;
    QString m_workingCopy;
    Dialogs& m_dialogs;
    std::function<bool()> m_appendCr;
    AutomationEngine m_engine;
    AutomationSet m_set;
    QAction* const m_stopAll;
    bool m_failing = false;
};

} // namespace comkeys
