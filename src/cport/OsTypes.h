// The operating system's types that the component's public interface names: handles of
// devices and events, error codes, the record of an overlapped operation and registry keys.
// The rest of the system's interface stays behind the platform layer (platform/ComPlatform.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace cport {

// A handle of a device or an event, the size of a pointer as on Windows.
using THandle = std::intptr_t;
inline constexpr THandle InvalidHandle = -1;

// An error code of the operating system: 0 for success; on POSIX the errno value, except for
// the few codes the platform layer gives their Windows values.
using TOsError = std::uint32_t;

// Windows OVERLAPPED. The platform owns Internal and InternalHigh while an operation runs;
// hEvent is the caller's manual-reset completion event.
struct TOverlapped {
    std::uintptr_t Internal = 0;
    std::uintptr_t InternalHigh = 0;
    std::uint32_t Offset = 0;
    std::uint32_t OffsetHigh = 0;
    THandle hEvent = 0;
};

// What an event loop watches for a wait that it carries out itself instead of a blocked thread:
// descriptors and the readiness they wait for (POSIX), or one waitable handle (Windows), and a
// deadline. The loop marks in Seen what it saw when the watch fired.
namespace WatchFor {
inline constexpr std::uint8_t Read = 1;
inline constexpr std::uint8_t Write = 2;
} // namespace WatchFor
struct TWatchFd {
    int Fd = -1;
    std::uint8_t Wanted = 0; // WatchFor bits
    std::uint8_t Seen = 0;
};
struct TWatchSet {
    using TClock = std::chrono::steady_clock;
    std::vector<TWatchFd> Fds;
    THandle Handle = 0; // 0: none
    TClock::time_point Deadline = TClock::time_point::max();
};

// Registry keys. The two roots carry the Windows values of HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE.
using THKey = std::intptr_t;
namespace HKey {
inline constexpr THKey CurrentUser = static_cast<THKey>(static_cast<std::int32_t>(0x80000001u));
inline constexpr THKey LocalMachine = static_cast<THKey>(static_cast<std::int32_t>(0x80000002u));
} // namespace HKey

// --- What the platform says about an error ----------------------------------------------------

// The system's text for an error code of this platform (strerror on POSIX, FormatMessage on
// Windows), without a closing full stop. The codes with Windows values that the POSIX layer
// uses (see platform/ComPlatform.h) get the Windows texts there too.
std::string OsErrorText(TOsError AError);

// Whether AError, from an operation on an open device, means that the device has gone: a hung-up
// terminal (EIO) on POSIX; on Windows the errors that drivers of a pulled adapter give.
bool IsDeviceGoneError(TOsError AError);

} // namespace cport
