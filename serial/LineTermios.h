#pragma once

#include <optional>

namespace comkeys {

// The line settings the kernel holds for an open serial device, read back after they were set.
struct LineState {
    unsigned rate = 0; // bits per second
    char parity = 'n'; // n, e, o, m or s
    int dataBits = 8;
    int stopBits = 1;
    bool operator==(const LineState&) const = default;
};

// Nothing when the descriptor is no terminal.
std::optional<LineState> readLineState(int fd);

} // namespace comkeys
