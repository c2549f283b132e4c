#include "Termios2.h"

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

struct TRateCode {
    std::uint32_t Rate;
    tcflag_t Code;
};

// The rates that have a code of their own. Tools that read the speed through the old termios
// (stty, and every program on glibc's cfgetospeed) see only these; BOTHER shows them 0.
constexpr TRateCode RateCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t RateCode(std::uint32_t ARate) {
    for (const TRateCode& code : RateCodes)
        if (code.Rate == ARate) return code.Code;
    return BOTHER;
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

TOsError ApplyLine(int AFd, const TLineSettings& ASettings, std::uint32_t& ATakenRate) {
    ATakenRate = 0;
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
    line.c_cflag |= RateCode(ASettings.BaudRate);
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
    ATakenRate = taken.c_ospeed;
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
