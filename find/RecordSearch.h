#pragma once

#include "LineRecord.h"
#include "SearchPattern.h"

#include <QObject>

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <thread>

namespace comkeys {

// The views the receive display shows the record in (the same order as its own).
enum class RecordView { Text, Hex, Timestamps };

// A match in the record, in the terms of a view: the received entry it starts in, and where it
// starts and how long it is in that view's text. In the text views the offset counts characters
// of the entry's text as the view shows it, from where its own line-break-free part starts (a
// match may begin one character earlier, on the line break the timestamp view puts before an
// entry: offset -1); in the hex view offset and length count bytes. A match may run on into the
// entries that follow.
struct RecordMatch {
    qint64 entry = -1;
    qint64 offset = 0;
    qint64 length = 0;
    friend bool operator==(const RecordMatch&, const RecordMatch&) = default;
    friend bool operator<(const RecordMatch& a, const RecordMatch& b)
    {
        return a.entry != b.entry ? a.entry < b.entry : a.offset < b.offset;
    }
};

// A received entry as a view shows it. In the timestamp view it starts with a line break when
// the text before it did not end in one (afterLineEnd false); *lead says how many characters
// come before the entry's own part (0 or 1).
QString viewText(RecordView view, const LineRecord::Entry& entry, bool afterLineEnd = true, int* lead = nullptr);

// Every match of a pattern in the received entries of a record, kept up to date: the entries
// there already are searched on a thread of their own, newest first, and their matches come in
// slice by slice; entries that arrive meanwhile are searched as they come. Matches of entries the
// record drops go with them. Matches are kept in record order, without overlaps.
class RecordSearch : public QObject {
    Q_OBJECT
public:
    explicit RecordSearch(const LineRecord& record, QObject* parent = nullptr);
    ~RecordSearch() override;

    // Starts afresh over the received entries from number `fromEntry` on; an empty pattern stops.
    void start(const SearchPattern& pattern, RecordView view, qint64 fromEntry);
    void stop();

    const std::deque<RecordMatch>& matches() const { return m_matches; }
    qint64 count() const { return qint64(m_matches.size()); }
    // Every entry that was there at the start has been searched.
    bool isComplete() const { return m_complete; }
    RecordView view() const { return m_view; }
    // The index of the first match at or after m, or count().
    qint64 indexAtOrAfter(const RecordMatch& m) const;

Q_SIGNALS:
    // Matches were added or dropped; the first batch of a search is its first signal.
    void changed();
    // The entries there at the start have all been searched.
    void completed();

private:
    struct Piece;
    void onAdded(qint64 n);
    void dropOld();
    struct Job;
    void takeBatch(quint64 generation, qsizetype slice, const std::vector<RecordMatch>& batch);
    static void work(std::shared_ptr<Job> job, RecordSearch* self, SearchPattern pattern);

    const LineRecord& m_record;
    SearchPattern m_pattern;
    RecordView m_view = RecordView::Text;
    bool m_active = false;
    bool m_complete = true;
    quint64 m_generation = 0;
    qint64 m_liveFrom = 0; // entries from here on are searched as they arrive
    std::deque<RecordMatch> m_matches;
    // The newest text searched live: matches that run across entries are found in it.
    QString m_tail;
    qint64 m_tailStart = 0; // stream position of m_tail[0]
    std::deque<std::pair<qint64, qint64>> m_tailEntries; // stream position of an entry's own part, entry
    qint64 m_lastEnd = 0; // stream position after the last live match
    bool m_atLineEnd = true;
    // Slices are searched on up to two threads at once; their matches are taken in order.
    std::shared_ptr<Job> m_job;
    std::vector<std::thread> m_workers;
    std::map<qsizetype, std::vector<RecordMatch>> m_pending; // slices come in out of order
    qsizetype m_nextSlice = 0;
    qsizetype m_slices = 0;
};

} // namespace comkeys
