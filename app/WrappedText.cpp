#include "WrappedText.h"

#include "TextBuffer.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace comkeys {

namespace {
    unsigned unit(QChar c) { return c.unicode(); }
    unsigned unit(char c) { return uchar(c); }

    // Latin-1 to UTF-16, sixteen bytes a step where the processor has the instructions for it.
    void widen(char16_t* to, const char* from, qsizetype n)
    {
        qsizetype i = 0;
#ifdef __SSE2__
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_unpacklo_epi8(chunk, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8), _mm_unpackhi_epi8(chunk, zero));
        }
#endif
        for (; i < n; ++i) {
            to[i] = uchar(from[i]);
        }
    }
} // namespace

WrappedText::WrappedText(qsizetype limit)
    : m_limit(limit)
{
    m_advances.fill(8);
    m_wrapFixed[' '] = m_wrapFixed['\n'] = WiderThanAnyLine;
}

QChar WrappedText::shown(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x20) {
        return QChar(char16_t(0x2400 + u));
    }
    return u == 0x7F ? QChar(char16_t(0x2421)) : c;
}

void WrappedText::setMetrics(const QFontMetricsF& metrics, qreal width)
{
    for (int c = 0; c < 256; ++c) {
        m_advances[std::size_t(c)] = metrics.horizontalAdvance(shown(QChar(char16_t(c))));
    }
    m_otherAdvance = metrics.averageCharWidth();
    m_width = std::max<qreal>(1, width);
    for (std::size_t c = 0; c < 256; ++c) {
        m_fixed[c] = std::max<qint32>(0, qint32(std::lround(m_advances[c] * 64))); // never negative: place() sums them
    }
    m_wrapFixed = m_fixed;
    m_wrapFixed[' '] = m_wrapFixed['\n'] = WiderThanAnyLine;
    m_fixedOther = std::max<qint32>(0, qint32(std::lround(m_otherAdvance * 64)));
    m_fixedWidth = qint32(std::min<qreal>(std::round(m_width * 64), MaxFixedWidth));
    rewrap();
}

qreal WrappedText::advance(QChar c) const
{
    return c.unicode() < 256 ? m_advances[c.unicode()] : m_otherAdvance;
}

void WrappedText::markClean()
{
    m_dirtyFrom = endLine() - 1;
    m_allDirty = false;
}

void WrappedText::clear()
{
    m_allDirty = true;
    m_text.clear();
    m_base = 0;
    m_dead = 0;
    m_starts = { 0 };
    m_firstLine = 0;
    m_openStart = 0;
    m_x = 0;
    m_break = -1;
    m_afterBreak = 0;
}

qint64 WrappedText::lineEnd(qint64 line) const
{
    const qint64 next = line + 1 < endLine() ? lineStart(line + 1) : end();
    return next > lineStart(line) && at(next - 1) == u'\n' ? next - 1 : next;
}

QString WrappedText::text(qint64 from, qint64 to) const
{
    from = std::clamp(from, begin(), end());
    to = std::clamp(to, from, end());
    return m_text.mid(qsizetype(from - m_base), qsizetype(to - from));
}

qint64 WrappedText::lineOf(qint64 pos) const
{
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(), pos);
    const qint64 index = std::max<qint64>(0, (it - m_starts.begin()) - 1);
    return m_firstLine + index;
}

