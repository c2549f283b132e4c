#include "CPort.h"
#include "ComErrors.h"
#include "FakeComPlatform.h"
#include "GuiThread.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cport {
namespace {

using test::TFakeComPlatform;

class Lifecycle : public ::testing::Test {
protected:
    Lifecycle() {
        Port.SetEvents({}); // no event thread: the device calls stay in a fixed order
    }

    // Records the four open/close notifications in Log.
    void Watch(TCustomComPort& APort) {
        APort.SetOnBeforeOpen([this](TObject*) { Log.push_back("BeforeOpen"); });
        APort.SetOnAfterOpen([this](TObject*) { Log.push_back("AfterOpen"); });
        APort.SetOnBeforeClose([this](TObject*) { Log.push_back("BeforeClose"); });
        APort.SetOnAfterClose([this](TObject*) { Log.push_back("AfterClose"); });
    }

    TDCB LastDcb() const {
        auto calls = Fake.CallsNamed("SetCommState");
        EXPECT_FALSE(calls.empty());
        return calls.empty() ? TDCB{} : calls.back().Dcb;
    }

    // Opens the port and forgets the calls opening made.
    void OpenAndForget() {
        Port.Open();
        ASSERT_TRUE(Port.Connected());
        Fake.ClearCalls();
    }

    TFakeComPlatform Fake;
    TScopedComPlatform Scope{Fake};
    test::TReportRecorder Reports;
    std::vector<std::string> Log;
    TComPort Port{nullptr};
};

TEST_F(Lifecycle, OpenConfiguresTheDeviceInOrderAndCloseReleasesIt) {
    Watch(Port);
    Port.Open();
    EXPECT_TRUE(Port.Connected());
    EXPECT_NE(Port.Handle(), InvalidHandle);
    const auto names = Fake.DeviceCallNames();
    const std::vector<std::string> opening = {"CreateFileW", "SetupComm", "SetCommState",
                                              "SetCommTimeouts"};
    ASSERT_GE(names.size(), opening.size());
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 4), opening);
    const auto create = Fake.CallsNamed("CreateFileW").front();
    EXPECT_EQ(create.Text, "\\\\.\\COM1");
    EXPECT_EQ(create.Arg1, 1u) << "overlapped by default";
    const auto setup = Fake.CallsNamed("SetupComm").front();
    EXPECT_EQ(setup.Arg1, 1024u);
    EXPECT_EQ(setup.Arg2, 1024u);
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeOpen", "AfterOpen"}));

    const THandle handle = Port.Handle();
    Port.Close();
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Port.Handle(), InvalidHandle);
    EXPECT_TRUE(Fake.OpenDevices().empty());
    const auto close = Fake.CallsNamed("CloseHandle");
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close.front().Handle, handle);
    EXPECT_EQ(Fake.CallsNamed("PurgeComm").front().Arg1, Purge::TxAbort | Purge::RxAbort);
    EXPECT_EQ(Log,
              (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose"}));
}

TEST_F(Lifecycle, OpeningTwiceOrClosingAClosedPortDoesNothing) {
    Watch(Port);
    Port.Close();
    EXPECT_TRUE(Fake.Calls().empty());
    Port.Open();
    Fake.ClearCalls();
    Log.clear();
    Port.Open();
    EXPECT_TRUE(Fake.Calls().empty());
    EXPECT_TRUE(Log.empty());
    Port.Close();
    Log.clear();
    Port.Close();
    EXPECT_TRUE(Log.empty());
}

TEST_F(Lifecycle, DesigningTouchesNoDevice) {
    Watch(Port);
    Port.SetDesigning(true);
    Port.Open();
    Port.SetConnected(true);
    EXPECT_TRUE(Port.Connected()) << "only stored";
    Port.Close();
    EXPECT_TRUE(Fake.Calls().empty());
    EXPECT_TRUE(Log.empty());
}

TEST_F(Lifecycle, ControlBlockDefaults) {
    OpenAndForget();
    Port.EndUpdate(); // no bracket open: nothing happens
    EXPECT_TRUE(Fake.Calls().empty());
    Port.BeginUpdate();
    Port.EndUpdate();
    const TDCB dcb = LastDcb();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Flags, 0x00000001u);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_EQ(dcb.ErrorChar, 0);
    EXPECT_EQ(dcb.EofChar, 0);
    EXPECT_EQ(dcb.EvtChar, 0);
    EXPECT_EQ(dcb.wReserved, 0);
    EXPECT_EQ(dcb.wReserved1, 0);
}

