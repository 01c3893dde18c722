#pragma once

#include "NetworkPort.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
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
// Output is handed to the system directly: a command the system cannot take whole at once keeps
// its rest in a bounded queue that drains as the line does, and outputWritten() tells when its
// last byte went out. A full line is never taken for a lost device.
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
    // A line counts as flooded, and reads do not rest, when a read finds about as much as a
    // terminal holds, or bytes come faster than any serial line brings them (a 12 Mbaud
    // adapter: about 1200 a millisecond).
    static constexpr qsizetype FloodRead = 2048;
    static constexpr qint64 FloodBytesPerMs = 2000;

    explicit UartCom(QStringList portFolders, QObject* parent = nullptr);
    ~UartCom() override;

    bool PortOpen() const;
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
    // Every waiting byte (InputLen 0) or at most InputLen of them, removed from the buffer.
    QByteArray Input();

    // Bytes Input() has returned since the service was created.
    qint64 bytesReceived() const { return m_bytesReceived; }

    QString errorString() const { return m_error; }
    QSerialPort& port() { return m_port; }

Q_SIGNALS:
    // Raised whenever received bytes wait and RThreshold is at least 1; CommEvent tells why.
    void OnComm();
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

    void onReadyRead();
    void onReadable();
    // Takes what the system holds for us into m_input; false when the device is gone.
    bool readAvailable();
    void onError(QSerialPort::SerialPortError error);
    void drain();
    void closePort();
    void lose(const QString& reason);

    // The link (or device path) the last open went through.
    QString linkFor(int port) const;
    QStringList m_folders;
    QString m_openedVia;
    QSerialPort m_port;
    NetworkPort m_net;
    QSocketNotifier* m_writable = nullptr;
    QSocketNotifier* m_readable = nullptr;
    QTimer* m_readRest = nullptr;
    QElapsedTimer m_sinceRead;
    QByteArray m_input; // read from the line, not yet taken by Input()
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

// Why a serial port failed, in Chinese, with the system's text in parentheses.
QString portErrorReason(QSerialPort::SerialPortError error, const QString& systemText);

} // namespace comkeys
