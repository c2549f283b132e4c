// The line settings of a POSIX serial device. Kept apart from the rest of the driver because
// rates go through termios2, whose header clashes with <termios.h>.
#pragma once

#include "platform/ComPlatform.h"

#include <cstdint>

namespace cport {

// What a device control block asks of the line, in the terms Linux can express.
struct TLineSettings {
    std::uint32_t BaudRate = 9600;
    std::uint8_t ByteSize = 8;                // 5 to 8
    std::uint8_t Parity = DcbParity::None;    // DcbParity
    std::uint8_t StopBits = DcbStopBits::One; // DcbStopBits; 1.5 is sent as 2 by most UARTs
    bool ParityCheck = false;  // errors and breaks are marked in-band (INPCK, PARMRK)
    bool HardwareFlow = false; // CTS output flow and RTS handshake (CRTSCTS)
    bool XonXoffOut = false;   // a received XOFF stops output (IXON)
    bool XonXoffIn = false;    // the device sends XOFF when its input fills (IXOFF)
    std::uint8_t XonChar = 0x11;
    std::uint8_t XoffChar = 0x13;
};

// Puts the device into raw mode and discards what it received before: nothing echoed or
// translated, modem lines not needed for data (CLOCAL), breaks ignored in the data (IGNBRK),
// a read returns at least one byte (VMIN 1: with 0, an empty read would look like a
// hang-up). Returns the errno of a failing call.
TOsError MakeRawLine(int AFd);

// Applies ASettings at once: a rate with a code of its own (B9600 ...) through that code, so
// that every tool reads it, any other through BOTHER. ATakenRate is the rate the device reads
// back (0 when it was not read). When that is more than 2 % away from the one asked for, the
// previous settings are restored and the result is EINVAL.
TOsError ApplyLine(int AFd, const TLineSettings& ASettings, std::uint32_t& ATakenRate);

// The device's current settings.
TOsError ReadLine(int AFd, TLineSettings& ASettings);

} // namespace cport
