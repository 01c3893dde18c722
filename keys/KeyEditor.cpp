#include "KeyEditor.h"

#include "KeyGrid.h"

namespace comkeys {

KeyEditor::KeyEditor(SharedState& state, KeyWindow& window, QString workingCopy)
    : m_state(state)
    , m_window(window)
    , m_workingCopy(std::move(workingCopy))
{
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
    WriteKeySet(m_workingCopy, m_window);
}

void KeyEditor::resetAll()
{
    for (int i = 0; i < KeyCount; ++i) {
        m_window.setCaption(i, defaultCaption(i));
        m_window.setCommand(i, QString());
    }
}

void KeyEditor::commandFocused() { WriteKeySet(m_workingCopy, m_window); }

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
