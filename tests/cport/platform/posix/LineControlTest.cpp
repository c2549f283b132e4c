#include "PortFixture.h"

#include <cerrno>
#include <thread>

namespace cport {
namespace {

using namespace std::chrono_literals;

class TLineControlTest : public TPortTest {
protected:
    void SetUp() override { OpenConfigured(true, {0, 0, 0, 0, 0}); }
    char Buffer[16] = {};
    std::uint32_t Count = 0;
    std::uint32_t Errors = 0;
    TComStat Stat;
};

TEST_F(TLineControlTest, RxClearEmptiesTheQueueAndTheKernelsInput) {
    ASSERT_TRUE(Pty.WriteAll("discard me"));
    ASSERT_TRUE(AwaitInQueue(10));
    ASSERT_EQ(Platform.PurgeComm(Port, Purge::RxClear), 0u);
    EXPECT_EQ(InQueue(), 0u);
    ASSERT_TRUE(Pty.WriteAll("kept"));
    ASSERT_TRUE(AwaitInQueue(4));
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.ReadFile(Port, Buffer, 4, &Count, &record), 0u);
    EXPECT_EQ(std::string(Buffer, Count), "kept");
}

TEST_F(TLineControlTest, AbortsCompletePendingTransfersWithOperationAborted) {
    TOverlapped& read = Record();
    StartPendingRead(read, Buffer, 8);
    ASSERT_EQ(Platform.PurgeComm(Port, Purge::RxAbort), 0u);
    ASSERT_TRUE(Signalled(read.hEvent, 0ms));
    EXPECT_EQ(Outcome(read, Count), WinError::OperationAborted);

    // A write held back by a full line (nobody reads the master).
    const std::string data = Pattern(1u << 20);
    TOverlapped& write = Record();
    ASSERT_EQ(Platform.WriteFile(Port, data.data(), static_cast<std::uint32_t>(data.size()), &Count,
                                 &write),
              WinError::IoPending);
    ASSERT_EQ(Platform.ClearCommError(Port, Errors, &Stat), 0u);
    EXPECT_GT(Stat.cbOutQue, 0u);
    EXPECT_LT(Stat.cbOutQue, data.size());
    ASSERT_EQ(Platform.PurgeComm(Port, Purge::TxAbort | Purge::TxClear), 0u);
    ASSERT_TRUE(Signalled(write.hEvent, 0ms));
    EXPECT_EQ(Outcome(write, Count), WinError::OperationAborted);
    ASSERT_EQ(Platform.ClearCommError(Port, Errors, &Stat), 0u);
    EXPECT_EQ(Stat.cbOutQue, 0u);
    EXPECT_EQ(Platform.PurgeComm(Port, 0x10), static_cast<TOsError>(EINVAL));
}

TEST_F(TLineControlTest, SetXoffHoldsOutputUntilSetXon) {
    ASSERT_EQ(Platform.EscapeCommFunction(Port, Esc::SetXoff), 0u);
    TOverlapped& write = Record();
    ASSERT_EQ(Platform.WriteFile(Port, "held", 4, &Count, &write), WinError::IoPending);
    ASSERT_EQ(Platform.ClearCommError(Port, Errors, &Stat), 0u);
    EXPECT_EQ(Stat.Flags & ComStatFlag::XoffHold, ComStatFlag::XoffHold);
    EXPECT_EQ(Stat.cbOutQue, 4u);
    EXPECT_EQ(Pty.ReadAvailable(), "");
    ASSERT_EQ(Platform.EscapeCommFunction(Port, Esc::SetXon), 0u);
    ASSERT_TRUE(Signalled(write.hEvent));
    EXPECT_EQ(Pty.ReadExactly(4), "held");
    ASSERT_EQ(Platform.ClearCommError(Port, Errors, &Stat), 0u);
    EXPECT_EQ(Stat.Flags, 0u);
}

// As on Windows, where each handle starts with transmission running.
TEST_F(TLineControlTest, AnXoffEndsWithItsHandle) {
    ASSERT_EQ(Platform.EscapeCommFunction(Port, Esc::SetXoff), 0u);
    ClosePort();
    OpenConfigured(true, {0, 0, 0, 0, 0});
    TOverlapped& write = Record();
    Platform.WriteFile(Port, "free", 4, &Count, &write);
    EXPECT_TRUE(Signalled(write.hEvent, 2s));
    EXPECT_EQ(Pty.ReadExactly(4, 2s), "free");
}

TEST_F(TLineControlTest, TransmitCommCharGoesAheadOfQueuedOutput) {
    ASSERT_EQ(Platform.TransmitCommChar(Port, '!'), 0u);
    EXPECT_EQ(Pty.ReadExactly(1), "!");

    // Output held (as after an XOFF): the write waits, the priority byte overtakes it.
    ASSERT_EQ(Platform.EscapeCommFunction(Port, Esc::SetXoff), 0u);
    const std::string data = Pattern(100000);
    TOverlapped& write = Record();
    ASSERT_EQ(Platform.WriteFile(Port, data.data(), static_cast<std::uint32_t>(data.size()), &Count,
                                 &write),
              WinError::IoPending);
    ASSERT_EQ(Platform.TransmitCommChar(Port, '!'), 0u);
    ASSERT_EQ(Platform.ClearCommError(Port, Errors, &Stat), 0u);
    EXPECT_EQ(Stat.Flags & ComStatFlag::Txim, ComStatFlag::Txim);
    EXPECT_EQ(Stat.cbOutQue, data.size() + 1);
    // One at a time.
    EXPECT_EQ(Platform.TransmitCommChar(Port, '?'), static_cast<TOsError>(EBUSY));
    ASSERT_EQ(Platform.EscapeCommFunction(Port, Esc::SetXon), 0u);
    std::string received;
    std::thread reader([&] { received = Pty.ReadExactly(data.size() + 1, 30s); });
    EXPECT_TRUE(Signalled(write.hEvent, 30s));
    reader.join();
    EXPECT_TRUE(received == "!" + data);
}

TEST_F(TLineControlTest, BreakAndUnknownEscapes) {
    EXPECT_EQ(Platform.EscapeCommFunction(Port, Esc::SetBreak), 0u);
    EXPECT_EQ(Platform.EscapeCommFunction(Port, Esc::ClrBreak), 0u);
    EXPECT_EQ(Platform.EscapeCommFunction(Port, 7), static_cast<TOsError>(EINVAL));
}

} // namespace
} // namespace cport
