// What the simulated RQ-71 says, independent of how it is connected: one reading line for each
// poll line (CR LF) it hears, and readings on its own when it streams.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace rq71 {

class TRq71Device {
public:
    // ASeed fixes the sequence of readings; AMixNul puts one NUL byte into every line.
    explicit TRq71Device(std::uint32_t ASeed, bool AMixNul = false);

    // Takes bytes the device received and returns its answers: one reading for every CR LF,
    // also when the two bytes arrive in different calls.
    std::string Receive(const char* ABytes, std::size_t ACount);

    // The next reading: a temperature that drifts like a real measurement, e.g.
    // "+23.456 \xB0C\r\n" (12 bytes; the degree sign is one byte, as the device's code page has
    // it), with a NUL byte after the sign when NUL bytes are mixed in.
    std::string NextReading();

private:
    std::mt19937 FRandom;
    bool FMixNul;
    bool FAfterCR = false;
    double FValue = 23.0;
};

} // namespace rq71
