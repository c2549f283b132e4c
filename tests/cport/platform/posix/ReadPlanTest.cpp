#include "platform/posix/Timeouts.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

constexpr std::uint32_t M = MaxDword;

TEST(ReadPlan, TimeoutsMeanWhatTheyMeanToAWindowsDriver) {
    struct TCase {
        TCommTimeouts Timeouts;
        std::uint32_t Count;
        bool ReturnIfQueued;
        bool ReturnOnFirstByte;
        std::optional<std::uint64_t> TotalMs;
        std::uint32_t IntervalMs;
    };
    const TCase cases[] = {
        // At once with what is queued.
        {{M, 0, 0, 0, 0}, 10, false, false, 0, 0},
        // What is queued, else the first byte, else nothing after the constant.
        {{M, M, 250, 0, 0}, 10, true, true, 250, 0},
        // What is queued, else the whole count or the total.
        {{M, 10, 100, 0, 0}, 10, true, false, 200, 0},
        // No limit at all: the constant MAXDWORD leaves only the count.
        {{M, 5, M, 0, 0}, 10, false, false, std::nullopt, 0},
        // Total limit, multiplier times count plus constant.
        {{0, 10, 100, 0, 0}, 5, false, false, 150, 0},
        // Interval only.
        {{50, 0, 0, 0, 0}, 5, false, false, std::nullopt, 50},
        // All zero: wait for the count.
        {{0, 0, 0, 0, 0}, 5, false, false, std::nullopt, 0},
        // Both; the product does not overflow 32 bits.
        {{20, M, 7, 0, 0}, 4, false, false, 4ull * M + 7, 20},
    };
    for (const TCase& c : cases) {
        const TReadPlan plan = PlanRead(c.Timeouts, c.Count);
        SCOPED_TRACE(::testing::Message() << c.Timeouts.ReadIntervalTimeout << ' '
                                          << c.Timeouts.ReadTotalTimeoutMultiplier << ' '
                                          << c.Timeouts.ReadTotalTimeoutConstant);
        EXPECT_EQ(plan.ReturnIfQueued, c.ReturnIfQueued);
        EXPECT_EQ(plan.ReturnOnFirstByte, c.ReturnOnFirstByte);
        EXPECT_EQ(plan.TotalMs, c.TotalMs);
        EXPECT_EQ(plan.IntervalMs, c.IntervalMs);
    }
}

TEST(ReadPlan, WriteLimitIsMultiplierTimesCountPlusConstantOrNone) {
    EXPECT_EQ(WriteTotalMs({0, 0, 0, 0, 0}, 100), std::nullopt);
    EXPECT_EQ(WriteTotalMs({0, 0, 0, 10, 0}, 100), 1000u);
    EXPECT_EQ(WriteTotalMs({0, 0, 0, 100, 1000}, 3), 1300u);
    EXPECT_EQ(WriteTotalMs({0, 0, 0, M, M}, 2), 3ull * M);
}

TEST(ReadPlan, OnlyAllThreeReadValuesMaxdwordAreRefused) {
    EXPECT_FALSE(ValidTimeouts({M, M, M, 0, 0}));
    EXPECT_TRUE(ValidTimeouts({M, M, M - 1, 0, 0}));
    EXPECT_TRUE(ValidTimeouts({M, 0, 0, M, M}));
}

} // namespace
} // namespace cport
