// Transfers on a real device: a pseudo-terminal whose master side plays the device.
#include "CPort.h"
#include "GuiThread.h"
#include "Pattern.h"
#include "PtyPair.h"
#include "platform/ComPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace cport {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::Pattern;

class TransferPty : public ::testing::Test {
protected:
    TransferPty() {
        Port.SetPort(Pty.SlavePath());
        Port.SetEvents({}); // the tests read on their own
    }

    // Waits until the port's input queue holds ACount bytes.
    bool WaitForInput(std::int32_t ACount) {
        return test::ServeUntil([&] { return Port.InputCount() >= ACount; }, 5s);
    }

    TPtyPair Pty;
    TComPort Port{nullptr};
};

TEST_F(TransferPty, ReadStrWithDefaultTimeoutsTakesWhatIsQueued) {
    Port.Open();
    std::string text = "old";
    const auto start = Clock::now();
    EXPECT_EQ(Port.ReadStr(text, 10), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_LT(Clock::now() - start, 2s) << "an empty queue must not make the read wait";

    ASSERT_TRUE(Pty.WriteAll(std::string("ab\0d", 4)));
    ASSERT_TRUE(WaitForInput(4));
    EXPECT_EQ(Port.ReadStr(text, 10), 4);
    EXPECT_EQ(text, std::string("ab\0d", 4)) << "a NUL in the middle is kept";

    const std::string data = Pattern(25);
    ASSERT_TRUE(Pty.WriteAll(data));
    ASSERT_TRUE(WaitForInput(25));
    EXPECT_EQ(Port.ReadStr(text, 10), 10);
    EXPECT_EQ(text, data.substr(0, 10));
    EXPECT_EQ(Port.InputCount(), 15);
    EXPECT_EQ(Port.ReadStr(text, 0), 0);
    EXPECT_EQ(Port.ReadStr(text, -5), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(Port.InputCount(), 15) << "a count of 0 or less reads nothing";
    EXPECT_EQ(Port.ReadStr(text, 100), 15);
    EXPECT_EQ(text, data.substr(10));
}

TEST_F(TransferPty, WriteStrSendsBytesUnchangedInBothModes) {
    for (bool overlapped : {true, false}) {
        SCOPED_TRACE(overlapped);
        Port.SetOverlapped(overlapped);
        Port.Open();
        EXPECT_EQ(Port.WriteStr(""), 0);
        const std::string data = Pattern(512);
        EXPECT_EQ(Port.WriteStr(data), 512);
        EXPECT_EQ(Pty.ReadExactly(512), data);
        EXPECT_EQ(Pty.ReadAvailable(), "") << "the empty string sent nothing";
        Port.Close();
    }
}

TEST_F(TransferPty, WriteTimeoutEndsAWriteThatNobodyTakes) {
    Port.Timeouts().SetWriteTotalMultiplier(0);
    Port.Timeouts().SetWriteTotalConstant(300);
    Port.Open();
    const std::string data = Pattern(1 << 20); // far more than the terminal buffers
    const std::int32_t written = Port.Write(data.data(), static_cast<std::int32_t>(data.size()));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<std::int32_t>(data.size()));
    // What was written is the start of the data, unchanged.
    const std::string arrived = Pty.ReadExactly(static_cast<std::size_t>(written));
    EXPECT_EQ(arrived, data.substr(0, arrived.size()));
}

TEST_F(TransferPty, WriteWithoutOverlappedAccessCountsAFailure) {
    Port.SetOverlapped(false);
    Port.Open();
    EXPECT_EQ(Port.WriteStr("ok"), 2);
    Pty.CloseMaster();
    EXPECT_EQ(Port.WriteStr("gone"), 0);
    EXPECT_EQ(Port.SyncWriteErrors(), 1);
    Port.Close();
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Port.WriteStr("closed"), 0);
    EXPECT_EQ(Port.SyncWriteErrors(), 1) << "a closed port is not counted";
}

