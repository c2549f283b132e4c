#include "PortFixture.h"

#include <cerrno>
#include <thread>

namespace cport {
namespace {

using namespace std::chrono_literals;

class TOverlappedTest : public TPortTest {
protected:
    void SetUp() override { OpenConfigured(true, {0, 0, 0, 0, 0}); }
    char Buffer[16] = {};
    std::uint32_t Count = 0;
};

TEST_F(TOverlappedTest, ANeverUsedRecordReadsAsACompletedTransferOfNothing) {
    TOverlapped record;
    Count = 7;
    EXPECT_EQ(Platform.GetOverlappedResult(Port, &record, Count, false), 0u);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(Platform.GetOverlappedResult(Port, &record, Count, true), 0u);
}

TEST_F(TOverlappedTest, StartResetsTheEventAndCompletionSetsItForGood) {
    TOverlapped& record = Records.emplace_back();
    record.hEvent = NewEvent(true, true);
    StartPendingRead(record, Buffer, 3);
    EXPECT_FALSE(Signalled(record.hEvent, 0ms));
    ASSERT_TRUE(Pty.WriteAll("abc"));
    ASSERT_TRUE(Signalled(record.hEvent));
    // The outcome stays: asked again, the same count; the event stays signalled.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Outcome(record, Count), 0u);
        EXPECT_EQ(Count, 3u);
        EXPECT_TRUE(Signalled(record.hEvent, 0ms));
    }
    EXPECT_EQ(std::string(Buffer, 3), "abc");
}

TEST_F(TOverlappedTest, WaitingForTheOutcomeBlocksUntilCompletion) {
    TOverlapped& record = Record();
    StartPendingRead(record, Buffer, 4);
    std::thread device([this] { Pty.WriteAll("wxyz"); });
    EXPECT_EQ(Platform.GetOverlappedResult(Port, &record, Count, true), 0u);
    device.join();
    EXPECT_EQ(Count, 4u);
    EXPECT_EQ(std::string(Buffer, 4), "wxyz");

    // Without an event the wait is on the device.
    TOverlapped& bare = Records.emplace_back();
    ASSERT_EQ(Platform.ReadFile(Port, Buffer, 2, &Count, &bare), WinError::IoPending);
    std::thread late([this] { Pty.WriteAll("pq"); });
    EXPECT_EQ(Platform.GetOverlappedResult(Port, &bare, Count, true), 0u);
    late.join();
    EXPECT_EQ(std::string(Buffer, Count), "pq");
}

TEST_F(TOverlappedTest, AFailedStartLeavesTheEventUnsignalled) {
    TOverlapped record;
    record.hEvent = NewEvent(true, true);
    ASSERT_EQ(Platform.SetCommMask(Port, 0), 0u);
    std::uint32_t mask = 0;
    EXPECT_EQ(Platform.WaitCommEvent(Port, &mask, &record), static_cast<TOsError>(EINVAL));
    EXPECT_FALSE(Signalled(record.hEvent, 0ms));
    // An overlapped device needs a record.
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 1, &Count, nullptr), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.WriteFile(Port, "x", 1, &Count, nullptr), static_cast<TOsError>(EINVAL));
    // A record whose event is no event.
    TOverlapped wrong;
    wrong.hEvent = Port;
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 1, &Count, &wrong), WinError::InvalidHandle);
}

TEST_F(TOverlappedTest, ReadsCompleteInTheOrderTheyWereStarted) {
    TOverlapped& first = Record();
    TOverlapped& second = Record();
    char other[4] = {};
    StartPendingRead(first, Buffer, 3);
    StartPendingRead(second, other, 2);
    ASSERT_TRUE(Pty.WriteAll("12345"));
    ASSERT_TRUE(Signalled(first.hEvent));
    ASSERT_TRUE(Signalled(second.hEvent));
    EXPECT_EQ(std::string(Buffer, 3), "123");
    EXPECT_EQ(std::string(other, 2), "45");
}

TEST_F(TOverlappedTest, AReadTheQueueSatisfiesCompletesAtOnceOverTheRecordsLastOutcome) {
    TOverlapped& record = Record();
    StartPendingRead(record, Buffer, 2);
    ASSERT_TRUE(Pty.WriteAll("12abcdef"));
    ASSERT_TRUE(Signalled(record.hEvent));
    ASSERT_TRUE(AwaitInQueue(6));
    ASSERT_EQ(Platform.ResetEvent(record.hEvent), 0u);
    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 4, &Count, &record), 0u);
    EXPECT_EQ(Count, 4u);
    EXPECT_TRUE(Signalled(record.hEvent, 0ms));
    EXPECT_EQ(Outcome(record, Count), 0u);
    EXPECT_EQ(Count, 4u);
    EXPECT_EQ(std::string(Buffer, 4), "abcd");
    EXPECT_EQ(InQueue(), 2u);
}

TEST_F(TOverlappedTest, ZeroByteTransfersCompleteAtOnce) {
    TOverlapped& record = Record();
    Count = 5;
    EXPECT_EQ(Platform.ReadFile(Port, nullptr, 0, &Count, &record), 0u);
    EXPECT_EQ(Count, 0u);
    EXPECT_TRUE(Signalled(record.hEvent, 0ms));
    EXPECT_EQ(Platform.WriteFile(Port, nullptr, 0, &Count, &record), 0u);
    EXPECT_TRUE(Signalled(record.hEvent, 0ms));
}

} // namespace
} // namespace cport
