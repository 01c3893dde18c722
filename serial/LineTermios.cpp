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

bool applyLineState(int fd, const LineState& s)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t Sizes[] = { CS5, CS6, CS7, CS8 };
    t.c_cflag |= Sizes[s.dataBits >= 5 && s.dataBits <= 8 ? s.dataBits - 5 : 3];
    if (s.parity != 'n') {
        t.c_cflag |= PARENB | (s.parity == 'o' || s.parity == 'm' ? PARODD : 0)
            | (s.parity == 'm' || s.parity == 's' ? CMSPAR : 0);
    }
    if (s.stopBits == 2) {
        t.c_cflag |= CSTOPB;
    }
    // A standard rate keeps its classic code, so termios readers that know only those see it.
    static constexpr struct { unsigned rate; tcflag_t code; } Standard[] = {
        { 1200, B1200 }, { 2400, B2400 }, { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 },
        { 38400, B38400 }, { 57600, B57600 }, { 115200, B115200 }, { 230400, B230400 },
        { 460800, B460800 }, { 921600, B921600 },
    };
    tcflag_t code = BOTHER;
    for (const auto& standard : Standard) {
        if (standard.rate == s.rate) {
            code = standard.code;
        }
    }
    t.c_cflag |= code | (code << IBSHIFT);
    t.c_ispeed = t.c_ospeed = s.rate;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace comkeys
