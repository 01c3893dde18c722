#include "UartCom.h"

#include "FileIo.h"
#include "LineTermios.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace comkeys {

namespace {
    QString describe(const LineState& s)
    {
        return QStringLiteral("%1,%2,%3,%4").arg(s.rate).arg(QChar::fromLatin1(s.parity)).arg(s.dataBits).arg(s.stopBits);
    }

    QString openErrorReason(int error)
    {
        QString reason = QStringLiteral("串口出错");
        if (error == ENOENT || error == ENODEV || error == ENXIO) {
            reason = QStringLiteral("设备不存在");
        } else if (error == EACCES || error == EPERM || error == EBUSY || error == EWOULDBLOCK) {
            reason = QStringLiteral("没有权限，或设备已被别的程序占用");
        }
        return reason + QStringLiteral("（") + QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral("）");
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

UartCom::UartCom(QStringList portFolders, QObject* parent)
    : QObject(parent)
    , m_folders(std::move(portFolders))
    , m_readRest(new QTimer(this))
    , m_readBuffer(ReadBurst, Qt::Uninitialized)
{
    m_readRest->setSingleShot(true);
    m_readRest->setInterval(ReadRestMs);
    connect(m_readRest, &QTimer::timeout, this, [this] {
        if (m_readable) {
            m_readable->setEnabled(true);
        }
    });
    connect(&m_net, &NetworkPort::opened, this, &UartCom::opened);
    connect(&m_net, &NetworkPort::failed, this, &UartCom::openFailed);
    connect(&m_net, &NetworkPort::note, this, &UartCom::note);
    connect(&m_net, &NetworkPort::received, this, [this](const QByteArray& bytes) {
        m_bytesReceived += bytes.size();
        m_commEvent = comEvReceive;
        Q_EMIT OnComm(bytes);
    });
    connect(&m_net, &NetworkPort::written, this, &UartCom::outputWritten);
    connect(&m_net, &NetworkPort::dropped, this, &UartCom::outputDropped);
    connect(&m_net, &NetworkPort::lost, this, [this](const QString& reason) {
        Q_EMIT deviceLost(reason);
    });
}

void UartCom::openNetwork()
{
    const std::optional<NetworkAddress> address = parseNetworkAddress(m_devicePath);
    if (!address) {
        Q_EMIT openFailed(QStringLiteral("“%1”不是 tcp://主机:端口 或 rfc2217://主机:端口").arg(m_devicePath));
        return;
    }
    const LineSettings s = parseSettings(m_settings).value_or(LineSettings {});
    m_net.open(*address, RemoteLineFormat { quint32(s.rate), s.parity, s.dataBits, s.stopBits });
}

UartCom::~UartCom() { closePort(); }

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
    if (m_readable) {
        m_readable->setEnabled(m_rThreshold > 0);
    }
}

bool UartCom::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return true;
    }
    if (m_fd >= 0) {
        return true;
    }
    const LineSettings wanted = parseSettings(m_settings).value_or(LineSettings {});
    const QString link = m_devicePath.isEmpty() ? linkFor(m_commPort) : QString();
    m_openedVia = link.isEmpty() ? deviceName() : link;
    if (wanted.stopBits == QStringLiteral("1.5")) {
        m_error = QStringLiteral("设备不支持这个设置（1.5 个停止位）");
        return false;
    }
    const int fd = ::open(QFile::encodeName(deviceName()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_error = openErrorReason(errno);
        return false;
    }
    // A serial port has one user at a time: a device another program holds is refused.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_error = openErrorReason(errno);
        ::close(fd);
        return false;
    }
    (void)::ioctl(fd, TIOCEXCL);
    const LineState asked { unsigned(wanted.rate), wanted.parity, wanted.dataBits, wanted.stopBits.toInt() };
    if (!applyLineState(fd, asked)) {
        m_error = QStringLiteral("设备不支持这个设置（%1）").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    // A driver may quietly keep another rate than the one asked for: only what the line holds
    // counts.
    const std::optional<LineState> held = readLineState(fd);
    if (held && !(*held == asked)) {
        m_error = QStringLiteral("线路实际设置为 %1，不是要求的 %2").arg(describe(*held), describe(asked));
        ::close(fd);
        return false;
    }
    ::tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    m_readable = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    m_readable->setEnabled(m_rThreshold > 0);
    connect(m_readable, &QSocketNotifier::activated, this, &UartCom::onReadable);
    m_writable = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &UartCom::drain);
    return true;
}

void UartCom::closePort()
{
    // Possibly called from one of the notifiers' own signal: they go once it has returned.
    for (QSocketNotifier* notifier : { m_writable, m_readable }) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_writable = m_readable = nullptr;
    m_readRest->stop();
    const int dropped = int(m_queue.size());
    m_queue.clear();
    m_queuedBytes = 0;
    m_net.close();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (dropped > 0) {
        Q_EMIT outputDropped(dropped);
    }
}

