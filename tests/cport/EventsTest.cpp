// The event thread and event dispatch through the recording fake, whose device can report any
// combination of line events. The test's thread plays the GUI thread.
#include "CPort_p.h"
#include "FakeComPlatform.h"
#include "GuiThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

namespace cport {
namespace {

using test::ServeUntil;
using test::TFakeComPlatform;
using namespace std::chrono_literals;

// Logs every notification it makes, and exposes what tests need.
class TLoggingPort : public TComPort {
public:
    using TComPort::TComPort;
    using TCustomComPort::EventWindowProc;

    std::vector<std::string> Log() const {
        std::lock_guard lock(FLock);
        return FLog;
    }
    void ClearLog() {
        std::lock_guard lock(FLock);
        FLog.clear();
    }

protected:
    void Add(std::string AEntry) {
        std::lock_guard lock(FLock);
        FLog.push_back(std::move(AEntry));
    }
    void NotifyAfterOpen() override {
        Add("AfterOpen");
        TComPort::NotifyAfterOpen();
    }
    void NotifyBeforeClose() override {
        Add("BeforeClose");
        TComPort::NotifyBeforeClose();
    }
    void NotifyRxChar(std::int32_t ACount) override {
        Add("RxChar " + std::to_string(ACount));
        TComPort::NotifyRxChar(ACount);
    }
    void NotifyRxBuf(const char* ABuffer, std::int32_t ACount) override {
        Add("RxBuf " + std::string(ABuffer, static_cast<std::size_t>(ACount)));
        TComPort::NotifyRxBuf(ABuffer, ACount);
    }
    void NotifyTxEmpty() override {
        Add("TxEmpty");
        TComPort::NotifyTxEmpty();
    }
    void NotifyBreak() override {
        Add("Break");
        TComPort::NotifyBreak();
    }
    void NotifyRing() override {
        Add("Ring");
        TComPort::NotifyRing();
    }
    void NotifyRxFlag() override {
        Add("RxFlag");
        TComPort::NotifyRxFlag();
    }
    void NotifyCTSChange(bool AOnOff) override {
        Add(std::string("CTS ") + (AOnOff ? "on" : "off"));
        TComPort::NotifyCTSChange(AOnOff);
    }
    void NotifyDSRChange(bool AOnOff) override {
        Add(std::string("DSR ") + (AOnOff ? "on" : "off"));
        TComPort::NotifyDSRChange(AOnOff);
    }
    void NotifyRLSDChange(bool AOnOff) override {
        Add(std::string("RLSD ") + (AOnOff ? "on" : "off"));
        TComPort::NotifyRLSDChange(AOnOff);
    }
    void NotifyError(TComErrors AErrors) override {
        Add("Error " + std::to_string(AErrors.Bits()));
        TComPort::NotifyError(AErrors);
    }
    void NotifyRx80Full() override {
        Add("Rx80Full");
        TComPort::NotifyRx80Full();
    }

private:
    mutable std::mutex FLock;
    std::vector<std::string> FLog;
};

class Events : public ::testing::Test {
protected:
    Events() { Port.SetPort("COM6"); }
    ~Events() override { Port.Close(); }

    // Opens the port and waits until its thread waits for the device; forgets the log.
    void OpenAndWait() {
        Port.Open();
        ASSERT_TRUE(Fake.WaitUntilCommWaitPending(5s));
        Port.ClearLog();
    }
    // Reports AMask and serves the GUI thread until the thread waits again.
    void Deliver(std::uint32_t AMask) {
        const int waits = Fake.CountCalls("WaitCommEvent");
        Fake.SignalCommEvent(AMask);
        ASSERT_TRUE(ServeUntil([&] {
            return Fake.CountCalls("WaitCommEvent") > waits && Fake.WaitCommEventPending();
        }));
    }

