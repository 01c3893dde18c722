#include "PlotData.h"

#include "Csv.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace comkeys {

namespace {
    constexpr double Absent = std::numeric_limits<double>::quiet_NaN();
} // namespace

PlotData::PlotData(const LineRecord& record)
    : m_record(record)
{
    reset();
}

void PlotData::setParser(const LineParser& parser)
{
    m_parser = parser;
    reset();
}

void PlotData::setKeyFilter(const QString& caption)
{
    m_keyFilter = caption;
    reset();
}

void PlotData::reset()
{
    m_next = m_record.firstNumber();
    m_offset = 0;
    m_line.clear();
    m_lineTooLong = false;
    // Entries before the first kept one are gone: its first line may have begun in them.
    m_fragment = m_next > 0;
    m_afterCr = false;
    m_lastKey.clear();
    m_malformed = 0;
    m_names.clear();
    m_labels.clear();
    m_times.clear();
    m_values.clear();
    m_blocks.clear();
    m_dropped = 0;
    m_firstBlock = 0;
}

bool PlotData::update(int budgetMs)
{
    if (m_next < m_record.firstNumber()) {
        // The record dropped entries not read yet: what was pending is no longer whole.
        m_next = m_record.firstNumber();
        m_offset = 0;
        m_line.clear();
        m_fragment = true;
    }
    QElapsedTimer clock;
    clock.start();
    const qint64 end = m_record.nextNumber();
    while (m_next < end && take(m_record.entry(m_next), &clock, budgetMs)) {
        ++m_next;
        m_offset = 0;
        if (budgetMs >= 0 && (m_next & 63) == 0 && clock.elapsed() >= budgetMs) {
            break;
        }
    }
    dropOld();
    return isCaughtUp();
}

bool PlotData::take(const LineRecord::Entry& entry, const QElapsedTimer* clock, int budgetMs)
{
    if (entry.direction == LineRecord::Direction::Sent) {
        m_lastKey = entry.key;
        return true;
    }
    const char* begin = entry.bytes.constData();
    const char* p = begin + m_offset;
    const char* end = begin + entry.bytes.size();
    int lines = 0;
    while (p < end) {
        if (m_afterCr && *p == '\n') {
            m_afterCr = false;
            ++p;
            continue;
        }
        m_afterCr = false;
        const char* stop = p;
        while (stop < end && *stop != '\r' && *stop != '\n') {
            ++stop;
        }
        const qsizetype room = MaxLine - m_line.size();
        m_line.append(p, std::min<qsizetype>(stop - p, room));
        m_lineTooLong = m_lineTooLong || stop - p > room;
        if (stop == end) {
            return true;
        }
        m_afterCr = *stop == '\r';
        p = stop + 1;
        endLine(entry.msecs);
        // A large chunk of many lines is read a part at a time too.
        if (budgetMs >= 0 && ++lines % 256 == 0 && clock->elapsed() >= budgetMs) {
            m_offset = p - begin;
            return p == end;
        }
    }
    return true;
}

void PlotData::endLine(qint64 msecs)
{
    const bool whole = !m_fragment;
    const bool tooLong = m_lineTooLong;
    m_fragment = false;
    m_lineTooLong = false;
    if (!whole || (!m_keyFilter.isEmpty() && m_lastKey != m_keyFilter)) {
        m_line.clear();
        return;
    }
    const bool parsed = !tooLong && m_parser.parse(m_line, &m_parsed);
    m_line.clear();
    if (!parsed) {
        ++m_malformed;
        return;
    }
    if (m_parsed.empty()) {
        return; // a blank line
    }
    makeRoom();
    const std::size_t row = m_times.size();
    const std::size_t counted = m_dropped + row; // the row's number since the start
    // A clock set back must not fold the curve over itself.
    m_times.push_back(row > 0 ? std::max(msecs, m_times.back()) : msecs);
    for (auto& column : m_values) {
        column.push_back(Absent);
    }
    if (counted % BlockRows == 0) {
        for (auto& blocks : m_blocks) {
            blocks.emplace_back();
        }
    }
    for (const LineParser::Value& v : m_parsed) {
        const int s = seriesFor(v.label);
        if (s < 0) {
            continue;
        }
        m_values[std::size_t(s)][row] = v.value;
        Block& block = m_blocks[std::size_t(s)][counted / BlockRows - m_firstBlock];
        const int inBlock = int(counted % BlockRows);
        if (block.lowRow < 0 || v.value < block.low) {
            block.low = v.value;
            block.lowRow = inBlock;
        }
        if (block.highRow < 0 || v.value > block.high) {
            block.high = v.value;
            block.highRow = inBlock;
        }
    }
}

