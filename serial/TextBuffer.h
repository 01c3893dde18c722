#pragma once

#include <QString>

#include <deque>

namespace comkeys {

// A text that only grows at its end, as the log window holds it. It keeps at most `limit`
// characters: past that its oldest quarter goes in one step. The text lives in pieces, so
// neither appending nor trimming moves what is already kept, and a long text appended again
// and again (a marker line) is kept once with a count rather than copied or stored each time.
// Views follow it through total() and clears().
class TextBuffer {
public:
    static constexpr qsizetype DefaultLimit = 4 * 1024 * 1024;

    explicit TextBuffer(qsizetype limit = DefaultLimit);

    // The kept text, or its newest n characters.
    QString text() const { return tail(m_size); }
    QString tail(qsizetype n) const;
    // `more`, `times` times over.
    void append(const QString& more, qsizetype times = 1);
    void clear();

    // Characters ever appended since the last clear, trimmed ones included.
    qsizetype total() const { return m_trimmed + m_size; }
    // Counts clears, so a view knows when to start afresh.
    quint64 clears() const { return m_clears; }

private:
    static constexpr qsizetype BlockChars = 64 * 1024;
    static constexpr qsizetype SharedChars = 512; // appended texts this long stay a piece of their own

    struct Piece {
        QString text;
        qsizetype repeats = 1; // the text this many times over
        qsizetype size() const { return text.size() * repeats; }
    };

    qsizetype m_limit;
    std::deque<Piece> m_pieces;
    qsizetype m_skip = 0; // trimmed characters still at the front of the first piece
    qsizetype m_size = 0; // kept characters
    qsizetype m_trimmed = 0;
    quint64 m_clears = 0;
};

// Removes the first n characters in place: the text stays at the start of its buffer, so the
// appends that follow fit the capacity already there instead of taking fresh memory each time.
void dropFront(QString& text, qsizetype n);

} // namespace comkeys
