// The component on the Windows platform layer, on a serial port whose other end the test plays
// (a pty mapped into Wine's prefix, see RemoteDevice.h), while the test's thread plays the GUI
// thread.
#include "CPort.h"
#include "GuiThread.h"
#include "Pattern.h"
#include "RemoteDevice.h"
#include "Wine.h"

// Lean: the full header's printer functions would rename SetPort.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace cport {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::Pattern;

// The handles this process holds, counted in the system's handle list: Wine's
// GetProcessHandleCount always reports 0.
std::size_t OpenHandles() {
    struct TEntry {
        USHORT ProcessId;
        USHORT CreatorBackTraceIndex;
        UCHAR ObjectTypeIndex;
        UCHAR HandleAttributes;
        USHORT HandleValue;
        PVOID Object;
        ULONG GrantedAccess;
    };
    using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG SystemHandleInformation = 16;
    const auto query = reinterpret_cast<TQuery>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<char> buffer(1 << 16);
    ULONG needed = 0;
    // STATUS_INFO_LENGTH_MISMATCH: more handles than room; the list grows meanwhile.
    while (query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                 &needed) == static_cast<LONG>(0xC0000004))
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
    ULONG count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    const auto* entries = reinterpret_cast<const TEntry*>(buffer.data() + sizeof(void*));
    const auto self = static_cast<USHORT>(GetCurrentProcessId());
    return static_cast<std::size_t>(std::count_if(
        entries, entries + count, [&](const TEntry& AEntry) { return AEntry.ProcessId == self; }));
}

class PortWin : public ::testing::Test {
protected:
    PortWin() { Port.SetPort(test::TRemoteDevice::PortName()); }

    // Waits (serving the GUI thread's queue) until the port's input queue holds ACount bytes.
    bool WaitForInput(std::int32_t ACount) {
        return test::ServeUntil([&] { return Port.InputCount() >= ACount; }, 5s);
    }

    // Reads what the input queue holds. Reads only when something is queued: under Wine a read
    // with the default timeouts waits on an empty queue instead of returning at once.
    std::string ReadQueued() {
        std::string text;
        if (const std::int32_t count = Port.InputCount(); count > 0) Port.ReadStr(text, count);
        return text;
    }

    test::TRemoteDevice Device;
    TComPort Port{nullptr};
};

TEST_F(PortWin, OpenAppliesTheSettingsAndChangesReachTheOpenPort) {
    Port.SetBaudRate(br19200);
    Port.SetStopBits(sbTwoStopBits);
    Port.Parity().SetBits(prOdd);
    Port.Open();
    auto line = Device.Line();
    EXPECT_EQ(line["speed"], 19200);
    EXPECT_EQ(line["cstopb"], 1);
    EXPECT_EQ(line["parodd"], 1);
    Port.SetBaudRate(br115200);
    Port.FlowControl().SetOutCTSFlow(true);
    line = Device.Line();
    EXPECT_EQ(line["speed"], 115200);
    EXPECT_EQ(line["crtscts"], 1);
    Port.Close();
    EXPECT_FALSE(Port.Connected());
    Port.Open();
    EXPECT_TRUE(Port.Connected());
}

TEST_F(PortWin, WrittenAndReceivedBytesPassUnchanged) {
    Port.SetEvents({}); // the test reads on its own
    for (bool overlapped : {true, false}) {
        SCOPED_TRACE(overlapped);
        Port.SetOverlapped(overlapped);
        Port.Open();
        const std::string data = Pattern(512);
        EXPECT_EQ(Port.WriteStr(data), 512);
        EXPECT_EQ(Device.ReadExactly(512), data);
        Port.Close();
    }
    Port.SetOverlapped(true);
    Port.Open();
    const std::string data = Pattern(300);
    ASSERT_TRUE(Device.WriteAll(data));
    ASSERT_TRUE(WaitForInput(300));
    std::string text;
    EXPECT_EQ(Port.ReadStr(text, 100), 100);
    EXPECT_EQ(text, data.substr(0, 100));
    EXPECT_EQ(Port.InputCount(), 200);
    EXPECT_EQ(Port.ReadStr(text, 200), 200);
    EXPECT_EQ(text, data.substr(100));
}

