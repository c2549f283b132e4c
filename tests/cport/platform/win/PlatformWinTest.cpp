// The Windows platform layer on a serial port whose other end the test plays (a pty mapped
// into Wine's prefix, see RemoteDevice.h). Where Wine's serial emulation differs from Windows,
// the test pins down Windows' behaviour and is not applicable under Wine.
#include "RemoteDevice.h"
#include "Wine.h"

#include "platform/ComPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace cport {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t AccessDenied = 5;

// Every byte value, so that nothing is translated unnoticed.
std::string AllBytes() {
    std::string data(256, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i);
    return data;
}

class PlatformWin : public ::testing::Test {
protected:
    PlatformWin() {
        EXPECT_EQ(Os.CreateFileW("\\\\.\\" + test::TRemoteDevice::PortName(), true, Handle),
                  WinError::Success);
        ApplyLine(Dcb());
        EXPECT_EQ(Os.SetCommTimeouts(Handle, {}), WinError::Success);
        Event = NewEvent();
    }
    ~PlatformWin() override {
        if (Handle != InvalidHandle) Os.CloseHandle(Handle);
        for (THandle event : Events)
            Os.CloseHandle(event);
    }

    // 9600 baud, 8 data bits, no parity, one stop bit, binary, DTR and RTS off.
    static TDCB Dcb() {
        TDCB dcb;
        dcb.BaudRate = 9600;
        dcb.Flags = DcbFlag::Binary;
        dcb.ByteSize = 8;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 512;
        dcb.XoffLim = 512;
        return dcb;
    }
    void ApplyLine(const TDCB& ADcb) { ASSERT_EQ(Os.SetCommState(Handle, ADcb), 0u); }

    THandle NewEvent() {
        THandle event = 0;
        EXPECT_EQ(Os.CreateEventW(true, false, event), WinError::Success);
        Events.push_back(event);
        return event;
    }

    // Waits for a record's event; true when it was set within ATimeout.
    bool Completes(const TOverlapped& ARecord, std::uint32_t ATimeout = 5000) {
        std::uint32_t result = Wait::Failed;
        return Os.WaitForSingleObject(ARecord.hEvent, ATimeout, result) == 0 &&
               result == Wait::Object0;
    }

    // The outcome of a completed operation: its error, and its count in ACount.
    TOsError Outcome(TOverlapped& ARecord, std::uint32_t& ACount) {
        return Os.GetOverlappedResult(Handle, &ARecord, ACount, false);
    }

    std::uint32_t Write(const std::string& AData) {
        TOverlapped record;
        record.hEvent = Event;
        std::uint32_t count = 0;
        const TOsError error = Os.WriteFile(
            Handle, AData.data(), static_cast<std::uint32_t>(AData.size()), &count, &record);
        if (error == WinError::IoPending) {
            EXPECT_TRUE(Completes(record));
            EXPECT_EQ(Outcome(record, count), 0u);
        } else {
            EXPECT_EQ(error, 0u);
        }
        return count;
    }

    // Waits until the input queue holds ACount bytes.
    bool InputQueueReaches(std::uint32_t ACount) {
        const auto deadline = Clock::now() + 5s;
        for (;;) {
            std::uint32_t errors = 0;
            TComStat stat;
            if (Os.ClearCommError(Handle, errors, &stat) != 0) return false;
            if (stat.cbInQue >= ACount) return true;
            if (Clock::now() > deadline) return false;
            Os.Sleep(1);
        }
    }

    TComPlatform& Os = TComPlatform::Native();
    test::TRemoteDevice Device;
    THandle Handle = InvalidHandle;
    THandle Event = 0;
    std::vector<THandle> Events;
};

// --- Opening and the line -----------------------------------------------------------------------

TEST_F(PlatformWin, AMissingPortCannotBeOpened) {
    THandle handle = InvalidHandle;
    EXPECT_EQ(Os.CreateFileW("\\\\.\\QUENDALNONE", true, handle), WinError::FileNotFound);
    EXPECT_EQ(Os.CloseHandle(InvalidHandle), WinError::InvalidHandle);
}

TEST_F(PlatformWin, ASecondOpenIsRefusedWhileThePortIsOpen) {
    QUENDAL_NOT_UNDER_WINE("Wine opens a serial port as often as asked");
    THandle second = InvalidHandle;
    EXPECT_EQ(Os.CreateFileW("\\\\.\\" + Device.PortName(), true, second), AccessDenied);
}

