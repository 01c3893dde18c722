// libFuzzer target: any bytes as a Telnet stream. Parsing must not crash, must give the same
// data and commands however the stream is cut into reads, and escaped data must parse back to
// itself.
#include "Telnet.h"

#include <cstdint>
#include <cstdlib>

using namespace comkeys::telnet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(bytes), qsizetype(size));
    Parser whole;
    QByteArray data;
    std::vector<Event> events;
    whole.feed(input, data, events);

    // Reads of 1 to 8 bytes, the length taken from the input itself.
    const qsizetype step = size > 0 ? 1 + bytes[0] % 8 : 1;
    Parser pieces;
    QByteArray data2;
    std::vector<Event> events2;
    for (qsizetype at = 0; at < input.size(); at += step) {
        pieces.feed(input.sliced(at, std::min(step, input.size() - at)), data2, events2);
    }
    if (data != data2 || events != events2) {
        std::abort();
    }

    Parser back;
    QByteArray data3;
    std::vector<Event> events3;
    back.feed(escape(input), data3, events3);
    if (data3 != input.toByteArray() || !events3.empty()) {
        std::abort();
    }
    return 0;
}
