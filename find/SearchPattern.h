#pragma once

#include "ColourRule.h"

#include <QRegularExpression>
#include <QString>
#include <QStringMatcher>

#include <array>
#include <optional>

namespace comkeys {

// What a pattern found: where it starts in the subject and how many characters it takes.
struct Found {
    qsizetype start = 0;
    qsizetype length = 0;
};

// A compiled pattern: text (with or without regard to case), a regular expression (^ and $ at
// line breaks), or hex bytes ("0D 0A") looked for as the characters of those bytes. Received
// text is one character a byte, so a hex pattern finds those bytes. A default pattern finds
// nothing. Copies are independent, so a copy may run on another thread.
class SearchPattern {
public:
    SearchPattern() = default;
    // The pattern, or nothing with the reason (in Chinese, for the user) in *error.
    static std::optional<SearchPattern> compile(ColourRule::Kind kind, const QString& text, bool caseSensitive,
                                          QString* error = nullptr);
    // Characters of the bytes a hex pattern names, or nothing when it is not pairs of hex digits.
    static std::optional<QString> hexBytes(const QString& text);

    bool isEmpty() const { return m_kind == Kind::None; }
    // The first match starting at or after `from`; empty matches are skipped.
    std::optional<Found> next(QStringView subject, qsizetype from = 0) const;
    bool matches(QStringView subject) const { return next(subject).has_value(); }
    // Every match from `from`, left to right, without overlaps; stops when f returns false.
    template <class F>
    void forEach(QStringView subject, qsizetype from, F f) const
    {
        while (const std::optional<Found> m = next(subject, from)) {
            if (!f(*m)) {
                return;
            }
            from = m->start + m->length;
        }
    }
    // A copy that shares nothing with this one (for another thread).
    SearchPattern detached() const;

private:
    void prepare();
    qsizetype foldedIndexIn(QStringView subject, qsizetype from) const;

    enum class Kind { None, Plain, Regex };
    Kind m_kind = Kind::None;
    QString m_text;
    Qt::CaseSensitivity m_case = Qt::CaseSensitive;
    QStringMatcher m_matcher;
    QString m_folded; // without regard to case: the text folded, and how far to shift
    std::array<int, 256> m_skip {};
    QRegularExpression m_regex;
};

} // namespace comkeys
