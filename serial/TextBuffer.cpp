#include "TextBuffer.h"

#include <algorithm>
#include <cstring>

namespace comkeys {

TextBuffer::TextBuffer(qsizetype limit)
    : m_limit(limit)
{
}

void TextBuffer::append(const QString& more, qsizetype times)
{
    if (more.isEmpty() || times <= 0) {
        return;
    }
    if (more.size() >= SharedChars) {
        Piece* last = m_pieces.empty() ? nullptr : &m_pieces.back();
        if (last && last->text.constData() == more.constData() && last->text.size() == more.size()) {
            last->repeats += times;
        } else {
            m_pieces.push_back(Piece { more, times });
        }
    } else {
        for (qsizetype t = 0; t < times; ++t) {
            if (m_pieces.empty() || m_pieces.back().repeats != 1 || m_pieces.back().text.size() >= BlockChars) {
                m_pieces.emplace_back();
                m_pieces.back().text.reserve(BlockChars);
            }
            m_pieces.back().text.append(more);
        }
    }
    m_size += more.size() * times;
    if (m_size <= m_limit) {
        return;
    }
    // Keep the newest three quarters, so the next trim is a quarter of the limit away.
    const qsizetype drop = m_size - m_limit * 3 / 4;
    m_size -= drop;
    m_trimmed += drop;
    m_skip += drop;
    while (m_skip >= m_pieces.front().size()) {
        m_skip -= m_pieces.front().size();
        m_pieces.pop_front();
    }
    Piece& front = m_pieces.front();
    if (const qsizetype copies = m_skip / front.text.size(); copies > 0) {
        front.repeats -= copies;
        m_skip -= copies * front.text.size();
    }
}

QString TextBuffer::tail(qsizetype n) const
{
    n = std::clamp<qsizetype>(n, 0, m_size);
    QString out;
    out.reserve(n);
    // Back from the end to the piece the tail starts in, then forward.
    auto it = m_pieces.end();
    qsizetype before = m_size + m_skip; // characters in the pieces before `it`
    while (it != m_pieces.begin() && before > m_size + m_skip - n) {
        --it;
        before -= it->size();
    }
    qsizetype from = m_size + m_skip - n - before;
    for (; it != m_pieces.end(); ++it, from = 0) {
        const qsizetype length = it->text.size();
        out += QStringView(it->text).sliced(from % length);
        for (qsizetype copy = from / length + 1; copy < it->repeats; ++copy) {
            out += it->text;
        }
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
    m_pieces.clear();
    m_skip = 0;
    m_size = 0;
    m_trimmed = 0;
    ++m_clears;
}

} // namespace comkeys