int PlotData::seriesFor(const QByteArray& label)
{
    for (std::size_t s = 0; s < m_labels.size(); ++s) {
        if (m_labels[s] == label) {
            return int(s);
        }
    }
    if (m_labels.size() >= MaxSeries) {
        return -1;
    }
    m_labels.push_back(label);
    m_names.push_back(QString::fromUtf8(label));
    const std::size_t blocks = m_times.empty() ? 0 : (m_dropped + m_times.size() - 1) / BlockRows + 1 - m_firstBlock;
    m_blocks.emplace_back(blocks);
    m_values.emplace_back(m_times.size(), Absent);
    return int(m_labels.size()) - 1;
}

void PlotData::dropOld()
{
    if (m_record.nextNumber() == m_record.firstNumber()) {
        return;
    }
    const qint64 oldest = m_record.entry(m_record.firstNumber()).msecs;
    dropRows(std::size_t(std::lower_bound(m_times.begin(), m_times.end(), oldest) - m_times.begin()));
}

void PlotData::makeRoom()
{
    // What a row costs: its time, a value per series, and its share of the blocks.
    const double rowBytes = 8 + double(m_values.size()) * (8 + double(sizeof(Block)) / BlockRows);
    const auto limit = std::size_t(double(MaxBytes) / rowBytes);
    if (m_times.size() >= limit) {
        dropRows(std::max<std::size_t>(1, limit / 8));
    }
}

void PlotData::dropRows(std::size_t count)
{
    count = std::min(count, m_times.size());
    if (count == 0) {
        return;
    }
    m_times.erase(m_times.begin(), m_times.begin() + std::ptrdiff_t(count));
    for (auto& column : m_values) {
        column.erase(column.begin(), column.begin() + std::ptrdiff_t(count));
    }
    m_dropped += count;
    // A block goes once every row of it has.
    const std::size_t firstBlock = m_dropped / BlockRows;
    for (auto& blocks : m_blocks) {
        blocks.erase(blocks.begin(), blocks.begin() + std::ptrdiff_t(firstBlock - m_firstBlock));
    }
    m_firstBlock = firstBlock;
}

qint64 PlotData::rowAt(double msecs) const
{
    const auto it = std::lower_bound(m_times.begin(), m_times.end(), msecs, [](qint64 t, double x) { return double(t) < x; });
    return qint64(it - m_times.begin());
}

qint64 PlotData::bytes() const
{
    qint64 sum = qint64(m_times.size()) * 8;
    for (std::size_t s = 0; s < m_values.size(); ++s) {
        sum += qint64(m_values[s].size()) * 8 + qint64(m_blocks[s].size() * sizeof(Block));
    }
    return sum;
}

