#include "PortFixture.h"

#include <cerrno>
#include <thread>

#include <unistd.h>

namespace cport {
namespace {

using namespace std::chrono_literals;

class THangUpTest : public TPortTest {
protected:
    char Buffer[16] = {};
    std::uint32_t Count = 0;
    std::uint32_t Mask = 0;
};

TEST_F(THangUpTest, AGoneDeviceFailsPendingAndLaterOperationsWithoutSpinning) {
    OpenConfigured(true, {0, 0, 0, 0, 0});
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar | EvMask::Err), 0u);
    TOverlapped& read = Record();
    TOverlapped& wait = Record();
    StartPendingRead(read, Buffer, 8);
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &wait), WinError::IoPending);

    Pty.CloseMaster();
    ASSERT_TRUE(Signalled(read.hEvent));
    ASSERT_TRUE(Signalled(wait.hEvent));
    EXPECT_EQ(Outcome(read, Count), static_cast<TOsError>(EIO));
    EXPECT_EQ(Outcome(wait, Count), static_cast<TOsError>(EIO));

    EXPECT_EQ(Platform.ReadFile(Port, Buffer, 1, &Count, &read), static_cast<TOsError>(EIO));
    EXPECT_EQ(Platform.WriteFile(Port, "x", 1, &Count, &read), static_cast<TOsError>(EIO));
    EXPECT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), static_cast<TOsError>(EIO));
    // What only reports or discards succeeds, so that a program's event handlers and its
    // close add no errors to the one failed transfer that told of the hang-up: no errors,
    // nothing queued, all lines off, nothing to purge.
    std::uint32_t errors = 1;
    TComStat stat{1, 1, 1};
    EXPECT_EQ(Platform.ClearCommError(Port, errors, &stat), 0u);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.Flags + stat.cbInQue + stat.cbOutQue, 0u);
    std::uint32_t lines = 1;
    EXPECT_EQ(Platform.GetCommModemStatus(Port, lines), 0u);
    EXPECT_EQ(lines, 0u);
    EXPECT_EQ(
        Platform.PurgeComm(Port, Purge::TxAbort | Purge::RxAbort | Purge::TxClear | Purge::RxClear),
        0u);
    EXPECT_EQ(Platform.PurgeComm(Port, 0x10), static_cast<TOsError>(EINVAL));

    // An event thread that ignores the failed start and waits blocks instead of spinning.
    EXPECT_EQ(Platform.WaitCommEvent(Port, &Mask, &wait), static_cast<TOsError>(EIO));
    std::chrono::microseconds cpu{};
    std::uint32_t result = 0;
    std::thread waiter([&] {
        const auto start = ThreadCpuTime();
        const THandle handles[] = {NewEvent(), wait.hEvent};
        EXPECT_EQ(Platform.WaitForMultipleObjects(2, handles, false, 500, result), 0u);
        cpu = ThreadCpuTime() - start;
    });
    waiter.join();
    EXPECT_EQ(result, Wait::Timeout);
    EXPECT_LT(cpu, 50ms);

    EXPECT_EQ(Platform.CloseHandle(Port), 0u);
    Port = InvalidHandle;
}

TEST_F(THangUpTest, ClosingADeviceAbortsPendingOperationsAndWakesTheirWaiters) {
    OpenConfigured(true, {0, 0, 0, 0, 0});
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    TOverlapped& read = Record();
    TOverlapped& wait = Record();
    StartPendingRead(read, Buffer, 8);
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &wait), WinError::IoPending);

    std::atomic<pid_t> tid{0};
    std::uint32_t result = 0;
    std::thread waiter([&] {
        tid = ::gettid();
        const THandle handles[] = {read.hEvent, wait.hEvent};
        EXPECT_EQ(Platform.WaitForMultipleObjects(2, handles, true, 10000, result), 0u);
    });
    EXPECT_TRUE(Started(tid) && Sleeping(tid));
    EXPECT_EQ(Platform.CloseHandle(Port), 0u);
    const THandle closed = Port;
    Port = InvalidHandle;
    waiter.join();
    EXPECT_EQ(result, Wait::Object0);
    EXPECT_EQ(read.Internal, WinError::OperationAborted);
    EXPECT_EQ(wait.Internal, WinError::OperationAborted);
    EXPECT_EQ(Platform.GetOverlappedResult(closed, &read, Count, false), WinError::InvalidHandle);
    // The device is free again at once.
    EXPECT_EQ(Open(), 0u);
}

TEST_F(THangUpTest, ClosingWhileAnotherThreadBlocksInTheDeviceEndsItsCall) {
    OpenConfigured(false, {0, 0, 0, 0, 0});
    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    TOsError error = 0;
    std::thread reader([&] {
        tid = ::gettid();
        error = Platform.ReadFile(Port, Buffer, 8, &Count, nullptr);
        returned = true;
    });
    EXPECT_TRUE(Started(tid) && Sleeping(tid));
    EXPECT_EQ(Platform.CloseHandle(Port), 0u);
    Port = InvalidHandle;
    EXPECT_TRUE(Eventually(returned));
    // Should closing not have ended it, the device's data will.
    if (!returned) Pty.WriteAll("12345678");
    reader.join();
    EXPECT_EQ(error, WinError::OperationAborted);
}

} // namespace
} // namespace cport
