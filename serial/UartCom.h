#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace comkeys {

// The one serial-port service of the main window, offering the operations the tool uses under
// their traditional names. Port n opens the device that Ports/COMn beside the program points to
// when that link exists, /dev/ttyS(n-1) otherwise; a device path can be given directly instead.
class UartCom : public QObject {
    Q_OBJECT
public:
    static constexpr int comEvReceive = 2;

    explicit UartCom(QString programFolder, QObject* parent = nullptr);
    ~UartCom() override;

    bool PortOpen() const;
    // Opens with the current port, settings and input mode; false with errorString() when the
    // port or the settings cannot be used.
    [[nodiscard]] bool setPortOpen(bool open);

    int CommPort() const { return m_commPort; }
    // Port numbers 1 to 255; false for anything else.
    [[nodiscard]] bool setCommPort(int n);
    // A device path used instead of the port number (empty: use the number).
    void setDevicePath(const QString& path) { m_devicePath = path; }
    QString deviceName() const;

    QString Settings() const { return m_settings; }
    // "rate,n,8,1" with a positive whole rate; checked and applied at the next open.
    [[nodiscard]] bool setSettings(const QString& settings);
    qint32 baudRate() const;

    int InputMode() const { return m_inputMode; }
    void setInputMode(int mode) { m_inputMode = mode; }
    int RThreshold() const { return m_rThreshold; }
    void setRThreshold(int threshold);
    int InputLen() const { return m_inputLen; }
    void setInputLen(int len) { m_inputLen = len; }
    int CommEvent() const { return m_commEvent; }

    // Queues all bytes for sending in one call; false with errorString() when the port does not
    // take them all.
    [[nodiscard]] bool setOutput(const QByteArray& bytes);
    // Every waiting byte (InputLen 0) or at most InputLen of them, removed from the buffer.
    QByteArray Input();

    // Bytes Input() has returned since the service was created.
    qint64 bytesReceived() const { return m_bytesReceived; }

    QString errorString() const { return m_error; }
    QSerialPort& port() { return m_port; }

Q_SIGNALS:
    // Raised whenever received bytes wait and RThreshold is at least 1; CommEvent tells why.
    void OnComm();
    // The device went away while open (an adapter pulled out); the port has been closed.
    void deviceLost(const QString& reason);

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    QString m_folder;
    QSerialPort m_port;
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

// Splits "rate,n,8,1" and returns the rate, or nothing when the text is not of that form with a
// positive whole rate.
std::optional<qint32> parseSettings(const QString& settings);

} // namespace comkeys
