#include "TextBuffer.h"

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
        m_text.remove(0, drop);
        m_trimmed += drop;
    }
}

void TextBuffer::clear()
{
    m_text.clear();
    m_trimmed = 0;
    ++m_clears;
}

} // namespace comkeys
