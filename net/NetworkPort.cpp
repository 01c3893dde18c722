#include "NetworkPort.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>

#include <string_view>

namespace comkeys {

using namespace telnet;

namespace {
    const QString RawScheme = QStringLiteral("tcp://");
    const QString TelnetScheme = QStringLiteral("rfc2217://");

    QString commandName(std::uint8_t cmd)
    {
        switch (cmd) {
        case CpSetBaudRate:
            return QStringLiteral("速率（SET-BAUDRATE）");
        case CpSetDataSize:
            return QStringLiteral("数据位（SET-DATASIZE）");
        case CpSetParity:
            return QStringLiteral("校验（SET-PARITY）");
        default:
            return QStringLiteral("停止位（SET-STOPSIZE）");
        }
    }

    constexpr char ParityLetters[] = "?noems"; // RFC 2217 parity codes 1 to 5
} // namespace

QString NetworkAddress::text() const
{
    const QString host = this->host.contains(u':') ? u'[' + this->host + u']' : this->host;
    return (kind == Kind::Raw ? RawScheme : TelnetScheme) + host + u':' + QString::number(port);
}

bool isNetworkPortText(const QString& text)
{
    return text.startsWith(RawScheme, Qt::CaseInsensitive) || text.startsWith(TelnetScheme, Qt::CaseInsensitive);
}

std::optional<NetworkAddress> parseNetworkAddress(const QString& text)
{
    NetworkAddress a;
    QString rest;
    if (text.startsWith(RawScheme, Qt::CaseInsensitive)) {
        rest = text.mid(RawScheme.size());
    } else if (text.startsWith(TelnetScheme, Qt::CaseInsensitive)) {
        a.kind = NetworkAddress::Kind::Rfc2217;
        rest = text.mid(TelnetScheme.size());
    } else {
        return std::nullopt;
    }
    const qsizetype colon = rest.lastIndexOf(u':');
    if (colon < 1) {
        return std::nullopt;
    }
    const QString host = rest.left(colon);
    const QString port = rest.mid(colon + 1);
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(port).hasMatch() || port.toInt() < 1 || port.toInt() > 65535) {
        return std::nullopt;
    }
    a.port = quint16(port.toInt());
    if (host.startsWith(u'[')) {
        // Brackets hold an IPv6 address and nothing else.
        const QString inner = host.mid(1, host.size() - 2);
        QHostAddress address;
        if (!host.endsWith(u']') || !inner.contains(u':') || !address.setAddress(inner)
            || address.protocol() != QAbstractSocket::IPv6Protocol) {
            return std::nullopt;
        }
        a.host = inner;
        return a;
    }
    // A name of dot-separated labels (letters, digits, inner hyphens) or an IPv4 address.
    static const QRegularExpression name(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    static const QRegularExpression dotted(QStringLiteral("^[0-9.]+$"));
    if (host.size() > 253 || !name.match(host).hasMatch()) {
        return std::nullopt;
    }
    if (dotted.match(host).hasMatch()) {
        QHostAddress address;
        if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv4Protocol
            || host.count(u'.') != 3) {
            return std::nullopt;
        }
    }
    a.host = host;
    return a;
}

QStringList withRecentPort(QStringList recent, const QString& address, int keep)
{
    recent.removeAll(address);
    recent.prepend(address);
    while (recent.size() > keep) {
        recent.removeLast();
    }
    return recent;
}

QString RemoteLineFormat::text() const
{
    return QStringLiteral("%1,%2,%3,%4").arg(rate).arg(QChar::fromLatin1(parity)).arg(dataBits).arg(stopBits);
}

NetworkPort::NetworkPort(QObject* parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &NetworkPort::onTimeout);
    m_controlTimer.setSingleShot(true);
    connect(&m_controlTimer, &QTimer::timeout, this, [this] {
        Q_EMIT note(QStringLiteral("警告：服务器在 %1 秒内没有回应 DTR/RTS 设置（SET-CONTROL），"
                                   "远端串口的 DTR/RTS 可能没有打开")
                        .arg(AnswerTimeoutMs / 1000));
    });
}

