#pragma once

#include "CaptureFile.h"
#include "Dialogs.h"
#include "LineRecord.h"
#include "SharedState.h"
#include "TextBuffer.h"
#include "Transcript.h"
#include "UartCom.h"

#include <QColor>
#include <QHash>
#include <QObject>
#include <QTimer>

namespace comkeys {

// Opening and closing the port, sending a key's command and handling what arrives: the logic
// behind the tool bar's port controls, the command keys, the receive display and the log.
class SerialLink : public QObject {
    Q_OBJECT
public:
    // Lost: the open port's device went away (not a close by the user). Connecting: a network
    // port is being opened.
    enum class Status { NeverOpened, Opened, OpenFailed, Closed, Lost, Connecting };

    static constexpr int MarkerLimit = 256; // "<CR>" markers kept in Recv_Mark at most

    SerialLink(SharedState& state, UartCom& uart, Dialogs& dialogs, QObject* parent = nullptr);

    // The open and close buttons, and a choice from the port or rate list. The rate text is a
    // rate ("9600", meaning 9600,n,8,1) or a whole line format ("9600,e,7,1").
    void openPressed(const QString& portText, const QString& rateText);
    void closePressed();
    void listChosen();
    // A command key was pressed with this command text; the key's caption goes to the record.
    void keyPressed(const QString& commandText, bool enterChecked, const QString& caption = {});

    // Sends a command text exactly as a key press with it would, without any message box: for
    // automation. Accepted sends get an id that commandDone() reports later.
    struct SendResult {
        bool accepted = false;
        bool queued = false; // waits in the output queue; commandDone() follows
        bool lineFull = false; // refused only because the output queue is full
        quint64 id = 0;
        QString reason; // why it was refused (Chinese)
    };
    SendResult sendCommand(const QString& commandText, bool enterChecked, const QString& caption);
    // Why a key press with this text would be refused before the port is looked at (empty text,
    // too short, too long, a character that is no single byte); empty when it would be sent.
    static QString commandRefusal(const QString& commandText, bool enterChecked);
    // A line of the automation's own in the log window.
    void logNote(const QString& text);
    void clearReceive();
    void clearLog();

    // Reopening the port by itself when its lost device appears again at the same path; on by
    // default. A port the user closed is never reopened.
    bool autoReconnect() const { return m_autoReconnect; }
    void setAutoReconnect(bool on);
    bool isWaitingToReconnect() const { return m_reconnect.isActive(); }

    Status status() const { return m_status; }
    QString statusText() const;
    QColor statusColor() const;
    QColor indicatorColor() const { return m_indicator; }
    // Why the last open failed or the port closed by itself (Chinese); empty otherwise.
    QString statusDetail() const { return m_detail; }

    const TextBuffer& logText() const { return m_log; }
    // Everything that went over the line, the per-command transcript and the capture to a file.
    LineRecord& record() { return m_record; }
    Transcript& transcript() { return m_transcript; }
    CaptureFile& capture() { return m_capture; }

    // The text of one receive marker line after the marker string.
    static QString markerHeader();

Q_SIGNALS:
    // The status text, its colour or the indicator changed.
    void statusChanged();
    // The receive display was emptied (the clear button).
    void receiveCleared();
    // Text was appended to the log window's text, or it was emptied.
    void logChanged();
    // A command sendCommand() accepted is in the record as entry number `entry`, or was dropped
    // unsent when the port closed (entry -1). Commands written at once report before
    // sendCommand() returns.
    void commandDone(quint64 id, qint64 entry);

private:
    void onComm(const QByteArray& input);
    SendResult sendRoutine(bool enterChecked, quint64 id = 0);
    void setStatus(Status status, const QString& detail = {});
    // A line of the link's own in the log window: a failed open, a lost or regained device.
    void logEvent(const QString& text);
    void onDeviceLost(const QString& reason);
    void tryReconnect();
    // A network port finished opening (or reopening), or did not.
    void onNetworkOpened();
    void onNetworkFailed(const QString& reason);
    void openFailed(const QString& failure);

    SharedState& m_state;
    UartCom& m_uart;
    Dialogs& m_dialogs;
    Status m_status = Status::NeverOpened;
    QColor m_indicator = QColor(255, 0, 0);
    QString m_detail;
    TextBuffer m_log;
    QString m_markerLine; // Recv_Mark with the header, while Recv_Mark stays as it is
    struct Awaiting {
        QString log;
        QByteArray bytes;
        QString caption;
        quint64 id = 0;
    };
    void sent(const QString& log, const QByteArray& bytes, const QString& caption, quint64 id);
    QHash<quint64, Awaiting> m_awaiting; // queued commands, by ticket
    QString m_caption; // of the key being sent
    quint64 m_nextSendId = 1;
    LineRecord m_record;
    Transcript m_transcript { m_record };
    CaptureFile m_capture { m_record };
    bool m_autoReconnect = true;
    QTimer m_reconnect;
};

// The port number the open button uses: the text without its first three characters, a decimal
// number 1 to 255, limited to 15. Nothing for any other text.
std::optional<int> portNumberFromText(const QString& portText);

} // namespace comkeys
