// A pseudo-terminal pair for tests: the slave is the serial device under test (opened by its
// path), the master plays the other end of the line.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cport {

// The slave's line settings as the kernel holds them (termios2).
struct TPtyLine {
    std::uint32_t IFlag = 0;
    std::uint32_t OFlag = 0;
    std::uint32_t CFlag = 0;
    std::uint32_t LFlag = 0;
    std::array<std::uint8_t, 19> Cc{};
    std::uint32_t ISpeed = 0;
    std::uint32_t OSpeed = 0;
};

class TPtyPair {
public:
    // Opens a pair; the master is raw and non-blocking. Throws std::runtime_error on failure.
    TPtyPair();
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    int Master() const { return FMaster; }
    const std::string& SlavePath() const { return FSlavePath; }
    // Closes the master: the slave hangs up, as when a USB adapter is pulled.
    void CloseMaster();

    // Writes all of AData to the master; false if that takes longer than ATimeout.
    bool WriteAll(const std::string& AData,
                  std::chrono::milliseconds ATimeout = std::chrono::seconds(5));
    // Reads ACount bytes from the master, or fewer when ATimeout passes first.
    std::string ReadExactly(std::size_t ACount,
                            std::chrono::milliseconds ATimeout = std::chrono::seconds(5));
    // Reads what the master holds now, without waiting.
    std::string ReadAvailable();

    // The slave's settings, read through the master (TCGETS2).
    TPtyLine SlaveLine() const;

private:
    int FMaster = -1;
    std::string FSlavePath;
};

// TCGETS2 on AFd; separate because termios2 clashes with <termios.h>.
TPtyLine ReadPtyLine(int AFd);

} // namespace cport
