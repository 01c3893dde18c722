#pragma once

#include "Dialogs.h"
#include "KeySet.h"

#include <QString>

namespace comkeys {

// Saving the key set under a name of the user's and loading one back, through the working copy.
// A failure ends the operation with a message saying what failed and why; no file is ever left
// shorter or older than before, and the keys change only after a load has fully succeeded.
class KeySetFiles {
public:
    // workingCopy is the file the keys live in between operations; the dialogs open in
    // dialogFolder.
    KeySetFiles(Dialogs& dialogs, KeyBoard& keys, QString workingCopy, QString dialogFolder);

    void saveAs();
    // True when the chosen file's keys replaced the current ones (and its bytes the working copy).
    bool load();

    const QString& workingCopy() const { return m_workingCopy; }
    static FileDialogSettings saveDialog(const QString& folder);
    static FileDialogSettings loadDialog(const QString& folder);

private:
    Dialogs& m_dialogs;
    KeyBoard& m_keys;
    QString m_workingCopy;
    QString m_folder;
};

// Copies a whole file (of at most a profile's size), replacing the target atomically: a failed
// copy leaves the old target as it was and says why in *error. Copying a file onto itself
// changes nothing and succeeds.
bool replaceFileWith(const QString& source, const QString& target, QString* error = nullptr);

} // namespace comkeys
