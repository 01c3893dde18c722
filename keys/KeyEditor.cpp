#include "KeyEditor.h"

#include "KeyGrid.h"

namespace comkeys {

KeyEditor::KeyEditor(SharedState& state, KeyWindow& window, QString workingCopy, Dialogs& dialogs)
    : m_state(state)
    , m_window(window)
    , m_workingCopy(std::move(workingCopy))
    , m_dialogs(dialogs)
{
}

void KeyEditor::storeKeySet()
{
    QString error;
    const bool stored = WriteKeySet(m_workingCopy, m_window, &error);
    // Every click into a command box writes: tell the user when writing starts to fail, not
    // on every click, and again only after it has worked in between.
    if (!stored && !m_failing) {
        m_failing = true;
        m_dialogs.notice(QStringLiteral("键设置没有保存到工作副本 %1：%2。\n屏幕上的键设置仍在；问题解决后，点一下任意命令框即可保存。")
                             .arg(m_workingCopy, error));
    }
    m_failing = !stored;
}

void KeyEditor::keyChosen(int index)
{
    if (index < 0 || index >= KeyCount) {
        return;
    }
    m_state.Key_Select = std::uint8_t(index);
}

void KeyEditor::rename(const QString& newName)
{
    m_window.setCaption(m_state.Key_Select, newName);
    storeKeySet();
}

void KeyEditor::resetAll()
{
    for (int i = 0; i < KeyCount; ++i) {
        m_window.setCaption(i, defaultCaption(i));
        m_window.setCommand(i, QString());
    }
}

void KeyEditor::commandFocused() { storeKeySet(); }

void KeyEditor::selectPage(int page)
{
    if (page < 0 || page >= PageCount) {
        return;
    }
    for (int q = 0; q < PageCount; ++q) {
        m_window.setSelectorRed(q, false);
    }
    m_window.setSelectorRed(page, true);
    for (int q = 0; q < PageCount; ++q) {
        m_window.setPageLeft(q, PageLeftPutAway);
    }
    m_window.setPageLeft(page, PageLeftShown);
}

} // namespace comkeys
