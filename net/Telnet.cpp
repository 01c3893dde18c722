#include "Telnet.h"

#include <cstring>

namespace comkeys::telnet {

void Parser::feed(QByteArrayView in, QByteArray& data, std::vector<Event>& events)
{
    const char* p = in.data();
    const char* const end = p + in.size();
    while (p < end) {
        const auto byte = std::uint8_t(*p);
        switch (m_state) {
        case State::Data: {
            // Runs of plain data are copied whole: a flood holds no commands at all.
            const char* iac = static_cast<const char*>(std::memchr(p, Iac, std::size_t(end - p)));
            const char* runEnd = iac ? iac : end;
            data.append(p, runEnd - p);
            p = runEnd;
            if (iac) {
                m_state = State::Iac;
                ++p;
            }
            continue;
        }
        case State::Iac:
            if (byte == Iac) {
                data.append(char(Iac));
                m_state = State::Data;
            } else if (byte >= Will && byte <= Dont) {
                m_verb = byte;
                m_state = State::Option;
            } else if (byte == Sb) {
                m_sub = Event { Sb, 0, {} };
                m_subHasOption = false;
                m_state = State::Sub;
            } else {
                m_state = State::Data; // NOP, GA, a stray SE and the like carry nothing for us
            }
            break;
        case State::Option:
            events.push_back(Event { m_verb, byte, {} });
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == Iac) {
                m_state = State::SubIac;
            } else if (!m_subHasOption) {
                m_sub.option = byte;
                m_subHasOption = true;
            } else if (m_sub.payload.size() < PayloadLimit) {
                m_sub.payload.append(char(byte));
            }
            break;
        case State::SubIac:
            if (byte == Iac) {
                if (!m_subHasOption) {
                    m_sub.option = Iac;
                    m_subHasOption = true;
                } else if (m_sub.payload.size() < PayloadLimit) {
                    m_sub.payload.append(char(Iac));
                }
                m_state = State::Sub;
            } else if (byte == Se) {
                if (m_subHasOption) {
                    events.push_back(std::move(m_sub));
                }
                m_sub = {};
                m_state = State::Data;
            } else {
                // IAC followed by anything else ends a broken subnegotiation; the byte is read
                // as a command of its own.
                m_sub = {};
                m_state = State::Iac;
                continue;
            }
            break;
        }
        ++p;
    }
}

QByteArray escape(QByteArrayView data)
{
    QByteArray out;
    out.reserve(data.size() + data.count(char(Iac)));
    for (char c : data) {
        out.append(c);
        if (std::uint8_t(c) == Iac) {
            out.append(c);
        }
    }
    return out;
}

QByteArray command(std::uint8_t verb, std::uint8_t option)
{
    const char bytes[] = { char(Iac), char(verb), char(option) };
    return QByteArray(bytes, 3);
}

QByteArray comPort(std::uint8_t cmd, QByteArrayView value)
{
    const char head[] = { char(Iac), char(Sb), char(OptComPort), char(cmd) };
    QByteArray out(head, 4);
    out += escape(value);
    out += char(Iac);
    out += char(Se);
    return out;
}

} // namespace comkeys::telnet
