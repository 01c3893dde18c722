#include "RecordSearch.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace comkeys {

namespace {
    constexpr qsizetype SliceBytes = 1024 * 1024; // the thread's unit: its matches come in together
    constexpr qsizetype Context = 256; // text before a slice, for look-behinds and ^
    constexpr qsizetype Overlap = 4096; // text after a slice, for matches that run across its end
    constexpr qsizetype LiveOverlap = 1024; // the same for entries searched as they arrive

    // hh:mm:ss.zzz as clockTime() writes it, without a time-zone lookup per entry: the offset
    // from UTC is looked up once a quarter of an hour of data. Zones change their offset on a
    // quarter hour of UTC (a half-hour zone's daylight saving starts at 16:30 UTC), not always
    // on a whole hour.
    void appendClock(QString& out, qint64 msecs)
    {
        constexpr qint64 Quarter = 900000;
        thread_local qint64 quarter = std::numeric_limits<qint64>::min();
        thread_local qint64 offsetMs = 0;
        const qint64 q = msecs >= 0 ? msecs / Quarter : (msecs - (Quarter - 1)) / Quarter;
        if (q != quarter) {
            quarter = q;
            offsetMs = qint64(QDateTime::fromMSecsSinceEpoch(msecs).offsetFromUtc()) * 1000;
        }
        constexpr qint64 Day = 86400000;
        const qint64 ms = ((msecs + offsetMs) % Day + Day) % Day;
        const int parts[] = { int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60) };
        for (int i = 0; i < 3; ++i) {
            out += QChar(u'0' + parts[i] / 10);
            out += QChar(u'0' + parts[i] % 10);
            out += i < 2 ? u':' : u'.';
        }
        const int milli = int(ms % 1000);
        out += QChar(u'0' + milli / 100);
        out += QChar(u'0' + milli / 10 % 10);
        out += QChar(u'0' + milli % 10);
    }

    // Appends an entry's text as the view shows it; returns the characters before its own part.
    int appendEntryText(QString& text, RecordView view, const QByteArray& bytes, qint64 msecs, bool afterLineEnd)
    {
        if (view == RecordView::Hex) {
            text += QLatin1StringView(bytes);
            return 0;
        }
        int lead = 0;
        if (view == RecordView::Timestamps) {
            if (!afterLineEnd) {
                text += u'\n';
                lead = 1;
            }
            appendClock(text, msecs);
            text += u' ';
        }
        // As the display shows it: every byte but carriage returns.
        const char* p = bytes.constData();
        const char* end = p + bytes.size();
        while (p < end) {
            const char* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(end - p)));
            const char* runEnd = cr ? cr : end;
            text += QLatin1StringView(p, runEnd - p);
            p = runEnd + 1;
        }
        return lead;
    }

    QString entryText(RecordView view, const QByteArray& bytes, qint64 msecs, bool afterLineEnd, int* lead)
    {
        QString text;
        text.reserve(bytes.size() + 16);
        const int l = appendEntryText(text, view, bytes, msecs, afterLineEnd);
        if (lead) {
            *lead = l;
        }
        return text;
    }

    // Where each entry's own part starts in a searched text, to turn a position into a match.
    struct Starts {
        std::vector<std::pair<qsizetype, qint64>> list; // position, entry
        RecordMatch at(qsizetype pos, qsizetype length) const
        {
            auto it = std::upper_bound(list.begin(), list.end(), pos,
                                       [](qsizetype p, const std::pair<qsizetype, qint64>& s) { return p < s.first; });
            if (it != list.begin()) {
                --it;
            }
            return RecordMatch { it->second, qint64(pos - it->first), qint64(length) };
        }
    };
} // namespace

QString viewText(RecordView view, const LineRecord::Entry& entry, bool afterLineEnd, int* lead)
{
    return entryText(view, entry.bytes, entry.msecs, afterLineEnd, lead);
}

struct RecordSearch::Piece {
    qint64 entry;
    qint64 msecs;
    QByteArray bytes;
    // The text views: the entry's text ends a line (the next one's timestamp needs no break).
    bool endsLine() const
    {
        for (qsizetype i = bytes.size() - 1; i >= 0; --i) {
            if (bytes[i] != '\r') {
                return bytes[i] == '\n';
            }
        }
        return false;
    }
};

struct RecordSearch::Job {
    quint64 generation = 0;
    RecordView view = RecordView::Text;
    std::vector<Piece> pieces;
    std::vector<std::pair<qsizetype, qsizetype>> slices; // [begin, end) of pieces, newest first
    std::atomic<qsizetype> next { 0 }; // the next slice a thread takes
    std::atomic<bool> cancel { false };
};

