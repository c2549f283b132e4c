// Transfers and line control through the recording fake: the exact platform calls, the error
// codes of every raise site, and the rules for records. Behaviour on a real device is tested
// on pseudo-terminals in TransferPtyTest.cpp.
#include "CPort.h"
#include "ComErrors.h"
#include "FakeComPlatform.h"
#include "GuiThread.h"

#include <gtest/gtest.h>

#include <thread>

namespace cport {
namespace {

using test::TFakeComPlatform;
using namespace std::chrono_literals;

class Transfer : public ::testing::Test {
protected:
    Transfer() {
        Port.SetEvents({});
        Port.SetPort("COM3");
    }
    void OpenAndForget() {
        Port.Open();
        ASSERT_TRUE(Port.Connected());
        Fake.ClearCalls();
    }

    TFakeComPlatform Fake;
    TScopedComPlatform Scope{Fake};
    TComPort Port{nullptr};
};

// Frees a caller's record at the end of a test.
struct TRecord {
    PCPortAsync Ptr = nullptr;
    TRecord() { EnsureAsync(Ptr); }
    ~TRecord() { FreeAsync(Ptr); }
};

TEST_F(Transfer, RecordsAreCreatedOnceStagedAndFreed) {
    PCPortAsync record = nullptr;
    EnsureAsync(record);
    ASSERT_NE(record, nullptr);
    PCPortAsync same = record;
    EnsureAsync(record);
    EXPECT_EQ(record, same);
    EXPECT_EQ(Fake.LiveEvents(), 1u);
    EXPECT_EQ(record->Data, nullptr);
    EXPECT_EQ(record->Size, 0);

    StageAsync(okWrite, "abc", 3, record);
    EXPECT_EQ(record->Kind, okWrite);
    ASSERT_NE(record->Data, nullptr);
    EXPECT_EQ(std::string(record->Data.get(), 3), "abc");
    EXPECT_EQ(record->Size, 3);
    StageAsync(okRead, nullptr, 0, record);
    EXPECT_EQ(record->Kind, okRead);
    EXPECT_EQ(record->Data, nullptr) << "no block for a count of 0";
    EXPECT_EQ(record->Size, 0);
    StageAsync(okRead, nullptr, -4, record);
    EXPECT_EQ(record->Size, -4);

    EXPECT_EQ(AsyncFailureCode(record), 3);
    record->Kind = okWrite;
    EXPECT_EQ(AsyncFailureCode(record), 2);
    record->Kind = static_cast<TOperationKind>(7);
    EXPECT_EQ(AsyncFailureCode(record), 0);

    FreeAsync(record);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(Fake.LiveEvents(), 0u);
    FreeAsync(record); // nothing to free
}

TEST_F(Transfer, NullRecordsAreRefusedUnlessNothingIsToBeDone) {
    OpenAndForget();
    PCPortAsync none = nullptr;
    char buffer[4];
    std::string text;
    const char* message = "COM Port Error: Invalid Async parameter";
    EXPECT_COM_ERROR(Port.WriteAsync("a", 1, none), 4, -1, message);
    EXPECT_COM_ERROR(Port.ReadAsync(buffer, 4, none), 4, -1, message);
    EXPECT_COM_ERROR(Port.WaitForAsync(none), 4, -1, message);
    EXPECT_COM_ERROR(Port.IsAsyncCompleted(none), 4, -1, message);
    EXPECT_COM_ERROR(Port.WriteStrAsync("a", none), 4, -1, message);
    EXPECT_COM_ERROR(Port.ReadStrAsync(text, 1, none), 4, -1, message);
    EXPECT_COM_ERROR(StageAsync(okWrite, "a", 1, none), 4, -1, message);
    EXPECT_EQ(Port.WriteStrAsync("", none), 0);
    EXPECT_EQ(Port.ReadStrAsync(text, 0, none), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(Port.ReadStrAsync(text, -3, none), 0);
    EXPECT_TRUE(Fake.DeviceCallNames().empty());
}

TEST_F(Transfer, WaitForAsyncOnAFreshRecordReturnsZeroAndRepeatsACompletedCount) {
    OpenAndForget();
    TRecord r;
    EXPECT_EQ(Port.WaitForAsync(r.Ptr), 0);
    EXPECT_EQ(Port.WriteStrAsync("hello", r.Ptr), 5);
    EXPECT_EQ(Port.WaitForAsync(r.Ptr), 5);
    EXPECT_EQ(Port.WaitForAsync(r.Ptr), 5);
    EXPECT_TRUE(Port.IsAsyncCompleted(r.Ptr));
    EXPECT_EQ(Fake.Written(), "hello");
}

TEST_F(Transfer, PendingOperationsCompleteLater) {
    OpenAndForget();
    Fake.SetReadsWait(true);
    TRecord r;
    std::string text;
    EXPECT_EQ(Port.ReadStrAsync(text, 8, r.Ptr), 0);
    EXPECT_EQ(text.size(), 8u);
    EXPECT_FALSE(Port.IsAsyncCompleted(r.Ptr));
    EXPECT_FALSE(Port.IsAsyncCompleted(r.Ptr));
    Fake.Receive("abc");
    EXPECT_TRUE(Port.IsAsyncCompleted(r.Ptr));
    const std::int32_t n = Port.WaitForAsync(r.Ptr);
    ASSERT_EQ(n, 3);
    text.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(text, "abc");
}

TEST_F(Transfer, AbortEndsPendingOperationsWithTheirCodes) {
    OpenAndForget();
    Fake.SetReadsWait(true);
    Fake.SetWritesWait(true);
    TRecord read, write;
    char buffer[4];
    Port.ReadAsync(buffer, 4, read.Ptr);
    Port.WriteAsync("data", 4, write.Ptr);
    Port.AbortAllAsync();
    EXPECT_EQ(Fake.CallsNamed("PurgeComm").back().Arg1, 3u);
    EXPECT_COM_ERROR(Port.WaitForAsync(read.Ptr), 3, 995,
                     "COM Port Error: ReadFile function failed on COM3");
    EXPECT_COM_ERROR(Port.WaitForAsync(write.Ptr), 2, 995,
                     "COM Port Error: WriteFile function failed on COM3");
    EXPECT_COM_ERROR(Port.IsAsyncCompleted(read.Ptr), 6, 995,
                     "COM Port Error: Unable to get async status on COM3");
}

TEST_F(Transfer, AbortDoesNothingWithoutOverlappedAccess) {
    Port.SetOverlapped(false);
    OpenAndForget();
    Port.AbortAllAsync();
    EXPECT_TRUE(Fake.Calls().empty());
}

TEST_F(Transfer, FailedWriteStartRaisesAndNothingIsSignalled) {
    OpenAndForget();
    int txSignals = 0;
    TComLink link;
    link.SetOnTx([&](TObject*, bool) { ++txSignals; });
    Port.RegisterLink(&link);
    Fake.Fail("WriteFile", 28);
    EXPECT_COM_ERROR(Port.WriteStr("x"), 2, 28,
                     "COM Port Error: WriteFile function failed on COM3");
    EXPECT_EQ(txSignals, 0);
    EXPECT_EQ(Port.WriteStr("y"), 1);
    EXPECT_EQ(txSignals, 1);
    Port.UnRegisterLink(&link);
}

TEST_F(Transfer, ReadStartFailureIsCountedOrRaised) {
    OpenAndForget();
    std::string text = "old";
    Fake.Fail("ReadFile", 22);
    EXPECT_EQ(Port.ReadStr(text, 10), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(Port.ReadAsyncErrorCount(), 1);
    EXPECT_EQ(Port.ReadAsyncLastError(), 22u);
    // A counted failure has nothing to wait for: the read returns at once.
    EXPECT_EQ(Fake.CountCalls("WaitForMultipleObjects"), 0);
    char buffer[2];
    Fake.Fail("ReadFile", 23);
    EXPECT_EQ(Port.Read(buffer, 2), 0);
    EXPECT_EQ(Port.ReadAsyncErrorCount(), 2);
    EXPECT_EQ(Port.ReadAsyncLastError(), 23u);

    Port.SetReadAsyncExceptionsEnabled(true);
    Fake.Fail("ReadFile", 24);
    EXPECT_COM_ERROR(Port.ReadStr(text, 10), 3, 24,
                     "COM Port Error: ReadFile function failed on COM3");
    EXPECT_EQ(Port.ReadAsyncErrorCount(), 2) << "raised, not counted";
    // The counters are the caller's to reset.
    Port.SetReadAsyncErrorCount(0);
    Port.SetReadAsyncLastError(0);
    EXPECT_EQ(Port.ReadAsyncErrorCount(), 0);
}

TEST_F(Transfer, ReadStrKeepsWhatIsReadAndLeavesTheRest) {
    OpenAndForget();
    std::string text;
    EXPECT_EQ(Port.ReadStr(text, 10), 0);
    EXPECT_TRUE(text.empty());
    Fake.Receive(std::string("a\0b", 3) + "cdefghijklmnopqrstuvwx");
    EXPECT_EQ(Port.ReadStr(text, 10), 10);
    EXPECT_EQ(text, std::string("a\0bcdefghi", 10));
    EXPECT_EQ(Port.InputCount(), 15);
    text = "x";
    EXPECT_EQ(Port.ReadStr(text, 0), 0);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(Port.ReadStr(text, -1), 0);
}

TEST_F(Transfer, WritesWithoutOverlappedAccessCountTheirFailures) {
    Port.SetOverlapped(false);
    EXPECT_EQ(Port.WriteStr("closed"), 0);
    EXPECT_EQ(Port.SyncWriteErrors(), 0) << "a closed port is not counted";
    EXPECT_TRUE(Fake.Calls().empty());
    OpenAndForget();
    EXPECT_EQ(Port.WriteStr(""), 0);
    EXPECT_EQ(Port.WriteStr("ok"), 2);
    EXPECT_EQ(Port.Write("abc", 3), 3);
    Fake.Fail("WriteFile", 5);
    EXPECT_EQ(Port.WriteStr("bad"), 0);
    EXPECT_EQ(Port.SyncWriteErrors(), 1);
    EXPECT_EQ(Fake.Written(), "okabc");
    EXPECT_EQ(Fake.CountCalls("CreateEventW"), 0) << "no record on this path";
}

TEST_F(Transfer, OverlappedWriteReturnsThePlatformsCount) {
    OpenAndForget();
    EXPECT_EQ(Port.WriteStr(""), 0);
    EXPECT_EQ(Fake.CountCalls("WriteFile"), 0);
    Fake.SetWritesWait(true);
    std::thread device([this] {
        // The device takes only 3 bytes before the write timeout would end the write.
        EXPECT_TRUE(Fake.WaitForCall("WriteFile", 5s));
        Fake.CompleteWrites(3);
    });
    EXPECT_EQ(Port.Write("abcdef", 6), 3);
    device.join();
    EXPECT_EQ(Fake.Written(), "abc");
}

TEST_F(Transfer, LinksHearAboutTransfers) {
    OpenAndForget();
    std::vector<std::string> heard;
    TComLink link;
    link.SetOnTx([&](TObject* ASender, bool AOn) {
        EXPECT_EQ(ASender, &Port);
        heard.push_back(AOn ? "tx on" : "tx off");
    });
    link.SetOnTxBuf([&](TObject*, const char* ABuffer, std::int32_t ACount) {
        heard.push_back("txbuf " + std::string(ABuffer, static_cast<std::size_t>(ACount)));
    });
    link.SetOnRx([&](TObject*, bool AOn) { heard.push_back(AOn ? "rx on" : "rx off"); });
    Port.RegisterLink(&link);
    Port.WriteStr("ping");
    std::string text;
    Fake.Receive("pong!");
    Port.ReadStr(text, 4); // one byte stays: neither rx off nor a buffer
    Port.ReadStr(text, 4);
    Port.UnRegisterLink(&link);
    EXPECT_EQ(heard, (std::vector<std::string>{"tx on", "txbuf ping", "rx off"}));
    EXPECT_EQ(text, "!");
    // Each of them completed at once: nothing was waited for, links heard all the same.
    EXPECT_EQ(Fake.CountCalls("GetOverlappedResult"), 0);
}

TEST_F(Transfer, InputCountNotSupportedSkipsTheQueryAndTheLinks) {
    OpenAndForget();
    Fake.Receive("abc");
    Port.SetInputCountNotSupported(true);
    EXPECT_EQ(Port.InputCount(), 0);
    EXPECT_EQ(Fake.CountCalls("ClearCommError"), 0);
    std::string text;
    EXPECT_EQ(Port.ReadStr(text, 3), 3);
    EXPECT_EQ(Fake.CountCalls("ClearCommError"), 0);
    Fake.SetOutputCount(7);
    EXPECT_EQ(Port.OutputCount(), 7) << "the output count still asks";
}

TEST_F(Transfer, StatusQueriesMapTheirWords) {
    OpenAndForget();
    Fake.SetInputCount(12);
    EXPECT_EQ(Port.InputCount(), 12);
    Fake.SetStatFlags(ComStatFlag::CtsHold | ComStatFlag::XoffSent | ComStatFlag::Txim);
    EXPECT_EQ(Port.StateFlags(), (TComStateFlags{fCtlHold, fXOffSent, fTxim}));
    Fake.AddCommErrors(CommError::Frame | CommError::RxParity | CommError::Overrun |
                       CommError::RxOver | CommError::TxFull | CommError::Break | CommError::IOE |
                       CommError::Mode | 0x0020 /* no member */);
    EXPECT_EQ(Port.LastErrors(),
              (TComErrors{ceFrame, ceOverrun, ceRxOver, ceTxFull, ceBreak, ceIO, ceMode}))
        << "parity errors only while parity is checked";
    EXPECT_TRUE(Port.LastErrors().Empty()) << "the query clears them";
    Port.Parity().SetCheck(true);
    Fake.AddCommErrors(CommError::RxParity);
    EXPECT_EQ(Port.LastErrors(), TComErrors{ceRxParity});
    Fake.SetModemStatus(ModemStatus::CtsOn | ModemStatus::RingOn | ModemStatus::RlsdOn);
    EXPECT_EQ(Port.Signals(), (TComSignals{csCTS, csRing, csRLSD}));
    Fake.SetModemStatus(ModemStatus::DsrOn);
    EXPECT_EQ(Port.Signals(), TComSignals{csDSR});
}

TEST_F(Transfer, SignalsAreNotAskedForWithoutOverlappedAccess) {
    Port.SetOverlapped(false);
    OpenAndForget();
    Fake.SetModemStatus(ModemStatus::CtsOn);
    EXPECT_TRUE(Port.Signals().Empty());
    EXPECT_EQ(Fake.CountCalls("GetCommModemStatus"), 0);
}

TEST_F(Transfer, LineControlSendsItsCodes) {
    OpenAndForget();
    Port.ClearBuffer(true, false);
    Port.ClearBuffer(false, true);
    Port.ClearBuffer(true, true);
    Port.ClearBuffer(false, false);
    std::vector<std::uint64_t> flags;
    for (const auto& call : Fake.CallsNamed("PurgeComm"))
        flags.push_back(call.Arg1);
    EXPECT_EQ(flags, (std::vector<std::uint64_t>{8, 4, 12, 0}));

    Port.SetXonXoff(true);
    Port.SetXonXoff(false);
    Port.SetDTR(true);
    Port.SetDTR(false);
    Port.SetRTS(true);
    Port.SetRTS(false);
    Port.SetBreak(true);
    Port.SetBreak(false);
    std::vector<std::uint64_t> codes;
    for (const auto& call : Fake.CallsNamed("EscapeCommFunction"))
        codes.push_back(call.Arg1);
    EXPECT_EQ(codes, (std::vector<std::uint64_t>{2, 1, 5, 6, 3, 4, 8, 9}));

    Port.TransmitChar('\x13');
    EXPECT_EQ(Fake.CallsNamed("TransmitCommChar").front().Arg1, 0x13u);
}

TEST_F(Transfer, EachRaiseSiteCarriesItsCodeAndTheOsCode) {
    OpenAndForget();
    Fake.Fail("PurgeComm", 31);
    EXPECT_COM_ERROR(Port.ClearBuffer(true, true), 5, 31,
                     "COM Port Error: PurgeComm function failed on COM3");
    Fake.Fail("EscapeCommFunction", 1);
    EXPECT_COM_ERROR(Port.SetDTR(true), 12, 1,
                     "COM Port Error: EscapeCommFunction function failed on COM3");
    Fake.Fail("TransmitCommChar", 2);
    EXPECT_COM_ERROR(Port.TransmitChar('a'), 13, 2,
                     "COM Port Error: TransmitCommChar function failed on COM3");
    Fake.Fail("ClearCommError", 3, 4);
    const char* status = "COM Port Error: ClearCommError function failed on COM3";
    EXPECT_COM_ERROR(Port.InputCount(), 10, 3, status);
    EXPECT_COM_ERROR(Port.OutputCount(), 10, 3, status);
    EXPECT_COM_ERROR(Port.StateFlags(), 10, 3, status);
    EXPECT_COM_ERROR(Port.LastErrors(), 10, 3, status);
    Fake.Fail("GetCommModemStatus", 4);
    EXPECT_COM_ERROR(Port.Signals(), 11, 4,
                     "COM Port Error: GetCommModemStatus function failed on COM3");
    TRecord r;
    Port.WriteStrAsync("x", r.Ptr);
    Fake.Fail("GetOverlappedResult", 6);
    EXPECT_COM_ERROR(Port.IsAsyncCompleted(r.Ptr), 6, 6,
                     "COM Port Error: Unable to get async status on COM3");
}

TEST_F(Transfer, AClosedPortFailsWithEachOperationsOwnCode) {
    OpenAndForget();
    Port.Close();
    Fake.ClearCalls();
    const std::int32_t invalid = static_cast<std::int32_t>(WinError::InvalidHandle);
    EXPECT_COM_ERROR(Port.InputCount(), 10, invalid,
                     "COM Port Error: ClearCommError function failed on COM3");
    EXPECT_COM_ERROR(Port.WriteStr("x"), 2, invalid,
                     "COM Port Error: WriteFile function failed on COM3");
    EXPECT_COM_ERROR(Port.SetRTS(true), 12, invalid,
                     "COM Port Error: EscapeCommFunction function failed on COM3");
    std::string text;
    EXPECT_EQ(Port.ReadStr(text, 4), 0) << "counted, not raised, by default";
    EXPECT_EQ(Port.ReadAsyncLastError(), WinError::InvalidHandle);
    // No call reached a stale handle: every device call got the invalid one.
    for (const auto& call : Fake.Calls()) {
        if (call.Name == "ClearCommError" || call.Name == "WriteFile" ||
            call.Name == "EscapeCommFunction" || call.Name == "ReadFile") {
            EXPECT_EQ(call.Handle, InvalidHandle) << call.Name;
        }
    }
}

TEST_F(Transfer, WaitForEventTimesOutWithNoEventsAndClearsTheMask) {
    OpenAndForget();
    TComEvents events{evRxChar, evCTS};
    Port.WaitForEvent(events, 0, 100);
    EXPECT_TRUE(events.Empty());
    const auto masks = Fake.CallsNamed("SetCommMask");
    ASSERT_EQ(masks.size(), 2u);
    EXPECT_EQ(masks.front().Arg1, EvMask::RxChar | EvMask::Cts);
    EXPECT_EQ(masks.back().Arg1, 0u);
    EXPECT_EQ(Fake.CallsNamed("WaitForMultipleObjects").back().Arg2, 100u);
    EXPECT_EQ(Fake.LiveEvents(), 0u) << "the private event is closed";
}

TEST_F(Transfer, WaitForEventEndsOnAnEventOrOnTheStopEvent) {
    OpenAndForget();
    std::thread device([this] {
        ASSERT_TRUE(Fake.WaitUntilCommWaitPending(5s));
        Fake.SignalCommEvent(EvMask::RxChar | EvMask::Ring);
    });
    TComEvents events = AllComEvents;
    Port.WaitForEvent(events, 0, -1);
    device.join();
    EXPECT_EQ(events, (TComEvents{evRxChar, evRing}));

    THandle stop = 0;
    ASSERT_EQ(Fake.CreateEventW(true, true, stop), 0u);
    events = AllComEvents;
    Port.WaitForEvent(events, stop, -1);
    EXPECT_TRUE(events.Empty());
    std::uint32_t result = 0;
    Fake.WaitForSingleObject(stop, 0, result);
    EXPECT_EQ(result, Wait::Object0) << "the caller's event is neither reset nor closed";
    EXPECT_EQ(Fake.CloseHandle(stop), 0u);
}

TEST_F(Transfer, WaitForEventFailures) {
    OpenAndForget();
    TComEvents events{evRxChar};
    Fake.Fail("WaitCommEvent", 87);
    EXPECT_COM_ERROR(Port.WaitForEvent(events, 0, 10), 21, 87,
                     "COM Port Error: WaitForEvent method failed on COM3");
    EXPECT_EQ(Fake.CallsNamed("SetCommMask").back().Arg1, EvMask::RxChar) << "left set";
    Fake.Fail("WaitForMultipleObjects", 6);
    EXPECT_COM_ERROR(Port.WaitForEvent(events, 0, 10), 21, 6,
                     "COM Port Error: WaitForEvent method failed on COM3");
    EXPECT_EQ(Fake.LiveEvents(), 0u);

    Port.Close();
    Port.SetEvents({evRxChar});
    Port.Open();
    Fake.ClearCalls();
    EXPECT_COM_ERROR(Port.WaitForEvent(events, 0, 10), 20, -1,
                     "COM Port Error: Cannot wait for event if event thread is created");
    EXPECT_EQ(Fake.CountCalls("SetCommMask"), 0) << "nothing else happens";
    Port.Close();
}

} // namespace
} // namespace cport
