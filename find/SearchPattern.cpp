#include "SearchPattern.h"

namespace comkeys {

std::optional<QString> SearchPattern::hexBytes(const QString& text)
{
    QString bytes;
    int high = -1;
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u',') {
            if (high >= 0) {
                return std::nullopt; // a lone digit
            }
            continue;
        }
        const char16_t u = c.toLower().unicode();
        const int digit = u >= u'0' && u <= u'9' ? u - u'0' : u >= u'a' && u <= u'f' ? u - u'a' + 10 : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes += QChar(char16_t(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0 || bytes.isEmpty()) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<SearchPattern> SearchPattern::compile(ColourRule::Kind kind, const QString& text, bool caseSensitive,
                                        QString* error)
{
    auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    if (text.isEmpty()) {
        return fail(QStringLiteral("查找内容是空的"));
    }
    SearchPattern p;
    p.m_case = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    switch (kind) {
    case ColourRule::Kind::Text:
        p.m_kind = Kind::Plain;
        p.m_text = text;
        break;
    case ColourRule::Kind::Hex: {
        const std::optional<QString> bytes = hexBytes(text);
        if (!bytes) {
            return fail(QStringLiteral("十六进制要写成成对的数字，如 0D 0A"));
        }
        p.m_kind = Kind::Plain;
        p.m_text = *bytes;
        p.m_case = Qt::CaseSensitive;
        break;
    }
    case ColourRule::Kind::Regex: {
        p.m_kind = Kind::Regex;
        p.m_text = text;
        QRegularExpression::PatternOptions options = QRegularExpression::MultilineOption;
        if (!caseSensitive) {
            options |= QRegularExpression::CaseInsensitiveOption;
        }
        p.m_regex = QRegularExpression(text, options);
        if (!p.m_regex.isValid()) {
            return fail(QStringLiteral("正则表达式有误：%1").arg(p.m_regex.errorString()));
        }
        p.m_regex.optimize();
        return p;
    }
    }
    p.prepare();
    return p;
}

namespace {
    char16_t fold(char16_t c)
    {
        static const auto table = [] {
            std::array<char16_t, 256> t {};
            for (int i = 0; i < 256; ++i) {
                t[std::size_t(i)] = QChar(char16_t(i)).toCaseFolded().unicode();
            }
            return t;
        }();
        return c < 256 ? table[c] : QChar(c).toCaseFolded().unicode();
    }
} // namespace

void SearchPattern::prepare()
{
    if (m_case == Qt::CaseSensitive) {
        m_matcher = QStringMatcher(m_text, m_case);
        return;
    }
    // Without regard to case: a shift table over folded characters (by their low byte, taking
    // the smallest shift where two share one), several times faster than QStringMatcher's.
    m_folded = m_text.toCaseFolded();
    const auto n = m_folded.size();
    m_skip.fill(int(std::min<qsizetype>(n, std::numeric_limits<int>::max())));
    for (qsizetype i = 0; i + 1 < n; ++i) {
        m_skip[m_folded[i].unicode() & 0xFF] = int(n - 1 - i);
    }
}

qsizetype SearchPattern::foldedIndexIn(QStringView subject, qsizetype from) const
{
    const qsizetype n = m_folded.size();
    const auto* p = reinterpret_cast<const char16_t*>(m_folded.utf16());
    const auto* t = reinterpret_cast<const char16_t*>(subject.utf16());
    for (qsizetype i = from + n - 1; i < subject.size();) {
        const char16_t c = fold(t[i]);
        if (c == p[n - 1]) {
            qsizetype k = 1;
            while (k < n && fold(t[i - k]) == p[n - 1 - k]) {
                ++k;
            }
            if (k == n) {
                return i - n + 1;
            }
        }
        i += m_skip[c & 0xFF];
    }
    return -1;
}

SearchPattern SearchPattern::detached() const
{
    SearchPattern p;
    p.m_kind = m_kind;
    p.m_text = QString(m_text.constData(), m_text.size());
    p.m_case = m_case;
    if (m_kind == Kind::Plain) {
        p.prepare();
    } else if (m_kind == Kind::Regex) {
        p.m_regex = QRegularExpression(p.m_text, m_regex.patternOptions());
        p.m_regex.optimize();
    }
    return p;
}

std::optional<Found> SearchPattern::next(QStringView subject, qsizetype from) const
{
    switch (m_kind) {
    case Kind::None:
        return std::nullopt;
    case Kind::Plain: {
        const qsizetype at = m_case == Qt::CaseSensitive ? m_matcher.indexIn(subject, from) : foldedIndexIn(subject, from);
        if (at < 0) {
            return std::nullopt;
        }
        return Found { at, m_text.size() };
    }
    case Kind::Regex:
        while (from <= subject.size()) {
            const QRegularExpressionMatch m = m_regex.match(subject, from);
            if (!m.hasMatch()) {
                return std::nullopt;
            }
            if (m.capturedLength() > 0) {
                return Found { m.capturedStart(), m.capturedLength() };
            }
            from = m.capturedStart() + 1; // an empty match marks nothing
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace comkeys