TEST_F(TransferPty, PendingReadCanBePolledAndAborted) {
    // Reads that wait for their full count.
    Port.Timeouts().SetReadInterval(0);
    Port.Open();
    PCPortAsync record = nullptr;
    EnsureAsync(record);
    char buffer[8] = {};
    EXPECT_EQ(Port.ReadAsync(buffer, 8, record), 0);
    EXPECT_FALSE(Port.IsAsyncCompleted(record));
    ASSERT_TRUE(Pty.WriteAll("1234"));
    EXPECT_FALSE(test::ServeUntil([&] { return Port.IsAsyncCompleted(record); }, 100ms))
        << "half the count does not complete the read";
    ASSERT_TRUE(Pty.WriteAll("5678"));
    ASSERT_TRUE(test::ServeUntil([&] { return Port.IsAsyncCompleted(record); }, 5s));
    EXPECT_EQ(Port.WaitForAsync(record), 8);
    EXPECT_EQ(std::string(buffer, 8), "12345678");

    EXPECT_EQ(Port.ReadAsync(buffer, 8, record), 0);
    Port.AbortAllAsync();
    try {
        Port.WaitForAsync(record);
        ADD_FAILURE() << "an aborted read must fail";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 3);
        EXPECT_EQ(e.WinCode(), 995);
    }
    FreeAsync(record);
}

TEST_F(TransferPty, WaitForEventTimesOutStopsOrSeesData) {
    Port.Open();
    TComEvents events{evRxChar};
    const auto start = Clock::now();
    Port.WaitForEvent(events, 0, 100);
    const auto waited = Clock::now() - start;
    EXPECT_TRUE(events.Empty());
    EXPECT_GE(waited, 90ms);
    EXPECT_LT(waited, 3s);

    TComPlatform& platform = TComPlatform::Current();
    THandle stop = 0;
    ASSERT_EQ(platform.CreateEventW(true, false, stop), 0u);
    std::thread stopper([&] { platform.SetEvent(stop); });
    events = {evRxChar};
    Port.WaitForEvent(events, stop, -1);
    stopper.join();
    EXPECT_TRUE(events.Empty());
    platform.CloseHandle(stop);

    std::thread device([&] { Pty.WriteAll("x"); });
    events = {evRxChar, evTxEmpty};
    Port.WaitForEvent(events, 0, 10000);
    device.join();
    EXPECT_TRUE(events.Contains(evRxChar));
}

TEST_F(TransferPty, WaitForEventWithoutOverlappedAccessTimesOutAndStops) {
    Port.SetOverlapped(false);
    Port.Open();
    TComPlatform& platform = TComPlatform::Current();
    THandle stop = 0;
    ASSERT_EQ(platform.CreateEventW(true, true, stop), 0u);
    std::promise<void> done;
    std::thread waiter([&] {
        TComEvents events{evRxChar};
        Port.WaitForEvent(events, 0, 100);
        EXPECT_TRUE(events.Empty());
        Port.WaitForEvent(events = {evRxChar}, stop, -1);
        EXPECT_TRUE(events.Empty());
        done.set_value();
    });
    // A wait that does not end is ended by a byte, and fails the test.
    if (done.get_future().wait_for(5s) != std::future_status::ready) {
        ADD_FAILURE() << "the wait ignored its timeout or stop event";
        Pty.WriteAll("!");
    }
    waiter.join();
    platform.CloseHandle(stop);
}

TEST_F(TransferPty, OneMebibyteArrivesCompleteAndInOrderBothWays) {
    Port.Open();
    const std::string data = Pattern(1 << 20);
    std::string received;
    std::thread device([&] { received = Pty.ReadExactly(data.size(), 30s); });
    EXPECT_EQ(Port.Write(data.data(), static_cast<std::int32_t>(data.size())),
              static_cast<std::int32_t>(data.size()));
    device.join();
    EXPECT_TRUE(received == data) << "sent bytes differ, " << received.size() << " arrived";

    std::thread sender([&] { EXPECT_TRUE(Pty.WriteAll(data, 30s)); });
    std::string read, chunk;
    const auto deadline = Clock::now() + 30s;
    while (read.size() < data.size() && Clock::now() < deadline) {
        while (Port.ReadStr(chunk, 65536) > 0)
            read += chunk;
        // Bytes that arrive between the last read and the new event mask raise no event
        // (the mask starts afresh); the short wait covers them.
        TComEvents events{evRxChar};
        Port.WaitForEvent(events, 0, 20);
    }
    sender.join();
    EXPECT_TRUE(read == data) << "received bytes differ, " << read.size() << " arrived";
}

} // namespace
} // namespace cport