NetworkPort::~NetworkPort()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void NetworkPort::open(const NetworkAddress& address, const RemoteLineFormat& format)
{
    close();
    m_address = address;
    m_format = format;
    m_parser = {};
    m_us.fill(Want::No);
    m_him.fill(Want::No);
    m_awaiting.clear();
    m_controlsAwaited = 0;
    m_acknowledged.clear();
    m_modemState.reset();
    m_early.clear();
    m_handed = 0;
    m_summary.clear();
    m_error.clear();
    m_phase = Phase::Connecting;
    m_socket = new QTcpSocket(this);
    // A flood is taken in bounded helpings, so the window never chews on megabytes at once;
    // the rest waits in the system.
    m_socket->setReadBufferSize(ReadHelping);
    connect(m_socket, &QTcpSocket::connected, this, &NetworkPort::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkPort::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &NetworkPort::onBytesWritten);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetworkPort::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { onSocketError(QAbstractSocket::RemoteHostClosedError); });
    m_timer.start(ConnectTimeoutMs);
    // Resolving the name and connecting both run in the background.
    m_socket->connectToHost(address.host, address.port);
}

void NetworkPort::close()
{
    m_timer.stop();
    m_controlTimer.stop();
    m_phase = Phase::Closed;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    const int commands = int(m_pending.size());
    m_pending.clear();
    if (commands > 0) {
        Q_EMIT dropped(commands);
    }
}

void NetworkPort::fail(const QString& reason)
{
    m_error = reason;
    const bool wasOpen = isOpen();
    close();
    if (wasOpen) {
        Q_EMIT lost(reason);
    } else {
        Q_EMIT failed(reason);
    }
}

void NetworkPort::onSocketError(QAbstractSocket::SocketError error)
{
    if (m_phase == Phase::Closed) {
        return;
    }
    const QString where = m_address.text();
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        fail(QStringLiteral("%1 拒绝连接（那里没有服务在监听）").arg(where));
        break;
    case QAbstractSocket::HostNotFoundError:
        fail(QStringLiteral("找不到主机 %1").arg(m_address.host));
        break;
    case QAbstractSocket::RemoteHostClosedError:
        fail(QStringLiteral("服务器 %1 关闭了连接").arg(where));
        break;
    case QAbstractSocket::NetworkError:
        fail(QStringLiteral("网络不可达：%1（%2）").arg(where, m_socket->errorString()));
        break;
    default:
        fail(QStringLiteral("网络连接出错：%1（%2）").arg(where, m_socket->errorString()));
        break;
    }
}

void NetworkPort::onConnected()
{
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (m_address.kind == NetworkAddress::Kind::Raw) {
        m_summary = QStringLiteral("%1：原始 TCP 连接，线路设置由服务器一方决定").arg(m_address.text());
        finishOpen();
        return;
    }
    m_phase = Phase::Negotiating;
    // Binary both ways, so 0x0D and 0xFF pass untouched; then the serial line's own option.
    m_us[OptBinary] = Want::Asked;
    m_him[OptBinary] = Want::Asked;
    m_us[OptComPort] = Want::Asked;
    if (send(command(Will, OptBinary) + command(Do, OptBinary) + command(Will, OptComPort))) {
        m_timer.start(AnswerTimeoutMs);
    }
}

bool NetworkPort::send(const QByteArray& wire)
{
    // The socket queues whatever it is given; one that takes less has failed, and says why.
    if (m_socket->write(wire) != wire.size()) {
        fail(QStringLiteral("网络写入失败：%1（%2）").arg(m_address.text(), m_socket->errorString()));
        return false;
    }
    m_handed += wire.size();
    m_socket->flush(); // may find the connection broken: the error closes the port at once
    return m_socket != nullptr;
}