template <class Char>
void WrappedText::place(const Char* chars, qsizetype count, qsizetype first)
{
    // This loop runs for every character that arrives: the line being filled lives in locals,
    // positions are indexes into m_text, and the width after the last blank is kept as the
    // line's width at that blank. Characters go four at a time while all four fit and none is
    // a blank or a line feed (those are wider than any line here, and no width is negative):
    // four look-ups and one comparison. The four around an edge go one by one.
    const qint32 width = m_fixedWidth;
    const auto widthOf = [this](const Char& ch) {
        const unsigned c = unit(ch);
        return c < 256 ? m_wrapFixed[c] : m_fixedOther;
    };
    qint32 x = m_x;
    qint32 xAtBreak = m_x - m_afterBreak;
    qsizetype lineStart = qsizetype(m_starts.back() - m_base);
    qsizetype lastBreak = m_break < 0 ? -1 : qsizetype(m_break - m_base);
    qsizetype k = 0;
    while (k < count) {
        if (k + 4 <= count) {
            // 64 bits: four widths wider than any line would overflow 32.
            const qint64 four = qint64(widthOf(chars[k])) + widthOf(chars[k + 1]) + widthOf(chars[k + 2])
                + widthOf(chars[k + 3]);
            if (x + four <= width) [[likely]] {
                x += qint32(four);
                k += 4;
                continue;
            }
        }
        for (const qsizetype stop = std::min(count, k + 4); k < stop; ++k) {
            const unsigned c = unit(chars[k]);
            const qint32 w = widthOf(chars[k]);
            if (x + w <= width) {
                x += w;
                continue;
            }
            const qsizetype i = first + k;
            if (c == u'\n') {
                lineStart = i + 1;
                m_openStart = m_base + lineStart;
                m_starts.push_back(m_openStart);
                x = 0;
                lastBreak = -1;
                continue;
            }
            if (c == u' ') {
                // A blank may hang past the edge.
                x += m_fixed[c];
                lastBreak = i + 1;
                xAtBreak = x;
                continue;
            }
            // Anything else that does not fit starts a new line, at the last blank when the
            // line has one.
            if (i > lineStart) {
                if (lastBreak > lineStart) {
                    lineStart = lastBreak;
                    x -= xAtBreak;
                } else {
                    lineStart = i;
                    x = 0;
                }
                m_starts.push_back(m_base + lineStart);
                lastBreak = -1;
            }
            x += w;
        }
    }
    m_x = x;
    m_break = lastBreak < 0 ? -1 : m_base + lastBreak;
    m_afterBreak = x - xAtBreak;
}

void WrappedText::append(QStringView text)
{
    m_dirtyFrom = std::min(m_dirtyFrom, endLine() - 1);
    const qint64 from = end();
    m_text.append(text);
    place(text.data(), text.size(), qsizetype(from - m_base));
    if (m_text.size() - m_dead > m_limit) {
        trim();
    }
}

void WrappedText::appendReceived(QByteArrayView bytes)
{
    m_dirtyFrom = std::min(m_dirtyFrom, endLine() - 1);
    // Room for the whole chunk at once; each run between carriage returns is widened straight
    // into it, so a line costs no call into QString.
    qsizetype first = m_text.size();
    m_text.resize(first + bytes.size());
    char16_t* text = reinterpret_cast<char16_t*>(m_text.data());
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (p < end) {
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(end - p)));
        const char* runEnd = cr ? cr : end;
        widen(text + first, p, runEnd - p);
        place(p, runEnd - p, first);
        first += runEnd - p;
        p = runEnd + 1;
    }
    m_text.truncate(first);
    if (m_text.size() - m_dead > m_limit) {
        trim();
    }
}

void WrappedText::replaceOpenLine(QStringView text)
{
    // Back to the state right after the last '\n', then the line again.
    const qint64 keep = std::max(m_openStart, begin());
    m_dirtyFrom = std::min(m_dirtyFrom, lineOf(keep));
    m_text.truncate(qsizetype(keep - m_base));
    while (m_starts.size() > 1 && m_starts.back() > keep) {
        m_starts.pop_back();
    }
    if (m_starts.back() < keep) {
        m_starts.push_back(keep);
    }
    m_x = 0;
    m_break = -1;
    m_afterBreak = 0;
    append(text);
}

void WrappedText::trim()
{
    // Drop whole lines from the front until a quarter of the limit is free.
    const qint64 wanted = end() - m_limit * 3 / 4;
    std::size_t drop = 0;
    while (drop + 1 < m_starts.size() && m_starts[drop + 1] <= wanted) {
        ++drop;
    }
    if (drop == 0) {
        return;
    }
    const qint64 newBase = m_starts[drop];
    m_starts.erase(m_starts.begin(), m_starts.begin() + std::ptrdiff_t(drop));
    m_firstLine += qint64(drop);
    m_dead = qsizetype(newBase - m_base);
    if (m_dead > m_text.size() / 2) {
        dropFront(m_text, m_dead);
        m_base = newBase;
        m_dead = 0;
    }
}

void WrappedText::rewrap()
{
    m_allDirty = true;
    const QString kept = text();
    const qint64 base = begin();
    const qint64 firstLine = m_firstLine;
    clear();
    m_base = base;
    m_starts = { base };
    m_openStart = base;
    m_firstLine = firstLine;
    append(kept);
}

} // namespace comkeys
