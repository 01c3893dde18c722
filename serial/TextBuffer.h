#pragma once

#include <QString>

namespace comkeys {

// A text that only grows at its end, as the receive display and the log window hold it. It keeps
// at most `limit` characters: past that its oldest part goes in one large step, so trimming
// costs little per character. Views follow it through total() and clears().
class TextBuffer {
public:
    static constexpr qsizetype DefaultLimit = 4 * 1024 * 1024;

    explicit TextBuffer(qsizetype limit = DefaultLimit);

    const QString& text() const { return m_text; }
    void append(QStringView more);
    void clear();

    // Characters ever appended since the last clear, trimmed ones included.
    qsizetype total() const { return m_trimmed + m_text.size(); }
    // Counts clears, so a view knows when to start afresh.
    quint64 clears() const { return m_clears; }
    qsizetype limit() const { return m_limit; }

private:
    qsizetype m_limit;
    QString m_text;
    qsizetype m_trimmed = 0;
    quint64 m_clears = 0;
};

// Removes the first n characters in place: the text stays at the start of its buffer, so the
// appends that follow fit the capacity already there instead of taking fresh memory each time.
void dropFront(QString& text, qsizetype n);

} // namespace comkeys
