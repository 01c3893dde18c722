#pragma once

#include "Telnet.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <deque>
#include <optional>

class QTcpSocket;

namespace comkeys {

// A serial port on another machine, as the port box names it: tcp://HOST:PORT (a raw byte
// stream) or rfc2217://HOST:PORT (Telnet with the COM-PORT-OPTION). HOST is a name, an IPv4
// address or an IPv6 address in brackets.
struct NetworkAddress {
    enum class Kind { Raw, Rfc2217 };
    Kind kind = Kind::Raw;
    QString host; // without brackets
    quint16 port = 0;
    // The address as the port box shows it.
    QString text() const;
};

// The text names a network port (it starts with tcp:// or rfc2217://), well formed or not.
bool isNetworkPortText(const QString& text);
// Nothing for a text that is no well formed network port.
std::optional<NetworkAddress> parseNetworkAddress(const QString& text);
// The recent network ports with address put first, at most keep of them.
QStringList withRecentPort(QStringList recent, const QString& address, int keep = 8);

// The line format asked of the remote port.
struct RemoteLineFormat {
    quint32 rate = 9600;
    char parity = 'n'; // n, e, o, m or s
    int dataBits = 8;
    QString stopBits = QStringLiteral("1"); // 1, 1.5 or 2
    QString text() const;
};

// The connection to a network port. Opening never blocks: opened() or failed() follows.
// Commands are taken whole or not at all, behind a bounded queue, and written() tells when the
// last byte of a queued one went to the system. Received bytes travel in received().
class NetworkPort : public QObject {
    Q_OBJECT
public:
    enum class WriteStatus {
        Written, // every byte went to the system
        Queued, // taken whole; written(ticket) follows when its last byte is out
        QueueFull, // nothing taken
        Failed, // not open
    };
    static constexpr qsizetype OutputQueueLimit = 16 * 1024;
    static constexpr int ConnectTimeoutMs = 5000;
    // How long each answer of the server's Telnet negotiation is waited for.
    static constexpr int AnswerTimeoutMs = 2000;
    // Received bytes taken from the system at most at a time.
    static constexpr qint64 ReadHelping = 64 * 1024;

    explicit NetworkPort(QObject* parent = nullptr);
    ~NetworkPort() override;

    // Connects, and for rfc2217 negotiates and sets the line format; a running open or an open
    // connection is closed first.
    void open(const NetworkAddress& address, const RemoteLineFormat& format);
    // Ends the connection; commands still queued are dropped (dropped()). No signal but that.
    void close();
    bool isOpen() const { return m_phase == Phase::Open; }
    bool isOpening() const { return m_phase == Phase::Connecting || m_phase == Phase::Negotiating; }

    WriteStatus write(const QByteArray& bytes, quint64* ticket = nullptr);
    qsizetype queuedBytes() const;
    QString errorString() const { return m_error; }
    // What the line is, and what the server acknowledged of the line format (Chinese).
    QString summary() const { return m_summary; }

Q_SIGNALS:
    // The open finished: the line can be used.
    void opened();
    // The open did not succeed (reason in Chinese); the connection is closed.
    void failed(const QString& reason);
    // Bytes arrived from the remote line (Telnet commands taken out).
    void received(const QByteArray& bytes);
    // The last byte of the queued command with this ticket went to the system.
    void written(quint64 ticket);
    // The connection closed with this many commands still queued.
    void dropped(int commands);
    // The open connection went away (reason in Chinese); it has been closed.
    void lost(const QString& reason);
    // Something for the log window: what the server acknowledged, a warning, a line event.
    void note(const QString& text);

private:
    enum class Phase { Closed, Connecting, Negotiating, Open };
    enum class Want { No, Asked, Yes };

    void onConnected();
    void onReadyRead();
    void onBytesWritten(qint64 bytes);
    void onSocketError(QAbstractSocket::SocketError error);
    void onTimeout();
    void handle(const telnet::Event& event);
    void handleComPort(std::uint8_t cmd, const QByteArray& value);
    void sendLineFormat();
    void comPortRefused();
    void finishOpen();
    void fail(const QString& reason);
    void lineEvent(std::uint8_t cmd, std::uint8_t state);
    // False when the port failed while writing (and is closed now).
    bool send(const QByteArray& wire);

    QTcpSocket* m_socket = nullptr;
    QTimer m_timer;
    Phase m_phase = Phase::Closed;
    NetworkAddress m_address;
    RemoteLineFormat m_format;
    telnet::Parser m_parser;
    // Where each option stands, for us and for the server.
    std::array<Want, 256> m_us {};
    std::array<Want, 256> m_him {};
    QList<std::uint8_t> m_awaiting; // line-format answers still awaited, by command
    int m_controlsAwaited = 0; // SET-CONTROL answers (DTR, RTS) still awaited
    QTimer m_controlTimer;
    QStringList m_acknowledged;
    std::optional<std::uint8_t> m_modemState;
    QByteArray m_early; // data that came before the open finished

    struct Pending {
        qint64 end; // position of its last byte in the stream handed to the socket
        quint64 ticket;
    };
    std::deque<Pending> m_pending;
    qint64 m_handed = 0; // bytes handed to the socket
    quint64 m_nextTicket = 1;
    QString m_error;
    QString m_summary;
};

} // namespace comkeys
