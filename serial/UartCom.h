#pragma once

#include "NetworkPort.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>

class QSocketNotifier;
class QTimer;

namespace comkeys {

// A line format as the Settings text gives it: "rate,parity,databits,stopbits".
struct LineSettings {
    qint32 rate = 9600;
    char parity = 'n'; // n, e, o, m (mark) or s (space)
    int dataBits = 8; // 5 to 8
    QString stopBits = QStringLiteral("1"); // 1, 1.5 or 2
};

// Splits "9600,e,7,1": a positive whole rate, parity n/e/o/m/s (either case), data bits 5 to 8,
// stop bits 1, 1.5 or 2. Nothing for any other text.
std::optional<LineSettings> parseSettings(const QString& settings);

// The one serial-port service of the main window, offering the operations the tool uses under
// their traditional names. Port n opens the device that the first Ports/COMn link found in the
// given folders (beside the program, then the user's data folder) points to, /dev/ttyS(n-1)
// when there is none; a device path can be given directly instead.
//
// The service owns the device's descriptor: it sets the line with termios2, reads what arrives
// and hands it on in OnComm(), and writes to the system directly. A command the system cannot
// take whole at once keeps its rest in a bounded queue that drains as the line does, and
// outputWritten() tells when its last byte went out. A full line is never taken for a lost device.
class UartCom : public QObject {
    Q_OBJECT
public:
    static constexpr int comEvReceive = 2;
    // Bytes waiting for the line at most; a command that does not fit is refused whole.
    static constexpr qsizetype OutputQueueLimit = 16 * 1024;
    // After a read, the line rests this long before the next one: bytes that keep coming are
    // taken in chunks of a few milliseconds rather than a wake-up for each of them. The first
    // byte after a quiet spell is read at once.
    static constexpr int ReadRestMs = 4;
    // Reads do not rest when one finds about as much as a terminal holds, or while bytes come
    // faster than any serial line brings them (a 12 Mbaud adapter: about 1200 a millisecond).
    static constexpr qsizetype FloodRead = 2048;
    static constexpr qint64 FloodBytesPerMs = 2000;
    // Bytes taken in one wake-up at most, so a flood still leaves the window time to paint.
    static constexpr qsizetype ReadBurst = 64 * 1024;

    explicit UartCom(QStringList portFolders, QObject* parent = nullptr);
    ~UartCom() override;

    bool PortOpen() const { return m_fd >= 0 || m_net.isOpen(); }
    // Opens with the current port, settings and input mode, then reads the line's settings
    // back; false with errorString() (Chinese) when the port cannot be opened or the line does
    // not hold the settings asked for.
    [[nodiscard]] bool setPortOpen(bool open);

    int CommPort() const { return m_commPort; }
    // Port numbers 1 to 255; false for anything else.
    [[nodiscard]] bool setCommPort(int n);
    // A device path or a network port (tcp://, rfc2217://) used instead of the port number
    // (empty: use the number).
    void setDevicePath(const QString& path) { m_devicePath = path; }
    // The port is a network port: it opens with openNetwork(), not setPortOpen().
    bool isNetwork() const { return isNetworkPortText(m_devicePath); }
    // Starts opening the network port with the current settings; opened() or openFailed()
    // follows, the window never waits.
    void openNetwork();
    bool isOpening() const { return m_net.isOpening(); }
    // What the network line is and what its server acknowledged (Chinese).
    QString networkSummary() const { return m_net.summary(); }
    QString deviceName() const;
    // The device last opened is there again, under the name it was opened by (its Ports link,
    // or its device path); a fallback name does not count.
    bool isDeviceBack() const;

    QString Settings() const { return m_settings; }
    // Checked now (see parseSettings), applied at the next open.
    [[nodiscard]] bool setSettings(const QString& settings);

    int InputMode() const { return m_inputMode; }
    void setInputMode(int mode) { m_inputMode = mode; }
    int RThreshold() const { return m_rThreshold; }
    void setRThreshold(int threshold);
    int InputLen() const { return m_inputLen; }
    void setInputLen(int len) { m_inputLen = len; }
    int CommEvent() const { return m_commEvent; }

    enum class OutputStatus {
        Written, // every byte was handed to the system
        Queued, // accepted whole; outputWritten(ticket) follows when the last byte is out
        QueueFull, // nothing taken: the line is not draining fast enough
        Failed, // nothing more can be written (errorString() says why)
    };
    OutputStatus setOutput(const QByteArray& bytes, quint64* ticket = nullptr);
    qsizetype queuedBytes() const { return m_queuedBytes; }
    // For a caller that takes received bytes itself while receive events are off (RThreshold
    // 0): every byte the system holds (InputLen 0) or at most InputLen of them.
    QByteArray Input();

    // Bytes received since the service was created.
    qint64 bytesReceived() const { return m_bytesReceived; }

    QString errorString() const { return m_error; }
    // The open device's descriptor, -1 while closed.
    int handle() const { return m_fd; }

Q_SIGNALS:
    // Received bytes, in arrival order, raised as soon as they are read while RThreshold is at
    // least 1; CommEvent() tells why (comEvReceive).
    void OnComm(const QByteArray& input);
    // The last byte of a queued command was handed to the system.
    void outputWritten(quint64 ticket);
    // The port closed with commands still queued; they never went out.
    void outputDropped(int commands);
    // The device went away while open (an adapter pulled out); the port has been closed.
    void deviceLost(const QString& reason);
    // A network port finished opening, or did not (reason in Chinese).
    void opened();
    void openFailed(const QString& reason);
    // A line for the log window about the network line (settings acknowledged, warnings).
    void note(const QString& text);

private:
    struct Pending {
        QByteArray bytes;
        qsizetype done = 0;
        quint64 ticket = 0;
    };

    void onReadable();
    // Reads what the system holds, until it has no more or `capacity` bytes are in: the count,
    // or -1 when the device is gone (then the port is closed).
    qsizetype readSome(char* into, qsizetype capacity);
    // Hands the system what it takes now: the count, or -1 when the device is gone.
    qsizetype writeSome(const char* bytes, qsizetype size);
    void drain();
    void closePort();
    void lose(const QString& reason);

    // The link (or device path) the last open went through.
    QString linkFor(int port) const;
    QStringList m_folders;
    QString m_openedVia;
    int m_fd = -1;
    NetworkPort m_net;
    QSocketNotifier* m_writable = nullptr;
    QSocketNotifier* m_readable = nullptr;
    QTimer* m_readRest = nullptr;
    // The line's rate over the last RateWindowMs: one slow read in a flood (the device's side
    // paused a moment) does not make it rest.
    static constexpr qint64 RateWindowMs = 20;
    QElapsedTimer m_rateWindow;
    qint64 m_windowBytes = 0;
    bool m_flooding = false;
    QByteArray m_readBuffer; // ReadBurst bytes, reused by every read
    std::deque<Pending> m_queue;
    qsizetype m_queuedBytes = 0;
    quint64 m_nextTicket = 1;
    int m_commPort = 1;
    QString m_devicePath;
    QString m_settings = QStringLiteral("9600,n,8,1");
    int m_inputMode = 0;
    int m_rThreshold = 0;
    int m_inputLen = 0;
    int m_commEvent = 0;
    qint64 m_bytesReceived = 0;
    QString m_error;
};

} // namespace comkeys
