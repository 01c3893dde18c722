#include "Pattern.h"

namespace comkeys {

namespace {
    const QString RegexPrefix = QStringLiteral("re:");
    const QString HexPrefix = QStringLiteral("hex:");
    const QString NoCasePrefix = QStringLiteral("nocase:");
    const QString TextPrefix = QStringLiteral("text:");
    // Lines end at CR, LF or CR LF for ^ and $, as devices end them either way.
    const QString LineEnds = QStringLiteral("(*ANYCRLF)");
    constexpr qsizetype Context = StreamMatcher::ContextChars;

    char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

    QByteArray lowered(QByteArrayView bytes)
    {
        QByteArray out(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            out[i] = lowerAscii(bytes[i]);
        }
        return out;
    }

    bool fail(QString* error, const QString& reason)
    {
        if (error) {
            *error = reason;
        }
        return false;
    }
} // namespace

std::optional<Pattern> Pattern::parse(const QString& written, QString* error)
{
    Pattern p;
    if (written.startsWith(RegexPrefix)) {
        p.m_kind = Kind::Regex;
        p.m_body = written.mid(RegexPrefix.size());
    } else if (written.startsWith(HexPrefix)) {
        p.m_kind = Kind::Hex;
        p.m_body = written.mid(HexPrefix.size());
    } else if (written.startsWith(NoCasePrefix)) {
        p.m_caseSensitive = false;
        p.m_body = written.mid(NoCasePrefix.size());
    } else if (written.startsWith(TextPrefix)) {
        p.m_body = written.mid(TextPrefix.size());
    } else {
        p.m_body = written;
    }
    if (p.m_body.isEmpty()) {
        fail(error, QStringLiteral("匹配内容是空的"));
        return std::nullopt;
    }
    switch (p.m_kind) {
    case Kind::Text:
        for (QChar c : std::as_const(p.m_body)) {
            if (c.unicode() > 255) {
                fail(error, QStringLiteral("文本中的字符“%1”不是单字节字符，无法在接收数据中查找").arg(c));
                return std::nullopt;
            }
        }
        p.m_bytes = p.m_body.toLatin1();
        if (!p.m_caseSensitive) {
            p.m_bytes = lowered(p.m_bytes);
        }
        break;
    case Kind::Hex: {
        QString digits = p.m_body;
        digits.remove(u' ');
        digits.remove(u'\t');
        bool ok = !digits.isEmpty() && digits.size() % 2 == 0;
        for (QChar c : std::as_const(digits)) {
            ok = ok && ((c >= u'0' && c <= u'9') || (c.toLower() >= u'a' && c.toLower() <= u'f'));
        }
        if (!ok) {
            fail(error,
                QStringLiteral("“%1”不是十六进制字节：每个字节写两个十六进制数字，可以用空格隔开").arg(p.m_body));
            return std::nullopt;
        }
        p.m_bytes = QByteArray::fromHex(digits.toLatin1());
        break;
    }
    case Kind::Regex:
        p.m_regex = QRegularExpression(LineEnds + p.m_body, QRegularExpression::MultilineOption);
        if (!p.m_regex.isValid()) {
            fail(error,
                QStringLiteral("正则表达式有错：%1（第 %2 个字符）")
                    .arg(p.m_regex.errorString())
                    .arg(p.m_regex.patternErrorOffset() - LineEnds.size() + 1));
            return std::nullopt;
        }
        // An expression that matches nothing at all would fire on every byte.
        if (p.m_regex.match(QString()).hasMatch()) {
            fail(error, QStringLiteral("正则表达式“%1”能匹配空文本，请写出要等待的内容").arg(p.m_body));
            return std::nullopt;
        }
        p.m_regex.optimize();
        break;
    }
    return p;
}

QString Pattern::toString() const
{
    switch (m_kind) {
    case Kind::Regex:
        return RegexPrefix + m_body;
    case Kind::Hex:
        return HexPrefix + m_body;
    case Kind::Text:
        break;
    }
    if (!m_caseSensitive) {
        return NoCasePrefix + m_body;
    }
    for (const QString& prefix : { RegexPrefix, HexPrefix, NoCasePrefix, TextPrefix }) {
        if (m_body.startsWith(prefix)) {
            return TextPrefix + m_body;
        }
    }
    return m_body;
}

ColourRule Pattern::colourRule(const QColor& colour) const
{
    ColourRule rule;
    rule.kind = m_kind == Kind::Regex ? ColourRule::Kind::Regex
        : m_kind == Kind::Hex         ? ColourRule::Kind::Hex
                                      : ColourRule::Kind::Text;
    rule.pattern = m_body;
    rule.caseSensitive = m_caseSensitive;
    rule.colour = colour;
    rule.wholeLine = false;
    return rule;
}

StreamMatcher::StreamMatcher(Pattern pattern)
    : m_pattern(std::move(pattern))
{
}

void StreamMatcher::reset()
{
    m_tail.clear();
    m_skip = 0;
    m_window.clear();
    m_from = 0;
    m_waiting = false;
}

QByteArrayView StreamMatcher::Chunk::lowered() const
{
    if (!m_lowered) {
        m_lowered = comkeys::lowered(m_bytes);
    }
    return *m_lowered;
}

const QString& StreamMatcher::Chunk::text() const
{
    if (!m_text) {
        m_text = QString::fromLatin1(m_bytes);
    }
    return *m_text;
}

int StreamMatcher::feed(const Chunk& chunk)
{
    if (chunk.bytes().isEmpty()) {
        return 0;
    }
    if (m_pattern.kind() == Pattern::Kind::Regex) {
        return feedRegex(chunk.text());
    }
    return feedBytes(m_pattern.caseSensitive() ? chunk.bytes() : chunk.lowered());
}

int StreamMatcher::feedBytes(QByteArrayView chunk)
{
    const QByteArrayView needle(m_pattern.bytes());
    const qsizetype n = needle.size();
    int found = 0;
    const qsizetype t = m_tail.size();
    // The end of the last match, counted in tail + chunk; matches never reach back before it.
    qsizetype matchEnd = m_skip;
    if (t > 0) {
        // Matches that start in the kept tail end within the chunk's first n-1 bytes.
        QByteArray seam = m_tail;
        seam += chunk.first(std::min(n - 1, chunk.size()));
        for (qsizetype at = seam.indexOf(needle, m_skip); at >= 0 && at < t; at = seam.indexOf(needle, at + n)) {
            ++found;
            matchEnd = at + n;
        }
    }
    for (qsizetype at = chunk.indexOf(needle, std::max<qsizetype>(0, matchEnd - t)); at >= 0;
         at = chunk.indexOf(needle, matchEnd - t)) {
        ++found;
        matchEnd = t + at + n;
    }
    // Keep what a match could still start in: the last n-1 bytes of tail and chunk together,
    // minus any the last match took.
    const qsizetype fromChunk = std::min(n - 1, chunk.size());
    const qsizetype dropped = chunk.size() - fromChunk; // chunk bytes before the part kept
    QByteArray joined = m_tail;
    joined += chunk.last(fromChunk);
    const qsizetype keep = std::min(n - 1, joined.size());
    // matchEnd in joined's terms; a tail position counts only when no chunk byte was dropped.
    const qsizetype endInJoined = matchEnd >= t ? matchEnd - dropped : (dropped == 0 ? matchEnd : 0);
    m_tail = joined.last(keep);
    m_skip = std::max<qsizetype>(0, endInJoined - (joined.size() - keep));
    return found;
}

int StreamMatcher::feed(const Chunk& chunk, const QString& contextAndChunk)
{
    if (m_pattern.kind() != Pattern::Kind::Regex || m_waiting || chunk.bytes().isEmpty()) {
        return feed(chunk);
    }
    // Nothing pending: the shared string holds all this search needs, so nothing is copied.
    return scan(contextAndChunk, contextAndChunk.size() - chunk.bytes().size(), true);
}

int StreamMatcher::feedRegex(const QString& chunk)
{
    m_window += chunk;
    return scan(m_window, m_from, false);
}

int StreamMatcher::scan(const QString& subject, qsizetype from, bool shared)
{
    int found = 0;
    for (;;) {
        const QRegularExpressionMatch m = m_pattern.regex().match(subject, from,
            QRegularExpression::PartialPreferFirstMatch, QRegularExpression::DontCheckSubjectStringMatchOption);
        if (m.hasPartialMatch()) {
            // Not before where this search began: a look-behind or \B may have looked further
            // back, and an empty subject gives no start at all (-1).
            from = std::max(from, m.capturedStart());
            break;
        }
        if (!m.hasMatch()) {
            from = subject.size();
            break;
        }
        ++found;
        // An empty match (a bare look-ahead) moves on by one so it cannot repeat.
        from = std::min(std::max(m.capturedEnd(), m.capturedStart() + 1), subject.size());
    }
    // A partial match that would keep growing past the window is given up.
    from = std::max(from, subject.size() - WindowBytes);
    m_waiting = from < subject.size();
    const qsizetype keepFrom = std::max<qsizetype>(0, from - Context);
    if (shared) {
        m_window = subject.sliced(keepFrom);
    } else {
        m_window.remove(0, keepFrom);
    }
    m_from = from - keepFrom;
    return found;
}

} // namespace comkeys
