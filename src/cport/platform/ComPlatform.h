// The platform layer: the only code of the component that talks to the operating system.
//
// The component is written against the Windows serial, event, registry and profile calls, and
// this class offers exactly those operations with their Windows meaning. On Windows each one
// is the real call; on POSIX each one is emulated so that the component cannot tell the
// difference; tests install a recording fake. The records below have the layout and field
// names of their Windows counterparts, so the Windows implementation hands them over as they
// are.
//
// Every operation returns a TOsError: 0 on success, otherwise the operating system's error
// code, captured inside the failing call before anything else can overwrite it. On POSIX that
// code is the errno value. A device or event handle that is not open, and the conditions that
// the component's logic tests for itself (a pending or incomplete operation, an aborted one,
// the end of an enumeration, data that does not fit, a wait that timed out) carry the Windows
// values on every platform, so that the logic and its error reports are one and the same.
//
// A private header of the component: programs that use it see only the types its public
// interface names (OsTypes.h).
#pragma once

#include "OsTypes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cport {

// Windows error codes that the component's logic tests for.
namespace WinError {
inline constexpr TOsError Success = 0;
inline constexpr TOsError FileNotFound = 2;
inline constexpr TOsError AccessDenied = 5;
inline constexpr TOsError InvalidHandle = 6;
inline constexpr TOsError InvalidParameter = 87;
inline constexpr TOsError MoreData = 234;
inline constexpr TOsError NoMoreItems = 259;
inline constexpr TOsError NotFound = 1168;
inline constexpr TOsError OperationAborted = 995;
inline constexpr TOsError IoIncomplete = 996;
inline constexpr TOsError IoPending = 997;
} // namespace WinError

// Results of the waits.
namespace Wait {
inline constexpr std::uint32_t Object0 = 0;
inline constexpr std::uint32_t Timeout = 258;
inline constexpr std::uint32_t Failed = 0xFFFFFFFF;
inline constexpr std::uint32_t Infinite = 0xFFFFFFFF;
} // namespace Wait

inline constexpr std::uint32_t MaxDword = 0xFFFFFFFF;

// A wait for one event, carried out by the caller's event loop. Destroying it ends what it
// registered; the event itself is not touched.
class TEventWait {
public:
    TEventWait() = default;
    TEventWait(const TEventWait&) = delete;
    TEventWait& operator=(const TEventWait&) = delete;
    virtual ~TEventWait() = default;
    // First, and each time the watch that the previous call asked for fired (AWatch as that
    // call left it, with Seen filled in): lets the operations that complete through the event
    // work, then returns true when the event is signalled (an auto-reset event is reset), or
    // false with AWatch set to what to watch before calling again.
    virtual bool Check(TWatchSet& AWatch) = 0;
};

// The device control block (Windows DCB). Flags holds the bit fields of the Windows record.
struct TDCB {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(TDCB) == 28);

namespace DcbFlag {
inline constexpr std::uint32_t Binary = 0x0001;
inline constexpr std::uint32_t Parity = 0x0002;
inline constexpr std::uint32_t OutxCtsFlow = 0x0004;
inline constexpr std::uint32_t OutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DtrControlMask = 0x0030; // 0 disable, 1 enable, 2 handshake
inline constexpr unsigned DtrControlShift = 4;
inline constexpr std::uint32_t DsrSensitivity = 0x0040;
inline constexpr std::uint32_t TXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t OutX = 0x0100;
inline constexpr std::uint32_t InX = 0x0200;
inline constexpr std::uint32_t ErrorChar = 0x0400;
inline constexpr std::uint32_t Null = 0x0800;
inline constexpr std::uint32_t RtsControlMask =
    0x3000; // 0 disable, 1 enable, 2 handshake, 3 toggle
inline constexpr unsigned RtsControlShift = 12;
inline constexpr std::uint32_t AbortOnError = 0x4000;
} // namespace DcbFlag

// DCB.Parity and DCB.StopBits values.
namespace DcbParity {
inline constexpr std::uint8_t None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4;
}
namespace DcbStopBits {
inline constexpr std::uint8_t One = 0, One5 = 1, Two = 2;
}

