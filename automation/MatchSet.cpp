#include "MatchSet.h"

#include <algorithm>
#include <deque>

namespace comkeys {

namespace {
    // The first byte from `i` on that leads out of the start state, or the end. Four at a time:
    // most received bytes begin no pattern, and these loads do not wait for each other.
    qsizetype skipToLead(const std::array<bool, 256>& leads, QByteArrayView bytes, qsizetype i)
    {
        const auto* p = reinterpret_cast<const uchar*>(bytes.data());
        const qsizetype n = bytes.size();
        while (i + 4 <= n && (int(leads[p[i]]) | int(leads[p[i + 1]]) | int(leads[p[i + 2]]) | int(leads[p[i + 3]])) == 0) {
            i += 4;
        }
        while (i < n && !leads[p[i]]) {
            ++i;
        }
        return i;
    }

    // Whether an expression means the same inside a group beside others: no back references,
    // recursion, verbs, quoting, comments or numbered groups it names.
    bool joinable(const QString& body)
    {
        static const QRegularExpression risky(
            QStringLiteral(R"(\\[QEgkKG0-9]|\(\*|#|\(\?(?![:=!]|<[=!]|[imnsx-]*[:)]))"));
        return !body.contains(risky);
    }
} // namespace

bool MatchSet::Automaton::add(int index, QByteArrayView bytes)
{
    if (states() + bytes.size() > MaxStates) {
        return false;
    }
    qint32 state = 0;
    for (char c : bytes) {
        qint32& next = m_next[std::size_t(state) * 256 + uchar(c)];
        if (next < 0) {
            next = states();
            m_output.push_back(-1);
            m_next.resize(m_next.size() + 256, -1);
        }
        state = m_next[std::size_t(state) * 256 + uchar(c)];
    }
    m_outputs.push_back({ int(m_slots.size()), m_output[std::size_t(state)] });
    m_output[std::size_t(state)] = qint32(m_outputs.size() - 1);
    m_slots.push_back({ index, bytes.size(), 0 });
    return true;
}

void MatchSet::Automaton::build(bool foldCase)
{
    // Breadth first: each state's failure state is complete before its children need it.
    std::vector<qint32> failure(std::size_t(states()), 0);
    m_dictionary.assign(std::size_t(states()), -1);
    std::deque<qint32> queue;
    for (int c = 0; c < 256; ++c) {
        qint32& next = m_next[std::size_t(c)];
        if (next < 0) {
            next = 0;
        } else {
            queue.push_back(next);
        }
    }
    while (!queue.empty()) {
        const qint32 s = queue.front();
        queue.pop_front();
        const qint32 f = failure[std::size_t(s)];
        m_dictionary[std::size_t(s)] = m_output[std::size_t(f)] >= 0 ? f : m_dictionary[std::size_t(f)];
        for (int c = 0; c < 256; ++c) {
            qint32& next = m_next[std::size_t(s) * 256 + std::size_t(c)];
            const qint32 viaFailure = m_next[std::size_t(f) * 256 + std::size_t(c)];
            if (next < 0) {
                next = viaFailure;
            } else {
                failure[std::size_t(next)] = viaFailure;
                queue.push_back(next);
            }
        }
    }
    for (qint32 s = 0; s < states(); ++s) {
        if (foldCase) {
            for (int c = 'A'; c <= 'Z'; ++c) {
                m_next[std::size_t(s) * 256 + std::size_t(c)] = m_next[std::size_t(s) * 256 + std::size_t(c - 'A' + 'a')];
            }
        }
    }
    // Each entry becomes the row of the state it leads to, with bit 0 telling whether that state
    // or a suffix of it ends a pattern: one load and one test per byte.
    for (qint32& next : m_next) {
        next = next * 256 | ((m_output[std::size_t(next)] >= 0 || m_dictionary[std::size_t(next)] >= 0) ? 1 : 0);
    }
    for (int c = 0; c < 256; ++c) {
        m_leads[std::size_t(c)] = m_next[std::size_t(c)] != 0;
    }
}

void MatchSet::Automaton::report(qint32 state, qint64 end, std::vector<int>& hits)
{
    for (qint32 s = state; s >= 0; s = m_dictionary[std::size_t(s)]) {
        for (qint32 o = m_output[std::size_t(s)]; o >= 0; o = m_outputs[std::size_t(o)].second) {
            Slot& slot = m_slots[std::size_t(m_outputs[std::size_t(o)].first)];
            // Non-overlapping, as StreamMatcher: a match may not start before the last one ended.
            if (end - slot.length >= slot.lastEnd) {
                ++hits[std::size_t(slot.index)];
                slot.lastEnd = end;
            }
        }
    }
}

void MatchSet::Automaton::feed(QByteArrayView bytes, std::vector<int>& hits)
{
    const qint32* next = m_next.data();
    qint32 at = m_at;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        // In the start state, bytes that lead nowhere are passed over without the table, whose
        // loads wait for each other.
        if (at == 0 && (i = skipToLead(m_leads, bytes, i)) == bytes.size()) {
            break;
        }
        at = next[(at & ~0xFF) | uchar(bytes[i])];
        if (at & 1) {
            report(at >> 8, m_position + i + 1, hits);
        }
    }
    m_at = at;
    m_position += bytes.size();
}

