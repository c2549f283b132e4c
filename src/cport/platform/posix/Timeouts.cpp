#include "Timeouts.h"

namespace cport {

namespace {
std::optional<std::uint64_t> Total(std::uint32_t AMultiplier, std::uint32_t AConstant,
                                   std::uint32_t ACount) {
    if (AMultiplier == 0 && AConstant == 0) return std::nullopt;
    return std::uint64_t{AMultiplier} * ACount + AConstant;
}
} // namespace

TReadPlan PlanRead(const TCommTimeouts& ATimeouts, std::uint32_t ACount) {
    const std::uint32_t interval = ATimeouts.ReadIntervalTimeout;
    const std::uint32_t multiplier = ATimeouts.ReadTotalTimeoutMultiplier;
    const std::uint32_t constant = ATimeouts.ReadTotalTimeoutConstant;
    TReadPlan plan;
    if (interval != MaxDword) {
        plan.TotalMs = Total(multiplier, constant, ACount);
        plan.IntervalMs = interval;
        return plan;
    }
    // An interval of MAXDWORD selects the special forms; it is never an interval itself.
    if (multiplier == 0 && constant == 0) {
        plan.TotalMs = 0;
    } else if (constant != MaxDword && multiplier == MaxDword) {
        plan.ReturnIfQueued = true;
        plan.ReturnOnFirstByte = true;
        plan.TotalMs = constant;
    } else if (constant != MaxDword) {
        plan.ReturnIfQueued = true;
        plan.TotalMs = Total(multiplier, constant, ACount);
    }
    return plan;
}

std::optional<std::uint64_t> WriteTotalMs(const TCommTimeouts& ATimeouts, std::uint32_t ACount) {
    return Total(ATimeouts.WriteTotalTimeoutMultiplier, ATimeouts.WriteTotalTimeoutConstant,
                 ACount);
}

bool ValidTimeouts(const TCommTimeouts& ATimeouts) {
    return !(ATimeouts.ReadIntervalTimeout == MaxDword &&
             ATimeouts.ReadTotalTimeoutMultiplier == MaxDword &&
             ATimeouts.ReadTotalTimeoutConstant == MaxDword);
}

} // namespace cport