// Windows COMMTIMEOUTS, in milliseconds.
struct TCommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Windows COMSTAT. Flags holds the seven one-bit fields at the start of the record.
struct TComStat {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

namespace ComStatFlag {
inline constexpr std::uint32_t CtsHold = 0x01, DsrHold = 0x02, RlsdHold = 0x04, XoffHold = 0x08,
                               XoffSent = 0x10, Eof = 0x20, Txim = 0x40;
}

// Event mask bits of SetCommMask and WaitCommEvent.
namespace EvMask {
inline constexpr std::uint32_t RxChar = 0x0001;
inline constexpr std::uint32_t RxFlag = 0x0002;
inline constexpr std::uint32_t TxEmpty = 0x0004;
inline constexpr std::uint32_t Cts = 0x0008;
inline constexpr std::uint32_t Dsr = 0x0010;
inline constexpr std::uint32_t Rlsd = 0x0020;
inline constexpr std::uint32_t Break = 0x0040;
inline constexpr std::uint32_t Err = 0x0080;
inline constexpr std::uint32_t Ring = 0x0100;
inline constexpr std::uint32_t Rx80Full = 0x0400;
} // namespace EvMask

// PurgeComm flags.
namespace Purge {
inline constexpr std::uint32_t TxAbort = 0x0001;
inline constexpr std::uint32_t RxAbort = 0x0002;
inline constexpr std::uint32_t TxClear = 0x0004;
inline constexpr std::uint32_t RxClear = 0x0008;
} // namespace Purge

// EscapeCommFunction codes.
namespace Esc {
inline constexpr std::uint32_t SetXoff = 1;
inline constexpr std::uint32_t SetXon = 2;
inline constexpr std::uint32_t SetRts = 3;
inline constexpr std::uint32_t ClrRts = 4;
inline constexpr std::uint32_t SetDtr = 5;
inline constexpr std::uint32_t ClrDtr = 6;
inline constexpr std::uint32_t SetBreak = 8;
inline constexpr std::uint32_t ClrBreak = 9;
} // namespace Esc

// GetCommModemStatus bits.
namespace ModemStatus {
inline constexpr std::uint32_t CtsOn = 0x0010;
inline constexpr std::uint32_t DsrOn = 0x0020;
inline constexpr std::uint32_t RingOn = 0x0040;
inline constexpr std::uint32_t RlsdOn = 0x0080;
} // namespace ModemStatus

// ClearCommError error bits.
namespace CommError {
inline constexpr std::uint32_t RxOver = 0x0001;
inline constexpr std::uint32_t Overrun = 0x0002;
inline constexpr std::uint32_t RxParity = 0x0004;
inline constexpr std::uint32_t Frame = 0x0008;
inline constexpr std::uint32_t Break = 0x0010;
inline constexpr std::uint32_t TxFull = 0x0100;
inline constexpr std::uint32_t IOE = 0x0400;
inline constexpr std::uint32_t Mode = 0x8000;
} // namespace CommError

namespace RegType {
inline constexpr std::uint32_t None = 0;
inline constexpr std::uint32_t Sz = 1;
inline constexpr std::uint32_t ExpandSz = 2;
inline constexpr std::uint32_t Binary = 3;
inline constexpr std::uint32_t DWord = 4;
} // namespace RegType

// A registry value as read: for the string kinds Data is the text (UTF-8, without the
// terminating null character); for REG_DWORD the four bytes, least significant first;
// otherwise the raw bytes.
struct TRegValue {
    std::uint32_t Type = RegType::None;
    std::string Data;
};

// CompareStringW results.
namespace CompareResult {
inline constexpr int LessThan = 1, Equal = 2, GreaterThan = 3;
}

class TComPlatform {
public:
    TComPlatform() = default;
    TComPlatform(const TComPlatform&) = delete;
    TComPlatform& operator=(const TComPlatform&) = delete;
    virtual ~TComPlatform() = default;

    // The process-wide instance the component uses: the one installed last, else the native
    // one of this system.
    static TComPlatform& Current();
    // Installs APlatform (not owned) as the current instance, or the native one for nullptr.
    // Returns the one installed before.
    static TComPlatform* SetCurrent(TComPlatform* APlatform);
    static TComPlatform& Native();

