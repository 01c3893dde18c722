#include "TextBuffer.h"

#include <algorithm>
#include <cstring>

namespace comkeys {

TextBuffer::TextBuffer(qsizetype limit)
    : m_limit(limit)
{
}

void TextBuffer::append(QStringView more)
{
    if (more.size() >= m_limit) {
        m_trimmed += m_text.size() + (more.size() - m_limit * 3 / 4);
        m_text = more.right(m_limit * 3 / 4).toString();
        return;
    }
    m_text.append(more);
    if (m_text.size() > m_limit) {
        // Keep the newest three quarters, so the next trim is a quarter of the limit away.
        const qsizetype drop = m_text.size() - m_limit * 3 / 4;
        dropFront(m_text, drop);
        m_trimmed += drop;
    }
}

void dropFront(QString& text, qsizetype n)
{
    n = std::min(n, text.size());
    QChar* data = text.data();
    std::memmove(data, data + n, std::size_t(text.size() - n) * sizeof(QChar));
    text.truncate(text.size() - n);
}

void TextBuffer::clear()
{
    m_text.clear();
    m_trimmed = 0;
    ++m_clears;
}

} // namespace comkeys