void NetworkPort::onReadyRead()
{
    if (!m_socket) {
        return;
    }
    const QByteArray bytes = m_socket->readAll();
    QByteArray data;
    if (m_address.kind == NetworkAddress::Kind::Raw) {
        data = bytes;
    } else {
        std::vector<Event> events;
        m_parser.feed(bytes, data, events);
        for (const Event& e : events) {
            handle(e);
            if (!m_socket) {
                return; // the open finished badly meanwhile
            }
        }
    }
    if (data.isEmpty()) {
        return;
    }
    if (isOpen()) {
        Q_EMIT received(data);
    } else {
        m_early += data;
    }
}

void NetworkPort::handle(const Event& e)
{
    const std::uint8_t x = e.option;
    if (e.verb == Sb) {
        if (x == OptComPort && !e.payload.isEmpty()) {
            handleComPort(std::uint8_t(e.payload[0]), e.payload.mid(1));
        }
        return;
    }
    // The server asks or answers about an option. Only state changes get an answer, so the
    // two sides never answer each other for ever.
    const bool ours = x == OptBinary || x == OptSuppressGoAhead || x == OptComPort;
    const bool theirs = x == OptBinary || x == OptSuppressGoAhead || x == OptEcho;
    switch (e.verb) {
    case Will:
        if (!theirs) {
            send(command(Dont, x));
        } else if (m_him[x] != Want::Yes) {
            if (m_him[x] == Want::No) {
                send(command(Do, x));
            }
            m_him[x] = Want::Yes;
        }
        break;
    case Wont:
        if (m_him[x] == Want::Yes) {
            send(command(Dont, x));
        } else if (m_him[x] == Want::Asked && x == OptBinary) {
            Q_EMIT note(QStringLiteral("警告：服务器不以二进制方式发送（BINARY），收到的 0x0D 之后的字节可能被改动"));
        }
        m_him[x] = Want::No;
        // Some servers say WONT where they mean they will not take the option from us.
        if (x == OptComPort && m_us[x] == Want::Asked) {
            m_us[x] = Want::No;
            comPortRefused();
        }
        break;
    case Do:
        if (!ours) {
            send(command(Wont, x));
            break;
        }
        if (m_us[x] == Want::No) {
            send(command(Will, x));
        }
        if (m_us[x] != Want::Yes) {
            m_us[x] = Want::Yes;
            if (x == OptComPort) {
                sendLineFormat();
            }
        }
        break;
    case Dont:
        if (m_us[x] == Want::Yes) {
            send(command(Wont, x));
        } else if (m_us[x] == Want::Asked) {
            if (x == OptComPort) {
                m_us[x] = Want::No;
                comPortRefused();
                return;
            }
            if (x == OptBinary) {
                Q_EMIT note(QStringLiteral("警告：服务器不接收二进制数据（BINARY），发出的 0x0D 和 0xFF 可能被改动"));
            }
        }
        m_us[x] = Want::No;
        break;
    default:
        break;
    }
}

void NetworkPort::comPortRefused()
{
    if (m_phase != Phase::Negotiating) {
        return;
    }
    m_summary = QStringLiteral("%1：服务器不接受 COM-PORT-OPTION，线路设置 %2 没有设置，按原始线路使用")
                    .arg(m_address.text(), m_format.text());
    Q_EMIT note(QStringLiteral("警告：") + m_summary);
    finishOpen();
}

