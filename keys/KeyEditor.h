#pragma once

#include "Dialogs.h"
#include "KeySet.h"
#include "SharedState.h"

#include <QString>

namespace comkeys {

// The main window as the key editing sees it: the keys plus the four pages and their selectors.
class KeyWindow : public KeyBoard {
public:
    virtual void setPageLeft(int page, int twips) = 0;
    virtual void setSelectorRed(int page, bool red) = 0; // otherwise the button face
};

// Choosing, renaming and resetting keys, storing the key set whenever a command box is entered,
// and switching pages.
class KeyEditor {
public:
    KeyEditor(SharedState& state, KeyWindow& window, QString workingCopy, Dialogs& dialogs);

    // An item chosen from the key selector's list (typing chooses nothing).
    void keyChosen(int index);
    void rename(const QString& newName);
    void resetAll();
    // Any command-text box received the focus: the whole key set goes to the working copy.
    void commandFocused();
    void selectPage(int page);

    // The last write of the working copy failed (the user has been told).
    bool isFailing() const { return m_failing; }

private:
    void storeKeySet();

    SharedState& m_state;
    KeyWindow& m_window;
    QString m_workingCopy;
    Dialogs& m_dialogs;
    bool m_failing = false;
};

} // namespace comkeys
