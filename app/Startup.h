#pragma once

#include "Dialogs.h"

#include <QLockFile>
#include <QStringList>
#include <memory>

namespace comkeys {

// Where the single-instance lock may live, in order: $COMKEYS_LOCK_FILE, else the user's runtime
// folder; then the temporary folder and the home folder when the first cannot be created.
QStringList instanceLockPaths();

// The single-instance lock, held for the life of the process. A lock left by a process that no
// longer runs is taken over; its age alone never frees it.
class InstanceLock {
public:
    enum class Result { Acquired, AlreadyRunning, Failed };

    explicit InstanceLock(QStringList paths = instanceLockPaths());
    // Tries each path in turn: the first that can be created decides. Failed only when none
    // could be created, with the reason in errorText().
    Result acquire();
    QString errorText() const { return m_error; }
    QString path() const { return m_lock ? m_lock->fileName() : QString(); }

private:
    QStringList m_paths;
    std::unique_ptr<QLockFile> m_lock;
    QString m_error;
};

// The start-up checks before the main window exists: the command-line notice, then the single-
// instance guard. False when this process must end without a window: another instance runs, or
// no lock could be made to tell (both are said in a message).
bool runStartup(const QStringList& arguments, Dialogs& dialogs, InstanceLock& lock);

// "宋体" and "MS Sans Serif" fall back to installed CJK serif and plain sans fonts.
void installFontSubstitutions();

// One line for a start without any display, or empty when a display (or a platform) is set.
QString missingDisplayMessage();

// Around the creation of the application object: a display that is set but cannot be reached
// ends the process with one line like missingDisplayMessage() and exit code 1, instead of Qt's
// abort. Qt's own messages of that moment are held back and passed on once it has worked.
void beginPlatformGuard();
void endPlatformGuard();

} // namespace comkeys
