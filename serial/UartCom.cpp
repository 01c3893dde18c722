#include "UartCom.h"

#include "FileIo.h"
#include "LineTermios.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace comkeys {

namespace {
    QSerialPort::Parity parityOf(char p)
    {
        switch (p) {
        case 'e':
            return QSerialPort::EvenParity;
        case 'o':
            return QSerialPort::OddParity;
        case 'm':
            return QSerialPort::MarkParity;
        case 's':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
        }
    }

    QSerialPort::StopBits stopBitsOf(const QString& s)
    {
        if (s == QStringLiteral("2")) {
            return QSerialPort::TwoStop;
        }
        return s == QStringLiteral("1.5") ? QSerialPort::OneAndHalfStop : QSerialPort::OneStop;
    }

    QString describe(const LineState& s)
    {
        return QStringLiteral("%1,%2,%3,%4").arg(s.rate).arg(QChar::fromLatin1(s.parity)).arg(s.dataBits).arg(s.stopBits);
    }
} // namespace

std::optional<LineSettings> parseSettings(const QString& settings)
{
    const QStringList parts = settings.split(u',');
    if (parts.size() != 4 || parts[0].isEmpty() || parts[1].size() != 1) {
        return std::nullopt;
    }
    for (QChar c : parts[0]) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
    }
    bool ok = false;
    const qint64 rate = parts[0].toLongLong(&ok);
    if (!ok || rate <= 0 || rate > std::numeric_limits<qint32>::max()) {
        return std::nullopt;
    }
    LineSettings s;
    s.rate = qint32(rate);
    s.parity = parts[1].toLower().at(0).toLatin1();
    if (!QByteArrayView("neoms").contains(s.parity)) {
        return std::nullopt;
    }
    const QStringList dataBits { QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8") };
    const QStringList stopBits { QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2") };
    if (!dataBits.contains(parts[2]) || !stopBits.contains(parts[3])) {
        return std::nullopt;
    }
    s.dataBits = parts[2].toInt();
    s.stopBits = parts[3];
    return s;
}

QString portErrorReason(QSerialPort::SerialPortError error, const QString& systemText)
{
    QString reason;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        reason = QStringLiteral("设备不存在");
        break;
    case QSerialPort::PermissionError:
        reason = QStringLiteral("没有权限，或设备已被别的程序占用");
        break;
    case QSerialPort::OpenError:
        reason = QStringLiteral("设备已经打开");
        break;
    case QSerialPort::UnsupportedOperationError:
        reason = QStringLiteral("设备不支持这个设置");
        break;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        reason = QStringLiteral("设备已断开");
        break;
    case QSerialPort::WriteError:
        reason = QStringLiteral("写入失败");
        break;
    default:
        reason = QStringLiteral("串口出错");
        break;
    }
    return systemText.isEmpty() ? reason : reason + QStringLiteral("（") + systemText + QStringLiteral("）");
}

UartCom::UartCom(QStringList portFolders, QObject* parent)
    : QObject(parent)
    , m_folders(std::move(portFolders))
    , m_readRest(new QTimer(this))
{
    m_readRest->setSingleShot(true);
    m_readRest->setInterval(ReadRestMs);
    connect(m_readRest, &QTimer::timeout, this, [this] {
        if (m_readable) {
            m_readable->setEnabled(true);
        }
    });
    m_port.setReadBufferSize(0);
    connect(&m_port, &QSerialPort::errorOccurred, this, &UartCom::onError);
}

UartCom::~UartCom() { closePort(); }

bool UartCom::PortOpen() const { return m_port.isOpen(); }

bool UartCom::setCommPort(int n)
{
    if (n < 1 || n > 255) {
        m_error = QStringLiteral("端口号 %1 不在 1 到 255 之间").arg(n);
        return false;
    }
    m_commPort = n;
    m_devicePath.clear();
    return true;
}

QString UartCom::linkFor(int port) const
{
    for (const QString& folder : m_folders) {
        const QString link = folder + QStringLiteral("/Ports/COM") + QString::number(port);
        if (QFileInfo(link).isSymLink()) {
            return link;
        }
    }
    return {};
}

QString UartCom::deviceName() const
{
    if (!m_devicePath.isEmpty()) {
        return m_devicePath;
    }
    if (const QString link = linkFor(m_commPort); !link.isEmpty()) {
        return QFileInfo(link).symLinkTarget();
    }
    return QStringLiteral("/dev/ttyS") + QString::number(m_commPort - 1);
}