TEST_F(Lifecycle, ControlBlockWorkedValues) {
    OpenAndForget();
    // The logger's settings.
    Port.SetDiscardNull(true);
    Port.FlowControl().SetControlDTR(dtrEnable);
    EXPECT_EQ(LastDcb().Flags, 0x00000811u);
    Port.SetDiscardNull(false);
    Port.FlowControl().SetControlDTR(dtrDisable);

    Port.FlowControl().SetFlowControl(fcHardware);
    EXPECT_EQ(LastDcb().Flags, 0x00002005u);
    Port.FlowControl().SetFlowControl(fcSoftware);
    EXPECT_EQ(LastDcb().Flags, 0x00000301u);
    Port.FlowControl().SetFlowControl(fcNone);

    Port.Buffer().SetInputSize(4096);
    Port.Parity().SetBits(prNone); // equal: no new block
    Port.SetDataBits(dbSeven);
    TDCB dcb = LastDcb();
    EXPECT_EQ(dcb.XonLim, 1024);
    EXPECT_EQ(dcb.XoffLim, 1024);
    EXPECT_EQ(dcb.ByteSize, 7);

    Port.SetBaudRate(brCustom);
    Port.SetCustomBaudRate(250000);
    EXPECT_EQ(LastDcb().BaudRate, 250000u);
    Port.SetBaudRate(br115200);
    EXPECT_EQ(LastDcb().BaudRate, 115200u);

    Port.Parity().SetBits(prMark);
    Port.SetStopBits(sbOne5StopBits);
    Port.FlowControl().SetXonChar('A');
    Port.FlowControl().SetXoffChar('B');
    Port.SetEventChar('\n');
    dcb = LastDcb();
    EXPECT_EQ(dcb.Parity, 3);
    EXPECT_EQ(dcb.StopBits, 1);
    EXPECT_EQ(dcb.XonChar, 'A');
    EXPECT_EQ(dcb.XoffChar, 'B');
    EXPECT_EQ(dcb.EvtChar, '\n');

    Port.FlowControl().SetOutDSRFlow(true);
    Port.FlowControl().SetDSRSensitivity(true);
    Port.FlowControl().SetTxContinueOnXoff(true);
    Port.FlowControl().SetControlDTR(dtrHandshake);
    Port.FlowControl().SetControlRTS(rtsToggle);
    EXPECT_EQ(LastDcb().Flags, 0x1u | 0x8u | 0x20u | 0x40u | 0x80u | 0x3000u);
}

TEST_F(Lifecycle, ErrorCharOnlyWithCheckAndReplace) {
    OpenAndForget();
    Port.Parity().SetReplaceChar('?');
    Port.Parity().SetReplace(true);
    TDCB dcb = LastDcb();
    EXPECT_EQ(dcb.Flags & (DcbFlag::ErrorChar | DcbFlag::Parity), 0u);
    EXPECT_EQ(dcb.ErrorChar, 0);
    Port.Parity().SetCheck(true);
    dcb = LastDcb();
    EXPECT_EQ(dcb.Flags, 0x1u | 0x2u | 0x400u);
    EXPECT_EQ(dcb.ErrorChar, '?');
    Port.Parity().SetReplace(false);
    dcb = LastDcb();
    EXPECT_EQ(dcb.Flags, 0x1u | 0x2u);
    EXPECT_EQ(dcb.ErrorChar, 0);
}

