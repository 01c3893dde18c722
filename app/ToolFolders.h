#pragma once

#include <QString>
#include <QStringList>

namespace comkeys {

// Where the tool keeps its files. A portable tool (its folder holds a writable Modules folder,
// as the build tree and an unpacked copy do) keeps the working copy there; an installed one keeps
// it in the user's data folder (~/.local/share/ComKeys/Modules), made on first use.
struct ToolFolders {
    QString keySets; // holds Modules/Temp.ini; the key-set dialogs open here
    QStringList portLinks; // folders whose Ports/COMn links name devices, searched in order
    bool portable = true;
};

ToolFolders toolFolders(const QString& programFolder);

// The user's own data folder for the tool.
QString userDataFolder();

} // namespace comkeys