bool UartCom::isDeviceBack() const
{
    if (m_openedVia.isEmpty()) {
        return false;
    }
    const QFileInfo via(m_openedVia);
    if (m_devicePath.isEmpty() && via.isSymLink()) {
        return QFileInfo::exists(via.symLinkTarget()) && linkFor(m_commPort) == m_openedVia;
    }
    // A typed path counts wherever it leads now: a by-id link is made anew on every plug.
    return via.exists() && deviceName() == m_openedVia;
}

bool UartCom::setSettings(const QString& settings)
{
    if (!parseSettings(settings)) {
        m_error = QStringLiteral("线路设置“%1”无法使用（应为 速率,校验,数据位,停止位，如 9600,n,8,1）").arg(settings);
        return false;
    }
    m_settings = settings;
    return true;
}

void UartCom::setRThreshold(int threshold)
{
    m_rThreshold = threshold;
    if (m_rThreshold > 0 && m_port.isOpen() && !m_input.isEmpty()) {
        onReadyRead();
    }
}

bool UartCom::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return true;
    }
    if (m_port.isOpen()) {
        return true;
    }
    const LineSettings wanted = parseSettings(m_settings).value_or(LineSettings {});
    const QString link = m_devicePath.isEmpty() ? linkFor(m_commPort) : QString();
    m_openedVia = link.isEmpty() ? deviceName() : link;
    m_port.setPortName(deviceName());
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_error = portErrorReason(m_port.error(), m_port.errorString());
        return false;
    }
    const bool configured = m_port.setBaudRate(wanted.rate)
        && m_port.setDataBits(QSerialPort::DataBits(wanted.dataBits)) && m_port.setParity(parityOf(wanted.parity))
        && m_port.setStopBits(stopBitsOf(wanted.stopBits)) && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        m_error = portErrorReason(m_port.error(), m_port.errorString());
        m_port.close();
        return false;
    }
    // A driver may quietly keep another rate than the one asked for: only what the line holds
    // counts.
    const std::optional<LineState> held = readLineState(int(m_port.handle()));
    const LineState asked { unsigned(wanted.rate), wanted.parity, wanted.dataBits, wanted.stopBits.toInt() };
    if (held && !(*held == asked)) {
        m_error = QStringLiteral("线路实际设置为 %1，不是要求的 %2").arg(describe(*held), describe(asked));
        m_port.close();
        return false;
    }
    m_port.clear();
    // Reading is the service's own, so it can take bytes in chunks; QSerialPort's reader rests.
    for (QSocketNotifier* notifier : m_port.findChildren<QSocketNotifier*>()) {
        if (notifier->type() == QSocketNotifier::Read) {
            notifier->setEnabled(false);
        }
    }
    m_readable = new QSocketNotifier(m_port.handle(), QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, &UartCom::onReadable);
    m_writable = new QSocketNotifier(m_port.handle(), QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &UartCom::drain);
    return true;
}

void UartCom::closePort()
{
    delete m_writable;
    m_writable = nullptr;
    delete m_readable;
    m_readable = nullptr;
    m_readRest->stop();
    m_input.clear();
    const int dropped = int(m_queue.size());
    m_queue.clear();
    m_queuedBytes = 0;
    if (m_port.isOpen()) {
        m_port.close();
    }
    if (dropped > 0) {
        Q_EMIT outputDropped(dropped);
    }
}