TEST_F(Lifecycle, TimeoutsReachTheDeviceAsTheir32BitPatterns) {
    OpenAndForget();
    Port.Timeouts().SetReadTotalConstant(-1);
    Port.Timeouts().SetWriteTotalMultiplier(7);
    const auto calls = Fake.CallsNamed("SetCommTimeouts");
    ASSERT_EQ(calls.size(), 2u);
    const TCommTimeouts t = calls.back().Timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0xFFFFFFFFu);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 7u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(Lifecycle, BracketAppliesOnceAtTheOutermostEnd) {
    OpenAndForget();
    Port.BeginUpdate();
    Port.BeginUpdate();
    Port.SetBaudRate(br19200);
    Port.SetDataBits(dbSeven);
    Port.Parity().SetBits(prEven);
    Port.Timeouts().SetReadInterval(5);
    Port.Buffer().SetOutputSize(2048);
    Port.EndUpdate();
    EXPECT_TRUE(Fake.Calls().empty()) << "inner end applies nothing";
    Port.EndUpdate();
    EXPECT_EQ(Fake.DeviceCallNames(),
              (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
    EXPECT_EQ(LastDcb().BaudRate, 19200u);
    Fake.ClearCalls();
    Port.EndUpdate(); // unbalanced: the counter stays at 0
    EXPECT_TRUE(Fake.Calls().empty());
    Port.SetStopBits(sbTwoStopBits);
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 1) << "counter must not go below 0";
}

TEST_F(Lifecycle, BracketOnAClosedPortAppliesNothingAndSpansOpen) {
    Port.BeginUpdate();
    Port.SetBaudRate(br57600);
    Port.EndUpdate();
    EXPECT_TRUE(Fake.Calls().empty());

    Port.BeginUpdate();
    Port.Open(); // opens, but the settings wait for the bracket
    EXPECT_EQ(Fake.DeviceCallNames().front(), "CreateFileW");
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 0);
    Port.EndUpdate();
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 1);
    EXPECT_EQ(LastDcb().BaudRate, 57600u);
}

TEST_F(Lifecycle, FailureToOpenTheDevice) {
    Watch(Port);
    Port.SetPort("COM7");
    Fake.Fail("CreateFileW", 2);
    EXPECT_COM_ERROR(Port.Open(), 1, 2, "COM Port Error: Unable to open com port on COM7");
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Port.Handle(), InvalidHandle);
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeOpen"});
    EXPECT_EQ(Fake.DeviceCallNames(), std::vector<std::string>{"CreateFileW"});
}

struct TApplyFailure {
    const char* Call;
    std::int32_t Code;
    const char* Message;
    std::vector<std::string> CallsMade;
};

TEST_F(Lifecycle, FailureOfEachStepOfOpenReleasesTheHandle) {
    const TApplyFailure cases[] = {
        {"SetupComm",
         9,
         "COM Port Error: SetupComm function failed on COM1",
         {"CreateFileW", "SetupComm", "CloseHandle"}},
        {"SetCommState",
         7,
         "COM Port Error: SetCommState function failed on COM1",
         {"CreateFileW", "SetupComm", "SetCommState", "CloseHandle"}},
        {"SetCommTimeouts",
         8,
         "COM Port Error: SetCommTimeouts failed on COM1",
         {"CreateFileW", "SetupComm", "SetCommState", "SetCommTimeouts", "CloseHandle"}},
        // The event thread's first event.
        {"CreateEventW",
         1,
         "COM Port Error: Unable to open com port on COM1",
         {"CreateFileW", "SetupComm", "SetCommState", "SetCommTimeouts", "CloseHandle"}},
    };
    for (const TApplyFailure& c : cases) {
        SCOPED_TRACE(c.Call);
        Fake.ClearCalls();
        Log.clear();
        Watch(Port);
        Port.SetEvents(c.Code == 1 ? AllComEvents : TComEvents{});
        Fake.Fail(c.Call, 87);
        EXPECT_COM_ERROR(Port.Open(), c.Code, 87, c.Message);
        EXPECT_FALSE(Port.Connected());
        EXPECT_EQ(Port.Handle(), InvalidHandle);
        EXPECT_TRUE(Fake.OpenDevices().empty());
        EXPECT_EQ(Fake.LiveEvents(), 0u);
        EXPECT_EQ(Fake.DeviceCallNames(), c.CallsMade);
        EXPECT_EQ(Log, std::vector<std::string>{"BeforeOpen"});
    }
}

