#pragma once

#include "LineRecord.h"

#include <QObject>

#include <deque>
#include <optional>

namespace comkeys {

// One row per command sent, with what the device answered until the next command and how long
// it took: the round-trip times that tell how fast a device really is. Follows a LineRecord.
class Transcript : public QObject {
    Q_OBJECT
public:
    static constexpr int RowLimit = 20000; // the oldest rows go first
    static constexpr qsizetype ReplyLimit = 64 * 1024; // bytes of one reply kept

    struct Row {
        qint64 sentMsecs = 0;
        QString key;
        QByteArray sent;
        QByteArray reply;
        bool replyCut = false; // longer than ReplyLimit
        std::optional<qint64> firstByteMs; // after the send
        std::optional<qint64> firstCrMs;
        qint64 entry = -1; // its number in the record
        // Filled in for the sends of an automatic sequence: which step, its verdict and time.
        QString step;
        QString verdict;
        std::optional<qint64> stepMs;
    };

    explicit Transcript(const LineRecord& record, QObject* parent = nullptr);

    const std::deque<Row>& rows() const { return m_rows; }
    void clear();

    // Rows as comma-separated values with a header line (UTF-8, quoted where needed).
    QByteArray csv() const;
    enum Column { SentAt, Key, Sent, Reply, FirstByte, FirstCr, ColumnCount };
    // The cells of a row as shown: time, key, sent, reply, ms to the first byte, ms to the first CR.
    static QStringList cells(const Row& row);
    // One cell; the reply is cut after replyBytes bytes (marked …) when that is not negative.
    static QString cell(const Row& row, int column, qsizetype replyBytes = -1);
    static QStringList headers();
    // The sequence columns: step, verdict, milliseconds (the CSV export has them after the others).
    static QStringList stepHeaders();
    static QStringList stepCells(const Row& row);

    // Gives the row of record entry `entry` a sequence step, its verdict and its time; false when
    // that row is not (or no longer) here.
    bool setStep(qint64 entry, const QString& step, const QString& verdict, std::optional<qint64> ms);

Q_SIGNALS:
    void rowAdded();
    // The last row's reply or times changed.
    void lastRowChanged();
    void rowsDropped(int count);
    // The step columns of row `index` (into rows()) changed.
    void rowChanged(int index);
    void cleared();

private:
    void onAdded(qint64 n);

    const LineRecord& m_record;
    std::deque<Row> m_rows;
};

} // namespace comkeys
