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
// Sets a raw line (every byte passes as it is, no echo, no flow control) with these settings;
// false when the descriptor is no terminal or the driver refuses them.
bool applyLineState(int fd, const LineState& state);

} // namespace comkeys