TEST_F(Lifecycle, FailureWhileOpenKeepsTheValueAndThePort) {
    OpenAndForget();
    Fake.Fail("SetCommState", 31);
    EXPECT_COM_ERROR(Port.SetBaudRate(br110), 7, 31,
                     "COM Port Error: SetCommState function failed on COM1");
    EXPECT_EQ(Port.BaudRate(), br110);
    EXPECT_TRUE(Port.Connected());
    Fake.Fail("SetCommTimeouts", 31);
    EXPECT_COM_ERROR(Port.Timeouts().SetReadInterval(3), 8, 31,
                     "COM Port Error: SetCommTimeouts failed on COM1");
    EXPECT_EQ(Port.Timeouts().ReadInterval(), 3);
    Fake.Fail("SetupComm", 31);
    EXPECT_COM_ERROR(Port.Buffer().SetInputSize(64), 9, 31,
                     "COM Port Error: SetupComm function failed on COM1");
    EXPECT_EQ(Port.Buffer().InputSize(), 64);
    EXPECT_TRUE(Port.Connected());
}

TEST_F(Lifecycle, FailureAtTheEndOfABracketSkipsTheLaterGroups) {
    OpenAndForget();
    Port.BeginUpdate();
    Port.SetBaudRate(br4800);
    Fake.Fail("SetCommState", 5);
    EXPECT_COM_ERROR(Port.EndUpdate(), 7, 5,
                     "COM Port Error: SetCommState function failed on COM1");
    EXPECT_EQ(Fake.DeviceCallNames(), (std::vector<std::string>{"SetupComm", "SetCommState"}));
    EXPECT_TRUE(Port.Connected());
    Fake.ClearCalls();
    Port.SetBaudRate(br2400);
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 1) << "the bracket is closed after the failure";
}

TEST_F(Lifecycle, SettersOfTheControlBlockApplyOnlyNewValues) {
    OpenAndForget();
    Port.SetBaudRate(br9600);
    Port.SetCustomBaudRate(9600);
    Port.SetDataBits(dbEight);
    Port.SetStopBits(sbOneStopBit);
    Port.SetDiscardNull(false);
    Port.SetEventChar('\0');
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 0);
    Port.SetBaudRate(br300);
    Port.SetCustomBaudRate(1234); // applies although the rate is not custom
    Port.SetDataBits(dbSix);
    Port.SetStopBits(sbTwoStopBits);
    Port.SetDiscardNull(true);
    Port.SetEventChar('x');
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 6);
    // The object setters have no equality test.
    Port.SetParity(TComParity());
    Port.SetFlowControl(TComFlowControl());
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 8);
    Port.SetTimeouts(TComTimeouts());
    EXPECT_EQ(Fake.CountCalls("SetCommTimeouts"), 1);
    Port.SetBuffer(TComBuffer());
    EXPECT_EQ(Fake.CountCalls("SetupComm"), 1);
    // Events and StoredProps are only stored.
    Port.SetEvents({evRxChar});
    Port.SetStoredProps({spBuffer});
    EXPECT_EQ(Fake.Calls().size(), 10u);
    EXPECT_EQ(Port.Events(), TComEvents{evRxChar});
}

TEST_F(Lifecycle, SettersOnAClosedPortOnlyStore) {
    Port.SetBaudRate(br1200);
    Port.Parity().SetBits(prOdd);
    Port.Timeouts().SetReadInterval(1);
    Port.Buffer().SetInputSize(16);
    Port.SetPort("COM9");
    Port.SetSyncMethod(smWindowSync);
    Port.SetEventThreadPriority(tpHighest);
    Port.SetOverlapped(false);
    EXPECT_TRUE(Fake.Calls().empty());
    EXPECT_EQ(Port.Port(), "COM9");
    EXPECT_EQ(Port.SyncMethod(), smWindowSync);
    EXPECT_EQ(Port.EventThreadPriority(), tpHighest);
    EXPECT_FALSE(Port.Overlapped());
}

TEST_F(Lifecycle, NewPortNameReopensAnOpenPort) {
    Watch(Port);
    Port.Open();
    Fake.ClearCalls();
    Log.clear();
    Port.SetPort("COM1");
    EXPECT_TRUE(Fake.Calls().empty()) << "the same name changes nothing";
    Port.SetPort("COM4");
    EXPECT_TRUE(Port.Connected());
    EXPECT_EQ(Log,
              (std::vector<std::string>{"BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen"}));
    EXPECT_EQ(Fake.CallsNamed("CreateFileW").front().Text, "\\\\.\\COM4");
}