    TFakeComPlatform Fake;
    TScopedComPlatform Scope{Fake};
    test::TReportRecorder Reports;
    TLoggingPort Port{nullptr};
};

TEST(EventMask, ConversionsAreExactInversesOverEverySet) {
    for (std::uint16_t bits = 0; bits < 1024; ++bits) {
        const TComEvents events = TComEvents::FromBits(bits);
        EXPECT_EQ(MaskToEvents(EventsToMask(events)), events) << bits;
    }
    EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
    EXPECT_EQ(EventsToMask({evTxEmpty}), 0x0004u);
    EXPECT_EQ(EventsToMask({evRxFlag}), 0x0002u);
    EXPECT_EQ(EventsToMask({evRing}), 0x0100u);
    EXPECT_EQ(EventsToMask({evRx80Full}), 0x0400u);
    // Bits without a member (EV_PERR, EV_EVENT1, EV_EVENT2, ...) are dropped.
    EXPECT_TRUE(MaskToEvents(0x0200 | 0x0800 | 0x1000 | 0xFFFF0000u).Empty());
    EXPECT_EQ(MaskToEvents(0xFFFFFFFFu), AllComEvents);
}

TEST_F(Events, OpenStartsTheThreadWithTheEventMask) {
    Port.SetEvents({evRxChar, evRing});
    Port.SetEventThreadPriority(tpHigher);
    OpenAndWait();
    EXPECT_EQ(Fake.CallsNamed("SetCommMask").front().Arg1, EvMask::RxChar | EvMask::Ring);
    EXPECT_EQ(static_cast<int>(Fake.CallsNamed("SetCurrentThreadPriority").front().Arg1), 1);
    Fake.ClearCalls();
    Port.Close();
    // The thread's end steps: mask reset, then queues discarded, then its events closed.
    const auto names = Fake.DeviceCallNames();
    const auto mask = std::find(names.begin(), names.end(), "SetCommMask");
    ASSERT_NE(mask, names.end());
    EXPECT_EQ(Fake.CallsNamed("SetCommMask").back().Arg1, 0u);
    std::vector<std::uint64_t> purges;
    for (const auto& call : Fake.CallsNamed("PurgeComm"))
        purges.push_back(call.Arg1);
    EXPECT_EQ(purges, (std::vector<std::uint64_t>{Purge::TxAbort | Purge::RxAbort,
                                                  Purge::TxClear | Purge::RxClear}));
    EXPECT_EQ(Fake.LiveEvents(), 0u);
    EXPECT_TRUE(Fake.OpenDevices().empty());
}

TEST_F(Events, EmptyEventsStartNoThread) {
    Port.SetEvents({});
    Port.SetSyncMethod(smWindowSync);
    Port.Open();
    Fake.SignalCommEvent(EvMask::RxChar);
    EXPECT_EQ(Fake.CountCalls("SetCommMask"), 0);
    EXPECT_EQ(Fake.CountCalls("WaitCommEvent"), 0);
    EXPECT_EQ(Fake.LiveEvents(), 0u);
}

TEST_F(Events, SetsAreDeliveredInTheFixedOrder) {
    Fake.SetInputCount(3);
    Fake.AddCommErrors(CommError::Frame);
    OpenAndWait();
    Deliver(EvMask::Cts | EvMask::RxChar | EvMask::Rx80Full | EvMask::Err | EvMask::Ring |
            EvMask::TxEmpty | EvMask::Break | EvMask::Dsr | EvMask::RxFlag | EvMask::Rlsd);
    EXPECT_EQ(Port.Log(),
              (std::vector<std::string>{"Error 1", "RxChar 3", "TxEmpty", "Break", "Ring",
                                        "CTS off", "DSR off", "RxFlag", "RLSD off", "Rx80Full"}));
}

TEST_F(Events, WindowSyncSendsOneCodePerEventInTheSameOrder) {
    Port.SetSyncMethod(smWindowSync);
    Fake.SetInputCount(2);
    OpenAndWait();
    Deliver(EvMask::Cts | EvMask::RxChar);
    EXPECT_EQ(Port.Log(), (std::vector<std::string>{"RxChar 2", "CTS off"}));
    Port.ClearLog();
    Deliver(EvMask::Rlsd);
    EXPECT_EQ(Port.Log(), std::vector<std::string>{"RLSD off"});
    Port.ClearLog();
    Deliver(EvMask::Ring);
    EXPECT_EQ(Port.Log(), std::vector<std::string>{"Ring"});
}

TEST_F(Events, WindowProcedureIgnoresOtherMessagesAndAClosedPort) {
    TMessage message;
    message.Msg = WM_PORTEVENT;
    message.WParam = EvMask::Ring;
    Port.EventWindowProc(message);
    EXPECT_TRUE(Port.Log().empty()) << "closed port";
    Port.SetEvents({});
    Port.Open();
    Port.ClearLog();
    Port.EventWindowProc(message);
    message.WParam = 0x0200; // no event has this code
    Port.EventWindowProc(message);
    message.Msg = WM_PORTEVENT + 1;
    message.WParam = EvMask::Ring;
    Port.EventWindowProc(message);
    EXPECT_EQ(Port.Log(), std::vector<std::string>{"Ring"});
}

TEST_F(Events, ArgumentsAreComputedAtDelivery) {
    OpenAndWait();
    Fake.SetModemStatus(ModemStatus::CtsOn | ModemStatus::RlsdOn);
    Deliver(EvMask::Cts | EvMask::Rlsd | EvMask::Dsr);
    EXPECT_EQ(Port.Log(), (std::vector<std::string>{"CTS on", "DSR off", "RLSD on"}));
    Port.ClearLog();
    Deliver(EvMask::Err); // no error pending: nothing
    EXPECT_TRUE(Port.Log().empty());
}

TEST_F(Events, RxCharGetsTheQueuedCountAndTheBytesStayQueued) {
    OpenAndWait();
    std::string seen;
    Port.SetOnRxChar([&](TObject* ASender, std::int32_t ACount) {
        EXPECT_EQ(ASender, &Port);
        EXPECT_EQ(Port.InputCount(), ACount) << "nothing was read for the handler";
        Port.ReadStr(seen, ACount);
    });
    Fake.Receive("12345");
    Deliver(EvMask::RxChar);
    EXPECT_EQ(seen, "12345");
    EXPECT_EQ(Port.Log(), std::vector<std::string>{"RxChar 5"});
    Port.ClearLog();
    Deliver(EvMask::RxChar); // the queue is empty by now: nothing at all
    EXPECT_TRUE(Port.Log().empty());
}

TEST_F(Events, WithoutTriggersOnRxCharThePortReadsAndHandsOverOneBuffer) {
    Port.SetTriggersOnRxChar(false);
    OpenAndWait();
    Fake.Receive("abc");
    Deliver(EvMask::RxChar);
    EXPECT_EQ(Port.Log(), std::vector<std::string>{"RxBuf abc"});
    EXPECT_EQ(Port.InputCount(), 0);
}

TEST_F(Events, LinksShareOneReadAfterThePortsOwnHandler) {
    std::vector<std::string> order;
    const char* seenBuffer = nullptr;
    Port.SetOnRxBuf([&](TObject*, const char* ABuffer, std::int32_t) {
        order.push_back("port");
        seenBuffer = ABuffer;
    });
    TComLink first, second, rxOnly;
    first.SetOnRxBuf([&](TObject* ASender, const char* ABuffer, std::int32_t ACount) {
        EXPECT_EQ(ASender, &Port);
        EXPECT_EQ(ABuffer, seenBuffer);
        order.push_back("first " + std::string(ABuffer, static_cast<std::size_t>(ACount)));
    });
    second.SetOnRxBuf([&](TObject*, const char* ABuffer, std::int32_t ACount) {
        EXPECT_EQ(ABuffer, seenBuffer);
        order.push_back("second " + std::to_string(ACount));
    });
    std::vector<bool> rx;
    rxOnly.SetOnRx([&](TObject*, bool AOn) { rx.push_back(AOn); });
    Port.RegisterLink(&rxOnly);
    Port.RegisterLink(&first);
    Port.RegisterLink(&second);
    OpenAndWait();
    Fake.ClearCalls();
    Fake.Receive("xyz");
    Deliver(EvMask::RxChar);
    EXPECT_EQ(order, (std::vector<std::string>{"port", "first xyz", "second 3"}));
    EXPECT_EQ(Fake.CountCalls("ReadFile"), 1);
    EXPECT_EQ(Port.Log(), std::vector<std::string>{"RxBuf xyz"}) << "no OnRxChar";
    EXPECT_EQ(rx, (std::vector<bool>{true, false}));
    Port.Close();
    Port.UnRegisterLink(&rxOnly);
    Port.UnRegisterLink(&first);
    Port.UnRegisterLink(&second);
}

TEST_F(Events, ALinkThatAssignsOnRxBufAfterRegisteringGetsNoBuffers) {
    TComLink late;
    Port.RegisterLink(&late);
    bool called = false;
    late.SetOnRxBuf([&](TObject*, const char*, std::int32_t) { called = true; });
    EXPECT_TRUE(Port.TriggersOnRxChar());
    OpenAndWait();
    Fake.Receive("q");
    Deliver(EvMask::RxChar);
    EXPECT_FALSE(called);
    EXPECT_EQ(Port.Log(), std::vector<std::string>{"RxChar 1"});
    Port.Close();
    Port.UnRegisterLink(&late);
}

TEST_F(Events, InputCountNotSupportedIgnoresReceivedCharacters) {
    Port.SetInputCountNotSupported(true);
    OpenAndWait();
    Fake.ClearCalls();
    Fake.Receive("zz");
    Deliver(EvMask::RxChar);
    EXPECT_TRUE(Port.Log().empty());
    EXPECT_EQ(Fake.CountCalls("ClearCommError"), 0);
}

TEST_F(Events, DisabledEventsAreConsumedAndDropped) {
    Port.SetSyncMethod(smDisableEvents);
    OpenAndWait();
    Fake.Receive("a");
    for (int i = 0; i < 3; ++i)
        Deliver(EvMask::RxChar | EvMask::Ring);
    EXPECT_TRUE(Port.Log().empty());
    EXPECT_GE(Fake.CountCalls("WaitCommEvent"), 4);
}

TEST_F(Events, SmNoneRunsHandlersOnTheEventThread) {
    Port.SetSyncMethod(smNone);
    OpenAndWait();
    std::atomic<bool> onGui{true};
    std::atomic<int> calls{0};
    Port.SetOnRing([&](TObject*) {
        onGui = TMainThread::IsCurrent();
        ++calls;
    });
    Fake.SignalCommEvent(EvMask::Ring);
    ASSERT_TRUE(ServeUntil([&] { return calls.load() == 1; }));
    EXPECT_FALSE(onGui);
}

TEST_F(Events, SignalsAreReportedAfterOpenAndSwitchedOffBeforeClose) {
    Fake.SetModemStatus(ModemStatus::DsrOn | ModemStatus::RlsdOn);
    Port.SetEvents({});
    std::vector<std::string> heard;
    TComLink link;
    link.SetOnConn([&](TObject*, bool AOn) { heard.push_back(AOn ? "conn on" : "conn off"); });
    link.SetOnDSRChange([&](TObject*, bool AOn) { heard.push_back(AOn ? "dsr on" : "dsr off"); });
    Port.RegisterLink(&link);
    Port.Open();
    EXPECT_EQ(Port.Log(), (std::vector<std::string>{"AfterOpen", "CTS off", "DSR on", "RLSD on"}));
    Port.ClearLog();
    Port.Close();
    EXPECT_EQ(Port.Log(),
              (std::vector<std::string>{"CTS off", "DSR off", "RLSD off", "BeforeClose"}));
    EXPECT_EQ(heard, (std::vector<std::string>{"conn on", "dsr on", "dsr off", "conn off"}));
    Port.UnRegisterLink(&link);
}

TEST_F(Events, LinkRegistrationIsCheckedBothWays) {
    TComLink link;
    Port.RegisterLink(&link);
    try {
        Port.RegisterLink(&link);
        ADD_FAILURE();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 18);
        EXPECT_EQ(e.WinCode(), -1);
        EXPECT_STREQ(e.what(), "COM Port Error: Link (un)registration failed");
    }
    Port.UnRegisterLink(&link);
    EXPECT_THROW(Port.UnRegisterLink(&link), EComPort);
    EXPECT_THROW(Port.RegisterLink(nullptr), EComPort);
}

TEST_F(Events, AFailingHandlerIsReportedAndDeliveryGoesOn) {
    for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
        SCOPED_TRACE(static_cast<int>(method));
        Port.Close();
        Port.SetSyncMethod(method);
        std::atomic<int> rings{0};
        Port.SetOnRing([&](TObject*) {
            ++rings;
            throw std::runtime_error("handler failed");
        });
        std::atomic<int> breaks{0};
        Port.SetOnBreak([&](TObject*) { ++breaks; });
        const std::size_t before = Reports.Count();
        OpenAndWait();
        Deliver(EvMask::Ring | EvMask::Break);
        Deliver(EvMask::Ring);
        ASSERT_TRUE(ServeUntil([&] { return Reports.Count() == before + 2; }));
        EXPECT_EQ(rings, 2);
        EXPECT_EQ(breaks, 1) << "the rest of the set still runs";
        EXPECT_EQ(Reports.Messages().back(), "handler failed");
    }
}