struct TLineCase {
    const char* Name;
    std::uint8_t ByteSize;
    std::uint32_t BaudRate;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    std::uint32_t Flags;
    std::map<std::string, long> Expected;
};

TEST_F(PlatformWin, TheControlBlockReachesTheLineAndReadsBack) {
    // clang-format off
    const TLineCase cases[] = {
        {"plain", 8, 9600, DcbParity::None, DcbStopBits::One, 0,
         {{"speed", 9600}, {"bits", 8}, {"parenb", 0}, {"cstopb", 0}, {"crtscts", 0}}},
        {"odd, two stop bits", 7, 115200, DcbParity::Odd, DcbStopBits::Two, 0,
         {{"speed", 115200}, {"bits", 7}, {"parenb", 1}, {"parodd", 1}, {"cmspar", 0},
          {"cstopb", 1}}},
        {"mark", 8, 9600, DcbParity::Mark, DcbStopBits::One, 0,
         {{"parenb", 1}, {"parodd", 1}, {"cmspar", 1}, {"cstopb", 0}}},
        {"space", 6, 57600, DcbParity::Space, DcbStopBits::One, 0,
         {{"speed", 57600}, {"bits", 6}, {"parenb", 1}, {"parodd", 0}, {"cmspar", 1}}},
        {"CTS flow", 5, 38400, DcbParity::None, DcbStopBits::One,
         DcbFlag::OutxCtsFlow | (2u << DcbFlag::RtsControlShift),
         {{"bits", 5}, {"parenb", 0}, {"crtscts", 1}, {"ixon", 0}, {"ixoff", 0}}},
        {"XON/XOFF", 8, 4800, DcbParity::Even, DcbStopBits::One, DcbFlag::OutX | DcbFlag::InX,
         {{"parenb", 1}, {"parodd", 0}, {"crtscts", 0}, {"ixon", 1}, {"ixoff", 1},
          {"vstart", 0x11}, {"vstop", 0x13}}},
    };
    // clang-format on
    for (const TLineCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TDCB dcb = Dcb();
        dcb.ByteSize = c.ByteSize;
        dcb.BaudRate = c.BaudRate;
        dcb.Parity = c.Parity;
        dcb.StopBits = c.StopBits;
        dcb.Flags |= c.Flags | (c.Parity != DcbParity::None ? DcbFlag::Parity : 0);
        ApplyLine(dcb);
        const std::map<std::string, long> line = Device.Line();
        for (const auto& [key, value] : c.Expected) {
            ASSERT_TRUE(line.contains(key)) << key;
            EXPECT_EQ(line.at(key), value) << key;
        }
        TDCB back;
        ASSERT_EQ(Os.GetCommState(Handle, back), 0u);
        EXPECT_EQ(back.BaudRate, dcb.BaudRate);
        EXPECT_EQ(back.Parity, dcb.Parity);
        EXPECT_EQ(back.StopBits, dcb.StopBits);
        EXPECT_EQ(back.ByteSize, dcb.ByteSize);
        EXPECT_EQ(back.Flags & (DcbFlag::OutxCtsFlow | DcbFlag::OutX | DcbFlag::InX),
                  dcb.Flags & (DcbFlag::OutxCtsFlow | DcbFlag::OutX | DcbFlag::InX));
    }
}

TEST_F(PlatformWin, ARateOutsideTheStandardOnesIsKept) {
    QUENDAL_NOT_UNDER_WINE("Wine sets 38400 baud for a rate it has no code for");
    TDCB dcb = Dcb();
    dcb.BaudRate = 250000;
    ApplyLine(dcb);
    TDCB back;
    ASSERT_EQ(Os.GetCommState(Handle, back), 0u);
    EXPECT_EQ(back.BaudRate, 250000u);
}

TEST_F(PlatformWin, RtsToggleIsAccepted) {
    QUENDAL_NOT_UNDER_WINE("Wine refuses RTS toggle with error 50");
    TDCB dcb = Dcb();
    dcb.Flags |= 3u << DcbFlag::RtsControlShift;
    ApplyLine(dcb);
}