    // --- Serial devices --------------------------------------------------------------------
    // APath is the Windows device path, "\\.\" followed by the port name. The device is opened
    // exclusively for reading and writing, and only if it exists; with AOverlapped its reads,
    // writes and event waits may run in the background.
    virtual TOsError CreateFileW(const std::string& APath, bool AOverlapped, THandle& AHandle) = 0;
    // Closes a device or an event.
    virtual TOsError CloseHandle(THandle AHandle) = 0;
    virtual TOsError SetupComm(THandle AHandle, std::uint32_t AInQueue,
                               std::uint32_t AOutQueue) = 0;
    virtual TOsError GetCommState(THandle AHandle, TDCB& ADcb) = 0;
    virtual TOsError SetCommState(THandle AHandle, const TDCB& ADcb) = 0;
    virtual TOsError GetCommTimeouts(THandle AHandle, TCommTimeouts& ATimeouts) = 0;
    virtual TOsError SetCommTimeouts(THandle AHandle, const TCommTimeouts& ATimeouts) = 0;
    virtual TOsError GetCommMask(THandle AHandle, std::uint32_t& AMask) = 0;
    // A new mask ends a pending WaitCommEvent, which then reports an empty mask.
    virtual TOsError SetCommMask(THandle AHandle, std::uint32_t AMask) = 0;
    // With AOverlapped: IoPending while the wait runs; the platform writes the events into
    // *AEvtMask and sets the record's event when it completes. Without: blocks.
    virtual TOsError WaitCommEvent(THandle AHandle, std::uint32_t* AEvtMask,
                                   TOverlapped* AOverlapped) = 0;
    // Overlapped transfers return Success when they completed at once (with the count in
    // *ATransferred, if given) or IoPending; the record's event is set on completion.
    virtual TOsError ReadFile(THandle AHandle, void* ABuffer, std::uint32_t ACount,
                              std::uint32_t* ATransferred, TOverlapped* AOverlapped) = 0;
    virtual TOsError WriteFile(THandle AHandle, const void* ABuffer, std::uint32_t ACount,
                               std::uint32_t* ATransferred, TOverlapped* AOverlapped) = 0;
    // The outcome of an overlapped operation: Success with the count, the operation's own
    // error, or IoIncomplete while it runs (unless AWait).
    virtual TOsError GetOverlappedResult(THandle AHandle, TOverlapped* AOverlapped,
                                         std::uint32_t& ATransferred, bool AWait) = 0;
    // The error word and status since the last call; clears the device's error state.
    virtual TOsError ClearCommError(THandle AHandle, std::uint32_t& AErrors, TComStat* AStat) = 0;
    virtual TOsError PurgeComm(THandle AHandle, std::uint32_t AFlags) = 0;
    virtual TOsError EscapeCommFunction(THandle AHandle, std::uint32_t AFunction) = 0;
    virtual TOsError GetCommModemStatus(THandle AHandle, std::uint32_t& AStatus) = 0;
    virtual TOsError TransmitCommChar(THandle AHandle, char AChar) = 0;
    // Cancels this process's operations on the device that still run, all of them or only the
    // one of AOverlapped (non-null): they end with OperationAborted. Unlike a purge it also ends
    // an event wait, and an operation that blocks its thread on a device opened without
    // overlapped access. NotFound when none runs.
    virtual TOsError CancelIoEx(THandle AHandle, TOverlapped* AOverlapped) = 0;

    // --- Events, waits and threads ---------------------------------------------------------
    virtual TOsError CreateEventW(bool AManualReset, bool AInitialState, THandle& AEvent) = 0;
    virtual TOsError SetEvent(THandle AEvent) = 0;
    virtual TOsError ResetEvent(THandle AEvent) = 0;
    // AResult is Wait::Object0 + index of the first signalled handle, or Wait::Timeout; a
    // failed wait returns its error with AResult = Wait::Failed.
    virtual TOsError WaitForMultipleObjects(std::uint32_t ACount, const THandle* AHandles,
                                            bool AWaitAll, std::uint32_t ATimeout,
                                            std::uint32_t& AResult) = 0;
    TOsError WaitForSingleObject(THandle AHandle, std::uint32_t ATimeout, std::uint32_t& AResult) {
        return WaitForMultipleObjects(1, &AHandle, false, ATimeout, AResult);
    }
    virtual void Sleep(std::uint32_t AMilliseconds) = 0;
    // Sets the calling thread's priority, given as a Windows thread priority (-15 to 15).
    virtual TOsError SetCurrentThreadPriority(int APriority) = 0;
    // Begins a wait for AEvent that the caller carries out by watching (see TEventWait); null
    // when this platform cannot, and the caller must wait in a thread of its own. AWake is
    // called, from any thread and until the wait is destroyed, when the wait must be checked
    // again although nothing it watches is ready (the event was set elsewhere, a device wants
    // other readiness watched): the caller's watch must then fire, also when it is armed only
    // later.
    virtual std::unique_ptr<TEventWait> WatchEvent(THandle AEvent, std::function<void()> AWake);