TEST_F(Events, CloseWhileAHandOverWaitsDoesNotDeadlock) {
    Fake.SetInputCount(4);
    std::atomic<int> calls{0};
    Port.SetOnRxChar([&](TObject*, std::int32_t) { ++calls; });
    OpenAndWait();
    TMainThread::ProcessMessages();
    test::WaitUntilQueued(0ms); // forget earlier wake-ups
    // The thread hands over and waits; the GUI thread does not serve it before closing.
    Fake.SignalCommEvent(EvMask::RxChar);
    ASSERT_TRUE(test::WaitUntilQueued());
    EXPECT_EQ(calls, 0);
    Port.Close(); // serves the pending hand-over while it waits for the thread
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(calls, 1) << "the hand-over in flight completed during the close";
}

// A deadlock on the test's thread, which plays the GUI thread, ends the program instead of
// hanging it.
struct TDeadlockWatch {
    std::promise<void> Ended;
    std::thread Watch{[ended = Ended.get_future()] {
        if (ended.wait_for(30s) == std::future_status::ready) return;
        std::fputs("deadlock\n", stderr);
        std::abort();
    }};
    ~TDeadlockWatch() {
        Ended.set_value();
        Watch.join();
    }
};

// A handler may close its port, open it under another name or free it, with every sync
// method: the device is closed and OnAfterClose has run when the call returns, the rest of the
// event set is dropped (its CTS would ask the closed device), and nothing outlives the port.
TEST_F(Events, HandlersMayCloseReopenOrFreeTheirPort) {
    const TDeadlockWatch watch;
    Fake.SetInputCount(1);
    const std::vector<std::function<void(TComPort*)>> actions = {
        [](TComPort* APort) { APort->Close(); },
        [](TComPort* APort) { APort->SetConnected(false); },
        [](TComPort* APort) { APort->SetPort("COM7"); }, [](TComPort* APort) { delete APort; }};
    for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
        for (std::size_t action = 0; action < actions.size(); ++action) {
            SCOPED_TRACE(std::to_string(method) + " " + std::to_string(action));
            auto* port = new TComPort(nullptr);
            port->SetSyncMethod(method);
            std::atomic<int> afterClose{0}, handled{0};
            port->SetOnAfterClose([&](TObject*) { ++afterClose; });
            port->SetOnRxChar([&, port, action](TObject*, std::int32_t) {
                // The handler goes with a freed port: what it needs afterwards is on the stack.
                TComPort* const self = port;
                const bool frees = action == 3;
                TFakeComPlatform& fake = Fake;
                std::atomic<int>& closes = afterClose;
                std::atomic<int>& count = handled;
                actions[action](self);
                EXPECT_EQ(fake.OpenDevices().empty(), frees || !self->Connected());
                EXPECT_EQ(closes, 1);
                ++count;
            });
            port->Open();
            ASSERT_TRUE(Fake.WaitUntilCommWaitPending(5s));
            Fake.SignalCommEvent(EvMask::RxChar | EvMask::Cts);
            ASSERT_TRUE(ServeUntil([&] { return handled == 1; }));
            EXPECT_TRUE(action != 2 || Fake.WaitUntilCommWaitPending(5s)) << "opened anew";
            if (action != 3) delete port;
            EXPECT_EQ(Reports.Count(), 0u);
            EXPECT_EQ(Fake.LiveEvents(), 0u);
            EXPECT_TRUE(Fake.OpenDevices().empty());
        }
    }
}

TEST_F(Events, OpenCloseCyclesWhileTheDeviceFloods) {
    for (TSyncMethod method : {smThreadSync, smWindowSync}) {
        Port.SetSyncMethod(method);
        std::atomic<bool> stop{false};
        std::thread device([&] {
            while (!stop)
                Fake.SignalCommEvent(EvMask::RxChar | EvMask::TxEmpty);
        });
        std::atomic<int> handled{0};
        Port.SetOnTxEmpty([&](TObject*) { ++handled; });
        for (int i = 0; i < 200; ++i) {
            Port.Open();
            if (i % 3 == 0) TMainThread::ProcessMessages();
            Port.Close();
        }
        stop = true;
        device.join();
        EXPECT_EQ(Fake.LiveEvents(), 0u);
        EXPECT_TRUE(Fake.OpenDevices().empty());
    }
}

} // namespace
} // namespace cport
