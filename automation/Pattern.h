#pragma once

#include "ColourRule.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <optional>

namespace comkeys {

// What an expect, a repeat's stop condition or an answer rule looks for in received bytes,
// written as one string the way the key-set file and the command line write it:
//   OK            text (each character one byte, as commands are sent), case as written
//   nocase:ok     text, upper and lower case alike (ASCII letters)
//   text:re:x     text that would otherwise read as one of these forms
//   re:OK\r$      a regular expression over the bytes read as Latin-1; ^ and $ are line
//                 anchors (CR, LF or CR LF end a line)
//   hex:0D 0A     bytes, as pairs of hexadecimal digits, blanks allowed
class Pattern {
public:
    enum class Kind { Text, Regex, Hex };

    // Nothing, with a reason in Chinese in *error, for an empty pattern, a character a single
    // byte cannot carry, bad hex or a regular expression that does not compile or matches the
    // empty text.
    static std::optional<Pattern> parse(const QString& written, QString* error = nullptr);

    Kind kind() const { return m_kind; }
    bool caseSensitive() const { return m_caseSensitive; }
    // The string parse() read it from, in its canonical form.
    QString toString() const;
    // The text, hex digits or expression without its prefix.
    const QString& body() const { return m_body; }
    // The bytes a Text or Hex pattern looks for (lower-cased when case does not matter).
    const QByteArray& bytes() const { return m_bytes; }
    const QRegularExpression& regex() const { return m_regex; }

    // The same pattern as a colour rule for the receive display: only the matching text marked.
    ColourRule colourRule(const QColor& colour) const;

    friend bool operator==(const Pattern& a, const Pattern& b) { return a.toString() == b.toString(); }

private:
    Kind m_kind = Kind::Text;
    bool m_caseSensitive = true;
    QString m_body;
    QByteArray m_bytes;
    QRegularExpression m_regex;
};

// Finds a pattern in bytes that arrive in chunks. A match split across chunks at any byte counts
// once; matches do not overlap (after a match the search goes on behind it), so two occurrences
// in one chunk count two. A regular expression whose match could still grow with the next bytes
// ("O+" at the end of a chunk) waits for them. Memory stays bounded: a regular expression looks
// at most WindowBytes back.
class StreamMatcher {
public:
    static constexpr qsizetype WindowBytes = 64 * 1024;
    // Characters a regular expression sees before where its search starts, so anchors and
    // look-behinds know what came before.
    static constexpr qsizetype ContextChars = 256;

    // One received chunk in the forms the matchers look at, each made once however many
    // matchers look at it.
    class Chunk {
    public:
        explicit Chunk(QByteArrayView bytes)
            : m_bytes(bytes)
        {
        }
        QByteArrayView bytes() const { return m_bytes; }
        QByteArrayView lowered() const; // ASCII letters in lower case
        const QString& text() const; // read as Latin-1

    private:
        QByteArrayView m_bytes;
        mutable std::optional<QByteArray> m_lowered;
        mutable std::optional<QString> m_text;
    };

    explicit StreamMatcher(Pattern pattern);

    // The number of matches that end in these bytes.
    int feed(QByteArrayView chunk) { return feed(Chunk(chunk)); }
    int feed(const Chunk& chunk);
    // The same for a regular expression, given the stream's last ContextChars characters before
    // the chunk followed by the chunk, as one string that many matchers share.
    int feed(const Chunk& chunk, const QString& contextAndChunk);
    void reset();
    const Pattern& pattern() const { return m_pattern; }
    // A regular expression's match may have begun that the next bytes complete.
    bool waiting() const { return m_waiting; }

private:
    int feedBytes(QByteArrayView chunk);
    int feedRegex(const QString& chunk);
    int scan(const QString& subject, qsizetype from, bool shared);

    Pattern m_pattern;
    QByteArray m_tail; // Text/Hex: the bytes a match could still start in
    qsizetype m_skip = 0; // of m_tail, covered by the last match
    QString m_window; // Regex: received text kept for the search
    qsizetype m_from = 0; // where in m_window the next search starts
    bool m_waiting = false; // Regex: a match may have begun that the next bytes complete
};

} // namespace comkeys