void NetworkPort::sendLineFormat()
{
    if (m_phase != Phase::Negotiating) {
        return;
    }
    const quint32 r = m_format.rate;
    const char rate[4] = { char(r >> 24), char(r >> 16), char(r >> 8), char(r) };
    const int parity = int(std::string_view(ParityLetters).find(m_format.parity));
    const char stop = m_format.stopBits == QStringLiteral("2") ? 2 : m_format.stopBits == QStringLiteral("1.5") ? 3 : 1;
    constexpr char DtrOn = 8;
    constexpr char RtsOn = 11;
    // Line events worth reporting: break, framing, parity and overrun errors; carrier changes.
    constexpr char LineMask = 0x1E;
    constexpr char ModemMask = char(0x88);
    QByteArray wire = comPort(CpSetBaudRate, QByteArrayView(rate, 4));
    wire += comPort(CpSetDataSize, QByteArray(1, char(m_format.dataBits)));
    wire += comPort(CpSetParity, QByteArray(1, char(parity)));
    wire += comPort(CpSetStopSize, QByteArray(1, stop));
    wire += comPort(CpSetControl, QByteArray(1, DtrOn));
    wire += comPort(CpSetControl, QByteArray(1, RtsOn));
    wire += comPort(CpSetLineStateMask, QByteArray(1, LineMask));
    wire += comPort(CpSetModemStateMask, QByteArray(1, ModemMask));
    m_awaiting = { CpSetBaudRate, CpSetDataSize, CpSetParity, CpSetStopSize };
    // DTR and RTS are not worth holding the open up for; their answers are awaited apart.
    m_controlsAwaited = 2;
    if (!send(wire)) {
        return; // no answers to wait for on a closed port
    }
    m_timer.start(AnswerTimeoutMs);
    m_controlTimer.start(AnswerTimeoutMs);
}

void NetworkPort::handleComPort(std::uint8_t cmd, const QByteArray& value)
{
    if (cmd < ServerOffset || value.isEmpty()) {
        return; // requests from the server (a signature query and the like) are not needed
    }
    cmd -= ServerOffset;
    const auto v = std::uint8_t(value[0]);
    if (cmd == CpNotifyLineState || cmd == CpNotifyModemState) {
        lineEvent(cmd, v);
        return;
    }
    if (cmd == CpSetControl) {
        if (m_controlsAwaited > 0 && --m_controlsAwaited == 0) {
            m_controlTimer.stop();
        }
        return;
    }
    if (m_phase != Phase::Negotiating || !m_awaiting.removeOne(cmd)) {
        return;
    }
    QString asked;
    QString answered;
    switch (cmd) {
    case CpSetBaudRate:
        if (value.size() < 4) {
            return;
        }
        asked = QString::number(m_format.rate);
        answered = QString::number(quint32(v) << 24 | quint32(std::uint8_t(value[1])) << 16
                                   | quint32(std::uint8_t(value[2])) << 8 | std::uint8_t(value[3]));
        m_acknowledged << QStringLiteral("速率 ") + answered;
        break;
    case CpSetDataSize:
        asked = QString::number(m_format.dataBits);
        answered = QString::number(v);
        m_acknowledged << QStringLiteral("数据位 ") + answered;
        break;
    case CpSetParity:
        asked = QChar::fromLatin1(m_format.parity);
        answered = v >= 1 && v <= 5 ? QString(QChar::fromLatin1(ParityLetters[v])) : QString::number(v);
        m_acknowledged << QStringLiteral("校验 ") + answered;
        break;
    case CpSetStopSize:
        asked = m_format.stopBits;
        answered = v == 3 ? QStringLiteral("1.5") : QString::number(v);
        m_acknowledged << QStringLiteral("停止位 ") + answered;
        break;
    default:
        break;
    }
    if (asked != answered) {
        Q_EMIT note(QStringLiteral("警告：%1 要求 %2，服务器回应的是 %3").arg(commandName(cmd), asked, answered));
    }
    if (m_awaiting.isEmpty()) {
        finishOpen();
    }
}

void NetworkPort::lineEvent(std::uint8_t cmd, std::uint8_t state)
{
    if (cmd == CpNotifyLineState) {
        const std::pair<std::uint8_t, QString> errors[] = { { 0x10, QStringLiteral("中断信号（break）") },
                                                             { 0x08, QStringLiteral("帧错误") },
                                                             { 0x04, QStringLiteral("校验错误") },
                                                             { 0x02, QStringLiteral("接收溢出") } };
        QStringList seen;
        for (const auto& [bit, text] : errors) {
            if (state & bit) {
                seen << text;
            }
        }
        if (!seen.isEmpty()) {
            Q_EMIT note(QStringLiteral("远端串口报告：") + seen.join(QStringLiteral("、")));
        }
        return;
    }
    constexpr std::uint8_t Carrier = 0x80;
    const bool had = m_modemState ? (*m_modemState & Carrier) != 0 : true;
    const bool has = (state & Carrier) != 0;
    // Only a change is news: a line that never had a carrier says nothing.
    if (m_modemState && had != has) {
        Q_EMIT note(has ? QStringLiteral("远端串口：载波恢复") : QStringLiteral("远端串口：载波丢失（carrier lost）"));
    }
    m_modemState = state;
}

