// How a read or a write behaves under a set of communication timeouts, in the meaning they
// have for a Windows serial driver. Pure: the POSIX driver runs its pending transfers by it.
#pragma once

#include "platform/ComPlatform.h"

#include <cstdint>
#include <optional>

namespace cport {

struct TReadPlan {
    // Complete at once if the input queue holds anything when the read starts.
    bool ReturnIfQueued = false;
    // Complete as soon as the read holds one byte.
    bool ReturnOnFirstByte = false;
    // Complete after this many milliseconds from the start, with what arrived by then; none:
    // no total limit. 0 completes at once with what is queued.
    std::optional<std::uint64_t> TotalMs;
    // Complete when this many milliseconds pass without a byte once the first one arrived;
    // 0: no interval limit.
    std::uint32_t IntervalMs = 0;
};

// The plan of a read of ACount bytes. Every ending is a success with the bytes read so far.
TReadPlan PlanRead(const TCommTimeouts& ATimeouts, std::uint32_t ACount);

// The limit of a write of ACount bytes in milliseconds (multiplier times count plus
// constant), or none when both are 0. A write that reaches it ends successfully with the
// bytes sent so far.
std::optional<std::uint64_t> WriteTotalMs(const TCommTimeouts& ATimeouts, std::uint32_t ACount);

// False for the one combination a Windows driver refuses: all three read values MAXDWORD.
bool ValidTimeouts(const TCommTimeouts& ATimeouts);

} // namespace cport