TEST_F(Lifecycle, NewPortNameThatCannotBeOpenedLeavesThePortClosed) {
    OpenAndForget();
    Fake.Fail("CreateFileW", 2);
    EXPECT_COM_ERROR(Port.SetPort("COM99"), 1, 2,
                     "COM Port Error: Unable to open com port on COM99");
    EXPECT_EQ(Port.Port(), "COM99");
    EXPECT_FALSE(Port.Connected());
}

TEST_F(Lifecycle, NewPortNameInsideABracketWaitsForTheSettings) {
    OpenAndForget();
    Port.BeginUpdate();
    Port.SetPort("COM5");
    Port.SetBaudRate(br38400);
    EXPECT_EQ(
        Fake.DeviceCallNames(),
        (std::vector<std::string>{"PurgeComm", "CloseHandle", "CreateFileW", "GetCommModemStatus",
                                  "GetCommModemStatus", "GetCommModemStatus"}));
    Port.EndUpdate();
    EXPECT_EQ(LastDcb().BaudRate, 38400u);
}

TEST_F(Lifecycle, ThreadSettingsAreRefusedWhileOpen) {
    OpenAndForget();
    Port.SetSyncMethod(smThreadSync); // equal: fine
    EXPECT_COM_ERROR(Port.SetSyncMethod(smNone), 14, -1,
                     "COM Port Error: Cannot set property while connected");
    EXPECT_EQ(Port.SyncMethod(), smThreadSync);
    EXPECT_COM_ERROR(Port.SetEventThreadPriority(tpLower), 14, -1,
                     "COM Port Error: Cannot set property while connected");
    EXPECT_EQ(Port.EventThreadPriority(), tpNormal);
    Port.SetOverlapped(false);
    EXPECT_TRUE(Port.Overlapped()) << "ignored while open";
    Port.SetTriggersOnRxChar(false);
    EXPECT_FALSE(Port.TriggersOnRxChar()) << "allowed while open";
    Port.Close();
    Port.SetSyncMethod(smNone);
    EXPECT_EQ(Port.SyncMethod(), smNone);
}

TEST_F(Lifecycle, TriggersOnRxCharIsRefusedWhileALinkWantsBuffers) {
    TComLink link;
    link.SetOnRxBuf([](TObject*, const char*, std::int32_t) {});
    Port.RegisterLink(&link);
    EXPECT_FALSE(Port.TriggersOnRxChar());
    EXPECT_COM_ERROR(Port.SetTriggersOnRxChar(true), 22, -1,
                     "COM Port Error: A component is linked to OnRxBuf event");
    Port.UnRegisterLink(&link);
    EXPECT_TRUE(Port.TriggersOnRxChar());
    Port.SetTriggersOnRxChar(false);
    EXPECT_FALSE(Port.TriggersOnRxChar());
}

TEST_F(Lifecycle, ConnectedOpensAndClosesButWhileLoadingOnlyStores) {
    Port.SetConnected(true);
    EXPECT_TRUE(Port.Connected());
    EXPECT_EQ(Fake.OpenDevices().size(), 1u);
    Port.SetConnected(false);
    EXPECT_TRUE(Fake.OpenDevices().empty());

    TComPort loading(nullptr);
    loading.SetLoading();
    loading.SetConnected(true);
    loading.SetBaudRate(br14400);
    EXPECT_TRUE(Fake.OpenDevices().empty());
    loading.Loaded();
    EXPECT_TRUE(loading.Connected());
    EXPECT_EQ(LastDcb().BaudRate, 14400u) << "opened with all stored settings in place";
}

TEST_F(Lifecycle, LoadedReportsAFailedOpenAndGoesOn) {
    TComPort loading(nullptr);
    loading.SetLoading();
    loading.SetPort("COM42");
    loading.SetConnected(true);
    Fake.Fail("CreateFileW", 2);
    EXPECT_NO_THROW(loading.Loaded());
    EXPECT_FALSE(loading.Connected());
    EXPECT_FALSE(loading.Loading());
    ASSERT_EQ(Reports.Count(), 1u);
    EXPECT_EQ(Reports.Messages()[0], "COM Port Error: Unable to open com port on COM42");
}

