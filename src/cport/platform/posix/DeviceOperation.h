// What the files of TDevice share: the record of a pending operation, the lock every
// operation takes, and the sizes of the input queue.
#pragma once

#include "Device.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

namespace cport {

inline constexpr std::uint32_t DefaultQueueSize = 4096;
// The input queue holds at least this much, whatever size is asked for (sizes are a
// recommendation, as on Windows): with the 1 KiB a port asks for by default, a fast device
// would cost a hand-over to the GUI thread per kilobyte (bench/RESULTS.md has the numbers).
inline constexpr std::uint32_t MinQueueCapacity = 64u << 10;

inline TOsError Errno() {
    return static_cast<TOsError>(errno);
}

// A running operation's record holds STATUS_PENDING, as on Windows.
inline constexpr std::uintptr_t RecordPending = 0x103;

// Written under the device's lock, read without it (TDevice::Finished): the status goes last,
// so that a reader that sees it done sees the count too.
inline void StoreRecord(TOverlapped& ARecord, std::uintptr_t AStatus, std::uint32_t ACount) {
    std::atomic_ref(ARecord.InternalHigh).store(ACount, std::memory_order_relaxed);
    std::atomic_ref(ARecord.Internal).store(AStatus, std::memory_order_release);
}

// --- Operations -----------------------------------------------------------------------------

struct TDevice::TOp {
    enum class TKind : std::uint8_t {
        Read,
        Write,
        WaitEvent
    };

    TKind Kind = TKind::Read;
    TOverlapped* Overlapped = nullptr;
    std::shared_ptr<TEvent> Event;
    bool Linked = false;
    std::uint8_t* Dest = nullptr;
    const std::uint8_t* Source = nullptr;
    std::uint32_t Count = 0;
    std::uint32_t Done = 0;
    std::uint32_t* EvtMask = nullptr;
    std::uint32_t Events = 0;
    TReadPlan Plan;
    std::optional<std::uint64_t> WriteLimitMs;
    bool Active = false;
    TTime Deadline = NoDeadline;
    TTime LastByte{};
    bool Completed = false;
    TOsError Result = 0;
    int WaiterFd = -1;
};

// Locks the device for one operation and, before unlocking, wakes the waiters whose poll no
// longer fits the device.
class TDevice::TScope {
public:
    explicit TScope(TDevice& ADevice)
        : FDevice(ADevice)
        , FLock(ADevice.FLock) {}
    ~TScope() { FDevice.Advertise(); }
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

    std::unique_lock<TLock>& Lock() { return FLock; }

private:
    TDevice& FDevice;
    std::unique_lock<TLock> FLock;
};

} // namespace cport