void MatchSet::Automaton::feed(Automaton& a, Automaton& b, const std::array<bool, 256>& leads, QByteArrayView bytes,
                               std::vector<int>& hits)
{
    const qint32* nextA = a.m_next.data();
    const qint32* nextB = b.m_next.data();
    qint32 atA = a.m_at;
    qint32 atB = b.m_at;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if ((atA | atB) == 0 && (i = skipToLead(leads, bytes, i)) == bytes.size()) {
            break;
        }
        const uchar c = uchar(bytes[i]);
        atA = nextA[(atA & ~0xFF) | c];
        atB = nextB[(atB & ~0xFF) | c];
        if ((atA | atB) & 1) {
            if (atA & 1) {
                a.report(atA >> 8, a.m_position + i + 1, hits);
            }
            if (atB & 1) {
                b.report(atB >> 8, b.m_position + i + 1, hits);
            }
        }
    }
    a.m_at = atA;
    b.m_at = atB;
    a.m_position += bytes.size();
    b.m_position += bytes.size();
}

void MatchSet::Automaton::reset(int index)
{
    for (Slot& slot : m_slots) {
        if (slot.index == index) {
            slot.lastEnd = m_position;
        }
    }
}

MatchSet::MatchSet(const QList<Pattern>& patterns)
    : m_hits(std::size_t(patterns.size()), 0)
{
    for (int i = 0; i < patterns.size(); ++i) {
        const Pattern& p = patterns[i];
        if (p.kind() != Pattern::Kind::Regex && p.caseSensitive() && m_exact.add(i, p.bytes())) {
            m_where.push_back(0);
        } else if (p.kind() != Pattern::Kind::Regex && !p.caseSensitive() && m_noCase.add(i, p.bytes())) {
            m_where.push_back(1);
        } else {
            m_anyRegex = m_anyRegex || p.kind() == Pattern::Kind::Regex;
            m_single.emplace_back(i, StreamMatcher(p));
            m_where.push_back(2);
        }
    }
    m_exact.build(false);
    m_noCase.build(true);
    for (std::size_t c = 0; c < m_leads.size(); ++c) {
        m_leads[c] = m_exact.leads()[c] || m_noCase.leads()[c];
    }
    QStringList joined;
    for (const auto& [index, matcher] : m_single) {
        const Pattern& p = matcher.pattern();
        const bool join = p.kind() == Pattern::Kind::Regex && joinable(p.body());
        m_inAnyOf.push_back(join);
        if (join) {
            joined << QStringLiteral("(?:") + p.body() + u')';
        }
    }
    if (joined.size() > 1) {
        // Line-start anchors in common are tried once per line instead of once per expression.
        // Only where the anchor binds to all of the expression: no alternatives, no quantifier on it.
        const bool allAtLineStart = std::all_of(joined.cbegin(), joined.cend(), [](const QString& group) {
            return group.startsWith(u"(?:^") && !group.contains(u'|') && group.size() > 4
                && !QStringLiteral("*+?{").contains(group[4]);
        });
        if (allAtLineStart) {
            for (QString& group : joined) {
                group.remove(3, 1);
            }
        }
        m_anyOf = QRegularExpression(QStringLiteral("(*ANYCRLF)") + (allAtLineStart ? QStringLiteral("^(?:") : QString())
                + joined.join(u'|') + (allAtLineStart ? QStringLiteral(")") : QString()),
            QRegularExpression::MultilineOption);
        m_anyOf.optimize();
    }
    if (!m_anyOf.isValid() || m_anyOf.pattern().isEmpty()) {
        m_anyOf = QRegularExpression();
        m_inAnyOf.assign(m_inAnyOf.size(), false);
    }
}

const std::vector<int>& MatchSet::feed(const StreamMatcher::Chunk& chunk)
{
    std::fill(m_hits.begin(), m_hits.end(), 0);
    if (!m_exact.isEmpty() && !m_noCase.isEmpty()) {
        Automaton::feed(m_exact, m_noCase, m_leads, chunk.bytes(), m_hits);
    } else if (!m_exact.isEmpty()) {
        m_exact.feed(chunk.bytes(), m_hits);
    } else if (!m_noCase.isEmpty()) {
        m_noCase.feed(chunk.bytes(), m_hits);
    }
    if (m_anyRegex) {
        // One string for every regular expression: what came before, then the chunk.
        QString shared;
        shared.reserve(m_context.size() + chunk.bytes().size());
        shared += m_context;
        shared += QLatin1String(chunk.bytes());
        bool nothing = false;
        if (!m_anyOf.pattern().isEmpty()) {
            const QRegularExpressionMatch m = m_anyOf.match(shared, shared.size() - chunk.bytes().size(),
                QRegularExpression::PartialPreferFirstMatch, QRegularExpression::DontCheckSubjectStringMatchOption);
            nothing = !m.hasMatch() && !m.hasPartialMatch();
        }
        for (std::size_t i = 0; i < m_single.size(); ++i) {
            auto& [index, matcher] = m_single[i];
            // One that still waits for the rest of a match looks further back than the chunk.
            m_hits[std::size_t(index)]
                = nothing && m_inAnyOf[i] && !matcher.waiting() ? 0 : matcher.feed(chunk, shared);
        }
        m_context = shared.right(StreamMatcher::ContextChars);
    } else {
        for (auto& [index, matcher] : m_single) {
            m_hits[std::size_t(index)] = matcher.feed(chunk);
        }
    }
    return m_hits;
}

void MatchSet::reset(int index)
{
    switch (m_where[std::size_t(index)]) {
    case 0:
        m_exact.reset(index);
        return;
    case 1:
        m_noCase.reset(index);
        return;
    default:
        break;
    }
    for (auto& [i, matcher] : m_single) {
        if (i == index) {
            matcher.reset();
        }
    }
}

} // namespace comkeys
