// The other end of the serial line of a Windows test that runs under Wine. The device host
// (tests/wine/DeviceHost.cpp) starts each test program with a pseudo-terminal mapped as its COM
// port and plays the device side of it; the test reaches that side over two local TCP
// connections, one for the line's bytes and one for commands.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace cport::test {

using namespace std::chrono_literals;

class TRemoteDevice {
public:
    // Connects to the device host. Throws std::runtime_error when the program was not started
    // by one (QUENDAL_PORT, QUENDAL_DEVICE unset) or it cannot be reached.
    TRemoteDevice();
    ~TRemoteDevice();
    TRemoteDevice(const TRemoteDevice&) = delete;
    TRemoteDevice& operator=(const TRemoteDevice&) = delete;

    // The COM port whose other end this is, such as "COM5".
    static std::string PortName();

    // Sends AData as the device; false if it is not all taken within ATimeout.
    bool WriteAll(const std::string& AData, std::chrono::milliseconds ATimeout = 5s);
    // What the port sent: ACount bytes, or fewer when ATimeout passes first.
    std::string ReadExactly(std::size_t ACount, std::chrono::milliseconds ATimeout = 5s);
    // Everything the port sends within ATime.
    std::string ReadFor(std::chrono::milliseconds ATime);

    // Sets the lines the device drives, named in ALines ("CTS DSR RI CD"; empty: all off).
    void SetLines(const std::string& ALines);
    // The lines the port drives, as "DTR RTS", "DTR", "RTS" or "".
    std::string Outputs();
    // The line settings the port gave the pty: "speed", "bits", "parenb", "cstopb", "parodd",
    // "cmspar", "crtscts", "ixon", "ixoff", "vstart", "vstop".
    std::map<std::string, long> Line();
    // Waits until the port reads its modem lines, which Wine does only while an event wait for
    // line changes is pending: Wine compares the lines with what they were when the wait
    // began, so a change before that goes unseen. False when that does not happen within 5 s.
    bool WaitUntilLinesPolled();
    // Closes the device side, as when the cable is pulled.
    void HangUp();

private:
    std::string Command(const std::string& ACommand);

    std::uintptr_t FData;
    std::uintptr_t FControl;
};

} // namespace cport::test
