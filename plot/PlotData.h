#pragma once

#include "LineParser.h"
#include "LineRecord.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointF>

#include <deque>
#include <vector>

namespace comkeys {

// The series in what the line record holds: received bytes are put together into lines (ending
// in CR LF, LF or a lone CR, across chunk boundaries), each line is parsed, and its values become
// one row at the time the line's last chunk arrived. It follows the record as it grows and drops
// the rows older than the oldest chunk the record still holds, or beyond its own memory bound.
// Malformed lines are skipped and counted.
//
// Rows are kept column-wise: one time per row and one value per series, NaN where a line did
// not have that series. Deques, so growing never copies what is held and the oldest rows leave
// from the front without moving the rest.
class PlotData {
public:
    static constexpr int MaxSeries = 16; // values of further labels are left out
    static constexpr qsizetype MaxLine = 4096; // a longer "line" is counted malformed
    // The rows' memory bound: past it the oldest rows go, an eighth at a time.
    static constexpr qint64 MaxBytes = 64 * 1024 * 1024;

    explicit PlotData(const LineRecord& record);

    // Start over from the oldest entry the record holds with another parser or key filter.
    void setParser(const LineParser& parser);
    // Only lines that answer the key with this caption (received after it was sent and before
    // the next send); empty for every line.
    void setKeyFilter(const QString& caption);
    const LineParser& parser() const { return m_parser; }
    QString keyFilter() const { return m_keyFilter; }

    // Reads what the record got since the last call, for at most budgetMs milliseconds (-1: no
    // limit). True when it has caught up with the record.
    bool update(int budgetMs = -1);
    bool isCaughtUp() const { return m_next >= m_record.nextNumber(); }

    int seriesCount() const { return int(m_names.size()); }
    QString seriesName(int series) const { return m_names[std::size_t(series)]; }
    qint64 rowCount() const { return qint64(m_times.size()); }
    qint64 time(qint64 row) const { return m_times[std::size_t(row)]; }
    // NaN when the row's line had no value for the series.
    double value(int series, qint64 row) const { return m_values[std::size_t(series)][std::size_t(row)]; }
    // The first row at or after the time (rowCount() when there is none).
    qint64 rowAt(double msecs) const;
    qint64 malformed() const { return m_malformed; }
    // Memory held by the rows, in bytes.
    qint64 bytes() const;

    // The series' points between two times, reduced for a plot that many pixels wide: the first,
    // lowest, highest and last point in every pixel column, in their order, plus the neighbours
    // just outside the range so the curve reaches the edges. x is the time in milliseconds.
    QList<QPointF> decimated(int series, double fromMsecs, double toMsecs, int columns) const;

    // Every row as comma-separated values (UTF-8): local time, milliseconds since the epoch,
    // then a column per series.
    QByteArray csv() const;

private:
    void reset();
    // Reads the entry from m_offset on; false when it stopped at the deadline, part way through.
    bool take(const LineRecord::Entry& entry, const QElapsedTimer* clock, int budgetMs);
    void endLine(qint64 msecs);
    int seriesFor(const QByteArray& label);
    void dropOld();
    void makeRoom();
    void dropRows(std::size_t count);

    const LineRecord& m_record;
    LineParser m_parser;
    QString m_keyFilter;
    qint64 m_next = 0; // the next record entry to read
    qsizetype m_offset = 0; // how far into it
    QByteArray m_line;
    bool m_lineTooLong = false;
    bool m_fragment = false; // the line began in a dropped entry: not whole
    bool m_afterCr = false;
    QString m_lastKey; // caption of the last command sent
    qint64 m_malformed = 0;
    std::vector<LineParser::Value> m_parsed;

    std::vector<QString> m_names;
    std::vector<QByteArray> m_labels;
    std::deque<qint64> m_times;
    std::vector<std::deque<double>> m_values;
    // The lowest and highest value of every 16 rows (counted from the first row since the start)
    // of each series, so a decimation over many rows reads whole blocks instead of rows.
    static constexpr std::size_t BlockRows = 16;
    struct Block {
        double low = 0, high = 0;
        int lowRow = -1, highRow = -1; // within the block; -1: no value in it
    };
    std::vector<std::deque<Block>> m_blocks;
    std::size_t m_dropped = 0; // rows dropped from the front since the start
    std::size_t m_firstBlock = 0; // the block that m_blocks begin with
};

} // namespace comkeys
