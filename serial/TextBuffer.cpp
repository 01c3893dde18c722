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
    while (!more.isEmpty()) {
        if (m_blocks.empty() || m_blocks.back().size() >= BlockChars) {
            m_blocks.emplace_back();
            m_blocks.back().reserve(BlockChars);
        }
        QString& block = m_blocks.back();
        const qsizetype take = std::min(more.size(), BlockChars - block.size());
        block.append(more.first(take));
        more = more.sliced(take);
        m_size += take;
    }
    if (m_size <= m_limit) {
        return;
    }
    // Keep the newest three quarters, so the next trim is a quarter of the limit away.
    const qsizetype drop = m_size - m_limit * 3 / 4;
    m_size -= drop;
    m_trimmed += drop;
    m_skip += drop;
    while (m_skip >= m_blocks.front().size()) {
        m_skip -= m_blocks.front().size();
        m_blocks.pop_front();
    }
}

QString TextBuffer::tail(qsizetype n) const
{
    n = std::clamp<qsizetype>(n, 0, m_size);
    QString out;
    out.reserve(n);
    // Back from the end to the block the tail starts in, then forward.
    auto it = m_blocks.end();
    qsizetype before = m_size + m_skip; // characters in the blocks before `it`
    while (it != m_blocks.begin() && before > m_size + m_skip - n) {
        --it;
        before -= it->size();
    }
    qsizetype from = m_size + m_skip - n - before;
    for (; it != m_blocks.end(); ++it, from = 0) {
        out += QStringView(*it).sliced(from);
    }
    return out;
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
    m_blocks.clear();
    m_skip = 0;
    m_size = 0;
    m_trimmed = 0;
    ++m_clears;
}

} // namespace comkeys