TEST_F(Lifecycle, DestroyingAnOpenPortRunsTheCloseSequence) {
    {
        auto* port = new TComPort(nullptr);
        port->SetEvents({});
        Watch(*port);
        port->Open();
        EXPECT_EQ(port->WriteStr("x"), 1);
        std::string read;
        port->ReadStr(read, 1);
        EXPECT_EQ(Fake.LiveEvents(), 2u);
        delete port;
    }
    EXPECT_EQ(Log,
              (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose"}));
    EXPECT_TRUE(Fake.OpenDevices().empty());
    EXPECT_EQ(Fake.LiveEvents(), 0u) << "records and their events are freed";
}

TEST_F(Lifecycle, DestroyingAPortWhoseCloseFailsReportsAndFreesEverything) {
    auto* port = new TComPort(nullptr);
    port->SetEvents({});
    port->Open();
    Fake.Fail("PurgeComm", 5);
    delete port;
    EXPECT_TRUE(Fake.OpenDevices().empty());
    ASSERT_EQ(Reports.Count(), 1u);
    EXPECT_EQ(Reports.Messages()[0], "COM Port Error: PurgeComm function failed on COM1");
}

TEST_F(Lifecycle, CloseFinishesEvenWhenTheDeviceRefusesTheAbort) {
    Watch(Port);
    Port.Open();
    Fake.Fail("PurgeComm", 5);
    EXPECT_COM_ERROR(Port.Close(), 5, 5, "COM Port Error: PurgeComm function failed on COM1");
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Port.Handle(), InvalidHandle);
    EXPECT_TRUE(Fake.OpenDevices().empty());
    EXPECT_EQ(Log.back(), "AfterClose");
    // And the port opens again.
    Port.Open();
    EXPECT_TRUE(Port.Connected());
}

TEST_F(Lifecycle, HandlersCannotReenterOpenOrClose) {
    int opens = 0;
    Port.SetOnBeforeOpen([&](TObject*) {
        ++opens;
        Port.Open();
    });
    Port.SetOnBeforeClose([&](TObject*) { Port.Close(); });
    Port.Open();
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(Fake.CountCalls("CreateFileW"), 1);
    Port.Close();
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Fake.CountCalls("CloseHandle"), 1);
}

// A port that opens its device its own way, and stores the handle for the port to use.
class TOwnHandlePort : public TComPort {
public:
    using TComPort::TComPort;

protected:
    void CreatePortHandle() override {
        THandle handle = InvalidHandle;
        TComPlatform::Current().CreateFileW("own:" + Port(), true, handle);
        SetHandle(handle);
    }
};

TEST_F(Lifecycle, ASubclassMayOpenItsDeviceItsOwnWay) {
    {
        TOwnHandlePort port(nullptr);
        port.SetEvents({});
        port.Open();
        EXPECT_EQ(Fake.CallsNamed("CreateFileW").back().Text, "own:COM1");
        EXPECT_EQ(Fake.OpenDevices(), std::vector<THandle>{port.Handle()});
    }
    EXPECT_TRUE(Fake.OpenDevices().empty());
}

TEST_F(Lifecycle, OnAfterOpenMayReopenOrCloseThePort) {
    Port.SetOnAfterOpen([&](TObject*) { Port.SetPort("COM8"); });
    EXPECT_NO_THROW(Port.Open());
    EXPECT_TRUE(Port.Connected());
    EXPECT_EQ(Fake.CallsNamed("CreateFileW").back().Text, "\\\\.\\COM8");
    EXPECT_EQ(Fake.OpenDevices(), std::vector<THandle>{Port.Handle()});
    Port.Close();
    Port.SetOnAfterOpen([&](TObject*) { Port.Close(); });
    EXPECT_NO_THROW(Port.Open());
    EXPECT_FALSE(Port.Connected());
    EXPECT_TRUE(Fake.OpenDevices().empty());
}

TEST_F(Lifecycle, NonOverlappedPortOpensWithoutOverlappedAccess) {
    Port.SetOverlapped(false);
    Port.SetEvents(AllComEvents);
    Port.Open();
    EXPECT_EQ(Fake.CallsNamed("CreateFileW").front().Arg1, 0u);
    EXPECT_EQ(Fake.CountCalls("SetCommMask"), 0) << "no event thread without overlapped access";
    EXPECT_EQ(Fake.CountCalls("GetCommModemStatus"), 0);
    Port.Close();
    EXPECT_EQ(Fake.CountCalls("PurgeComm"), 0) << "nothing to abort";
}

} // namespace
} // namespace cport