TEST_F(PortWin, ReadStrWithDefaultTimeoutsReturnsAtOnceOnAnEmptyQueue) {
    QUENDAL_NOT_UNDER_WINE("Wine keeps a read with interval MAXDWORD pending on an empty queue");
    Port.SetEvents({});
    Port.Open();
    std::string text = "old";
    const auto start = Clock::now();
    EXPECT_EQ(Port.ReadStr(text, 10), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(PortWin, OneMebibyteArrivesCompleteAndInOrderBothWays) {
    Port.SetEvents({});
    Port.Open();
    const std::string data = Pattern(1 << 20);
    std::string sent;
    std::thread device([&] { sent = Device.ReadExactly(data.size(), 30s); });
    EXPECT_EQ(Port.Write(data.data(), static_cast<std::int32_t>(data.size())),
              static_cast<std::int32_t>(data.size()));
    device.join();
    EXPECT_TRUE(sent == data) << "sent bytes differ, " << sent.size() << " arrived";

    std::thread sender([&] { EXPECT_TRUE(Device.WriteAll(data, 30s)); });
    std::string read;
    const auto deadline = Clock::now() + 30s;
    while (read.size() < data.size() && Clock::now() < deadline) {
        const std::string chunk = ReadQueued();
        if (chunk.empty()) Sleep(1);
        read += chunk;
    }
    sender.join();
    EXPECT_TRUE(read == data) << "received bytes differ, " << read.size() << " arrived";
}

class PortWinSync : public PortWin, public ::testing::WithParamInterface<TSyncMethod> {};
using PortWinHandOver = PortWinSync;

std::string SyncName(const ::testing::TestParamInfo<TSyncMethod>& AInfo) {
    switch (AInfo.param) {
    case smThreadSync:
        return "ThreadSync";
    case smWindowSync:
        return "WindowSync";
    default:
        return "None";
    }
}

TEST_P(PortWinSync, RxCharDeliversEveryByteInOrder) {
    Port.SetSyncMethod(GetParam());
    std::mutex lock;
    std::string received;
    std::atomic<int> wrongThread{0};
    const bool onGuiThread = GetParam() != smNone;
    Port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
        if (TMainThread::IsCurrent() != onGuiThread) ++wrongThread;
        std::string chunk;
        Port.ReadStr(chunk, ACount);
        std::lock_guard guard(lock);
        received += chunk;
    });
    Port.Open();
    const std::string data = Pattern(64 * 1024);
    std::thread sender([&] { EXPECT_TRUE(Device.WriteAll(data, 30s)); });
    const bool complete = test::ServeUntil(
        [&] {
            std::lock_guard guard(lock);
            return received.size() >= data.size();
        },
        30s);
    sender.join();
    Port.Close();
    EXPECT_TRUE(complete) << received.size() << " of " << data.size() << " bytes arrived";
    EXPECT_TRUE(received == data);
    EXPECT_EQ(wrongThread, 0);
}

TEST_P(PortWinHandOver, CloseWhileAHandOverWaitsDoesNotDeadlock) {
    Port.SetSyncMethod(GetParam());
    std::atomic<int> calls{0};
    Port.SetOnCTSChange([&](TObject*, bool AOn) { calls += AOn ? 1 : 0; });
    Port.Open();
    TMainThread::ProcessMessages();
    ASSERT_TRUE(Device.WaitUntilLinesPolled());
    test::WaitUntilQueued(0ms); // forget earlier wake-ups
    // The thread hands over and waits; the GUI thread does not serve it before closing.
    Device.SetLines("CTS");
    ASSERT_TRUE(test::WaitUntilQueued());
    EXPECT_EQ(calls, 0);
    Port.Close(); // serves the pending hand-over while it waits for the thread
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(calls, 1) << "the hand-over in flight completed during the close";
}