RecordSearch::RecordSearch(const LineRecord& record, QObject* parent)
    : QObject(parent)
    , m_record(record)
{
    connect(&record, &LineRecord::added, this, &RecordSearch::onAdded);
}

RecordSearch::~RecordSearch() { stop(); }

void RecordSearch::stop()
{
    if (m_job) {
        m_job->cancel.store(true);
    }
    for (std::thread& worker : m_workers) {
        worker.join();
    }
    m_workers.clear();
    m_job.reset();
    m_pending.clear();
    m_active = false;
    ++m_generation; // batches still on their way are dropped
}

qint64 RecordSearch::indexAtOrAfter(const RecordMatch& m) const
{
    return qint64(std::lower_bound(m_matches.begin(), m_matches.end(), m) - m_matches.begin());
}

void RecordSearch::start(const SearchPattern& pattern, RecordView view, qint64 fromEntry)
{
    stop();
    m_matches.clear();
    m_pattern = pattern;
    m_view = view;
    m_tail.clear();
    m_tailEntries.clear();
    m_tailStart = 0;
    m_lastEnd = 0;
    m_atLineEnd = true;
    m_active = !pattern.isEmpty();
    m_complete = !m_active;
    if (!m_active) {
        Q_EMIT changed();
        return;
    }
    const qint64 from = std::max(fromEntry, m_record.firstNumber());
    m_liveFrom = m_record.nextNumber();
    std::vector<Piece> pieces;
    for (qint64 n = from; n < m_liveFrom; ++n) {
        const LineRecord::Entry& e = m_record.entry(n);
        if (e.direction == LineRecord::Direction::Received) {
            pieces.push_back(Piece { n, e.msecs, e.bytes });
        }
    }
    // The newest text, so that matches running from it into what arrives next are found.
    qsizetype first = qsizetype(pieces.size());
    qsizetype chars = 0;
    while (first > 0 && chars < LiveOverlap) {
        --first;
        chars += pieces[std::size_t(first)].bytes.size();
    }
    for (auto i = std::size_t(first); i < pieces.size(); ++i) {
        int lead = 0;
        const QString text = entryText(view, pieces[i].bytes, pieces[i].msecs, i == 0 || pieces[i - 1].endsLine(), &lead);
        m_tailEntries.emplace_back(m_tail.size() + lead, pieces[i].entry);
        m_tail += text;
    }
    m_atLineEnd = pieces.empty() || pieces.back().endsLine();
    if (pieces.empty()) {
        m_complete = true;
        Q_EMIT changed();
        Q_EMIT completed();
        return;
    }
    auto job = std::make_shared<Job>();
    job->generation = m_generation;
    job->view = view;
    // Newest first: the matches near what the user sees come first.
    for (qsizetype end = qsizetype(pieces.size()); end > 0;) {
        qsizetype begin = end;
        qsizetype bytes = 0;
        while (begin > 0 && bytes < SliceBytes) {
            --begin;
            bytes += pieces[std::size_t(begin)].bytes.size() + 16;
        }
        job->slices.emplace_back(begin, end);
        end = begin;
    }
    job->pieces = std::move(pieces);
    m_job = job;
    m_nextSlice = 0;
    m_slices = qsizetype(job->slices.size());
    const auto threads = std::clamp<qsizetype>(qsizetype(std::thread::hardware_concurrency()), 1, 2);
    for (qsizetype t = 0; t < std::min(threads, m_slices); ++t) {
        m_workers.emplace_back(&RecordSearch::work, job, this, pattern.detached());
    }
    Q_EMIT changed();
}

