// The errors of the serial-port component: its codes, their texts and its one exception.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cport {

inline constexpr std::int32_t cpeCannotOpen = 1;
inline constexpr std::int32_t cpeWriteFile = 2;
inline constexpr std::int32_t cpeReadFile = 3;
inline constexpr std::int32_t cpeBadAsyncParam = 4;
inline constexpr std::int32_t cpePurgeComm = 5;
inline constexpr std::int32_t cpeAsyncStatus = 6;
inline constexpr std::int32_t cpeSetCommState = 7;
inline constexpr std::int32_t cpeSetCommTimeouts = 8;
inline constexpr std::int32_t cpeSetupComm = 9;
inline constexpr std::int32_t cpeClearCommError = 10;
inline constexpr std::int32_t cpeGetModemStatus = 11;
inline constexpr std::int32_t cpeEscapeFunction = 12;
inline constexpr std::int32_t cpeTransmitChar = 13;
inline constexpr std::int32_t cpePropertyWhileOpen = 14;
inline constexpr std::int32_t cpeEnumPorts = 15;
inline constexpr std::int32_t cpeStoreSettings = 16;
inline constexpr std::int32_t cpeLoadSettings = 17;
inline constexpr std::int32_t cpeLinkRegistration = 18;
inline constexpr std::int32_t cpeLedState = 19;
inline constexpr std::int32_t cpeWaitWithThread = 20;
inline constexpr std::int32_t cpeWaitForEvent = 21;
inline constexpr std::int32_t cpeRxBufLinked = 22;
inline constexpr std::int32_t cpeRegistry = 23;

// The text of a component error code; "Unknown Error #" and the code outside 1 to 23.
std::string ComErrorText(std::int32_t ACode);

// The one exception of the component. The message is "COM Port Error: " and the code's text,
// followed by " on " and the port for failures of an operating-system call.
class EComPort : public std::runtime_error {
public:
    // A failed operating-system call: AWinCode is its error code, APort the context (the
    // port's name, or "registry read" for the port list). AReason, when not empty, is what
    // Reason gives instead of the system's text for the code.
    EComPort(std::int32_t ACode, std::int32_t AWinCode, const std::string& APort,
             std::string AReason = {});
    // A misuse, a wrong state or a failure of another component: WinCode is -1.
    static EComPort CreateNoWinCode(std::int32_t ACode);

    std::int32_t WinCode() const { return FWinCode; }
    void SetWinCode(std::int32_t AValue) { FWinCode = AValue; }
    std::int32_t Code() const { return FCode; }
    void SetCode(std::int32_t AValue) { FCode = AValue; }
    const char* what() const noexcept override { return FMessage.c_str(); }
    // Why the operating system failed, in the user's words, for showing beside the message:
    // what the platform said at the failure ("in use by socat (PID 1234)", "Permission
    // denied: add yourself to the dialout group", "in use by another program" for a busy
    // device whose holder cannot be seen), else the system's text for WinCode ("No such file
    // or directory"). Empty when there is no OS code (WinCode -1 or 0).
    std::string Reason() const;

private:
    explicit EComPort(std::int32_t ACode);

    std::int32_t FWinCode;
    std::int32_t FCode;
    // Kept here rather than in the base: the base shares its text between copies through a
    // reference count, and a copy handed to another thread must own its text.
    std::string FMessage;
    std::string FReason;
};

} // namespace cport
