// termios2 carries the rate as a number for every rate, standard or not; its header cannot
// share a file with <termios.h>.
#include "LineTermios.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace comkeys {

std::optional<LineState> readLineState(int fd)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return std::nullopt;
    }
    LineState s;
    s.rate = t.c_ospeed;
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        s.parity = (t.c_cflag & CMSPAR) ? (odd ? 'm' : 's') : (odd ? 'o' : 'e');
    }
    switch (t.c_cflag & CSIZE) {
    case CS5:
        s.dataBits = 5;
        break;
    case CS6:
        s.dataBits = 6;
        break;
    case CS7:
        s.dataBits = 7;
        break;
    default:
        s.dataBits = 8;
        break;
    }
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return s;
}

} // namespace comkeys
