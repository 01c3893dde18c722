#include "LineRecord.h"

#include <QDateTime>

namespace comkeys {

QString printableBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = uchar(c);
        // '<' itself too, so a device's literal "<0D>" reads back apart from a real CR.
        if (b < 0x20 || b == '<' || b == 0x7F || (b >= 0x80 && b < 0xA0)) {
            out += u'<';
            out += QString::number(b, 16).toUpper().rightJustified(2, u'0');
            out += u'>';
        } else {
            out += QChar(b);
        }
    }
    return out;
}

QString clockTime(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs).time().toString(QStringLiteral("hh:mm:ss.zzz"));
}

LineRecord::LineRecord(qint64 limit, QObject* parent)
    : QObject(parent)
    , m_limit(limit)
{
}

void LineRecord::addReceived(const QByteArray& bytes, qint64 msecs)
{
    const qint64 before = m_receivedTotal;
    m_receivedTotal += bytes.size();
    add(Entry { msecs, Direction::Received, bytes, {}, before });
}

void LineRecord::addSent(const QByteArray& bytes, const QString& key, qint64 msecs)
{
    add(Entry { msecs, Direction::Sent, bytes, key, m_receivedTotal });
}

void LineRecord::add(Entry entry)
{
    m_cost += entry.bytes.size() + EntryCost;
    m_entries.push_back(std::move(entry));
    // The newest entry always stays, even one larger than the limit.
    while (m_cost > m_limit && m_entries.size() > 1) {
        m_cost -= m_entries.front().bytes.size() + EntryCost;
        m_entries.pop_front();
        ++m_first;
    }
    Q_EMIT added(nextNumber() - 1);
}

QByteArray LineRecord::receivedBytes() const
{
    QByteArray out;
    qsizetype size = 0;
    for (const Entry& e : m_entries) {
        size += e.direction == Direction::Received ? e.bytes.size() : 0;
    }
    out.reserve(size);
    for (const Entry& e : m_entries) {
        if (e.direction == Direction::Received) {
            out += e.bytes;
        }
    }
    return out;
}

QByteArray LineRecord::transcriptText() const
{
    QString out;
    for (const Entry& e : m_entries) {
        out += clockTime(e.msecs);
        if (e.direction == Direction::Sent) {
            out += QStringLiteral(" 发 ");
            if (!e.key.isEmpty()) {
                out += u'[' + e.key + QStringLiteral("] ");
            }
        } else {
            out += QStringLiteral(" 收 ");
        }
        out += printableBytes(e.bytes);
        out += QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

} // namespace comkeys

#include "moc_LineRecord.cpp"