QList<QPointF> PlotData::decimated(int series, double fromMsecs, double toMsecs, int columns) const
{
    QList<QPointF> out;
    const qint64 rows = rowCount();
    if (series < 0 || series >= seriesCount() || rows == 0 || columns < 1 || !(toMsecs > fromMsecs)) {
        return out;
    }
    const std::deque<double>& v = m_values[std::size_t(series)];
    auto at = [&](qint64 row) { return QPointF(double(m_times[std::size_t(row)]), v[std::size_t(row)]); };
    const qint64 first = rowAt(fromMsecs);
    const qint64 last = rowAt(toMsecs); // one past the visible rows
    for (qint64 r = first - 1; r >= 0; --r) {
        if (!std::isnan(value(series, r))) {
            out.append(at(r));
            break;
        }
    }
    const double perColumn = (toMsecs - fromMsecs) / columns;
    const auto timesBegin = m_times.begin();
    const std::deque<Block>& blocks = m_blocks[std::size_t(series)];
    qint64 r = first;
    while (r < last) {
        const qint64 column = qint64((double(time(r)) - fromMsecs) / perColumn);
        const double columnEnd = fromMsecs + double(column + 1) * perColumn;
        // The column's end, searched from its start in growing steps: a column holds few rows,
        // and a search over all of them would miss the cache at every step.
        auto before = [&](qint64 row) { return double(m_times[std::size_t(row)]) < columnEnd; };
        qint64 searchFrom = r, searchTo = r + 1;
        for (qint64 step = 2; searchTo < last && before(searchTo); step *= 2) {
            searchFrom = searchTo;
            searchTo = std::min(last, r + step);
        }
        const qint64 end = std::max<qint64>(
            r + 1, std::lower_bound(timesBegin + searchFrom, timesBegin + std::min(searchTo, last), columnEnd,
                                    [](qint64 t, double x) { return double(t) < x; })
                - timesBegin);
        qint64 firstRow = r;
        while (firstRow < end && std::isnan(v[firstRow])) {
            ++firstRow;
        }
        if (firstRow == end) {
            r = end;
            continue;
        }
        qint64 lowRow = firstRow, highRow = firstRow;
        double low = v[std::size_t(firstRow)], high = low;
        auto scan = [&](qint64 from, qint64 to) {
            auto it = v.begin() + std::ptrdiff_t(from);
            for (qint64 k = from; k < to; ++k, ++it) {
                // NaN fails both comparisons and is skipped.
                if (*it < low) {
                    low = *it;
                    lowRow = k;
                } else if (*it > high) {
                    high = *it;
                    highRow = k;
                }
            }
        };
        // Single rows up to a block boundary, whole blocks, then the rows after the last block.
        qint64 k = firstRow + 1;
        const qint64 head = std::min(end, k + qint64((BlockRows - (m_dropped + std::size_t(k)) % BlockRows) % BlockRows));
        scan(k, head);
        for (k = head; k + qint64(BlockRows) <= end; k += qint64(BlockRows)) {
            const Block& block = blocks[(m_dropped + std::size_t(k)) / BlockRows - m_firstBlock];
            if (block.lowRow >= 0 && block.low < low) {
                low = block.low;
                lowRow = k + block.lowRow;
            }
            if (block.highRow >= 0 && block.high > high) {
                high = block.high;
                highRow = k + block.highRow;
            }
        }
        scan(k, end);
        qint64 lastRow = end - 1;
        while (std::isnan(v[lastRow])) {
            --lastRow;
        }
        r = end;
        const qint64 picked[] = { firstRow, std::min(lowRow, highRow), std::max(lowRow, highRow), lastRow };
        qint64 previous = -1;
        for (qint64 p : picked) {
            if (p != previous) {
                out.append(at(p));
                previous = p;
            }
        }
    }
    for (qint64 r2 = last; r2 < rows; ++r2) {
        if (!std::isnan(value(series, r2))) {
            out.append(at(r2));
            break;
        }
    }
    return out;
}

QByteArray PlotData::csv() const
{
    QByteArray out;
    QString header = QStringLiteral("时间,毫秒");
    for (const QString& name : m_names) {
        header += u',' + csvField(name);
    }
    out += header.toUtf8() + "\r\n";
    const qint64 rows = rowCount();
    out.reserve(out.size() + rows * (24 + 12 * seriesCount()));
    for (qint64 r = 0; r < rows; ++r) {
        out += clockTime(time(r)).toLatin1();
        out += ',';
        out += QByteArray::number(time(r));
        for (int s = 0; s < seriesCount(); ++s) {
            out += ',';
            const double v = value(s, r);
            if (!std::isnan(v)) {
                out += QByteArray::number(v, 'g', 15);
            }
        }
        out += "\r\n";
    }
    return out;
}

} // namespace comkeys
