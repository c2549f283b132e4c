#include "PosixLine.h"

// termios2 (any rate through BOTHER) lives in the kernel's header, which clashes with
// <termios.h>: this file includes no other terminal header.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace cport {

namespace {

TOsError GetLine(int AFd, termios2& ALine) {
    return ::ioctl(AFd, TCGETS2, &ALine) == 0 ? 0 : static_cast<TOsError>(errno);
}

TOsError SetLine(int AFd, const termios2& ALine) {
    return ::ioctl(AFd, TCSETS2, &ALine) == 0 ? 0 : static_cast<TOsError>(errno);
}

// Kernel drivers read back the rate their clock divisor gives; the kernel itself treats rates
// within 2 % as the same one.
bool SameRate(std::uint32_t AWanted, std::uint32_t AGot) {
    const std::uint64_t diff = AWanted > AGot ? AWanted - AGot : AGot - AWanted;
    return diff * 50 <= AWanted;
}

} // namespace

TOsError MakeRawLine(int AFd) {
    termios2 line{};
    if (const TOsError error = GetLine(AFd, line)) return error;
    line.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                               ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
    line.c_iflag |= IGNBRK;
    line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    line.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL |
                                           ECHOPRT | ECHOKE | IEXTEN | TOSTOP);
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CREAD | CLOCAL;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (const TOsError error = SetLine(AFd, line)) return error;
    return ::ioctl(AFd, TCFLSH, TCIFLUSH) == 0 ? 0 : static_cast<TOsError>(errno);
}

TOsError ApplyLine(int AFd, const TLineSettings& ASettings) {
    termios2 previous{};
    if (const TOsError error = GetLine(AFd, previous)) return error;
    termios2 line = previous;

    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS |
                                           CBAUD | (CBAUD << IBSHIFT));
    static constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    line.c_cflag |= Sizes[ASettings.ByteSize - 5];
    switch (ASettings.Parity) {
    case DcbParity::Odd:
        line.c_cflag |= PARENB | PARODD;
        break;
    case DcbParity::Even:
        line.c_cflag |= PARENB;
        break;
    case DcbParity::Mark:
        line.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case DcbParity::Space:
        line.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (ASettings.StopBits != DcbStopBits::One) line.c_cflag |= CSTOPB;
    if (ASettings.HardwareFlow) line.c_cflag |= CRTSCTS;
    // BOTHER for every rate: the kernel picks the standard code itself when one matches.
    line.c_cflag |= BOTHER;
    line.c_ispeed = ASettings.BaudRate;
    line.c_ospeed = ASettings.BaudRate;

    line.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | IGNBRK | IXON | IXOFF | IXANY);
    // Marks cost the line discipline its fast path, so they are asked for only with parity
    // checking; without, a break leaves no NUL byte behind.
    if (ASettings.ParityCheck)
        line.c_iflag |= INPCK | PARMRK;
    else
        line.c_iflag |= IGNBRK;
    if (ASettings.XonXoffOut) line.c_iflag |= IXON;
    if (ASettings.XonXoffIn) line.c_iflag |= IXOFF;
    line.c_cc[VSTART] = static_cast<cc_t>(ASettings.XonChar);
    line.c_cc[VSTOP] = static_cast<cc_t>(ASettings.XoffChar);

    if (const TOsError error = SetLine(AFd, line)) return error;
    termios2 taken{};
    if (const TOsError error = GetLine(AFd, taken)) return error;
    if (!SameRate(ASettings.BaudRate, taken.c_ospeed)) {
        SetLine(AFd, previous);
        return EINVAL;
    }
    return 0;
}

TOsError ReadLine(int AFd, TLineSettings& ASettings) {
    termios2 line{};
    if (const TOsError error = GetLine(AFd, line)) return error;
    ASettings.BaudRate = line.c_ospeed;
    switch (line.c_cflag & CSIZE) {
    case CS5:
        ASettings.ByteSize = 5;
        break;
    case CS6:
        ASettings.ByteSize = 6;
        break;
    case CS7:
        ASettings.ByteSize = 7;
        break;
    default:
        ASettings.ByteSize = 8;
        break;
    }
    if ((line.c_cflag & PARENB) == 0)
        ASettings.Parity = DcbParity::None;
    else if ((line.c_cflag & CMSPAR) != 0)
        ASettings.Parity = (line.c_cflag & PARODD) != 0 ? DcbParity::Mark : DcbParity::Space;
    else
        ASettings.Parity = (line.c_cflag & PARODD) != 0 ? DcbParity::Odd : DcbParity::Even;
    ASettings.StopBits = (line.c_cflag & CSTOPB) != 0 ? DcbStopBits::Two : DcbStopBits::One;
    ASettings.ParityCheck = (line.c_iflag & INPCK) != 0;
    ASettings.HardwareFlow = (line.c_cflag & CRTSCTS) != 0;
    ASettings.XonXoffOut = (line.c_iflag & IXON) != 0;
    ASettings.XonXoffIn = (line.c_iflag & IXOFF) != 0;
    ASettings.XonChar = line.c_cc[VSTART];
    ASettings.XoffChar = line.c_cc[VSTOP];
    return 0;
}

} // namespace cport
