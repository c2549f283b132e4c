#include "PortFixture.h"

#include "platform/posix/DeviceOperation.h"

#include <atomic>
#include <thread>

#include <unistd.h>

namespace cport {
namespace {

using namespace std::chrono_literals;

// Several threads on one device: whoever waits does the device's work, and a waiter learns
// at once when another thread changes what it should poll for.
class TCooperationTest : public TPortTest {
protected:
    std::uint32_t Count = 0;
    std::uint32_t Mask = 0;
    std::atomic<pid_t> WaiterId{0};

    // A thread asleep in a wait for AEvent (10 s at most); AResult gets what the wait returned.
    std::thread AsleepOn(THandle AEvent, std::uint32_t& AResult) {
        WaiterId = 0;
        std::thread waiter([this, AEvent, &AResult] {
            WaiterId = ::gettid();
            EXPECT_EQ(Platform.WaitForSingleObject(AEvent, 10000, AResult), 0u);
        });
        EXPECT_TRUE(Started(WaiterId) && Sleeping(WaiterId));
        return waiter;
    }
};

TEST_F(TCooperationTest, AWaiterOnAFullQueueWakesWhenAnotherThreadMakesRoom) {
    OpenConfigured(true, Immediate(), DcbFlag::Binary, 1024);
    TDCB dcb = Line8N1();
    dcb.EvtChar = '\n';
    ASSERT_EQ(Platform.SetCommState(Port, dcb), 0u);
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxFlag), 0u);
    // The terminal holds less than the queue: the queue fills while the device writes.
    std::thread device([&] { EXPECT_TRUE(Pty.WriteAll(std::string(65536, 'a') + "x\n")); });
    ASSERT_TRUE(AwaitInQueue(65536));
    device.join(); // "x\n" is held in the kernel: the queue is full.

    TOverlapped& wait = Record();
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &wait), WinError::IoPending);
    std::uint32_t result = 0;
    std::thread waiter = AsleepOn(wait.hEvent, result);
    char buffer[512];
    TOverlapped& read = Record();
    EXPECT_EQ(Platform.ReadFile(Port, buffer, sizeof buffer, &Count, &read), 0u);
    waiter.join();
    EXPECT_EQ(result, Wait::Object0);
    EXPECT_EQ(Mask, EvMask::RxFlag);
}

TEST_F(TCooperationTest, TwoThreadsWaitingOnOneDeviceBothComplete) {
    OpenConfigured(true, {0, 0, 0, 0, 0});
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    TOverlapped& wait = Record();
    TOverlapped& read = Record();
    char buffer[4] = {};
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &wait), WinError::IoPending);
    StartPendingRead(read, buffer, 4);
    std::uint32_t waitResult = 0;
    std::uint32_t readResult = 0;
    std::thread first(
        [&] { EXPECT_EQ(Platform.WaitForSingleObject(wait.hEvent, 10000, waitResult), 0u); });
    std::thread second(
        [&] { EXPECT_EQ(Platform.WaitForSingleObject(read.hEvent, 10000, readResult), 0u); });
    ASSERT_TRUE(Pty.WriteAll("abcd"));
    first.join();
    second.join();
    EXPECT_EQ(waitResult, Wait::Object0);
    EXPECT_EQ(readResult, Wait::Object0);
    EXPECT_EQ(Mask, EvMask::RxChar);
    EXPECT_EQ(Outcome(read, Count), 0u);
    EXPECT_EQ(std::string(buffer, Count), "abcd");
}

TEST_F(TCooperationTest, AnOperationStartedOnAnAwaitedEventIsDrivenByItsWaiter) {
    OpenConfigured(true, {0, 0, 0, 0, 0});
    TOverlapped& read = Record();
    std::uint32_t result = 0;
    std::thread waiter = AsleepOn(read.hEvent, result);
    // Only the waiter, already asleep, can take the device's bytes to this read.
    char buffer[3] = {};
    EXPECT_EQ(Platform.ReadFile(Port, buffer, 3, &Count, &read), WinError::IoPending);
    EXPECT_TRUE(Pty.WriteAll("xyz"));
    waiter.join();
    EXPECT_EQ(result, Wait::Object0);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
}

TEST_F(TCooperationTest, AWaiterAsleepTakesUpTheDeadlineOfAReadStartedAfterIt) {
    // The waiter polls the device for its event wait; the later read's timeout can end the
    // read only if the waiter is woken to poll until the new deadline.
    OpenConfigured(true, {0, 0, 100, 0, 0});
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    TOverlapped& wait = Record();
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &wait), WinError::IoPending);
    std::uint32_t result = 0;
    std::thread waiter = AsleepOn(wait.hEvent, result);
    char buffer[4] = {};
    TOverlapped& read = Record();
    EXPECT_EQ(Platform.ReadFile(Port, buffer, 4, &Count, &read), WinError::IoPending);
    // Watched without a call into the device, which would expire the read itself.
    const auto done = [&] { return std::atomic_ref(read.Internal).load() != RecordPending; };
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (!done() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(done());
    EXPECT_EQ(read.InternalHigh, 0u);
    EXPECT_TRUE(Pty.WriteAll("x")); // ends the wait
    waiter.join();
    EXPECT_EQ(result, Wait::Object0);
}

} // namespace
} // namespace cport
