#pragma once

#include "KeySet.h"

#include <array>

namespace comkeys {

// The 192 captions and commands held in memory, for a face without a window.
class KeyTable : public KeyBoard {
public:
    KeyTable()
    {
        for (int i = 0; i < KeyCount; ++i) {
            m_captions[std::size_t(i)] = defaultCaption(i);
        }
    }
    QString caption(int index) const override { return m_captions[std::size_t(index)]; }
    void setCaption(int index, const QString& caption) override { m_captions[std::size_t(index)] = caption; }
    QString command(int index) const override { return m_commands[std::size_t(index)]; }
    void setCommand(int index, const QString& command) override { m_commands[std::size_t(index)] = command; }

private:
    std::array<QString, KeyCount> m_captions;
    std::array<QString, KeyCount> m_commands;
};

} // namespace comkeys
