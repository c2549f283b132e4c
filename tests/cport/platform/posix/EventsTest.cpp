#include "PortFixture.h"

#include "platform/posix/Lock.h"

#include <cerrno>
#include <future>
#include <mutex>
#include <thread>

#include <linux/capability.h>
#include <sys/resource.h>
#include <unistd.h>

namespace cport {
namespace {

using namespace std::chrono_literals;

class TEventsTest : public TPortTest {
protected:
    std::uint32_t Wait(std::vector<THandle> AHandles, bool AAll, std::uint32_t ATimeout) {
        std::uint32_t result = 0xABCD;
        EXPECT_EQ(Platform.WaitForMultipleObjects(static_cast<std::uint32_t>(AHandles.size()),
                                                  AHandles.data(), AAll, ATimeout, result),
                  0u);
        return result;
    }
};

TEST_F(TEventsTest, WaitForAnyReportsTheLowestSignalledIndex) {
    const THandle a = NewEvent();
    const THandle b = NewEvent();
    const THandle c = NewEvent();
    EXPECT_EQ(Wait({a, b, c}, false, 0), Wait::Timeout);
    ASSERT_EQ(Platform.SetEvent(c), 0u);
    EXPECT_EQ(Wait({a, b, c}, false, 0), Wait::Object0 + 2);
    ASSERT_EQ(Platform.SetEvent(b), 0u);
    EXPECT_EQ(Wait({a, b, c}, false, Wait::Infinite), Wait::Object0 + 1);
    ASSERT_EQ(Platform.ResetEvent(b), 0u);
    EXPECT_EQ(Wait({a, b, c}, false, 0), Wait::Object0 + 2);
}

TEST_F(TEventsTest, ManualResetStaysSignalledAutoResetWakesOneWait) {
    const THandle manual = NewEvent(true, true);
    const THandle automatic = NewEvent(false, true);
    EXPECT_EQ(Wait({manual}, false, 0), Wait::Object0);
    EXPECT_EQ(Wait({manual}, false, 0), Wait::Object0);
    EXPECT_EQ(Wait({automatic}, false, 0), Wait::Object0);
    EXPECT_EQ(Wait({automatic}, false, 0), Wait::Timeout);
}

TEST_F(TEventsTest, WaitForAllNeedsEveryEventAndTakesAutoResetSignalsTogether) {
    const THandle manual = NewEvent(true, false);
    const THandle automatic = NewEvent(false, true);
    EXPECT_EQ(Wait({manual, automatic}, true, 20), Wait::Timeout);
    // The failed wait-all took nothing.
    std::thread setter([&] { Platform.SetEvent(manual); });
    EXPECT_EQ(Wait({manual, automatic}, true, 5000), Wait::Object0);
    setter.join();
    EXPECT_EQ(Wait({automatic}, false, 0), Wait::Timeout);
    EXPECT_EQ(Wait({manual}, false, 0), Wait::Object0);
}

TEST_F(TEventsTest, AnotherThreadsSetEventEndsAnInfiniteWait) {
    const THandle event = NewEvent(false, false);
    std::thread setter([&] { Platform.SetEvent(event); });
    EXPECT_EQ(Wait({event}, false, Wait::Infinite), Wait::Object0);
    setter.join();
}

TEST_F(TEventsTest, SignalsHandedBackAndForthAreNeverLost) {
    // Setting a set event and resetting a reset one change nothing, and take no lock: every
    // signal that two threads hand each other must still arrive, and what came before it too.
    const THandle ping = NewEvent(false, false);
    const THandle pong = NewEvent(true, false);
    constexpr int Rounds = 2000;
    int answered = 0;
    std::thread peer([&] {
        for (int i = 0; i < Rounds; ++i) {
            std::uint32_t result = 0;
            if (Platform.WaitForMultipleObjects(1, &ping, false, 5000, result) != 0 ||
                result != Wait::Object0)
                return;
            Platform.ResetEvent(ping); // reset already by the wait
            ++answered;
            Platform.SetEvent(pong);
        }
    });
    // A failed round leaves the loop; the peer then times out and ends.
    [&] {
        for (int i = 0; i < Rounds; ++i) {
            ASSERT_EQ(Platform.ResetEvent(pong), 0u);
            ASSERT_EQ(Platform.SetEvent(ping), 0u);
            ASSERT_EQ(Wait({pong}, false, 5000), Wait::Object0) << "round " << i;
            ASSERT_EQ(answered, i + 1);
            ASSERT_EQ(Platform.SetEvent(pong), 0u); // set already
        }
    }();
    peer.join();
}

TEST(TLockTest, ContendedHoldersExcludeEachOtherAndSleepersAreWoken) {
    // Held across a yield, so that the others find it taken and sleep on it: a lost wake-up
    // hangs the test (ctest's timeout ends it), a broken exclusion loses increments.
    TLock lock;
    long counter = 0;
    constexpr int Threads = 4, Rounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < Rounds; ++i) {
                std::lock_guard guard(lock);
                const long seen = counter;
                if (i % 64 == 0) std::this_thread::yield();
                counter = seen + 1;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(counter, long{Threads} * Rounds);
}

TEST_F(TEventsTest, TimeoutIsNotShort) {
    const THandle event = NewEvent();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Wait({event}, false, 50), Wait::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

// Threads keep their last lookups of handles: a close on one thread must still reach them.
TEST_F(TEventsTest, AClosedHandleFailsOnEveryThreadThatUsedIt) {
    THandle event = 0;
    ASSERT_EQ(Platform.CreateEventW(true, false, event), 0u);
    std::promise<void> used;
    std::promise<void> closed;
    std::thread user([&, closedNow = closed.get_future()] {
        EXPECT_EQ(Platform.SetEvent(event), 0u);
        used.set_value();
        closedNow.wait();
        EXPECT_EQ(Platform.SetEvent(event), WinError::InvalidHandle);
    });
    used.get_future().wait();
    EXPECT_EQ(Platform.ResetEvent(event), 0u);
    EXPECT_EQ(Platform.CloseHandle(event), 0u);
    closed.set_value();
    user.join();
    EXPECT_EQ(Platform.ResetEvent(event), WinError::InvalidHandle);
}

// More handles than a thread keeps, taken in an order that finds them at every place of
// what it keeps and drops each in turn: every lookup must still find its own event.
TEST_F(TEventsTest, LookupsOfMoreHandlesThanAThreadKeepsFindEachItsOwnEvent) {
    std::vector<THandle> events;
    for (int i = 0; i < 7; ++i)
        events.push_back(NewEvent(true, i % 2 == 1));
    for (const int i : {0, 1, 2, 3, 1, 3, 0, 4, 5, 6, 2, 6, 1, 0, 5, 3, 4, 4, 2})
        EXPECT_EQ(Wait({events[i]}, false, 0), i % 2 == 1 ? Wait::Object0 : Wait::Timeout)
            << "event " << i;
}

TEST_F(TEventsTest, InvalidHandlesAndCountsFail) {
    const THandle event = NewEvent();
    std::uint32_t result = 0;
    const THandle unknown[] = {event, 0x7777};
    EXPECT_EQ(Platform.WaitForMultipleObjects(2, unknown, false, 0, result),
              WinError::InvalidHandle);
    EXPECT_EQ(result, Wait::Failed);
    const THandle twice[] = {event, event};
    EXPECT_EQ(Platform.WaitForMultipleObjects(2, twice, true, 0, result),
              static_cast<TOsError>(EINVAL));
    EXPECT_EQ(result, Wait::Failed);
    EXPECT_EQ(Platform.WaitForMultipleObjects(0, twice, false, 0, result),
              static_cast<TOsError>(EINVAL));
    const std::vector<THandle> many(65, event);
    EXPECT_EQ(Platform.WaitForMultipleObjects(65, many.data(), false, 0, result),
              static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.SetEvent(0x7777), WinError::InvalidHandle);
    ASSERT_EQ(Platform.CloseHandle(event), 0u);
    Events.clear();
    EXPECT_EQ(Platform.WaitForSingleObject(event, 0, result), WinError::InvalidHandle);
    EXPECT_EQ(result, Wait::Failed);
}

TEST_F(TEventsTest, SleepSleepsAtLeastTheTimeAsked) {
    const auto start = std::chrono::steady_clock::now();
    Platform.Sleep(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
    Platform.Sleep(0);
}

TEST_F(TEventsTest, ThreadPriorityBecomesTheCallingThreadsNiceValue) {
    const int before = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    int nice = 99;
    std::thread worker([&] {
        EXPECT_EQ(Platform.SetCurrentThreadPriority(-1), 0u);
        nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        EXPECT_EQ(Platform.SetCurrentThreadPriority(-15), 0u);
        EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), 19);
        EXPECT_EQ(Platform.SetCurrentThreadPriority(16), static_cast<TOsError>(EINVAL));
    });
    worker.join();
    EXPECT_EQ(nice, 5);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), before);
}

TEST_F(TEventsTest, ARaiseWithoutTheRightIsReportedNotIgnored) {
    bool dropped = false;
    TOsError error = 0;
    std::thread user([&] {
        dropped = ::geteuid() != 0 || DropCapability(CAP_SYS_NICE);
        if (dropped) error = Platform.SetCurrentThreadPriority(2);
    });
    user.join();
    ASSERT_TRUE(dropped);
    // Linux refuses a lower nice value without the right with EACCES.
    EXPECT_EQ(error, static_cast<TOsError>(EACCES));
}

} // namespace
} // namespace cport
