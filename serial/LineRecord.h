#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>

namespace comkeys {

// What went over the line, as it happened: every received chunk (carriage returns included) and
// every command sent, each with the time in milliseconds since the epoch. It keeps the newest
// entries within a memory bound (their bytes plus a fixed cost per entry), dropping the oldest
// first. Entries are numbered from 0 in the order they came; numbers survive dropping.
class LineRecord : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 DefaultLimit = 64 * 1024 * 1024;
    // What one entry costs beyond its bytes, counted against the limit.
    static constexpr qint64 EntryCost = 96;

    enum class Direction : quint8 { Received, Sent };
    struct Entry {
        qint64 msecs = 0;
        Direction direction = Direction::Received;
        QByteArray bytes;
        QString key; // the caption of the key that sent it
        qint64 receivedBefore = 0; // received bytes recorded before this entry
    };

    explicit LineRecord(qint64 limit = DefaultLimit, QObject* parent = nullptr);

    void addReceived(const QByteArray& bytes, qint64 msecs);
    void addSent(const QByteArray& bytes, const QString& key, qint64 msecs);

    // Entry number n (firstNumber() <= n < nextNumber()).
    const Entry& entry(qint64 n) const { return m_entries[std::size_t(n - m_first)]; }
    qint64 firstNumber() const { return m_first; }
    qint64 nextNumber() const { return m_first + qint64(m_entries.size()); }
    qint64 cost() const { return m_cost; }
    // Received bytes ever recorded, dropped ones included.
    qint64 receivedTotal() const { return m_receivedTotal; }

    // Every kept received byte, exactly as it arrived.
    QByteArray receivedBytes() const;
    // Every kept entry as a line of text: time, direction (发 sent, 收 received), key for a
    // send, and the bytes as printableBytes() writes them.
    QByteArray transcriptText() const;

Q_SIGNALS:
    // Entry number n was added.
    void added(qint64 n);

private:
    void add(Entry entry);

    qint64 m_limit;
    std::deque<Entry> m_entries;
    qint64 m_first = 0;
    qint64 m_cost = 0;
    qint64 m_receivedTotal = 0;
};

// Bytes as readable text that gives them back exactly: printable ASCII and Latin-1 as they
// are, other bytes (controls, DEL and 80 to 9F) and '<' as <0D>, <3C>.
QString printableBytes(QByteArrayView bytes);
// hh:mm:ss.zzz of a time in milliseconds since the epoch, local time.
QString clockTime(qint64 msecs);

} // namespace comkeys