qsizetype UartCom::writeSome(const char* bytes, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, bytes + done, std::size_t(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break; // the line is full for now
        }
        m_error = QStringLiteral("设备已断开（写入失败：%1）").arg(fileErrorReason(errno));
        lose(m_error);
        return -1;
    }
    return done;
}

qsizetype UartCom::readSome(char* into, qsizetype capacity)
{
    qsizetype got = 0;
    while (got < capacity) {
        const ssize_t n = ::read(m_fd, into + got, std::size_t(capacity - got));
        if (n > 0) {
            got += n; // a terminal hands out a few KiB a read: go on while it has more
            // Asked first: a read that finds nothing waits for the kernel's buffer worker,
            // which costs a flood more than the read itself.
            int queued = 0;
            if (::ioctl(m_fd, FIONREAD, &queued) == 0 && queued == 0) {
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: the other end of the line is gone (an adapter pulled, a closed terminal).
            lose(QStringLiteral("设备已断开（读取失败：%1）").arg(fileErrorReason(errno)));
            return -1;
        }
        if (n == 0) {
            // Nothing to read on a line said to be readable: a hang-up, if the system says so.
            pollfd p { m_fd, POLLIN, 0 };
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                lose(QStringLiteral("设备已断开（线路挂断）"));
                return -1;
            }
        }
        break;
    }
    return got;
}

UartCom::OutputStatus UartCom::setOutput(const QByteArray& bytes, quint64* ticket)
{
    if (m_net.isOpen()) {
        const NetworkPort::WriteStatus status = m_net.write(bytes, ticket);
        m_error = m_net.errorString();
        switch (status) {
        case NetworkPort::WriteStatus::Written:
            return OutputStatus::Written;
        case NetworkPort::WriteStatus::Queued:
            return OutputStatus::Queued;
        case NetworkPort::WriteStatus::QueueFull:
            return OutputStatus::QueueFull;
        case NetworkPort::WriteStatus::Failed:
            break;
        }
        return OutputStatus::Failed;
    }
    if (m_fd < 0) {
        m_error = QStringLiteral("串口没有打开");
        return OutputStatus::Failed;
    }
    qsizetype done = 0;
    // Behind a queue, a command waits its turn; otherwise the system takes what it can now.
    if (m_queue.empty()) {
        done = writeSome(bytes.constData(), bytes.size());
        if (done < 0) {
            return OutputStatus::Failed; // whatever part went out, the command did not: not logged
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
    while (!m_queue.empty()) {
        Pending& p = m_queue.front();
        const qsizetype n = writeSome(p.bytes.constData() + p.done, p.bytes.size() - p.done);
        if (n < 0) {
            return;
        }
        p.done += n;
        m_queuedBytes -= n;
        if (p.done < p.bytes.size()) {
            break; // still full: the notifier calls again
        }
        const quint64 ticket = p.ticket;
        m_queue.pop_front();
        Q_EMIT outputWritten(ticket);
    }
    if (m_writable) {
        m_writable->setEnabled(!m_queue.empty());
    }
}

void UartCom::onReadable()
{
    const qsizetype got = readSome(m_readBuffer.data(), m_readBuffer.size());
    if (got < 0) {
        return;
    }
    // A trickle rests a moment to gather; a flood (bytes coming faster than a serial line
    // brings them) goes on at once.
    m_windowBytes += got;
    if (!m_rateWindow.isValid()) {
        m_rateWindow.start();
    } else if (const qint64 ms = m_rateWindow.elapsed(); ms >= RateWindowMs) {
        m_flooding = m_windowBytes >= FloodBytesPerMs * ms;
        m_windowBytes = 0;
        m_rateWindow.restart();
    }
    if (!m_flooding && got < FloodRead) {
        m_readable->setEnabled(false);
        m_readRest->start();
    }
    if (got > 0) {
        m_bytesReceived += got;
        m_commEvent = comEvReceive;
        Q_EMIT OnComm(QByteArray(m_readBuffer.constData(), got));
    }
}

QByteArray UartCom::Input()
{
    if (m_net.isOpen()) {
        return {}; // a network line hands on what arrives in OnComm() only
    }
    if (m_fd < 0) {
        return {};
    }
    QByteArray bytes(m_inputLen > 0 ? m_inputLen : ReadBurst, Qt::Uninitialized);
    bytes.truncate(std::max<qsizetype>(0, readSome(bytes.data(), bytes.size())));
    m_bytesReceived += bytes.size();
    return bytes;
}

void UartCom::lose(const QString& reason)
{
    if (m_fd < 0) {
        return;
    }
    closePort();
    Q_EMIT deviceLost(reason);
}

} // namespace comkeys

#include "moc_UartCom.cpp"
