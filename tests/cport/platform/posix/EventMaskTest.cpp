#include "PortFixture.h"

#include <atomic>
#include <cerrno>
#include <thread>

#include <unistd.h>

namespace cport {
namespace {

using namespace std::chrono_literals;

class TEventMaskTest : public TPortTest {
protected:
    void SetUp() override { OpenConfigured(); }
    std::uint32_t Mask = 0xDEAD;
};

TEST_F(TEventMaskTest, EventCharacterRaisesRxFlag) {
    TDCB dcb = Line8N1();
    dcb.EvtChar = '\n';
    ASSERT_EQ(Platform.SetCommState(Port, dcb), 0u);
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxFlag), 0u);
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending);
    ASSERT_TRUE(Pty.WriteAll("abc"));
    ASSERT_TRUE(AwaitInQueue(3));
    EXPECT_FALSE(Signalled(record.hEvent, 0ms));
    ASSERT_TRUE(Pty.WriteAll("x\ny"));
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_EQ(Mask, EvMask::RxFlag);
}

TEST_F(TEventMaskTest, EventsBetweenWaitsCompleteTheNextWaitAtOnce) {
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar | EvMask::TxEmpty), 0u);
    ASSERT_TRUE(Pty.WriteAll("a"));
    ASSERT_TRUE(AwaitInQueue(1));
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), 0u);
    EXPECT_EQ(Mask, EvMask::RxChar);
    EXPECT_TRUE(Signalled(record.hEvent, 0ms));
    std::uint32_t count = 99;
    EXPECT_EQ(Outcome(record, count), 0u);
    // The history is used up: the next wait runs.
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending);
    EXPECT_FALSE(Signalled(record.hEvent, 0ms));
    // A write empties the output: TXEMPTY.
    TOverlapped& write = Record();
    ASSERT_EQ(Platform.WriteFile(Port, "out", 3, &count, &write), 0u);
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_EQ(Mask, EvMask::TxEmpty);
}

TEST_F(TEventMaskTest, OneEventServesTheWaitsOfEveryOpening) {
    // A wait's event stays tied to its device until a wait uses another one or the device
    // closes: a later opening, whose device may take the closed one's place in memory, must
    // be waited on through the same event as well.
    TOverlapped& record = Record();
    for (int opening = 0; opening < 12; ++opening) {
        if (opening > 0) {
            ClosePort();
            OpenConfigured();
        }
        ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
        ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending);
        ASSERT_TRUE(Pty.WriteAll("a"));
        ASSERT_TRUE(Signalled(record.hEvent)) << "opening " << opening;
        EXPECT_EQ(Mask, EvMask::RxChar);
    }
}

TEST_F(TEventMaskTest, SetCommMaskEndsAPendingWaitWithAnEmptyMaskAndClearsTheHistory) {
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxFlag), 0u);
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending);
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    ASSERT_TRUE(Signalled(record.hEvent, 0ms));
    std::uint32_t count = 0;
    EXPECT_EQ(Outcome(record, count), 0u);
    EXPECT_EQ(Mask, 0u);

    ASSERT_TRUE(Pty.WriteAll("a"));
    ASSERT_TRUE(AwaitInQueue(1));
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxFlag | EvMask::TxEmpty), 0u);
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending)
        << "the character arrived before this mask: it is not in the history";
    ASSERT_EQ(Platform.SetCommMask(Port, 0), 0u);
    ASSERT_TRUE(Signalled(record.hEvent, 0ms));
    EXPECT_EQ(Mask, 0u);
    std::uint32_t read = 0;
    EXPECT_EQ(Platform.GetCommMask(Port, read), 0u);
    EXPECT_EQ(read, 0u);
}

TEST_F(TEventMaskTest, BytesQueuedBeforeTheMaskAreAnnouncedOnce) {
    // A device that sends before the port watches for it can fill the queue and be held;
    // without this the bytes would wait for an event that never comes.
    ASSERT_TRUE(Pty.WriteAll(std::string(100, 'x')));
    ASSERT_TRUE(AwaitInQueue(100));
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), 0u);
    EXPECT_EQ(Mask, EvMask::RxChar);
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending)
        << "announced once, not again while nobody reads";
    EXPECT_FALSE(Signalled(record.hEvent, 50ms));
    ASSERT_TRUE(Pty.WriteAll("y"));
    EXPECT_TRUE(Signalled(record.hEvent));
    EXPECT_EQ(Mask, EvMask::RxChar);
}

TEST_F(TEventMaskTest, AWaitNeedsAMaskAndIsOneAtATime) {
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.SetCommMask(Port, 0), 0u);
    EXPECT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), static_cast<TOsError>(EINVAL));
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    ASSERT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending);
    TOverlapped& second = Record();
    EXPECT_EQ(Platform.WaitCommEvent(Port, &Mask, &second), static_cast<TOsError>(EINVAL));
    EXPECT_FALSE(Signalled(second.hEvent, 0ms));
    // The pending wait ends before its record goes.
    ClosePort();
    EXPECT_EQ(record.Internal, WinError::OperationAborted);
}

TEST_F(TEventMaskTest, NonOverlappedWaitBlocksUntilAnotherThreadChangesTheMask) {
    ASSERT_EQ(Platform.CloseHandle(Port), 0u);
    OpenConfigured(false);
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxFlag), 0u);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        tid = ::gettid();
        EXPECT_EQ(Platform.WaitCommEvent(Port, &Mask, nullptr), 0u);
        returned = true;
    });
    EXPECT_TRUE(Started(tid) && Sleeping(tid));
    EXPECT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    EXPECT_TRUE(Eventually(returned));
    // Closing ends the wait should the mask not have.
    if (!returned) Platform.CloseHandle(Port);
    waiter.join();
    EXPECT_EQ(Mask, 0u);
}

// The cooperative driver has no timer: a port open with every event in its mask and a thread
// waiting for them wakes nobody until something happens.
TEST_F(TEventMaskTest, AnIdlePortWakesNoThread) {
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar | EvMask::RxFlag | EvMask::TxEmpty |
                                             EvMask::Cts | EvMask::Dsr | EvMask::Rlsd |
                                             EvMask::Break | EvMask::Err | EvMask::Ring |
                                             EvMask::Rx80Full),
              0u);
    TOverlapped& record = Record();
    std::atomic<pid_t> tid{0};
    std::uint32_t result = 0;
    std::thread waiter([&] {
        tid = ::gettid();
        EXPECT_EQ(Platform.WaitCommEvent(Port, &Mask, &record), WinError::IoPending);
        EXPECT_EQ(Platform.WaitForSingleObject(record.hEvent, 30000, result), 0u);
    });
    const bool sleeping = Started(tid) && Sleeping(tid);
    EXPECT_TRUE(sleeping);
    if (sleeping) {
        const std::uint64_t before = ContextSwitches(tid);
        std::this_thread::sleep_for(2s);
        EXPECT_EQ(ContextSwitches(tid), before);
    }
    EXPECT_TRUE(Pty.WriteAll("wake"));
    waiter.join();
    EXPECT_EQ(result, Wait::Object0);
    EXPECT_EQ(Mask, EvMask::RxChar);
}

} // namespace
} // namespace cport
