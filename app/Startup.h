#pragma once

#include "Dialogs.h"

#include <QLockFile>
#include <QStringList>

namespace comkeys {

// Where the single-instance lock lives: $COMKEYS_LOCK_FILE, else the user's runtime folder.
QString instanceLockPath();

// The start-up checks before the main window exists: the command-line notice, then the single-
// instance guard. False when this process must end without a window. The lock stays held by the
// caller's QLockFile for the life of the process; one left by a killed process is taken over.
bool runStartup(const QStringList& arguments, Dialogs& dialogs, QLockFile& lock);

// "宋体" and "MS Sans Serif" fall back to installed CJK serif and plain sans fonts.
void installFontSubstitutions();

// One line for a start without any display, or empty when a display (or a platform) is set.
QString missingDisplayMessage();

} // namespace comkeys