TEST_P(PortWinSync, OpenCloseCyclesWhileTheDeviceSendsLeaveNoHandlesBehind) {
    Port.SetSyncMethod(GetParam());
    std::atomic<int> handled{0};
    Port.SetOnRxChar([&](TObject*, std::int32_t) {
        ReadQueued();
        ++handled;
    });
    auto cycles = [&](int ACount) {
        std::atomic<bool> stop{false};
        std::thread device([&] {
            while (!stop)
                Device.WriteAll(Pattern(64), 100ms);
        });
        for (int i = 0; i < ACount; ++i) {
            Port.Open();
            // The GUI thread is busy elsewhere half of the time, so some closes meet a
            // hand-over.
            if (i % 2 == 0) TMainThread::ProcessMessages();
            Port.Close();
        }
        stop = true;
        device.join();
        TMainThread::ProcessMessages();
    };
    // A few cycles first: the runtime and Wine keep some handles for good once used.
    cycles(10);
    const std::size_t before = OpenHandles();
    ASSERT_GT(before, 0u);
    cycles(100);
    // A handle kept per open would add 100 or more; a few may still belong to threads of
    // Wine's that are just ending.
    EXPECT_LE(OpenHandles(), before + 5) << "the port's device, thread and event handles are gone";
}

INSTANTIATE_TEST_SUITE_P(EachDelivery, PortWinSync,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), SyncName);
INSTANTIATE_TEST_SUITE_P(ThroughTheGuiThread, PortWinHandOver,
                         ::testing::Values(smThreadSync, smWindowSync), SyncName);

TEST_F(PortWin, LineEventsFollowTheModemLines) {
    std::mutex lock;
    std::vector<std::string> heard;
    auto record = [&](const char* AName) {
        return [&, AName](TObject*, bool AOn) {
            std::lock_guard guard(lock);
            heard.push_back(std::string(AName) + (AOn ? " on" : " off"));
        };
    };
    Port.SetOnCTSChange(record("CTS"));
    Port.SetOnDSRChange(record("DSR"));
    Port.SetOnRLSDChange(record("RLSD"));
    Port.Open();
    auto heardCount = [&] {
        std::lock_guard guard(lock);
        return heard.size();
    };
    ASSERT_EQ(heardCount(), 3u) << "the lines are reported once after opening";
    EXPECT_TRUE(Port.Signals().Empty());

    ASSERT_TRUE(Device.WaitUntilLinesPolled());
    Device.SetLines("CTS");
    ASSERT_TRUE(test::ServeUntil([&] { return heardCount() == 4; }));
    EXPECT_EQ(heard.back(), "CTS on");
    EXPECT_EQ(Port.Signals(), TComSignals{csCTS});

    ASSERT_TRUE(Device.WaitUntilLinesPolled());
    Device.SetLines("CTS DSR CD");
    ASSERT_TRUE(test::ServeUntil([&] { return heardCount() == 6; }));
    EXPECT_EQ(Port.Signals(), (TComSignals{csCTS, csDSR, csRLSD}));

    ASSERT_TRUE(Device.WaitUntilLinesPolled());
    Device.SetLines("");
    ASSERT_TRUE(test::ServeUntil([&] { return heardCount() == 9; }));
    Port.Close(); // while the handlers' state lives; it reports the lines off once more
    std::lock_guard guard(lock);
    EXPECT_EQ(std::vector<std::string>(heard.begin() + 6, heard.begin() + 9),
              (std::vector<std::string>{"CTS off", "DSR off", "RLSD off"}));
}

