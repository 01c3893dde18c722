#pragma once

#include "Dialogs.h"
#include "KeySet.h"

#include <QString>

namespace comkeys {

// Saving the key set under a name of the user's and loading one back, through the working copy.
class KeySetFiles {
public:
    KeySetFiles(Dialogs& dialogs, KeyBoard& keys, QString programFolder);

    void saveAs();
    void load();

    QString workingCopy() const;
    static FileDialogSettings saveDialog(const QString& programFolder);
    static FileDialogSettings loadDialog(const QString& programFolder);

private:
    Dialogs& m_dialogs;
    KeyBoard& m_keys;
    QString m_folder;
};

// Copies a whole file, replacing the target atomically: a failed copy leaves the old target as
// it was. Copying a file onto itself changes nothing and succeeds.
bool replaceFileWith(const QString& source, const QString& target);

} // namespace comkeys