void NetworkPort::onTimeout()
{
    if (m_phase == Phase::Connecting) {
        fail(QStringLiteral("%1 秒内没有连上 %2").arg(ConnectTimeoutMs / 1000).arg(m_address.text()));
        return;
    }
    if (m_phase != Phase::Negotiating) {
        return;
    }
    if (m_us[OptComPort] == Want::Asked) {
        m_summary = QStringLiteral("%1：服务器没有回应 COM-PORT-OPTION，线路设置 %2 没有设置，按原始线路使用")
                        .arg(m_address.text(), m_format.text());
        Q_EMIT note(QStringLiteral("警告：") + m_summary);
        finishOpen();
        return;
    }
    QStringList silent;
    for (std::uint8_t cmd : std::as_const(m_awaiting)) {
        silent << commandName(cmd);
    }
    Q_EMIT note(QStringLiteral("警告：服务器在 %1 秒内没有回应 %2")
                    .arg(AnswerTimeoutMs / 1000)
                    .arg(silent.join(QStringLiteral("、"))));
    finishOpen();
}

void NetworkPort::finishOpen()
{
    m_timer.stop();
    if (m_address.kind == NetworkAddress::Kind::Rfc2217 && m_summary.isEmpty()) {
        m_summary = QStringLiteral("%1：服务器已确认（acknowledged）%2")
                        .arg(m_address.text(),
                             m_acknowledged.isEmpty() ? QStringLiteral("——没有确认任何线路设置")
                                                      : m_acknowledged.join(QStringLiteral("，")));
        Q_EMIT note(m_summary);
    }
    m_phase = Phase::Open;
    Q_EMIT opened();
    if (!m_early.isEmpty() && isOpen()) {
        Q_EMIT received(std::exchange(m_early, QByteArray()));
    }
}

NetworkPort::WriteStatus NetworkPort::write(const QByteArray& bytes, quint64* ticket)
{
    if (!isOpen()) {
        m_error = QStringLiteral("网络端口没有打开");
        return WriteStatus::Failed;
    }
    const QByteArray wire = m_address.kind == NetworkAddress::Kind::Raw ? bytes : escape(bytes);
    // Whole or nothing: a command that would overfill the queue is refused before it goes.
    if (m_socket->bytesToWrite() + wire.size() > OutputQueueLimit) {
        m_error = QStringLiteral("发送队列已满（还有 %1 字节等待服务器接收）").arg(m_socket->bytesToWrite());
        return WriteStatus::QueueFull;
    }
    if (!send(wire)) {
        return WriteStatus::Failed; // the connection broke while writing
    }
    onBytesWritten(0); // earlier commands that are out by now are told first, in order
    if (m_socket->bytesToWrite() == 0) {
        return WriteStatus::Written;
    }
    const quint64 t = m_nextTicket++;
    if (ticket) {
        *ticket = t;
    }
    m_pending.push_back(Pending { m_handed, t });
    return WriteStatus::Queued;
}

qsizetype NetworkPort::queuedBytes() const
{
    return m_socket ? qsizetype(m_socket->bytesToWrite()) : 0;
}

void NetworkPort::onBytesWritten(qint64)
{
    if (!m_socket) {
        return;
    }
    const qint64 out = m_handed - m_socket->bytesToWrite();
    while (!m_pending.empty() && m_pending.front().end <= out) {
        const quint64 t = m_pending.front().ticket;
        m_pending.pop_front();
        Q_EMIT written(t);
    }
}

} // namespace comkeys

#include "moc_NetworkPort.cpp"
