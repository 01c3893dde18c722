#include "UartCom.h"

#include <QFileInfo>

namespace comkeys {

std::optional<qint32> parseSettings(const QString& settings)
{
    const QStringList parts = settings.split(u',');
    if (parts.size() != 4 || parts[1].compare(QStringLiteral("n"), Qt::CaseInsensitive) != 0
        || parts[2] != QStringLiteral("8") || parts[3] != QStringLiteral("1")) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 rate = parts[0].toLongLong(&ok);
    for (QChar c : parts[0]) {
        if (!c.isDigit()) {
            return std::nullopt;
        }
    }
    if (!ok || rate <= 0 || rate > std::numeric_limits<qint32>::max()) {
        return std::nullopt;
    }
    return qint32(rate);
}

UartCom::UartCom(QString programFolder, QObject* parent)
    : QObject(parent)
    , m_folder(std::move(programFolder))
{
    m_port.setReadBufferSize(0);
    connect(&m_port, &QSerialPort::readyRead, this, &UartCom::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &UartCom::onError);
}

UartCom::~UartCom() = default;

bool UartCom::PortOpen() const { return m_port.isOpen(); }

bool UartCom::setCommPort(int n)
{
    if (n < 1 || n > 255) {
        m_error = tr("port number %1 is outside 1 to 255").arg(n);
        return false;
    }
    m_commPort = n;
    m_devicePath.clear();
    return true;
}

QString UartCom::deviceName() const
{
    if (!m_devicePath.isEmpty()) {
        return m_devicePath;
    }
    const QString link = m_folder + QStringLiteral("/Ports/COM") + QString::number(m_commPort);
    if (QFileInfo(link).isSymLink()) {
        return QFileInfo(link).symLinkTarget();
    }
    return QStringLiteral("/dev/ttyS") + QString::number(m_commPort - 1);
}

bool UartCom::setSettings(const QString& settings)
{
    if (!parseSettings(settings)) {
        m_error = tr("the line settings \"%1\" cannot be used").arg(settings);
        return false;
    }
    m_settings = settings;
    return true;
}

qint32 UartCom::baudRate() const { return parseSettings(m_settings).value_or(9600); }

void UartCom::setRThreshold(int threshold)
{
    m_rThreshold = threshold;
    if (m_rThreshold > 0 && m_port.isOpen() && m_port.bytesAvailable() > 0) {
        onReadyRead();
    }
}

bool UartCom::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen()) {
            m_port.close();
        }
        return true;
    }
    if (m_port.isOpen()) {
        return true;
    }
    m_port.setPortName(deviceName());
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_error = m_port.errorString();
        return false;
    }
    const bool configured = m_port.setBaudRate(baudRate()) && m_port.setDataBits(QSerialPort::Data8)
        && m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop)
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        m_error = m_port.errorString();
        m_port.close();
        return false;
    }
    m_port.clear();
    return true;
}

bool UartCom::setOutput(const QByteArray& bytes)
{
    if (!m_port.isOpen()) {
        m_error = tr("the port is not open");
        return false;
    }
    m_port.clearError();
    const qint64 written = m_port.write(bytes);
    // Hand the bytes to the system now, so a line that refuses them is known before the send
    // counts as done; what the system cannot take yet follows as the line drains.
    m_port.flush();
    const QSerialPort::SerialPortError error = m_port.error();
    if (written != bytes.size() || error == QSerialPort::WriteError || error == QSerialPort::ResourceError
        || !m_port.isOpen()) {
        m_error = m_port.errorString();
        return false;
    }
    return true;
}

QByteArray UartCom::Input()
{
    if (!m_port.isOpen()) {
        return {};
    }
    const QByteArray bytes = m_inputLen > 0 ? m_port.read(m_inputLen) : m_port.readAll();
    m_bytesReceived += bytes.size();
    return bytes;
}

void UartCom::onReadyRead()
{
    if (m_rThreshold < 1) {
        return;
    }
    m_commEvent = comEvReceive;
    Q_EMIT OnComm();
}

void UartCom::onError(QSerialPort::SerialPortError error)
{
    // A pulled adapter reports a resource error; a line whose other end has gone (a closed
    // pseudo-terminal) keeps reporting read errors and fails writes. Either way the port is
    // useless, and leaving it open would spin on the error for ever.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        || !m_port.isOpen()) {
        return;
    }
    const QString reason = tr("the device went away (%1)").arg(m_port.errorString());
    m_port.close();
    Q_EMIT deviceLost(reason);
}

} // namespace comkeys