UartCom::OutputStatus UartCom::setOutput(const QByteArray& bytes, quint64* ticket)
{
    if (!m_port.isOpen()) {
        m_error = QStringLiteral("串口没有打开");
        return OutputStatus::Failed;
    }
    qsizetype done = 0;
    // Behind a queue, a command waits its turn; otherwise the system takes what it can now.
    if (m_queue.empty()) {
        while (done < bytes.size()) {
            const ssize_t n = ::write(int(m_port.handle()), bytes.constData() + done, std::size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                // Whatever part went out, the command as a whole did not: it is not logged.
                m_error = QStringLiteral("设备已断开（写入失败：%1）").arg(fileErrorReason(errno));
                lose(m_error);
                return OutputStatus::Failed;
            }
            break; // the line is full for now
        }
        if (done == bytes.size()) {
            return OutputStatus::Written;
        }
    }
    // Whole or nothing: a command that would not fit is refused before any byte of it goes.
    if (done == 0 && m_queuedBytes + bytes.size() > OutputQueueLimit) {
        m_error = QStringLiteral("发送队列已满（还有 %1 字节等待设备读取）").arg(m_queuedBytes);
        return OutputStatus::QueueFull;
    }
    Pending p;
    p.bytes = bytes;
    p.done = done;
    p.ticket = m_nextTicket++;
    m_queuedBytes += bytes.size() - done;
    m_queue.push_back(std::move(p));
    if (ticket) {
        *ticket = m_queue.back().ticket;
    }
    m_writable->setEnabled(true);
    return OutputStatus::Queued;
}

void UartCom::drain()
{
    while (!m_queue.empty() && m_port.isOpen()) {
        Pending& p = m_queue.front();
        const ssize_t n = ::write(int(m_port.handle()), p.bytes.constData() + p.done, std::size_t(p.bytes.size() - p.done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return; // still full: the notifier calls again
            }
            lose(QStringLiteral("设备已断开（写入失败：%1）").arg(fileErrorReason(errno)));
            return;
        }
        p.done += n;
        m_queuedBytes -= n;
        if (p.done < p.bytes.size()) {
            continue;
        }
        const quint64 ticket = p.ticket;
        m_queue.pop_front();
        Q_EMIT outputWritten(ticket);
    }
    if (m_writable) {
        m_writable->setEnabled(!m_queue.empty());
    }
}

bool UartCom::readAvailable()
{
    constexpr qsizetype Hold = 1024 * 1024; // beyond this, bytes wait in the system
    char buffer[64 * 1024];
    while (m_input.size() < Hold) {
        const ssize_t n = ::read(int(m_port.handle()), buffer, sizeof buffer);
        if (n > 0) {
            m_input.append(buffer, n);
            if (std::size_t(n) < sizeof buffer) {
                break; // drained
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: the other end of the line is gone (an adapter pulled, a closed terminal).
            lose(QStringLiteral("设备已断开（读取失败：%1）").arg(fileErrorReason(errno)));
            return false;
        }
        if (n == 0) {
            // Nothing to read on a line said to be readable: a hang-up, if the system says so.
            pollfd p { int(m_port.handle()), POLLIN, 0 };
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                lose(QStringLiteral("设备已断开（线路挂断）"));
                return false;
            }
        }
        break; // nothing more now
    }
    return true;
}

void UartCom::onReadable()
{
    const qsizetype before = m_input.size();
    if (!readAvailable()) {
        return;
    }
    // A trickle rests a moment to gather; a flood (bytes coming faster than a serial line
    // brings them) goes on at once.
    const qint64 sinceLast = std::max<qint64>(m_sinceRead.isValid() ? m_sinceRead.nsecsElapsed() : 0, 100'000);
    m_sinceRead.restart();
    const qsizetype got = m_input.size() - before;
    const bool flood = got >= FloodRead || got * 1'000'000 / sinceLast >= FloodBytesPerMs;
    if (!flood) {
        m_readable->setEnabled(false);
        m_readRest->start();
    }
    if (!m_input.isEmpty()) {
        onReadyRead();
    }
}

QByteArray UartCom::Input()
{
    if (!m_port.isOpen()) {
        return {};
    }
    QByteArray bytes;
    if (m_inputLen > 0 && m_inputLen < m_input.size()) {
        bytes = m_input.left(m_inputLen);
        m_input.remove(0, m_inputLen);
    } else {
        bytes = std::exchange(m_input, QByteArray());
    }
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

void UartCom::lose(const QString& reason)
{
    if (!m_port.isOpen()) {
        return;
    }
    closePort();
    Q_EMIT deviceLost(reason);
}

void UartCom::onError(QSerialPort::SerialPortError error)
{
    // A pulled adapter reports a resource error; a line whose other end has gone (a closed
    // pseudo-terminal) keeps reporting read errors. Either way the port is useless, and leaving
    // it open would spin on the error for ever. Writes never pass through QSerialPort, so a full
    // output buffer cannot show up here.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) {
        return;
    }
    lose(portErrorReason(error, m_port.errorString()));
}

} // namespace comkeys
