#include "Transcript.h"

#include "Csv.h"

#include <algorithm>

namespace comkeys {

namespace {
    QString millis(const std::optional<qint64>& ms) { return ms ? QString::number(*ms) : QString(); }
} // namespace

Transcript::Transcript(const LineRecord& record, QObject* parent)
    : QObject(parent)
    , m_record(record)
{
    connect(&record, &LineRecord::added, this, &Transcript::onAdded);
}

void Transcript::clear()
{
    m_rows.clear();
    Q_EMIT cleared();
}

void Transcript::onAdded(qint64 n)
{
    const LineRecord::Entry& e = m_record.entry(n);
    if (e.direction == LineRecord::Direction::Sent) {
        m_rows.push_back(Row { e.msecs, e.key, e.bytes, {}, false, std::nullopt, std::nullopt, n, {}, {}, std::nullopt });
        Q_EMIT rowAdded();
        if (m_rows.size() > RowLimit) {
            const int drop = int(m_rows.size()) - RowLimit * 9 / 10;
            m_rows.erase(m_rows.begin(), m_rows.begin() + drop);
            Q_EMIT rowsDropped(drop);
        }
        return;
    }
    if (m_rows.empty()) {
        return; // received before any command: no row to answer
    }
    Row& row = m_rows.back();
    const qint64 after = std::max<qint64>(0, e.msecs - row.sentMsecs);
    if (!row.firstByteMs && !e.bytes.isEmpty()) {
        row.firstByteMs = after;
    }
    if (!row.firstCrMs && e.bytes.contains('\r')) {
        row.firstCrMs = after;
    }
    const qsizetype room = ReplyLimit - row.reply.size();
    row.reply += e.bytes.left(std::max<qsizetype>(0, room));
    row.replyCut = row.replyCut || e.bytes.size() > room;
    Q_EMIT lastRowChanged();
}

QStringList Transcript::headers()
{
    return { QStringLiteral("发送时间"), QStringLiteral("按键"), QStringLiteral("发送内容"), QStringLiteral("回应"),
             QStringLiteral("首字节(ms)"), QStringLiteral("首个回车(ms)") };
}

QString Transcript::cell(const Row& row, int column, qsizetype replyBytes)
{
    switch (column) {
    case SentAt:
        return clockTime(row.sentMsecs);
    case Key:
        return row.key;
    case Sent:
        return printableBytes(row.sent);
    case Reply: {
        const bool shortened = replyBytes >= 0 && row.reply.size() > replyBytes;
        const QByteArrayView shown = shortened ? QByteArrayView(row.reply).first(replyBytes) : QByteArrayView(row.reply);
        return printableBytes(shown) + (row.replyCut || shortened ? QStringLiteral("…") : QString());
    }
    case FirstByte:
        return millis(row.firstByteMs);
    case FirstCr:
        return millis(row.firstCrMs);
    default:
        return {};
    }
}

QStringList Transcript::cells(const Row& row)
{
    QStringList list;
    for (int c = 0; c < ColumnCount; ++c) {
        list << cell(row, c);
    }
    return list;
}

QStringList Transcript::stepHeaders()
{
    return { QStringLiteral("步骤"), QStringLiteral("结果"), QStringLiteral("步骤用时(ms)") };
}

QStringList Transcript::stepCells(const Row& row) { return { row.step, row.verdict, millis(row.stepMs) }; }

bool Transcript::setStep(qint64 entry, const QString& step, const QString& verdict, std::optional<qint64> ms)
{
    const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), entry,
                                     [](const Row& row, qint64 n) { return row.entry < n; });
    if (it == m_rows.end() || it->entry != entry) {
        return false;
    }
    it->step = step;
    it->verdict = verdict;
    it->stepMs = ms;
    Q_EMIT rowChanged(int(it - m_rows.begin()));
    return true;
}

QByteArray Transcript::csv() const
{
    QString out;
    auto line = [&out](const QStringList& cells) {
        QStringList fields;
        for (const QString& c : cells) {
            fields << csvField(c);
        }
        out += fields.join(u',') + QStringLiteral("\r\n");
    };
    line(headers() + stepHeaders());
    for (const Row& row : m_rows) {
        line(cells(row) + stepCells(row));
    }
    return out.toUtf8();
}

} // namespace comkeys

#include "moc_Transcript.cpp"