TEST_F(PlatformWin, TimeoutsReadBackAsSet) {
    const TCommTimeouts set{MaxDword, 2, 3, 4, 5};
    ASSERT_EQ(Os.SetCommTimeouts(Handle, set), 0u);
    TCommTimeouts back;
    ASSERT_EQ(Os.GetCommTimeouts(Handle, back), 0u);
    EXPECT_EQ(back.ReadIntervalTimeout, MaxDword);
    EXPECT_EQ(back.ReadTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(back.ReadTotalTimeoutConstant, 3u);
    EXPECT_EQ(back.WriteTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(back.WriteTotalTimeoutConstant, 5u);
}

// --- Transfers ----------------------------------------------------------------------------------

TEST_F(PlatformWin, BytesPassUnchangedBothWays) {
    const std::string data = AllBytes();
    EXPECT_EQ(Write(data), data.size());
    EXPECT_EQ(Device.ReadExactly(data.size()), data);

    ASSERT_TRUE(Device.WriteAll(data));
    ASSERT_TRUE(InputQueueReaches(256));
    std::string read(300, '\0');
    TOverlapped record;
    record.hEvent = Event;
    std::uint32_t count = 0;
    // Zero timeouts wait for the full count; 256 bytes are there.
    TOsError error = Os.ReadFile(Handle, read.data(), 256, &count, &record);
    if (error == WinError::IoPending) {
        ASSERT_TRUE(Completes(record));
        error = Outcome(record, count);
    }
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(count, 256u);
    read.resize(count);
    EXPECT_EQ(read, data);
}

TEST_F(PlatformWin, AReadWithZeroTimeoutsWaitsForItsFullCount) {
    char buffer[8] = {};
    TOverlapped record;
    record.hEvent = Event;
    std::uint32_t count = 0;
    ASSERT_EQ(Os.ReadFile(Handle, buffer, 8, &count, &record), WinError::IoPending);
    ASSERT_TRUE(Device.WriteAll("1234"));
    EXPECT_FALSE(Completes(record, 200)) << "half the count does not complete the read";
    EXPECT_EQ(Outcome(record, count), WinError::IoIncomplete);
    ASSERT_TRUE(Device.WriteAll("5678"));
    ASSERT_TRUE(Completes(record));
    EXPECT_EQ(Outcome(record, count), 0u);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(std::string(buffer, 8), "12345678");
}

TEST_F(PlatformWin, IntervalMaxDwordWithoutTotalsReturnsAtOnce) {
    QUENDAL_NOT_UNDER_WINE("Wine keeps such a read pending on an empty queue");
    ASSERT_EQ(Os.SetCommTimeouts(Handle, {MaxDword, 0, 0, 0, 0}), 0u);
    char buffer[8] = {};
    TOverlapped record;
    record.hEvent = Event;
    std::uint32_t count = 99;
    TOsError error = Os.ReadFile(Handle, buffer, 8, &count, &record);
    if (error == WinError::IoPending) {
        ASSERT_TRUE(Completes(record, 1000));
        error = Outcome(record, count);
    }
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(count, 0u);
}

TEST_F(PlatformWin, ATotalTimeoutEndsAReadWithTheBytesSoFar) {
    QUENDAL_NOT_UNDER_WINE("Wine fails a read whose total timeout passes with error 1460");
    ASSERT_EQ(Os.SetCommTimeouts(Handle, {0, 0, 200, 0, 0}), 0u);
    ASSERT_TRUE(Device.WriteAll("ab"));
    ASSERT_TRUE(InputQueueReaches(2));
    char buffer[8] = {};
    TOverlapped record;
    record.hEvent = Event;
    std::uint32_t count = 0;
    TOsError error = Os.ReadFile(Handle, buffer, 8, &count, &record);
    if (error == WinError::IoPending) {
        ASSERT_TRUE(Completes(record));
        error = Outcome(record, count);
    }
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(count, 2u);
}

TEST_F(PlatformWin, PurgeClearEmptiesTheInputQueue) {
    ASSERT_TRUE(Device.WriteAll("stale"));
    ASSERT_TRUE(InputQueueReaches(5));
    ASSERT_EQ(Os.PurgeComm(Handle, Purge::RxClear), 0u);
    std::uint32_t errors = 0;
    TComStat stat;
    ASSERT_EQ(Os.ClearCommError(Handle, errors, &stat), 0u);
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_EQ(errors, 0u);
}

TEST_F(PlatformWin, PurgeAbortKeepsTheInputQueue) {
    QUENDAL_NOT_UNDER_WINE("Wine's purge-abort also empties the input queue");
    ASSERT_TRUE(Device.WriteAll("abc"));
    ASSERT_TRUE(InputQueueReaches(3));
    ASSERT_EQ(Os.PurgeComm(Handle, Purge::RxAbort | Purge::TxAbort), 0u);
    std::uint32_t errors = 0;
    TComStat stat;
    ASSERT_EQ(Os.ClearCommError(Handle, errors, &stat), 0u);
    EXPECT_EQ(stat.cbInQue, 3u);
}

TEST_F(PlatformWin, PurgeAbortEndsPendingReads) {
    QUENDAL_NOT_UNDER_WINE("Wine's purge does not end pending reads");
    char buffer[8] = {};
    TOverlapped record;
    record.hEvent = Event;
    std::uint32_t count = 0;
    ASSERT_EQ(Os.ReadFile(Handle, buffer, 8, &count, &record), WinError::IoPending);
    ASSERT_EQ(Os.PurgeComm(Handle, Purge::RxAbort), 0u);
    ASSERT_TRUE(Completes(record));
    EXPECT_EQ(Outcome(record, count), WinError::OperationAborted);
}

// What the component's Close relies on: closing the handle ends whatever is still pending.
TEST_F(PlatformWin, ClosingTheHandleEndsPendingReadsAndWaits) {
    char buffer[8] = {};
    TOverlapped read;
    read.hEvent = Event;
    std::uint32_t count = 0;
    ASSERT_EQ(Os.ReadFile(Handle, buffer, 8, &count, &read), WinError::IoPending);
    ASSERT_EQ(Os.SetCommMask(Handle, EvMask::RxChar), 0u);
    TOverlapped wait;
    wait.hEvent = NewEvent();
    std::uint32_t mask = 0;
    ASSERT_EQ(Os.WaitCommEvent(Handle, &mask, &wait), WinError::IoPending);

    ASSERT_EQ(Os.CloseHandle(Handle), 0u);
    const THandle closed = Handle;
    Handle = InvalidHandle;
    ASSERT_TRUE(Completes(read));
    ASSERT_TRUE(Completes(wait));
    EXPECT_NE(Os.GetOverlappedResult(closed, &read, count, false), 0u);
    EXPECT_NE(Os.GetOverlappedResult(closed, &wait, count, false), 0u)
        << "a wait ended by the close reports no event";
}

TEST_F(PlatformWin, ClosingTheHandleAbortsPendingReads) {
    QUENDAL_NOT_UNDER_WINE("Wine ends reads pending at a close with error 676 (handles closed)");
    char buffer[8] = {};
    TOverlapped read;
    read.hEvent = Event;
    std::uint32_t count = 0;
    ASSERT_EQ(Os.ReadFile(Handle, buffer, 8, &count, &read), WinError::IoPending);
    ASSERT_EQ(Os.CloseHandle(Handle), 0u);
    const THandle closed = Handle;
    Handle = InvalidHandle;
    ASSERT_TRUE(Completes(read));
    EXPECT_EQ(Os.GetOverlappedResult(closed, &read, count, false), WinError::OperationAborted);
}

// --- Events and lines ---------------------------------------------------------------------------

TEST_F(PlatformWin, ReceivedBytesEndAWait) {
    ASSERT_EQ(Os.SetCommMask(Handle, EvMask::RxChar | EvMask::Cts), 0u);
    TOverlapped wait;
    wait.hEvent = Event;
    std::uint32_t mask = 0;
    ASSERT_EQ(Os.WaitCommEvent(Handle, &mask, &wait), WinError::IoPending);
    EXPECT_FALSE(Completes(wait, 100)) << "nothing happened yet";
    ASSERT_TRUE(Device.WriteAll("x"));
    ASSERT_TRUE(Completes(wait));
    std::uint32_t count = 0;
    EXPECT_EQ(Outcome(wait, count), 0u);
    EXPECT_EQ(mask, EvMask::RxChar);
}

TEST_F(PlatformWin, ModemLineChangesEndAWaitAndShowInTheStatus) {
    std::uint32_t status = 0xFF;
    ASSERT_EQ(Os.GetCommModemStatus(Handle, status), 0u);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(Os.SetCommMask(Handle, EvMask::Cts | EvMask::Dsr | EvMask::Rlsd | EvMask::Ring), 0u);
    TOverlapped wait;
    wait.hEvent = Event;
    std::uint32_t mask = 0;
    ASSERT_EQ(Os.WaitCommEvent(Handle, &mask, &wait), WinError::IoPending);
    ASSERT_TRUE(Device.WaitUntilLinesPolled());
    Device.SetLines("CTS CD");
    ASSERT_TRUE(Completes(wait));
    std::uint32_t count = 0;
    EXPECT_EQ(Outcome(wait, count), 0u);
    EXPECT_EQ(mask, EvMask::Cts | EvMask::Rlsd);
    ASSERT_EQ(Os.GetCommModemStatus(Handle, status), 0u);
    EXPECT_EQ(status, ModemStatus::CtsOn | ModemStatus::RlsdOn);

    ASSERT_EQ(Os.ResetEvent(Event), 0u);
    ASSERT_EQ(Os.WaitCommEvent(Handle, &mask, &wait), WinError::IoPending);
    ASSERT_TRUE(Device.WaitUntilLinesPolled());
    Device.SetLines("CD DSR");
    ASSERT_TRUE(Completes(wait));
    EXPECT_EQ(Outcome(wait, count), 0u);
    EXPECT_EQ(mask, EvMask::Cts | EvMask::Dsr);
}

TEST_F(PlatformWin, EscapeFunctionsDriveDtrAndRts) {
    EXPECT_EQ(Device.Outputs(), "");
    ASSERT_EQ(Os.EscapeCommFunction(Handle, Esc::SetDtr), 0u);
    EXPECT_EQ(Device.Outputs(), "DTR");
    ASSERT_EQ(Os.EscapeCommFunction(Handle, Esc::SetRts), 0u);
    EXPECT_EQ(Device.Outputs(), "DTR RTS");
    ASSERT_EQ(Os.EscapeCommFunction(Handle, Esc::ClrDtr), 0u);
    EXPECT_EQ(Device.Outputs(), "RTS");
    ASSERT_EQ(Os.EscapeCommFunction(Handle, Esc::ClrRts), 0u);
    EXPECT_EQ(Device.Outputs(), "");
    TDCB dcb = Dcb();
    dcb.Flags |= (1u << DcbFlag::DtrControlShift) | (1u << DcbFlag::RtsControlShift);
    ApplyLine(dcb);
    EXPECT_EQ(Device.Outputs(), "DTR RTS") << "enabled in the control block";
}

TEST_F(PlatformWin, ANewMaskEndsAPendingWait) {
    ASSERT_EQ(Os.SetCommMask(Handle, EvMask::RxChar), 0u);
    TOverlapped wait;
    wait.hEvent = Event;
    std::uint32_t mask = 0xFFFF;
    ASSERT_EQ(Os.WaitCommEvent(Handle, &mask, &wait), WinError::IoPending);
    ASSERT_EQ(Os.SetCommMask(Handle, 0), 0u);
    EXPECT_TRUE(Completes(wait, 2000));
}

TEST_F(PlatformWin, ANewMaskEndsAPendingWaitSuccessfullyWithNoEvents) {
    QUENDAL_NOT_UNDER_WINE("Wine ends the wait with error 995");
    ASSERT_EQ(Os.SetCommMask(Handle, EvMask::RxChar), 0u);
    TOverlapped wait;
    wait.hEvent = Event;
    std::uint32_t mask = 0xFFFF;
    ASSERT_EQ(Os.WaitCommEvent(Handle, &mask, &wait), WinError::IoPending);
    ASSERT_EQ(Os.SetCommMask(Handle, 0), 0u);
    ASSERT_TRUE(Completes(wait, 2000));
    std::uint32_t count = 0;
    EXPECT_EQ(Outcome(wait, count), 0u);
    EXPECT_EQ(mask, 0u);
}

TEST_F(PlatformWin, TheEventCharacterRaisesRxFlag) {
    QUENDAL_NOT_UNDER_WINE("Wine raises no RXFLAG event");
    TDCB dcb = Dcb();
    dcb.EvtChar = '\n';
    ApplyLine(dcb);
    ASSERT_EQ(Os.SetCommMask(Handle, EvMask::RxFlag), 0u);
    TOverlapped wait;
    wait.hEvent = Event;
    std::uint32_t mask = 0;
    ASSERT_EQ(Os.WaitCommEvent(Handle, &mask, &wait), WinError::IoPending);
    ASSERT_TRUE(Device.WriteAll("abc"));
    EXPECT_FALSE(Completes(wait, 200));
    ASSERT_TRUE(Device.WriteAll("\n"));
    ASSERT_TRUE(Completes(wait));
    std::uint32_t count = 0;
    EXPECT_EQ(Outcome(wait, count), 0u);
    EXPECT_EQ(mask, EvMask::RxFlag);
}

} // namespace
} // namespace cport
