#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <deque>

class QFontMetricsF;

namespace comkeys {

// The text of the receive display, wrapped into visual lines once, as it arrives: each line's
// start is kept, so painting and scrolling cost the lines in view, not the text. Wrapping is
// greedy at blanks, or anywhere in a word longer than a line, by a table of character widths
// (thousands of times faster than laying out with QTextLayout); '\n' ends a line. Positions are
// absolute character offsets that survive trimming of the oldest part.
class WrappedText {
public:
    static constexpr qsizetype DefaultLimit = 4 * 1024 * 1024;

    explicit WrappedText(qsizetype limit = DefaultLimit);

    // The widths of characters as they are painted (see shown()), and the line width; both wrap
    // the kept text anew.
    void setMetrics(const QFontMetricsF& metrics, qreal width);
    void append(QStringView text);
    // Received bytes as the display shows them: each byte as the character of that code, carriage
    // returns left out (they end lines in the log window instead); painted through shown().
    void appendReceived(QByteArrayView bytes);
    // Replaces everything after the last '\n' (a line still being filled, such as a hex row).
    void replaceOpenLine(QStringView text);
    void clear();

    qint64 firstLine() const { return m_firstLine; }
    qint64 endLine() const { return m_firstLine + qint64(m_starts.size()); } // one past the last
    qint64 lineStart(qint64 line) const { return m_starts[std::size_t(line - m_firstLine)]; }
    // One past the line's last character, its '\n' excluded.
    qint64 lineEnd(qint64 line) const;
    qint64 begin() const { return m_base + m_dead; }
    qint64 end() const { return m_base + m_text.size(); }
    QChar at(qint64 pos) const { return m_text[qsizetype(pos - m_base)]; }
    QString text(qint64 from, qint64 to) const;
    QString text() const { return m_text.mid(m_dead); }
    // The line holding the position (a position at a line's end belongs to it).
    qint64 lineOf(qint64 pos) const;
    qreal advance(QChar c) const;
    qreal width() const { return m_width; }

    // The first line changed since markClean() (lines before it are as they were); a rewrap or
    // clear changes all.
    qint64 dirtyFrom() const { return m_dirtyFrom; }
    bool allDirty() const { return m_allDirty; }
    void markClean();

    // A character as painted: control characters as their control pictures, so each byte shows
    // as something distinct.
    static QChar shown(QChar c);

private:
    // Wraps the characters just stored from index `first` of m_text on; `chars` holds the same
    // characters (QChar, or bytes taken as Latin-1).
    template <class Char>
    void place(const Char* chars, qsizetype count, qsizetype first);
    void trim();
    void rewrap();

    qsizetype m_limit;
    QString m_text;
    qint64 m_base = 0; // absolute offset of m_text[0]
    // Trimmed characters still at the front of m_text: they go in one move once they outweigh
    // the kept ones, so a long stream moves each character about once, not at every trim.
    qsizetype m_dead = 0;
    std::deque<qint64> m_starts { 0 }; // absolute start of each visual line
    qint64 m_firstLine = 0;
    qint64 m_openStart = 0; // after the last '\n'
    qreal m_width = 1e9;
    std::array<qreal, 256> m_advances {};
    qreal m_otherAdvance = 8;
    // The same widths in 1/64 pixel, for the wrapping loop.
    std::array<qint32, 256> m_fixed {};
    // The same, with blanks and line feeds wider than any line, so they always leave the fast
    // path of the wrapping loop.
    static constexpr qint32 MaxFixedWidth = 1 << 28;
    static constexpr qint32 WiderThanAnyLine = 1 << 29;
    std::array<qint32, 256> m_wrapFixed {};
    qint32 m_fixedOther = 8 * 64;
    qint32 m_fixedWidth = MaxFixedWidth;
    // The line being filled: its width, and the last place it may break (after a blank).
    qint64 m_dirtyFrom = 0;
    bool m_allDirty = true;
    qint32 m_x = 0;
    qint64 m_break = -1;
    qint32 m_afterBreak = 0;
};

} // namespace comkeys