    // --- Registry ---------------------------------------------------------------------------
    // Opens ASubKey below AKey, creating it and its missing parents, with full access.
    virtual TOsError RegCreateKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) = 0;
    // Opens an existing ASubKey below AKey for reading.
    virtual TOsError RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) = 0;
    virtual TOsError RegCloseKey(THKey AKey) = 0;
    virtual TOsError RegSetValueExW(THKey AKey, const std::string& AName,
                                    const TRegValue& AValue) = 0;
    // FileNotFound when the value does not exist.
    virtual TOsError RegQueryValueExW(THKey AKey, const std::string& AName, TRegValue& AValue) = 0;
    // The value at AIndex; NoMoreItems past the last one; MoreData when its name is longer than
    // AMaxNameChars characters or its data (as Windows stores it) longer than AMaxDataBytes.
    virtual TOsError RegEnumValueW(THKey AKey, std::uint32_t AIndex, std::size_t AMaxNameChars,
                                   std::size_t AMaxDataBytes, std::string& AName,
                                   TRegValue& AValue) = 0;

    // --- Profile (INI) files ----------------------------------------------------------------
    // The value of AKey in ASection of AFile, at most ASize - 1 characters, or ADefault.
    virtual std::string GetPrivateProfileStringW(const std::string& ASection,
                                                 const std::string& AKey,
                                                 const std::string& ADefault, std::size_t ASize,
                                                 const std::string& AFile) = 0;
    // Writes one line; with no section, key and value it writes cached changes of AFile out,
    // which always succeeds (Windows reports no outcome for it).
    virtual TOsError WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                                const std::optional<std::string>& AKey,
                                                const std::optional<std::string>& AValue,
                                                const std::string& AFile) = 0;

    // --- Text --------------------------------------------------------------------------------
    // Compares two texts in the collating order of the user's locale; one of CompareResult.
    virtual int CompareStringW(const std::string& A, const std::string& B, bool AIgnoreCase) = 0;

    // --- Ports as people know them ----------------------------------------------------------
    // What the system tells of the port APort (a name as a port's Port takes it) beyond its
    // name: a description for people, and an identity that stays the same when the device
    // comes back under another name (empty when there is none, or the port is not there).
    // AValueName is the port's value name in the port list, empty when it was not found
    // there. False when the platform knows ports only through that list and AValueName is
    // empty. This base gives the list's own words: the value name as the description and the
    // port's name as its identity, which is what Windows has.
    virtual bool DescribeComPort(const std::string& AValueName, const std::string& APort,
                                 std::string& ADescription, std::string& AIdentity);
};

// --- What the platform says about an error ----------------------------------------------------

// A failing call may leave, next to its error code, the reason in the user's words where the
// code alone cannot say it: who holds a busy device, which group may open it, which rate the
// device refused. It belongs to the calling thread and to that code; the component's raise
// helper takes it at once, as it takes the code, so a later failure never finds a stale one.
void SetErrorReason(TOsError AError, std::string AReason);
void ClearErrorReason();
// The reason left for AError on this thread, or empty when there is none (or it belongs to
// another code); clears it either way.
std::string TakeErrorReason(TOsError AError);

// Installs a platform for the lifetime of the guard (tests use it for their fakes).
class TScopedComPlatform {
public:
    explicit TScopedComPlatform(TComPlatform& APlatform)
        : FPrevious(TComPlatform::SetCurrent(&APlatform)) {}
    ~TScopedComPlatform() { TComPlatform::SetCurrent(FPrevious); }
    TScopedComPlatform(const TScopedComPlatform&) = delete;
    TScopedComPlatform& operator=(const TScopedComPlatform&) = delete;

private:
    TComPlatform* FPrevious;
};

} // namespace cport