void RecordSearch::work(std::shared_ptr<Job> job, RecordSearch* self, SearchPattern pattern)
{
    const std::vector<Piece>& pieces = job->pieces;
    const auto count = qsizetype(pieces.size());
    auto text = [&](qsizetype i, int* lead) {
        const Piece& p = pieces[std::size_t(i)];
        return entryText(job->view, p.bytes, p.msecs, i == 0 || pieces[std::size_t(i - 1)].endsLine(), lead);
    };
    for (qsizetype slice = job->next++; slice < qsizetype(job->slices.size()) && !job->cancel.load(); slice = job->next++) {
        const auto [begin, end] = job->slices[std::size_t(slice)];
        QString subject;
        if (begin > 0) {
            subject = text(begin - 1, nullptr).right(Context);
        }
        subject.reserve(subject.size() + SliceBytes + Overlap);
        const qsizetype from = subject.size();
        Starts starts;
        for (qsizetype i = begin; i < end; ++i) {
            const Piece& p = pieces[std::size_t(i)];
            const qsizetype at = subject.size();
            const int lead = appendEntryText(subject, job->view, p.bytes, p.msecs, i == 0 || pieces[std::size_t(i - 1)].endsLine());
            starts.list.emplace_back(at + lead, p.entry);
        }
        const qsizetype sliceEnd = subject.size();
        for (qsizetype i = end; i < count && subject.size() - sliceEnd < Overlap; ++i) {
            subject += text(i, nullptr);
        }
        std::vector<RecordMatch> batch;
        pattern.forEach(subject, from, [&](const Found& m) {
            if (m.start >= sliceEnd) {
                return false;
            }
            batch.push_back(starts.at(m.start, m.length));
            return !job->cancel.load();
        });
        QMetaObject::invokeMethod(
            self, [self, generation = job->generation, slice, batch = std::move(batch)] { self->takeBatch(generation, slice, batch); },
            Qt::QueuedConnection);
    }
}

void RecordSearch::takeBatch(quint64 generation, qsizetype slice, const std::vector<RecordMatch>& batch)
{
    if (generation != m_generation) {
        return;
    }
    m_pending[slice] = batch;
    const qint64 first = m_record.firstNumber();
    bool took = false;
    for (auto it = m_pending.find(m_nextSlice); it != m_pending.end(); it = m_pending.find(m_nextSlice)) {
        for (auto m = it->second.rbegin(); m != it->second.rend(); ++m) {
            if (m->entry >= first) {
                m_matches.push_front(*m);
            }
        }
        m_pending.erase(it);
        ++m_nextSlice;
        took = true;
    }
    if (!took) {
        return;
    }
    m_complete = m_nextSlice == m_slices;
    if (m_complete) {
        // The threads are done; their copy of the entries must not keep dropped ones alive.
        for (std::thread& worker : m_workers) {
            worker.join();
        }
        m_workers.clear();
        m_job.reset();
    }
    Q_EMIT changed();
    if (m_complete) {
        Q_EMIT completed();
    }
}

void RecordSearch::dropOld()
{
    const qint64 first = m_record.firstNumber();
    bool dropped = false;
    while (!m_matches.empty() && m_matches.front().entry < first) {
        m_matches.pop_front();
        dropped = true;
    }
    if (dropped) {
        Q_EMIT changed();
    }
}

void RecordSearch::onAdded(qint64 n)
{
    if (!m_active) {
        return;
    }
    const LineRecord::Entry& e = m_record.entry(n);
    if (e.direction != LineRecord::Direction::Received || n < m_liveFrom) {
        dropOld();
        return;
    }
    int lead = 0;
    const QString text = entryText(m_view, e.bytes, e.msecs, m_atLineEnd, &lead);
    if (m_view == RecordView::Timestamps) {
        m_atLineEnd = text.endsWith(u'\n');
    }
    const qint64 fragment = m_tailStart + m_tail.size();
    m_tailEntries.emplace_back(fragment + lead, n);
    const qsizetype searchFrom = std::max<qsizetype>(0, m_tail.size() - LiveOverlap);
    m_tail += text;
    bool found = false;
    m_pattern.forEach(m_tail, searchFrom, [&](const Found& m) {
        const qint64 start = m_tailStart + m.start;
        if (start + m.length <= fragment || start < m_lastEnd) {
            return true;
        }
        auto it = std::upper_bound(m_tailEntries.begin(), m_tailEntries.end(), start,
                                   [](qint64 p, const std::pair<qint64, qint64>& s) { return p < s.first; });
        if (it != m_tailEntries.begin()) {
            --it;
        }
        m_matches.push_back(RecordMatch { it->second, start - it->first, m.length });
        m_lastEnd = start + m.length;
        found = true;
        return true;
    });
    if (m_tail.size() > 4 * LiveOverlap) {
        const qsizetype drop = m_tail.size() - 2 * LiveOverlap;
        m_tail.remove(0, drop);
        m_tailStart += drop;
        while (m_tailEntries.size() > 1 && m_tailEntries[1].first <= m_tailStart) {
            m_tailEntries.pop_front();
        }
    }
    dropOld();
    if (found) {
        Q_EMIT changed();
    }
}

} // namespace comkeys

#include "moc_RecordSearch.cpp"
