#include "platform/posix/InterruptibleThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include <unistd.h>

namespace cport {
namespace {

bool Reaches(const std::atomic<int>& ACount, int AValue) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ACount < AValue && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ACount >= AValue;
}

// A pipe nobody writes to: read blocks in the kernel the way TIOCMIWAIT does.
class TPipe {
public:
    TPipe() { EXPECT_EQ(::pipe(FFds), 0); }
    ~TPipe() {
        ::close(FFds[0]);
        ::close(FFds[1]);
    }
    TPipe(const TPipe&) = delete;
    TPipe& operator=(const TPipe&) = delete;
    int ReadEnd() const { return FFds[0]; }

private:
    int FFds[2] = {-1, -1};
};

TEST(InterruptibleThread, StopEndsABodyBlockedInASystemCall) {
    TPipe pipe;
    std::atomic<int> calls{0};
    std::atomic<int> interrupted{0};
    TInterruptibleThread thread([&] {
        ++calls;
        char byte = 0;
        if (::read(pipe.ReadEnd(), &byte, 1) < 0 && errno == EINTR) ++interrupted;
        return true;
    });
    EXPECT_TRUE(Reaches(calls, 1));
    const auto start = std::chrono::steady_clock::now();
    thread.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_GE(calls, 1);
    EXPECT_EQ(interrupted, calls);
    // Stopping again, and destroying, do nothing more.
    thread.Stop();
}

TEST(InterruptibleThread, ABodyThatReturnsFalseEndsTheThreadAndStopStillWorks) {
    std::atomic<int> calls{0};
    TInterruptibleThread thread([&] { return ++calls < 3; });
    EXPECT_TRUE(Reaches(calls, 3));
    thread.Stop();
    EXPECT_EQ(calls, 3);
}

} // namespace
} // namespace cport
