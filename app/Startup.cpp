#include "Startup.h"

#include <QDir>
#include <QFont>
#include <QFileInfo>

#include <unistd.h>

namespace comkeys {

QString instanceLockPath()
{
    const QString configured = qEnvironmentVariable("COMKEYS_LOCK_FILE");
    if (!configured.isEmpty()) {
        return configured;
    }
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isWritable()) {
        folder = QDir::tempPath();
    }
    return folder + QStringLiteral("/comkeys-") + QString::number(::getuid()) + QStringLiteral(".lock");
}

bool runStartup(const QStringList& arguments, Dialogs& dialogs, QLockFile& lock)
{
    const QString commandLine = arguments.join(u' ');
    if (!commandLine.isEmpty()) {
        dialogs.message(commandLine, applicationTitle(), MessageIcon::None, MessageButtons::Ok);
    }
    // Staleness is decided by whether the holder still runs, never by the lock's age.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        dialogs.message(QStringLiteral("我已经运行了哦，在[开始]右边的任务栏找找看吧！"),
                        applicationTitle(), MessageIcon::Information, MessageButtons::Ok);
        return false;
    }
    return true;
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               { QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                                 QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC") });
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               { QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                 QStringLiteral("WenQuanYi Micro Hei") });
}

QString missingDisplayMessage()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return {};
    }
    return QStringLiteral("comkeys: no display found (DISPLAY is not set); run it under a virtual "
                          "one with: xvfb-run -a comkeys");
}

} // namespace comkeys
