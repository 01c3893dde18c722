#include "ToolFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace comkeys {

QString userDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/ComKeys");
}

ToolFolders toolFolders(const QString& programFolder)
{
    ToolFolders folders;
    const QFileInfo modules(programFolder + QStringLiteral("/Modules"));
    folders.portable = modules.isDir() && modules.isWritable();
    const QString user = userDataFolder();
    if (folders.portable) {
        folders.keySets = programFolder;
    } else {
        folders.keySets = user;
        QDir().mkpath(user + QStringLiteral("/Modules"));
    }
    folders.portLinks = QStringList { programFolder, user };
    folders.portLinks.removeDuplicates();
    return folders;
}

} // namespace comkeys
