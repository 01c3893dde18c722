#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace comkeys {

// The variables the main window's handlers share. One instance per process, owned by the main
// window; only the user-interface thread touches it.
struct SharedState {
    std::uint8_t Key_Select = 0;
    QStringList Baud_List;
    std::uint8_t Send_Len = 0;
    QString Send_Cmd;
    QByteArray Send_Buf;
    QString Send_Log;
    QString Recv_Mark;
};

} // namespace comkeys
