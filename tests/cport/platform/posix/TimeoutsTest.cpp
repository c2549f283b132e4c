#include "PortFixture.h"

#include <thread>

namespace cport {
namespace {

using namespace std::chrono_literals;
using TClockT = std::chrono::steady_clock;

class TTimeoutsTest : public TPortTest {
protected:
    std::chrono::milliseconds Since(TClockT::time_point AStart) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(TClockT::now() - AStart);
    }
    char Buffer[64] = {};
    std::uint32_t Count = 0;
};

TEST_F(TTimeoutsTest, IntervalMaxdwordAloneReturnsAtOnceWithWhatIsQueued) {
    OpenConfigured(true, {MaxDword, 0, 0, 0, 0});
    TOverlapped& record = Record();
    Count = 99;
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 10, &Count, &record), 0u);
    EXPECT_EQ(Count, 0u);
    EXPECT_TRUE(Signalled(record.hEvent, 0ms));

    ASSERT_TRUE(Pty.WriteAll("abcd"));
    ASSERT_TRUE(AwaitInQueue(4));
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 10, &Count, &record), 0u);
    EXPECT_EQ(std::string(Buffer, Count), "abcd");
}

TEST_F(TTimeoutsTest, IntervalAndMultiplierMaxdwordWaitForTheFirstByteOrTheConstant) {
    OpenConfigured(true, {MaxDword, MaxDword, 60000, 0, 0});
    TOverlapped& record = Record();
    StartPendingRead(record, Buffer, 10);
    ASSERT_TRUE(Pty.WriteAll("xyz"));
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_EQ(Outcome(record, Count), 0u);
    ASSERT_GE(Count, 1u);
    EXPECT_EQ(std::string(Buffer, Count), std::string("xyz").substr(0, Count));

    // Something queued: at once.
    ASSERT_TRUE(Pty.WriteAll("q"));
    ASSERT_TRUE(AwaitInQueue(1));
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 10, &Count, &record), 0u);
    EXPECT_GE(Count, 1u);

    // Nothing at all: 0 bytes, successfully, after the constant.
    ASSERT_EQ(Platform.SetCommTimeouts(Port, {MaxDword, MaxDword, 100, 0, 0}), 0u);
    const auto start = TClockT::now();
    StartPendingRead(record, Buffer, 10);
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_GE(Since(start), 100ms);
    EXPECT_EQ(Outcome(record, Count), 0u);
    EXPECT_EQ(Count, 0u);
}

TEST_F(TTimeoutsTest, TotalTimeoutEndsAReadSuccessfullyWithWhatArrived) {
    OpenConfigured(true, {0, 10, 100, 0, 0});
    TOverlapped& record = Record();
    const auto start = TClockT::now();
    StartPendingRead(record, Buffer, 5);
    ASSERT_TRUE(Pty.WriteAll("ab"));
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_GE(Since(start), 150ms);
    EXPECT_EQ(Outcome(record, Count), 0u);
    EXPECT_EQ(std::string(Buffer, Count), "ab");
}

TEST_F(TTimeoutsTest, IntervalTimeoutStartsWithTheFirstByte) {
    OpenConfigured(true, {50, 0, 0, 0, 0});
    TOverlapped& record = Record();
    StartPendingRead(record, Buffer, 60);
    EXPECT_FALSE(Signalled(record.hEvent, 200ms));
    EXPECT_EQ(Outcome(record, Count), WinError::IoIncomplete);
    const auto sent = TClockT::now();
    ASSERT_TRUE(Pty.WriteAll("xyz"));
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_GE(Since(sent), 50ms);
    EXPECT_EQ(Outcome(record, Count), 0u);
    EXPECT_EQ(std::string(Buffer, Count), "xyz");
}

TEST_F(TTimeoutsTest, AllZeroWaitsForTheWholeCount) {
    OpenConfigured(true, {0, 0, 0, 0, 0});
    TOverlapped& record = Record();
    StartPendingRead(record, Buffer, 5);
    ASSERT_TRUE(Pty.WriteAll("abc"));
    EXPECT_FALSE(Signalled(record.hEvent, 100ms));
    ASSERT_TRUE(Pty.WriteAll("de"));
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_EQ(Outcome(record, Count), 0u);
    EXPECT_EQ(std::string(Buffer, Count), "abcde");
}

TEST_F(TTimeoutsTest, WriteTotalTimeoutEndsAWriteEarlyWithThePartialCount) {
    OpenConfigured(true, {MaxDword, 0, 0, 0, 200});
    const std::string data = Pattern(4u << 20);
    TOverlapped& record = Record();
    const auto start = TClockT::now();
    ASSERT_EQ(Platform.WriteFile(Port, data.data(), static_cast<std::uint32_t>(data.size()), &Count,
                                 &record),
              WinError::IoPending);
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_GE(Since(start), 200ms);
    EXPECT_EQ(Outcome(record, Count), 0u);
    EXPECT_GT(Count, 0u);
    EXPECT_LT(Count, data.size());
    const std::string sent = Pty.ReadExactly(Count);
    EXPECT_EQ(sent, data.substr(0, Count));
    EXPECT_EQ(Pty.ReadAvailable(), "");
}

TEST_F(TTimeoutsTest, NonOverlappedTransfersBlockHonouringTheTimeouts) {
    OpenConfigured(false, {0, 0, 100, 0, 0});
    const auto start = TClockT::now();
    Count = 99;
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 10, &Count, nullptr), 0u);
    EXPECT_EQ(Count, 0u);
    EXPECT_GE(Since(start), 100ms);

    std::thread device([this] { Pty.WriteAll("late"); });
    ASSERT_EQ(Platform.SetCommTimeouts(Port, {0, 0, 5000, 0, 0}), 0u);
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 4, &Count, nullptr), 0u);
    device.join();
    EXPECT_EQ(std::string(Buffer, Count), "late");

    EXPECT_EQ(Platform.WriteFile(Port, "out", 3, &Count, nullptr), 0u);
    EXPECT_EQ(Count, 3u);
    EXPECT_EQ(Pty.ReadExactly(3), "out");
    // An overlapped record is optional there; it is completed and its event set all the same.
    TOverlapped& record = Record();
    EXPECT_EQ(Platform.WriteFile(Port, "two", 3, &Count, &record), 0u);
    EXPECT_TRUE(Signalled(record.hEvent, 0ms));
    EXPECT_EQ(Outcome(record, Count), 0u);
    EXPECT_EQ(Count, 3u);
}

} // namespace
} // namespace cport
