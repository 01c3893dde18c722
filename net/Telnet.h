#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace comkeys::telnet {

// Telnet bytes (RFC 854) and the options a serial line over Telnet uses.
enum : std::uint8_t {
    Se = 240,
    Sb = 250,
    Will = 251,
    Wont = 252,
    Do = 253,
    Dont = 254,
    Iac = 255,
};
enum : std::uint8_t {
    OptBinary = 0,
    OptEcho = 1,
    OptSuppressGoAhead = 3,
    OptComPort = 44,
};

// COM-PORT-OPTION commands (RFC 2217) as the client sends them; the server answers with the
// same number plus ServerOffset.
enum : std::uint8_t {
    CpSignature = 0,
    CpSetBaudRate = 1,
    CpSetDataSize = 2,
    CpSetParity = 3,
    CpSetStopSize = 4,
    CpSetControl = 5,
    CpNotifyLineState = 6,
    CpNotifyModemState = 7,
    CpSetLineStateMask = 10,
    CpSetModemStateMask = 11,
    ServerOffset = 100,
};

// One thing the other side said outside the data: an option verb (Will/Wont/Do/Dont with its
// option), or a subnegotiation (verb Sb, the option and its payload, doubled IACs undone).
struct Event {
    std::uint8_t verb = 0;
    std::uint8_t option = 0;
    QByteArray payload;
    bool operator==(const Event&) const = default;
};

// Splits a Telnet stream into data and events. Any split of the stream into reads gives the
// same result: a command cut between two reads is finished by the next one.
class Parser {
public:
    // Subnegotiation payload kept at most; the rest of an overlong one is dropped.
    static constexpr qsizetype PayloadLimit = 256;

    // Appends the data bytes of in to data and what was said outside it to events.
    void feed(QByteArrayView in, QByteArray& data, std::vector<Event>& events);

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    Event m_sub;
    bool m_subHasOption = false;
};

// The bytes as Telnet data: every 0xFF doubled.
QByteArray escape(QByteArrayView data);
// IAC verb option.
QByteArray command(std::uint8_t verb, std::uint8_t option);
// A COM-PORT-OPTION subnegotiation: IAC SB 44 cmd value IAC SE, the value escaped.
QByteArray comPort(std::uint8_t cmd, QByteArrayView value);

} // namespace comkeys::telnet
