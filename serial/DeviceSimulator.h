#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace comkeys {

// A stand-in for a command-driven device on a pseudo-terminal: every command ending in a carriage
// return gets a reply ("AT" gets "OK", anything unknown "ERROR", each followed by a carriage
// return), or its echo, or the reply a table gives. It can also flood data at a given rate.
class DeviceSimulator : public QObject {
    Q_OBJECT
public:
    enum class FloodPattern { Plain, LineFeed, CarriageReturnLineFeed };

    explicit DeviceSimulator(QObject* parent = nullptr);
    ~DeviceSimulator() override;

    // Creates the pseudo-terminal pair; false with errorString() on failure.
    [[nodiscard]] bool start();
    // The path the tool opens, such as /dev/pts/4.
    QString devicePath() const { return m_devicePath; }
    QString errorString() const { return m_error; }

    void setEcho(bool echo) { m_echo = echo; }
    // Replies go out this many milliseconds after their command arrived.
    void setReplyDelay(int milliseconds) { m_replyDelay = milliseconds; }
    // A device that stops reading leaves what the tool sends in the line until it reads again.
    void setReading(bool reading);
    // Reads at most this many bytes a second, as a device on a slow line (0: all there is).
    void setReadRate(qint64 bytesPerSecond) { m_readRate = bytesPerSecond; }
    // Lines "command=reply"; blank lines and lines starting with '#' are skipped.
    [[nodiscard]] bool loadReplies(const QString& file);
    void setReply(const QByteArray& command, const QByteArray& reply);

    // Sends printable data at bytesPerSecond (0: as fast as the line takes it), as lines of
    // lineLength characters for the line patterns.
    void startFlood(qint64 bytesPerSecond, FloodPattern pattern, int lineLength = 80);
    void stopFlood();
    qint64 bytesFlooded() const { return m_flooded; }

    // Writes raw bytes to the tool, as a device would.
    bool send(const QByteArray& bytes);
    // Every byte received from the tool so far.
    const QByteArray& received() const { return m_received; }
    // The line settings the tool left on the pseudo-terminal, as "rate,parity,databits,stopbits"
    // (for instance "9600,n,8,1"); empty when they cannot be read.
    QString lineSettings() const;
    // Closes the pseudo-terminal, as when a device is unplugged.
    void vanish();
    // Unplugged with its link removed, and plugged in again: a new pseudo-terminal linked at
    // the same path, as an adapter that comes back under the same name.
    void unplug(const QString& link);
    [[nodiscard]] bool replug(const QString& link);

Q_SIGNALS:
    // A whole command (without its carriage return) arrived.
    void commandReceived(const QByteArray& command);

private:
    void onReadable();
    void onWritable();
    QByteArray replyFor(const QByteArray& command) const;
    void fillFlood();

    int m_master = -1;
    int m_slave = -1; // held open so the line survives the tool closing and reopening it
    QString m_devicePath;
    QString m_error;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_pending; // waiting to be written
    QByteArray m_line;
    QByteArray m_received;
    bool m_echo = false;
    bool m_reading = true;
    qint64 m_readRate = 0;
    int m_replyDelay = 0;
    QHash<QByteArray, QByteArray> m_replies;

    bool m_flooding = false;
    qint64 m_floodRate = 0;
    FloodPattern m_pattern = FloodPattern::Plain;
    int m_lineLength = 80;
    qint64 m_flooded = 0;
    qint64 m_floodStartMs = 0;
    quint64 m_floodCounter = 0;
    QTimer* m_floodTimer = nullptr;
};

} // namespace comkeys
