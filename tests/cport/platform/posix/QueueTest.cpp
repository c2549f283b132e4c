#include "PortFixture.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace cport {
namespace {

using namespace std::chrono_literals;

using TQueueTest = TPortTest;

TEST_F(TQueueTest, Rx80FullFiresWhenTheQueueReachesEightyPercent) {
    OpenConfigured(true, Immediate(), DcbFlag::Binary, 1024);
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::Rx80Full), 0u);
    ASSERT_TRUE(Pty.WriteAll(std::string(819, 'a')));
    ASSERT_TRUE(AwaitInQueue(819));
    TOverlapped& record = Record();
    std::uint32_t mask = 0;
    ASSERT_EQ(Platform.WaitCommEvent(Port, &mask, &record), WinError::IoPending);
    ASSERT_TRUE(Pty.WriteAll("b"));
    ASSERT_TRUE(Signalled(record.hEvent));
    EXPECT_EQ(mask, EvMask::Rx80Full);

    // Once: more data does not fire again until the queue went below the mark.
    ASSERT_EQ(Platform.WaitCommEvent(Port, &mask, &record), WinError::IoPending);
    ASSERT_TRUE(Pty.WriteAll("c"));
    ASSERT_TRUE(AwaitInQueue(821));
    EXPECT_FALSE(Signalled(record.hEvent, 0ms));
    char buffer[1024];
    std::uint32_t count = 0;
    TOverlapped& read = Record();
    ASSERT_EQ(Platform.ReadFile(Port, buffer, 500, &count, &read), 0u);
    ASSERT_TRUE(Pty.WriteAll(std::string(500, 'd')));
    ASSERT_TRUE(Signalled(record.hEvent));
}

TEST_F(TQueueTest, AFullQueueHoldsTheSenderAndLosesNothing) {
    // A small size asked for: the queue still holds 64 KiB, a size being a recommendation.
    OpenConfigured(true, Immediate(), DcbFlag::Binary, 1024);
    ASSERT_EQ(Platform.SetCommMask(Port, EvMask::RxChar), 0u);
    const std::string data = Pattern(1u << 20);
    std::thread device([&] { Pty.WriteAll(data, 30s); });

    // Nobody reads yet: the queue fills to its capacity and no further.
    ASSERT_TRUE(AwaitInQueue(65536));
    std::uint32_t errors = 0;
    TComStat stat;
    ASSERT_EQ(Platform.ClearCommError(Port, errors, &stat), 0u);
    EXPECT_EQ(stat.cbInQue, 65536u);
    EXPECT_EQ(errors, 0u);

    std::string received;
    TOverlapped& wait = Record();
    TOverlapped& read = Record();
    std::vector<char> buffer(65536);
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (received.size() < data.size() && std::chrono::steady_clock::now() < until) {
        std::uint32_t mask = 0;
        const TOsError started = Platform.WaitCommEvent(Port, &mask, &wait);
        ASSERT_TRUE(started == 0 || started == WinError::IoPending) << started;
        if (started == WinError::IoPending) {
            ASSERT_TRUE(Signalled(wait.hEvent));
        }
        ASSERT_EQ(Platform.ClearCommError(Port, errors, &stat), 0u);
        ASSERT_EQ(errors, 0u);
        ASSERT_LE(stat.cbInQue, 65536u);
        std::uint32_t count = 0;
        ASSERT_EQ(Platform.ReadFile(Port, buffer.data(), stat.cbInQue, &count, &read), 0u);
        received.append(buffer.data(), count);
    }
    device.join();
    ASSERT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

// What arrives while a read waits goes into its buffer, decoded (NULs dropped), also beyond
// the queue's size; the queue stays empty until the read has what it asked for.
TEST_F(TQueueTest, APendingReadIsFilledPastTheQueuesSizeAndTheQueueOnlyAfterIt) {
    OpenConfigured(true, TCommTimeouts{}, DcbFlag::Binary | DcbFlag::Null, 1024);
    std::string expected = Pattern(200000);
    std::replace(expected.begin(), expected.end(), '\0', 'n');
    std::string sent;
    for (std::size_t i = 0; i < expected.size(); i += 1000)
        sent += expected.substr(i, 1000) + std::string(1, '\0');
    std::vector<char> buffer(expected.size());
    std::uint32_t count = 0;
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.ReadFile(Port, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                &count, &record),
              WinError::IoPending);
    std::thread device([&] { Pty.WriteAll(sent + "tail", 30s); });
    ASSERT_TRUE(Signalled(record.hEvent, 30s));
    device.join();
    ASSERT_EQ(Platform.GetOverlappedResult(Port, &record, count, false), 0u);
    EXPECT_EQ(count, expected.size());
    EXPECT_TRUE(std::string(buffer.data(), count) == expected);
    EXPECT_TRUE(AwaitInQueue(4)) << "what came after it is queued";
}

TEST_F(TQueueTest, NulBytesAreDiscardedWhenAsked) {
    OpenConfigured(true, Immediate(), DcbFlag::Binary | DcbFlag::Null);
    ASSERT_TRUE(Pty.WriteAll(std::string("a\0b\0\0c", 6)));
    ASSERT_TRUE(AwaitInQueue(3));
    char buffer[8];
    std::uint32_t count = 0;
    TOverlapped& record = Record();
    ASSERT_EQ(Platform.ReadFile(Port, buffer, sizeof buffer, &count, &record), 0u);
    EXPECT_EQ(std::string(buffer, count), "abc");

    // And kept otherwise.
    ASSERT_EQ(Platform.SetCommState(Port, Line8N1()), 0u);
    ASSERT_TRUE(Pty.WriteAll(std::string("x\0y", 3)));
    ASSERT_TRUE(AwaitInQueue(3));
    ASSERT_EQ(Platform.ReadFile(Port, buffer, sizeof buffer, &count, &record), 0u);
    EXPECT_EQ(std::string(buffer, count), std::string("x\0y", 3));
}

TEST_F(TQueueTest, ByteFFPassesUnchangedWithAndWithoutParityChecking) {
    OpenConfigured(true, Immediate(), DcbFlag::Binary | DcbFlag::Parity | DcbFlag::ErrorChar);
    const std::string data("\xFF\x00\xFF\xFF\x01", 5);
    char buffer[8];
    std::uint32_t count = 0;
    TOverlapped& record = Record();
    for (const std::uint32_t flags : {DcbFlag::Binary | DcbFlag::Parity | DcbFlag::ErrorChar,
                                      DcbFlag::Binary, DcbFlag::Binary | DcbFlag::Parity}) {
        ASSERT_EQ(Platform.SetCommState(Port, Line8N1(flags)), 0u);
        ASSERT_TRUE(Pty.WriteAll(data));
        ASSERT_TRUE(AwaitInQueue(5));
        ASSERT_EQ(Platform.ReadFile(Port, buffer, sizeof buffer, &count, &record), 0u);
        EXPECT_EQ(std::string(buffer, count), data) << flags;
        std::uint32_t errors = 0;
        ASSERT_EQ(Platform.ClearCommError(Port, errors, nullptr), 0u);
        EXPECT_EQ(errors, 0u);
    }
}

} // namespace
} // namespace cport
