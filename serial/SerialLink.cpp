#include "SerialLink.h"

#include <QDateTime>
#include <QThread>

#include <cstring>
#include <utility>

namespace comkeys {

namespace {
    const QString Notice = QStringLiteral("提示");
    const QString NotOpen = QStringLiteral("串口没有打开！");
    constexpr char CR = 13;
    constexpr int MaxPort = 15;
    constexpr int SendLenMax = 255;
} // namespace

std::optional<int> portNumberFromText(const QString& portText)
{
    const QString digits = portText.mid(3);
    if (digits.isEmpty() || digits.size() > 3) {
        return std::nullopt;
    }
    for (QChar c : digits) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
    }
    const int n = digits.toInt();
    if (n < 1 || n > 255) {
        return std::nullopt;
    }
    return std::min(n, MaxPort);
}

QString SerialLink::markerHeader()
{
    return QStringLiteral("           *****************接收数据");
}

SerialLink::SerialLink(SharedState& state, UartCom& uart, Dialogs& dialogs, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_uart(uart)
    , m_dialogs(dialogs)
{
    connect(&m_uart, &UartCom::OnComm, this, &SerialLink::onComm);
    connect(&m_uart, &UartCom::deviceLost, this, &SerialLink::onDeviceLost);
    connect(&m_uart, &UartCom::outputWritten, this, [this](quint64 ticket) {
        if (const auto it = m_awaiting.find(ticket); it != m_awaiting.end()) {
            const Awaiting done = *it;
            m_awaiting.erase(it);
            sent(done.log, done.bytes, done.caption, done.id);
        }
    });
    connect(&m_uart, &UartCom::outputDropped, this, [this](int commands) {
        const QHash<quint64, Awaiting> dropped = std::exchange(m_awaiting, {});
        for (const Awaiting& a : dropped) {
            if (a.id != 0) {
                Q_EMIT commandDone(a.id, -1);
            }
        }
        logEvent(QStringLiteral("串口关闭时还有 %1 条命令没有发出，已丢弃（没有记入发送记录）").arg(commands));
    });
    connect(&m_uart, &UartCom::opened, this, &SerialLink::onNetworkOpened);
    connect(&m_uart, &UartCom::openFailed, this, &SerialLink::onNetworkFailed);
    connect(&m_uart, &UartCom::note, this, &SerialLink::logEvent);
    m_reconnect.setInterval(500);
    connect(&m_reconnect, &QTimer::timeout, this, &SerialLink::tryReconnect);
}

void SerialLink::logEvent(const QString& text)
{
    m_log.append(QStringLiteral("【串口】") + text + QStringLiteral("\r\n"));
    Q_EMIT logChanged();
}

void SerialLink::setAutoReconnect(bool on)
{
    m_autoReconnect = on;
    if (!on) {
        m_reconnect.stop();
    } else if (m_status == Status::Lost) {
        m_reconnect.start();
    }
}

void SerialLink::onDeviceLost(const QString& reason)
{
    const QString again = m_uart.isNetwork() ? QStringLiteral("；服务器重新可用后会自动连接")
                                             : QStringLiteral("；设备重新接入后会自动打开");
    setStatus(Status::Lost, m_autoReconnect ? reason + again : reason);
    logEvent(QStringLiteral("串口设备已断开：%1").arg(reason));
    if (m_autoReconnect) {
        m_reconnect.start();
    }
}

void SerialLink::tryReconnect()
{
    if (m_uart.isNetwork()) {
        // Connecting runs in the background; one attempt at a time, the answer comes later.
        if (!m_uart.isOpening()) {
            m_uart.openNetwork();
        }
        return;
    }
    if (!m_uart.isDeviceBack() || !m_uart.setPortOpen(true)) {
        return; // not back yet, or not usable yet: try again shortly
    }
    m_reconnect.stop();
    setStatus(Status::Opened);
    logEvent(QStringLiteral("串口已自动重新打开：%1").arg(m_uart.deviceName()));
}

void SerialLink::onNetworkOpened()
{
    const bool again = m_status == Status::Lost;
    m_reconnect.stop();
    setStatus(Status::Opened, m_uart.networkSummary());
    m_uart.setRThreshold(1);
    if (again) {
        logEvent(QStringLiteral("串口已自动重新打开：%1").arg(m_uart.deviceName()));
    }
}

void SerialLink::onNetworkFailed(const QString& reason)
{
    // While waiting to reconnect a failed attempt is no news: the next one follows.
    if (m_status == Status::Connecting) {
        openFailed(reason); // it names the address already
    }
}

void SerialLink::openFailed(const QString& failure)
{
    m_dialogs.notice(NotOpen);
    setStatus(Status::OpenFailed, failure);
    logEvent(QStringLiteral("串口没有打开成功：%1").arg(failure));
}

QString SerialLink::statusText() const
{
    switch (m_status) {
    case Status::NeverOpened:
        return QStringLiteral("串口没有打开");
    case Status::Opened:
        return QStringLiteral("串口已经打开");
    case Status::OpenFailed:
        return QStringLiteral("串口没有打开成功");
    case Status::Lost:
        return QStringLiteral("串口已经断开");
    case Status::Connecting:
        return QStringLiteral("串口正在打开");
    case Status::Closed:
        break;
    }
    return QStringLiteral("串口已经关闭");
}

QColor SerialLink::statusColor() const
{
    return m_status == Status::Opened ? QColor(0, 128, 0) : QColor(255, 0, 0);
}

void SerialLink::setStatus(Status status, const QString& detail)
{
    m_status = status;
    m_detail = detail;
    if (status == Status::Opened) {
        m_indicator = QColor(0, 255, 0);
    } else if (status == Status::Closed || status == Status::Lost) {
        m_indicator = QColor(255, 0, 0);
    }
    Q_EMIT statusChanged();
}

void SerialLink::openPressed(const QString& portText, const QString& rateText)
{
    // The number is taken first, also when the port is already open.
    const bool isPath = portText.startsWith(u'/') || isNetworkPortText(portText);
    const std::optional<int> n = isPath ? std::optional<int>(1) : portNumberFromText(portText);
    if (m_uart.PortOpen()) {
        m_dialogs.notice(QStringLiteral("串口已经打开！"));
        return;
    }
    if (m_status == Status::Lost) {
        (void)m_uart.setPortOpen(false); // a reconnect attempt gives way to the user's open
    }
    if (m_uart.isOpening()) {
        m_dialogs.notice(QStringLiteral("正在连接网络端口，请稍候"));
        return;
    }
    m_reconnect.stop();

    QString failure;
    if (!n) {
        failure = QStringLiteral("“%1”不是 COM1 到 COM255 中的端口").arg(portText);
    } else if (!m_uart.setCommPort(*n)) {
        failure = m_uart.errorString();
    } else {
        if (isPath) {
            m_uart.setDevicePath(portText);
        }
        m_uart.setInputMode(1);
        const QString settings = rateText.contains(u',') ? rateText : rateText + QStringLiteral(",n,8,1");
        if (!m_uart.setSettings(settings)) {
            failure = m_uart.errorString();
        } else if (m_uart.isNetwork()) {
            if (!parseNetworkAddress(portText)) {
                failure = QStringLiteral("“%1”不是网络端口：应为 tcp://主机:端口 或 rfc2217://主机:端口，"
                                         "主机为名称、IPv4 地址或方括号中的 IPv6 地址")
                              .arg(portText);
            } else {
                // The answer comes later (onNetworkOpened, onNetworkFailed); the window goes on.
                setStatus(Status::Connecting, QStringLiteral("正在连接 ") + portText);
                m_uart.openNetwork();
                return;
            }
        } else if (!m_uart.setPortOpen(true)) {
            failure = m_uart.deviceName() + QStringLiteral(": ") + m_uart.errorString();
        }
    }
    if (!failure.isEmpty()) {
        openFailed(failure);
        return;
    }
    setStatus(Status::Opened);
    m_uart.setRThreshold(1);
}

void SerialLink::closePressed()
{
    m_reconnect.stop();
    if (!m_uart.PortOpen() && !m_uart.isOpening()) {
        return;
    }
    (void)m_uart.setPortOpen(false);
    setStatus(Status::Closed);
}

void SerialLink::listChosen()
{
    m_reconnect.stop();
    if (!m_uart.PortOpen() && !m_uart.isOpening()) {
        return;
    }
    (void)m_uart.setPortOpen(false);
    // The status follows the port: it no longer claims an open port that is closed.
    setStatus(Status::Closed);
    // A deliberate blocking pause, so the device sees the line idle before any reopen.
    QThread::msleep(100);
}

void SerialLink::sent(const QString& log, const QByteArray& bytes, const QString& caption, quint64 id)
{
    m_log.append(log);
    m_record.addSent(bytes, caption, QDateTime::currentMSecsSinceEpoch());
    Q_EMIT logChanged();
    if (id != 0) {
        Q_EMIT commandDone(id, m_record.nextNumber() - 1);
    }
}

void SerialLink::logNote(const QString& text)
{
    m_log.append(QStringLiteral("【自动】") + text + QStringLiteral("\r\n"));
    Q_EMIT logChanged();
}

namespace {
    QString lengthRefusal(const QString& commandText, bool enterChecked)
    {
        const qsizetype length = commandText.size();
        if (length == 0) {
            return QStringLiteral("请输入要发送的命令");
        }
        if (length == 1) {
            return QStringLiteral("命令至少要有首尾两个字符（一对引号），这个命令没有可发送的内容");
        }
        if (length + (enterChecked ? 1 : 0) > SendLenMax) {
            return QStringLiteral("命令太长：连同首尾引号最多 255 个字符，勾选加回车符时最多 254 个");
        }
        if (length == 2 && !enterChecked) {
            return QStringLiteral("两个引号之间没有命令，不加回车符时没有可发送的字节");
        }
        return {};
    }

    QString byteRefusal(const QString& body)
    {
        for (QChar c : body) {
            if (c.unicode() > 255) {
                return QStringLiteral("命令中的字符“%1”不能按单字节发送，没有发送").arg(c);
            }
        }
        return {};
    }
} // namespace

QString SerialLink::commandRefusal(const QString& commandText, bool enterChecked)
{
    if (QString reason = lengthRefusal(commandText, enterChecked); !reason.isEmpty()) {
        return reason;
    }
    return byteRefusal(commandText.mid(1, commandText.size() - 2));
}

void SerialLink::keyPressed(const QString& commandText, bool enterChecked, const QString& caption)
{
    m_caption = caption;
    if (const QString reason = lengthRefusal(commandText, enterChecked); !reason.isEmpty()) {
        m_dialogs.notice(reason);
        return;
    }
    m_state.Send_Len = std::uint8_t(commandText.size() + (enterChecked ? 1 : 0) - 2);
    m_state.Send_Cmd = commandText.mid(1, commandText.size() - 2);
    if (const SendResult result = sendRoutine(enterChecked); !result.accepted) {
        m_dialogs.notice(result.reason);
    }
}

SerialLink::SendResult SerialLink::sendCommand(const QString& commandText, bool enterChecked, const QString& caption)
{
    if (QString reason = lengthRefusal(commandText, enterChecked); !reason.isEmpty()) {
        return { false, false, false, 0, reason };
    }
    m_caption = caption;
    m_state.Send_Len = std::uint8_t(commandText.size() + (enterChecked ? 1 : 0) - 2);
    m_state.Send_Cmd = commandText.mid(1, commandText.size() - 2);
    return sendRoutine(enterChecked, m_nextSendId++);
}

SerialLink::SendResult SerialLink::sendRoutine(bool enterChecked, quint64 id)
{
    if (!m_uart.PortOpen()) {
        return { false, false, false, 0, NotOpen };
    }
    if (QString reason = byteRefusal(m_state.Send_Cmd); !reason.isEmpty()) {
        return { false, false, false, 0, reason };
    }
    m_state.Send_Buf = m_state.Send_Cmd.toLatin1();
    m_state.Send_Log = m_state.Send_Cmd;
    if (enterChecked) {
        m_state.Send_Buf.append(CR);
        m_state.Send_Log += QStringLiteral("     <CR>\r\n");
    } else {
        m_state.Send_Log += QStringLiteral("\r\n");
    }
    m_state.Send_Cmd.clear(); // the routine consumes it
    // Logged once every byte is with the system: now, or when the line has drained.
    quint64 ticket = 0;
    switch (m_uart.setOutput(m_state.Send_Buf, &ticket)) {
    case UartCom::OutputStatus::Written:
        sent(m_state.Send_Log, m_state.Send_Buf, m_caption, id);
        return { true, false, false, id, {} };
    case UartCom::OutputStatus::Queued:
        m_awaiting.insert(ticket, Awaiting { m_state.Send_Log, m_state.Send_Buf, m_caption, id });
        return { true, true, false, id, {} };
    case UartCom::OutputStatus::QueueFull:
        return { false, false, true, 0,
                 QStringLiteral("设备没有及时读取，%1。这次按键没有发送。").arg(m_uart.errorString()) };
    case UartCom::OutputStatus::Failed:
        break;
    }
    return { false, false, false, 0, QStringLiteral("串口写入失败，命令没有发送：%1").arg(m_uart.errorString()) };
}

void SerialLink::onComm(const QByteArray& a)
{
    if (m_uart.CommEvent() != UartCom::comEvReceive || a.isEmpty()) {
        return;
    }
    // The record is where the display, the transcript and the capture take the bytes from.
    m_record.addReceived(a, QDateTime::currentMSecsSinceEpoch());
    if (a[0] == '#') {
        m_state.Recv_Mark.clear();
        m_markerLine.clear();
    }
    const char* p = a.constData();
    const char* end = p + a.size();
    // Marker lines for the CRs seen since the marker line last changed, logged in one go.
    qsizetype pending = 0;
    bool logged = false;
    while (const char* cr = static_cast<const char*>(std::memchr(p, CR, std::size_t(end - p)))) {
        // Without a '#' chunk the markers would grow for ever; beyond the limit they stay put,
        // and the same marker line goes to the log again and again without being copied.
        if (m_state.Recv_Mark.size() < MarkerLimit * 4) {
            m_log.append(m_markerLine, pending);
            pending = 0;
            m_state.Recv_Mark += QStringLiteral("<CR>");
            m_markerLine.clear();
        }
        if (m_markerLine.isEmpty()) {
            m_markerLine = m_state.Recv_Mark + markerHeader() + QStringLiteral("\r\n");
        }
        ++pending;
        logged = true;
        p = cr + 1;
    }
    m_log.append(m_markerLine, pending);
    if (logged) {
        Q_EMIT logChanged();
    }
}

void SerialLink::clearReceive() { Q_EMIT receiveCleared(); }

void SerialLink::clearLog()
{
    m_log.clear();
    Q_EMIT logChanged();
}

} // namespace comkeys

#include "moc_SerialLink.cpp"
