#include "DeviceSimulator.h"

#include <QDateTime>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace comkeys {

DeviceSimulator::DeviceSimulator(QObject* parent)
    : QObject(parent)
    , m_floodTimer(new QTimer(this))
{
    // Paced floods go out in 1 ms steps, as a USB serial adapter delivers.
    m_floodTimer->setInterval(1);
    m_floodTimer->setTimerType(Qt::PreciseTimer);
    connect(m_floodTimer, &QTimer::timeout, this, &DeviceSimulator::fillFlood);
}

DeviceSimulator::~DeviceSimulator() { vanish(); }

bool DeviceSimulator::start()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        vanish();
        return false;
    }
    m_devicePath = QString::fromLocal8Bit(::ptsname(m_master));
    m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        vanish();
        return false;
    }
    // Raw, so nothing the device sends is echoed or cooked before the tool opens the line.
    termios tio {};
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    m_readNotifier->setEnabled(m_reading);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &DeviceSimulator::onReadable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &DeviceSimulator::onWritable);
    return true;
}

bool DeviceSimulator::loadReplies(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq < 0) {
            m_error = QStringLiteral("line without '=': %1").arg(QString::fromUtf8(line));
            return false;
        }
        setReply(line.left(eq), line.mid(eq + 1));
    }
    return true;
}

void DeviceSimulator::setReply(const QByteArray& command, const QByteArray& reply)
{
    m_replies.insert(command, reply);
}

QByteArray DeviceSimulator::replyFor(const QByteArray& command) const
{
    if (m_echo) {
        return command;
    }
    if (const auto it = m_replies.constFind(command); it != m_replies.cend()) {
        return *it;
    }
    return command == "AT" ? QByteArray("OK") : QByteArray("ERROR");
}

void DeviceSimulator::onReadable()
{
    char buf[4096];
    // A slow device takes one slice's worth, then leaves the rest in the line for a while.
    constexpr int SliceMs = 10;
    qint64 budget = m_readRate > 0 ? std::max<qint64>(1, m_readRate * SliceMs / 1000) : -1;
    if (budget > 0 && m_readNotifier) {
        m_readNotifier->setEnabled(false);
        QTimer::singleShot(SliceMs, this, [this] {
            if (m_reading && m_readNotifier) {
                m_readNotifier->setEnabled(true);
            }
        });
    }
    while (budget != 0) {
        const ssize_t n = ::read(m_master, buf, budget < 0 ? sizeof buf : std::size_t(std::min<qint64>(budget, sizeof buf)));
        if (n <= 0) {
            break;
        }
        if (budget > 0) {
            budget -= n;
        }
        m_received.append(buf, n);
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buf[i];
            if (c == '\n') {
                continue;
            }
            if (c != '\r') {
                m_line.append(c);
                continue;
            }
            const QByteArray command = m_line;
            m_line.clear();
            Q_EMIT commandReceived(command);
            if (command.isEmpty()) {
                continue;
            }
            const QByteArray reply = replyFor(command) + '\r';
            if (m_replyDelay > 0) {
                QTimer::singleShot(m_replyDelay, this, [this, reply] { send(reply); });
            } else {
                send(reply);
            }
        }
    }
}

bool DeviceSimulator::send(const QByteArray& bytes)
{
    if (m_master < 0) {
        return false;
    }
    m_pending.append(bytes);
    onWritable();
    return true;
}

void DeviceSimulator::onWritable()
{
    while (!m_pending.isEmpty()) {
        const ssize_t n = ::write(m_master, m_pending.constData(), std::size_t(m_pending.size()));
        if (n <= 0) {
            break;
        }
        m_pending.remove(0, n);
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(!m_pending.isEmpty() || (m_flooding && m_floodRate == 0));
    }
    if (m_flooding && m_floodRate == 0 && m_pending.isEmpty()) {
        fillFlood();
    }
}

void DeviceSimulator::startFlood(qint64 bytesPerSecond, FloodPattern pattern, int lineLength)
{
    m_flooding = true;
    m_floodRate = bytesPerSecond;
    m_pattern = pattern;
    m_lineLength = std::max(1, lineLength);
    m_flooded = 0;
    m_floodStartMs = QDateTime::currentMSecsSinceEpoch();
    m_floodTimer->start();
    fillFlood();
}

void DeviceSimulator::stopFlood()
{
    m_flooding = false;
    m_floodTimer->stop();
}

void DeviceSimulator::fillFlood()
{
    if (!m_flooding || m_master < 0) {
        return;
    }
    qint64 budget = 64 * 1024;
    if (m_floodRate > 0) {
        const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_floodStartMs;
        budget = std::min<qint64>(budget, m_floodRate * elapsed / 1000 - m_flooded);
    }
    if (budget <= 0 || m_pending.size() > 64 * 1024) {
        return;
    }
    // Letters and digits only: the data never starts a chunk with '#' by design.
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const char* ending = m_pattern == FloodPattern::LineFeed ? "\n"
        : m_pattern == FloodPattern::CarriageReturnLineFeed  ? "\r\n"
                                                             : "";
    QByteArray chunk;
    chunk.reserve(budget + 2);
    while (chunk.size() < budget) {
        if (m_pattern != FloodPattern::Plain && m_floodCounter > 0
            && m_floodCounter % quint64(m_lineLength) == 0) {
            chunk.append(ending);
        }
        chunk.append(Alphabet[m_floodCounter % (sizeof Alphabet - 1)]);
        ++m_floodCounter;
    }
    m_flooded += chunk.size();
    send(chunk);
}

QString DeviceSimulator::lineSettings() const
{
    termios tio {};
    if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0) {
        return {};
    }
    static const std::pair<speed_t, int> speeds[] = { { B1200, 1200 }, { B2400, 2400 }, { B4800, 4800 },
                                                      { B9600, 9600 }, { B19200, 19200 }, { B38400, 38400 },
                                                      { B57600, 57600 }, { B115200, 115200 }, { B230400, 230400 } };
    const speed_t speed = ::cfgetospeed(&tio);
    QString rate = QStringLiteral("other");
    for (const auto& [code, value] : speeds) {
        if (code == speed) {
            rate = QString::number(value);
        }
    }
    const QChar parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? u'o' : u'e') : u'n';
    const int bits = (tio.c_cflag & CSIZE) == CS8 ? 8 : (tio.c_cflag & CSIZE) == CS7 ? 7 : (tio.c_cflag & CSIZE) == CS6 ? 6 : 5;
    const int stops = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return QStringLiteral("%1,%2,%3,%4").arg(rate).arg(parity).arg(bits).arg(stops);
}

void DeviceSimulator::setReading(bool reading)
{
    m_reading = reading;
    if (m_readNotifier) {
        m_readNotifier->setEnabled(reading);
    }
    if (reading) {
        onReadable();
    }
}

void DeviceSimulator::unplug(const QString& link)
{
    vanish();
    QFile::remove(link);
}

bool DeviceSimulator::replug(const QString& link)
{
    vanish();
    if (!start()) {
        return false;
    }
    QFile::remove(link);
    if (!QFile::link(m_devicePath, link)) {
        m_error = QStringLiteral("cannot create the link %1").arg(link);
        return false;
    }
    return true;
}

void DeviceSimulator::vanish()
{
    stopFlood();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    m_pending.clear();
}

} // namespace comkeys

#include "moc_DeviceSimulator.cpp"
