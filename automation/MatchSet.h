#pragma once

#include "Pattern.h"

#include <QList>

#include <array>
#include <optional>
#include <vector>

namespace comkeys {

// Many patterns over one received stream, counted as StreamMatcher counts each of them. Text and
// hex patterns are found together in one pass over each chunk (an Aho-Corasick automaton), so a
// hundred answer rules cost little more than one; regular expressions are searched one by one,
// but only in chunks where all of them together, as one alternation, find something.
class MatchSet {
public:
    explicit MatchSet(const QList<Pattern>& patterns);

    // For each pattern, the number of its matches that end in this chunk.
    const std::vector<int>& feed(const StreamMatcher::Chunk& chunk);
    // Pattern `index` starts afresh: no match reaches back before the next byte.
    void reset(int index);

private:
    // The literal patterns of one case treatment, as a complete transition table.
    class Automaton {
    public:
        static constexpr int MaxStates = 16384; // beyond this the patterns are matched one by one

        bool add(int index, QByteArrayView bytes);
        // With foldCase, upper-case ASCII letters take the paths of their lower-case ones, so
        // patterns added in lower case match either without lowering each chunk.
        void build(bool foldCase);
        bool isEmpty() const { return m_slots.empty(); }
        void feed(QByteArrayView bytes, std::vector<int>& hits);
        // Both automata in one pass over the bytes; `leads` holds the bytes either one's start
        // state leaves on.
        static void feed(Automaton& a, Automaton& b, const std::array<bool, 256>& leads, QByteArrayView bytes,
                         std::vector<int>& hits);
        const std::array<bool, 256>& leads() const { return m_leads; }
        void reset(int index);

    private:
        // state * 256 + byte: the next state while building, then its row (see build())
        std::vector<qint32> m_next { std::vector<qint32>(256, -1) };
        std::vector<qint32> m_output { -1 }; // per state: first entry in m_outputs, or -1
        std::vector<std::pair<int, qint32>> m_outputs; // slot and the next entry, or -1
        std::vector<qint32> m_dictionary; // per state: the nearest suffix state with output
        struct Slot {
            int index; // of the pattern
            qsizetype length;
            qint64 lastEnd; // stream position after its last match
        };
        std::vector<Slot> m_slots;
        std::array<bool, 256> m_leads {}; // the bytes the start state leaves on
        qint32 m_at = 0; // the current state's row in m_next, and its bit 0 as there
        qint64 m_position = 0;
        int states() const { return int(m_output.size()); }
        void report(qint32 state, qint64 end, std::vector<int>& hits);
    };

    std::vector<int> m_hits;
    Automaton m_exact;
    Automaton m_noCase;
    std::array<bool, 256> m_leads {}; // of both automata
    // Regular expressions, and literals that did not fit an automaton.
    std::vector<std::pair<int, StreamMatcher>> m_single;
    std::vector<int> m_where; // per pattern: 0 exact, 1 no case, 2 single
    bool m_anyRegex = false;
    // The regular expressions that can be joined, as one; a chunk it finds nothing in, not even
    // the start of a match, has nothing for any of them. Invalid when there are none.
    QRegularExpression m_anyOf;
    std::vector<bool> m_inAnyOf; // per entry of m_single
    QString m_context; // the stream's last characters, for the regular expressions
};

} // namespace comkeys