TEST_F(PortWin, DtrAndRtsReachTheDevice) {
    Port.Open();
    Port.SetDTR(true);
    EXPECT_EQ(Device.Outputs(), "DTR");
    Port.SetRTS(true);
    EXPECT_EQ(Device.Outputs(), "DTR RTS");
    Port.SetDTR(false);
    Port.SetRTS(false);
    EXPECT_EQ(Device.Outputs(), "");
    Port.FlowControl().SetControlDTR(dtrEnable);
    EXPECT_EQ(Device.Outputs(), "DTR") << "through the control block";
}

TEST_F(PortWin, TxEmptyFollowsAWrite) {
    std::atomic<int> empties{0};
    Port.SetOnTxEmpty([&](TObject*) { ++empties; });
    Port.Open();
    Port.WriteStr("\r\n");
    EXPECT_TRUE(test::ServeUntil([&] { return empties > 0; }));
    EXPECT_EQ(Device.ReadExactly(2), "\r\n");
    Port.Close(); // while the handler's counter lives
}

TEST_F(PortWin, WaitForEventTimesOutStopsOrSeesData) {
    Port.SetEvents({});
    Port.Open();
    TComEvents events{evRxChar};
    const auto start = Clock::now();
    Port.WaitForEvent(events, 0, 100);
    EXPECT_TRUE(events.Empty());
    EXPECT_GE(Clock::now() - start, 90ms);

    const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread stopper([&] { SetEvent(stop); });
    events = {evRxChar};
    Port.WaitForEvent(events, reinterpret_cast<THandle>(stop), -1);
    stopper.join();
    EXPECT_TRUE(events.Empty());
    CloseHandle(stop);

    std::thread device([&] { Device.WriteAll("x"); });
    events = {evRxChar};
    Port.WaitForEvent(events, 0, 10000);
    device.join();
    EXPECT_EQ(events, TComEvents{evRxChar});
}

// Close ends what is still pending: the event thread's wait and a read nobody waits for.
TEST_F(PortWin, CloseEndsEveryPendingOperation) {
    Port.Timeouts().SetReadInterval(0); // reads wait for their full count
    Port.Open();
    PCPortAsync record = nullptr;
    EnsureAsync(record);
    char buffer[8] = {};
    EXPECT_EQ(Port.ReadAsync(buffer, 8, record), 0);
    EXPECT_FALSE(Port.IsAsyncCompleted(record));
    const auto start = Clock::now();
    Port.Close();
    EXPECT_LT(Clock::now() - start, 5s);
    try {
        Port.WaitForAsync(record);
        ADD_FAILURE() << "a read ended by the close must fail";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeReadFile);
        // Windows' purge aborts it (995); Wine's does not, and its close ends it with 676.
        EXPECT_EQ(e.WinCode(), test::RunningUnderWine() ? 676 : 995);
    }
    FreeAsync(record);
}

TEST_F(PortWin, AbortAllAsyncEndsAPendingRead) {
    QUENDAL_NOT_UNDER_WINE("Wine's purge does not end pending reads");
    Port.Timeouts().SetReadInterval(0);
    Port.Open();
    PCPortAsync record = nullptr;
    EnsureAsync(record);
    char buffer[8] = {};
    Port.ReadAsync(buffer, 8, record);
    Port.AbortAllAsync();
    try {
        Port.WaitForAsync(record);
        ADD_FAILURE() << "an aborted read must fail";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeReadFile);
        EXPECT_EQ(e.WinCode(), 995);
    }
    FreeAsync(record);
}

TEST_F(PortWin, AHungUpDeviceCanStillBeClosed) {
    std::atomic<int> chars{0};
    Port.SetOnRxChar([&](TObject*, std::int32_t) { ++chars; });
    Port.Open();
    Device.HangUp();
    test::ServeUntil([] { return false; }, 200ms);
    EXPECT_EQ(chars, 0) << "no event keeps arriving for a device that is gone";
    try {
        Port.Close();
    } catch (const EComPort&) {
        // The device is gone; closing it still has to release it.
    }
    EXPECT_FALSE(Port.Connected());
}

} // namespace
} // namespace cport
