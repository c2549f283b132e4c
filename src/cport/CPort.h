// The serial-port component: settings model, errors, and the port itself.
#pragma once

#include "CPortErrors.h"
#include "CPortTypes.h"
#include "Component.h"
#include "MainThread.h"
#include "platform/ComPlatform.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cport {

class TCustomComPort;

// --- Settings objects -----------------------------------------------------------------------
// Passive holders owned by a port. A setter that changes a value asks the owning port to apply
// the value's group; whether anything reaches the device is the port's decision. Assign copies
// the fields only: no setter runs and nothing is applied.

class TComSettings {
public:
    TComSettings() = default;
    TComSettings(const TComSettings&) = delete;
    TComSettings& operator=(const TComSettings&) = delete;
    virtual ~TComSettings() = default;

    TCustomComPort* ComPort() const { return FComPort; }
    void AttachPort(TCustomComPort* AComPort) { FComPort = AComPort; }

protected:
    TCustomComPort* FComPort = nullptr;
};

// Sizes of the driver's input and output queues in bytes.
class TComBuffer : public TComSettings {
public:
    void Assign(const TComBuffer& ASource);

    std::int32_t InputSize() const { return FInputSize; }
    std::int32_t OutputSize() const { return FOutputSize; }
    // Odd positive sizes are rounded down to even; the port applies the buffer group.
    void SetInputSize(std::int32_t AValue);
    void SetOutputSize(std::int32_t AValue);

private:
    void SetSize(std::int32_t& AField, std::int32_t AValue);

    std::int32_t FInputSize = 1024;
    std::int32_t FOutputSize = 1024;
};

// The five communication timeouts in milliseconds; -1 stands for MAXDWORD.
class TComTimeouts : public TComSettings {
public:
    void Assign(const TComTimeouts& ASource);

    std::int32_t ReadInterval() const { return FReadInterval; }
    std::int32_t ReadTotalMultiplier() const { return FReadTotalM; }
    std::int32_t ReadTotalConstant() const { return FReadTotalC; }
    std::int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
    std::int32_t WriteTotalConstant() const { return FWriteTotalC; }
    void SetReadInterval(std::int32_t AValue);
    void SetReadTotalMultiplier(std::int32_t AValue);
    void SetReadTotalConstant(std::int32_t AValue);
    void SetWriteTotalMultiplier(std::int32_t AValue);
    void SetWriteTotalConstant(std::int32_t AValue);

private:
    void SetTimeout(std::int32_t& AField, std::int32_t AValue);

    std::int32_t FReadInterval = -1;
    std::int32_t FReadTotalM = 0;
    std::int32_t FReadTotalC = 0;
    std::int32_t FWriteTotalM = 100;
    std::int32_t FWriteTotalC = 1000;
};

class TComParity : public TComSettings {
public:
    void Assign(const TComParity& ASource);

    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    char ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits AValue);
    void SetCheck(bool AValue);
    void SetReplace(bool AValue);
    void SetReplaceChar(char AValue);

private:
    template <typename T>
    void SetField(T& AField, T AValue);

    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComFlowControl : public TComSettings {
public:
    void Assign(const TComFlowControl& ASource);

    // The composite view on ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut. Writing a named
    // mode sets those four fields directly (so the device is reconfigured once); fcCustom
    // changes nothing. Either way the port applies the control block once.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl AValue);

    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    void SetOutCTSFlow(bool AValue);
    void SetOutDSRFlow(bool AValue);
    void SetControlDTR(TDTRFlowControl AValue);
    void SetControlRTS(TRTSFlowControl AValue);
    void SetXonXoffOut(bool AValue);
    void SetXonXoffIn(bool AValue);
    void SetDSRSensitivity(bool AValue);
    void SetTxContinueOnXoff(bool AValue);
    void SetXonChar(char AValue);
    void SetXoffChar(char AValue);

private:
    template <typename T>
    void SetField(T& AField, T AValue);
    void ApplyToPort();

    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
};

// --- Stored settings and the port list ------------------------------------------------------
// The two store accessors of StoreSettings and LoadSettings: each is made for one call and
// released at its end; both work through TComPlatform::Current().

// A failed read or write of a store accessor. StoreSettings and LoadSettings replace it (like
// every other failure) by their own error.
class EStoreAccess : public std::runtime_error {
public:
    EStoreAccess(const std::string& AMessage, TOsError AOsError);
    // The platform's error code, or 0 when no platform call failed (no key open, a value of
    // another kind).
    TOsError OsError() const { return FOsError; }

private:
    TOsError FOsError;
};

// Registry values of one key.
class TRegistryAccess {
public:
    TRegistryAccess() = default;
    TRegistryAccess(const TRegistryAccess&) = delete;
    TRegistryAccess& operator=(const TRegistryAccess&) = delete;
    // Closes the key, ignoring a failure: it runs while an error is already on its way.
    ~TRegistryAccess();

    // The root that OpenKey starts from; the current user's root until set.
    THKey RootKey() const { return FRootKey; }
    void SetRootKey(THKey AValue) { FRootKey = AValue; }
    // Opens AKey below the root with full access, creating it and missing parents; closes a
    // key opened before. False, and no key open, when that fails.
    bool OpenKey(const std::string& AKey);
    bool HasKey() const { return FHasKey; }
    THKey CurrentKey() const { return FKey; }

    // Raise EStoreAccess when no key is open or the platform fails.
    void WriteString(const std::string& AName, const std::string& AValue);
    void WriteInteger(const std::string& AName, std::int32_t AValue);
    // A missing value (or no key open) reads as the empty text; a value of another kind than
    // a plain or expandable string raises EStoreAccess, as does any other failure.
    std::string ReadString(const std::string& AName);
    // A missing value, one of another kind than a 32-bit integer, or no key open raises
    // EStoreAccess.
    std::int32_t ReadInteger(const std::string& AName);

    // Closes the key; raises EStoreAccess when the platform fails.
    void Release();

private:
    THKey FRootKey = HKey::CurrentUser;
    THKey FKey = 0;
    bool FHasKey = false;
};

// Values of one profile (INI) file.
class TIniAccess {
public:
    explicit TIniAccess(std::string AFileName)
        : FFileName(std::move(AFileName)) {}
    TIniAccess(const TIniAccess&) = delete;
    TIniAccess& operator=(const TIniAccess&) = delete;
    // Writes cached changes out if Release did not, ignoring a failure: it runs while an error
    // is already on its way.
    ~TIniAccess();

    const std::string& FileName() const { return FFileName; }
    // ADefault when the file, the section or the line is missing; at most 2047 characters.
    std::string ReadString(const std::string& ASection, const std::string& AName,
                           const std::string& ADefault);
    // Creates the file, section or line as needed, or replaces the line's value; raises
    // EStoreAccess when the file cannot be written.
    void WriteString(const std::string& ASection, const std::string& AName,
                     const std::string& AValue);
    // ADefault when the text is missing or no number (decimal, or hexadecimal after "0x" or
    // "$").
    std::int32_t ReadInteger(const std::string& ASection, const std::string& AName,
                             std::int32_t ADefault);
    // As decimal text.
    void WriteInteger(const std::string& ASection, const std::string& AName, std::int32_t AValue);

    // Has the profile functions write cached changes of the file out; raises EStoreAccess on
    // failure.
    void Release();

private:
    std::string FFileName;
    bool FReleased = false;
};

// Chooses the registry root from the first element of APath ("HKEY_LOCAL_MACHINE" or
// "HKEY_CURRENT_USER", letter case ignored; anything else keeps the accessor's root) and opens
// the rest of the path, a backslash and AName below it, creating missing keys. A path without
// a backslash opens nothing. A path with nothing after its first backslash (such as
// "HKEY_CURRENT_USER\") opens AName directly below the root. Whether the key could be opened
// is not reported: without one, the accessor's value operations behave as documented above.
void OpenSettingsKey(TRegistryAccess& AAccess, const std::string& APath, const std::string& AName);

// Replaces AList's content with the data of the values of the local machine's registry key
// HARDWARE\DEVICEMAP\SERIALCOMM (the system's serial ports), sorted without regard to letter
// case in the collating order of the user's locale; equal names are kept. Raises EComPort code
// cpeRegistry with the platform's error code and "registry read" when the key cannot be opened
// or a value cannot be read (a name over 255 characters or data over 256 bytes included); the
// list then stays as it was.
void ListComPorts(std::vector<std::string>& AList);

// A port of the port list as people know it.
struct TComPortInfo {
    // As ListComPorts gives it, which a port's Port takes.
    std::string Name;
    // For people, beside the name: the simulated device's published name, a USB adapter's
    // product and serial number, or its /dev/serial/by-id link; on Windows the device name
    // the registry gives. May be empty.
    std::string Description;
    // Stays the same when the device comes back under another name: its /dev/serial/by-id
    // link, else its USB vendor:product:serial, else the simulated device's published name;
    // on Windows the port's name. Empty when the device has none.
    std::string Identity;

    bool operator==(const TComPortInfo&) const = default;
};

// The ports of ListComPorts, in the same order and with the same names, with what the system
// tells of each. Raises as ListComPorts does.
std::vector<TComPortInfo> ListComPortInfo();
// The identity of the port APortName (a listed name or any name Port takes, such as a path),
// or empty when it has none or is not there. Never raises: a port list that cannot be read
// lists nothing.
std::string ComPortIdentity(const std::string& APortName);
// The current name of the listed port whose identity is AIdentity, or empty when none is
// there (or AIdentity is empty). Never raises, as ComPortIdentity.
std::string FindComPortByIdentity(const std::string& AIdentity);

// --- Events, links and operation records ----------------------------------------------------

using TNotifyEvent = std::function<void(TObject* ASender)>;
using TRxCharEvent = std::function<void(TObject* ASender, std::int32_t ACount)>;
// ABuffer points at ACount raw bytes, not terminated.
using TRxBufEvent = std::function<void(TObject* ASender, const char* ABuffer, std::int32_t ACount)>;
using TComSignalEvent = std::function<void(TObject* ASender, bool AOnOff)>;
using TComErrorEvent = std::function<void(TObject* ASender, TComErrors AErrors)>;

// The operating system's event mask for a set of events, and back; bits without a member are
// dropped.
std::uint32_t EventsToMask(TComEvents AEvents);
TComEvents MaskToEvents(std::uint32_t AMask);

// The message that carries one event code to the port's hidden event window.
inline constexpr std::uint32_t WM_PORTEVENT = 0x0400 + 1;

// The record of one overlapped read or write. Whoever holds the pointer owns the record:
// EnsureAsync creates it, FreeAsync destroys it; it can be reused for any number of operations.
struct TCPortAsync {
    TOverlapped Overlapped; // its hEvent is the record's manual-reset completion event
    TOperationKind Kind = okWrite;
    std::unique_ptr<char[]> Data; // a write's copy of its bytes, or ReadStr's receive block
    std::int32_t Size = 0;
};
using PCPortAsync = TCPortAsync*;

// Creates a record (completion event signalled, no data) if APtr is null.
void EnsureAsync(PCPortAsync& APtr);
// Destroys the record with its event and data block, and sets APtr to null.
void FreeAsync(PCPortAsync& APtr);
// Prepares a record for an operation: kind, a fresh data block of ACount bytes (none for 0 or
// less) filled from ASource when given, and size. A null record raises EComPort code 4.
void StageAsync(TOperationKind AKind, const void* ASource, std::int32_t ACount, PCPortAsync APtr);
// The error code for a failed operation of the record: cpeWriteFile, cpeReadFile or 0.
std::int32_t AsyncFailureCode(PCPortAsync APtr);

// What a link hears about.
enum TLinkNotice : std::uint8_t {
    lnConn,
    lnCTS,
    lnDSR,
    lnRLSD,
    lnRing,
    lnRx,
    lnTx,
    lnTxEmpty,
    lnRxFlag
};

// An observer through which another component listens to a port. Whoever creates a link owns
// it and unregisters it before freeing it. A link that wants received buffers should assign
// OnRxBuf before it registers. The sender of every handler is the port.
class TComLink : public TObject {
public:
    const TComSignalEvent& OnConn() const { return FOnConn; }
    void SetOnConn(TComSignalEvent AValue) { FOnConn = std::move(AValue); }
    const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
    void SetOnRxBuf(TRxBufEvent AValue) { FOnRxBuf = std::move(AValue); }
    const TRxBufEvent& OnTxBuf() const { return FOnTxBuf; }
    void SetOnTxBuf(TRxBufEvent AValue) { FOnTxBuf = std::move(AValue); }
    const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
    void SetOnTxEmpty(TNotifyEvent AValue) { FOnTxEmpty = std::move(AValue); }
    const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
    void SetOnRxFlag(TNotifyEvent AValue) { FOnRxFlag = std::move(AValue); }
    const TComSignalEvent& OnCTSChange() const { return FOnCTSChange; }
    void SetOnCTSChange(TComSignalEvent AValue) { FOnCTSChange = std::move(AValue); }
    const TComSignalEvent& OnDSRChange() const { return FOnDSRChange; }
    void SetOnDSRChange(TComSignalEvent AValue) { FOnDSRChange = std::move(AValue); }
    const TComSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
    void SetOnRLSDChange(TComSignalEvent AValue) { FOnRLSDChange = std::move(AValue); }
    const TNotifyEvent& OnRing() const { return FOnRing; }
    void SetOnRing(TNotifyEvent AValue) { FOnRing = std::move(AValue); }
    const TComSignalEvent& OnTx() const { return FOnTx; }
    void SetOnTx(TComSignalEvent AValue) { FOnTx = std::move(AValue); }
    const TComSignalEvent& OnRx() const { return FOnRx; }
    void SetOnRx(TComSignalEvent AValue) { FOnRx = std::move(AValue); }

private:
    TComSignalEvent FOnConn;
    TRxBufEvent FOnRxBuf;
    TRxBufEvent FOnTxBuf;
    TNotifyEvent FOnTxEmpty;
    TNotifyEvent FOnRxFlag;
    TComSignalEvent FOnCTSChange;
    TComSignalEvent FOnDSRChange;
    TComSignalEvent FOnRLSDChange;
    TNotifyEvent FOnRing;
    TComSignalEvent FOnTx;
    TComSignalEvent FOnRx;
};

// The event thread of an open port: asks the device for the port's events, waits for them and
// hands each set that arrives to the port's owner by the port's SyncMethod.
class TComThread : public TThread {
public:
    // Creates the thread for an open port, sets the device's event mask and starts it. Raises
    // EComPort code 1 with the system's error code when its events or the thread cannot be
    // created; nothing is left behind then.
    explicit TComThread(TCustomComPort* AComPort);
    // Stops the thread and waits for its end; on the GUI thread a hand-over in flight is
    // served meanwhile, and one that this call runs inside of is let go (TThread::WaitFor).
    ~TComThread() override;

    // Ends this thread's deliveries that run further up the calling thread's stack (a handler
    // that closes or frees the port): each returns once its handler has, without touching the
    // port or this object again.
    void EndDeliveries();
    // On the thread itself, from a handler that closes the port: does the thread's end steps
    // on the still open handle and lets the thread end without touching the port again once
    // the handler has returned. Waiting for it (or FreeOnTerminate) remains to be done.
    void Leave();
    // From a transfer of the port that met the gone device: the thread ends its wait and
    // closes the port as gone, for devices whose event wait goes on as if nothing happened.
    void NoteDeviceGone(TOsError AError);

protected:
    void Execute() override;

private:
    void SignalStop();
    void CloseEvents();
    void DeliverEvents();
    void SendEventCodes();
    void RunEvents();
    // After the end steps: has the GUI thread close the port as gone; the thread touches
    // nothing afterwards, since that close frees it.
    void HandOverGone(TOsError AError);

    TCustomComPort* FComPort;
    THandle FStopEvent = 0;
    THandle FWaitEvent = 0; // the event of the device's wait
    TComEvents FEvents;
    bool FLeft = false; // the thread's own
    std::atomic<TOsError> FGoneNoted{0};
};

// --- The port -------------------------------------------------------------------------------

class TCustomComPort : public TComponent {
public:
    explicit TCustomComPort(TComponent* AOwner);
    // Closes the port with this class's steps only: a derived class's overrides are gone by
    // the time a base destructor runs, as C++ requires. A class that overrides
    // CreatePortHandle, ReleasePortHandle or a notification therefore calls Close in its own
    // destructor. A failing close goes to the application's exception report.
    ~TCustomComPort() override;

    // Opens the port if Connected was stored as true; a failure goes to the application's
    // exception report and the port stays closed.
    void Loaded() override;

    // Update bracket: inside it no setting reaches the device; leaving the outermost one
    // applies all settings of an open port once.
    void BeginUpdate();
    void EndUpdate();

    // Opens the device, applies all settings and starts event delivery. Raises EComPort code
    // 1 when the device cannot be opened, 9, 7 or 8 when it refuses the settings (the port is
    // then closed again). Nothing happens on an open port or while designing.
    void Open();
    // Stops event delivery, aborts pending transfers and closes the device. It may be called
    // from any handler of the port, with every SyncMethod: the device is closed and
    // OnAfterClose has run when it returns; the rest of the event set being delivered is
    // dropped, and the event thread is waited for once the handler has returned.
    void Close();
    // True when the port closed itself because its device went away (unplugged, hung up):
    // an open port with an event thread notices that without any transfer, closes itself on
    // the GUI thread (OnBeforeClose and OnAfterClose already see true) and then reports
    // EComPort code 3 (cpeReadFile) with the OS code through the application's exception
    // report, once; not when a transfer of the port raised the same failure to its caller
    // first. False again once Open succeeds; a Close of the owner's leaves it false.
    bool DeviceGone() const { return FDeviceGone; }

    // --- Transfers and line control ---
    // Bytes written; in overlapped mode it can be fewer than ACount when the write timeout
    // ends the write. In non-overlapped mode failures are counted in SyncWriteErrors and give
    // 0, and a port that is not open gives 0.
    std::int32_t Write(const void* ABuffer, std::int32_t ACount);
    std::int32_t WriteStr(const std::string& AStr);
    // Bytes read into ABuffer, as the device's read timeouts allow (by default what is queued).
    std::int32_t Read(void* ABuffer, std::int32_t ACount);
    // AStr becomes the bytes read, at most ACount.
    std::int32_t ReadStr(std::string& AStr, std::int32_t ACount);

    // Overlapped operations on a record the caller owns (EnsureAsync ... FreeAsync). They
    // return the bytes transferred at once, 0 while the operation runs. The source of a write
    // and the destination of a read must stay untouched until the operation has completed.
    // A null record raises EComPort code 4.
    std::int32_t WriteAsync(const void* ABuffer, std::int32_t ACount, PCPortAsync& AAsyncPtr);
    std::int32_t WriteStrAsync(const std::string& AStr, PCPortAsync& AAsyncPtr);
    std::int32_t ReadAsync(void* ABuffer, std::int32_t ACount, PCPortAsync& AAsyncPtr);
    // AStr gets the length ACount; shorten it to what WaitForAsync returns.
    std::int32_t ReadStrAsync(std::string& AStr, std::int32_t ACount, PCPortAsync& AAsyncPtr);
    // Waits for the record's operation and returns its byte count; raises code 2 (write) or
    // 3 (read) when it failed.
    std::int32_t WaitForAsync(PCPortAsync& AAsyncPtr);
    // Whether the record's operation has completed; raises code 6 when it failed.
    bool IsAsyncCompleted(PCPortAsync AAsyncPtr);

    std::int32_t InputCount();
    std::int32_t OutputCount();
    TComSignals Signals();
    TComStateFlags StateFlags();
    // The line errors since the last status query; parity errors only while Parity.Check.
    TComErrors LastErrors();
    void SetDTR(bool AOnOff);
    void SetRTS(bool AOnOff);
    void SetXonXoff(bool AOnOff);
    void SetBreak(bool AOnOff);
    void ClearBuffer(bool AInput, bool AOutput);
    // Sends ACh ahead of any queued output.
    void TransmitChar(char ACh);
    // Ends every pending read and write of the port (overlapped mode only).
    void AbortAllAsync();
    // Waits in the calling thread for one of AEvents, for AStopEvent (0 for none) or for
    // ATimeout milliseconds (-1: no limit); AEvents becomes the events that occurred. Refused
    // with code 20 while the port has an event thread.
    void WaitForEvent(TComEvents& AEvents, THandle AStopEvent, std::int32_t ATimeout);

    bool InputCountNotSupported() const { return FInputCountNotSupported; }
    void SetInputCountNotSupported(bool AValue) { FInputCountNotSupported = AValue; }
    bool ReadAsyncExceptionsEnabled() const { return FReadAsyncExceptionsEnabled; }
    void SetReadAsyncExceptionsEnabled(bool AValue) { FReadAsyncExceptionsEnabled = AValue; }
    std::int32_t ReadAsyncErrorCount() const { return FReadAsyncErrorCount; }
    void SetReadAsyncErrorCount(std::int32_t AValue) { FReadAsyncErrorCount = AValue; }
    std::uint32_t ReadAsyncLastError() const { return FReadAsyncLastError; }
    void SetReadAsyncLastError(std::uint32_t AValue) { FReadAsyncLastError = AValue; }
    std::int32_t SyncWriteErrors() const { return FSyncWriteErrors; }

    // Runs the installed setup dialog on this port (see SetSetupDialog).
    void ShowSetupDialog();

    // --- Links ---
    // Raise EComPort code 18 for a link already registered, or not registered.
    void RegisterLink(TComLink* AComLink);
    void UnRegisterLink(TComLink* AComLink);

    // --- Settings ---
    bool Connected() const { return FConnected; }
    // While designing or loading only stored; otherwise true opens and false closes.
    void SetConnected(bool AValue);
    // The open device; InvalidHandle whenever the port is not open.
    THandle Handle() const { return FHandle; }
    const std::string& Port() const { return FPort; }
    // A new name on an open port closes it and opens it again under that name.
    void SetPort(const std::string& AValue);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate AValue);
    std::int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(std::int32_t AValue);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits AValue);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits AValue);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool AValue);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char AValue);
    // Takes effect at the next Open.
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents AValue) { FEvents = AValue; }
    TStoredProps StoredProps() const { return FStoredProps; }
    void SetStoredProps(TStoredProps AValue) { FStoredProps = AValue; }
    // Both raise EComPort code 14 for a new value while the port is open.
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod AValue);
    TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
    void SetEventThreadPriority(TThreadPriority AValue);
    // Raises EComPort code 22 while a registered link wants received buffers.
    // Reads false while a registered link wants received buffers.
    bool TriggersOnRxChar() const { return FTriggersOnRxChar && !FHasLink; }
    void SetTriggersOnRxChar(bool AValue);
    // Ignored while the port is open.
    bool Overlapped() const { return FOverlapped; }
    void SetOverlapped(bool AValue);

    // The owned settings objects. The setters copy the given object's fields and apply the
    // group once.
    TComParity& Parity() const { return *FParity; }
    void SetParity(const TComParity& AValue);
    TComFlowControl& FlowControl() const { return *FFlowControl; }
    void SetFlowControl(const TComFlowControl& AValue);
    TComTimeouts& Timeouts() const { return *FTimeouts; }
    void SetTimeouts(const TComTimeouts& AValue);
    TComBuffer& Buffer() const { return *FBuffer; }
    void SetBuffer(const TComBuffer& AValue);

    // --- Handlers ---
    const TNotifyEvent& OnAfterOpen() const { return FOnAfterOpen; }
    void SetOnAfterOpen(TNotifyEvent AValue) { FOnAfterOpen = std::move(AValue); }
    const TNotifyEvent& OnAfterClose() const { return FOnAfterClose; }
    void SetOnAfterClose(TNotifyEvent AValue) { FOnAfterClose = std::move(AValue); }
    const TNotifyEvent& OnBeforeOpen() const { return FOnBeforeOpen; }
    void SetOnBeforeOpen(TNotifyEvent AValue) { FOnBeforeOpen = std::move(AValue); }
    const TNotifyEvent& OnBeforeClose() const { return FOnBeforeClose; }
    void SetOnBeforeClose(TNotifyEvent AValue) { FOnBeforeClose = std::move(AValue); }
    const TRxCharEvent& OnRxChar() const { return FOnRxChar; }
    void SetOnRxChar(TRxCharEvent AValue) { FOnRxChar = std::move(AValue); }
    const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
    void SetOnRxBuf(TRxBufEvent AValue) { FOnRxBuf = std::move(AValue); }
    const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
    void SetOnTxEmpty(TNotifyEvent AValue) { FOnTxEmpty = std::move(AValue); }
    const TNotifyEvent& OnBreak() const { return FOnBreak; }
    void SetOnBreak(TNotifyEvent AValue) { FOnBreak = std::move(AValue); }
    const TNotifyEvent& OnRing() const { return FOnRing; }
    void SetOnRing(TNotifyEvent AValue) { FOnRing = std::move(AValue); }
    const TComSignalEvent& OnCTSChange() const { return FOnCTSChange; }
    void SetOnCTSChange(TComSignalEvent AValue) { FOnCTSChange = std::move(AValue); }
    const TComSignalEvent& OnDSRChange() const { return FOnDSRChange; }
    void SetOnDSRChange(TComSignalEvent AValue) { FOnDSRChange = std::move(AValue); }
    const TComSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
    void SetOnRLSDChange(TComSignalEvent AValue) { FOnRLSDChange = std::move(AValue); }
    const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
    void SetOnRxFlag(TNotifyEvent AValue) { FOnRxFlag = std::move(AValue); }
    const TComErrorEvent& OnError() const { return FOnError; }
    void SetOnError(TComErrorEvent AValue) { FOnError = std::move(AValue); }
    const TNotifyEvent& OnRx80Full() const { return FOnRx80Full; }
    void SetOnRx80Full(TNotifyEvent AValue) { FOnRx80Full = std::move(AValue); }

    // --- Stored settings (CPortStorage.cpp) --------------------------------------------------
    // Writes the groups in StoredProps to the registry key of OpenSettingsKey(AStoreTo, Name())
    // or to the section Name() of the INI file AStoreTo. Raises EComPort cpeStoreSettings on
    // any failure; values written before it stay written.
    void StoreSettings(TStoreType AStoreType, const std::string& AStoreTo);
    // Reads the groups in StoredProps from the same place and applies each value through its
    // setter, inside one update bracket that is closed on every path. Registry: a missing text
    // value reads as empty text (so Port becomes empty and the rest take their parsing
    // defaults), a missing integer fails. INI: a missing file, section or line keeps the
    // current value ("CustomBaudRate" defaults to 9600). Raises EComPort cpeLoadSettings on any
    // failure; values applied before it stay applied.
    void LoadSettings(TStoreType AStoreType, const std::string& ALoadFrom);

protected:
    // The group-by-group work of StoreSettings and LoadSettings, given the opened accessor;
    // a descendant may override them to store more.
    virtual void StoreToRegistry(TRegistryAccess& AAccess);
    virtual void StoreToIniFile(TIniAccess& AAccess);
    virtual void LoadFromRegistry(TRegistryAccess& AAccess);
    virtual void LoadFromIniFile(TIniAccess& AAccess);

    friend class TComBuffer;
    friend class TComTimeouts;
    friend class TComParity;
    friend class TComFlowControl;
    friend class TComThread;

    // Opens the device named by Port and stores its handle (SetHandle); raises EComPort code 1.
    virtual void CreatePortHandle();
    // Closes the handle if there is one and stores InvalidHandle.
    virtual void ReleasePortHandle();
    // For overrides of the two steps above: the handle every operation of the port uses.
    void SetHandle(THandle AValue) { FHandle = AValue; }
    // Queue sizes, control block, timeouts, in this order.
    virtual void ApplyAllSettings();

    // Notifications: each calls its handler, if assigned.
    virtual void NotifyAfterClose();
    virtual void NotifyAfterOpen();
    virtual void NotifyBeforeClose();
    virtual void NotifyBeforeOpen();
    virtual void NotifyRxChar(std::int32_t ACount);
    virtual void NotifyRxBuf(const char* ABuffer, std::int32_t ACount);
    virtual void NotifyTxEmpty();
    virtual void NotifyBreak();
    virtual void NotifyRing();
    virtual void NotifyRxFlag();
    virtual void NotifyCTSChange(bool AOnOff);
    virtual void NotifyDSRChange(bool AOnOff);
    virtual void NotifyError(TComErrors AErrors);
    virtual void NotifyRLSDChange(bool AOnOff);
    virtual void NotifyRx80Full();

    // The apply steps: each does nothing unless the port is open, no update bracket is open
    // and the component is neither being designed nor loaded (CanApply). They raise EComPort
    // code 7 (control block), 8 (timeouts) and 9 (queue sizes) when the device refuses.
    virtual void ApplyControlBlock();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSettings();
    bool CanApply() const;

    // The steps that Open and Close run first and last.
    void ProcessBeforeOpen();
    void ProcessAfterOpen();
    void ProcessBeforeClose();
    void ProcessAfterClose();

    // Event processors: each computes its argument now, tells the links, then notifies.
    void ProcessRxChar();
    void ProcessTxEmpty();
    void ProcessBreak();
    void ProcessRing();
    void ProcessCTSChange();
    void ProcessDSRChange();
    void ProcessRLSDChange();
    void ProcessError();
    void ProcessRxFlag();
    void ProcessRx80Full();

    // Link fan-out, from the first registered link to the last.
    void NotifyLinksSignal(TLinkNotice ANotice, bool AOnOff);
    void NotifyLinks(TLinkNotice ANotice);
    void NotifyLinksTxBuf(const char* ABuffer, std::int32_t ACount);
    bool AnyLinkWantsRxBuf() const;

    // The procedure of the hidden event window: WM_PORTEVENT runs the processor of one event.
    void EventWindowProc(TMessage& AMessage);

private:
    // The event thread and, with smWindowSync, the event window of an open port.
    void StartEventDelivery();
    // Stops the event thread; when Close runs on it (a handler with smNone), the thread is
    // kept in FStoppedThread until it can be waited for.
    void StopEventThread();
    // Waits for the thread kept in FStoppedThread and frees it, unless it is the calling thread.
    void FreeStoppedThread();
    // Runs the processor of one event.
    void RunEvent(TComEvent AEvent);
    bool WriteDirect(const void* ABuffer, std::int32_t ACount);
    std::int32_t WriteAndWait(const void* ABuffer, std::int32_t ACount);
    std::int32_t WriteStrAndWait(const std::string& AStr);
    // Starts a read; false when its start failed and was counted instead of raised.
    bool StartRead(void* ABuffer, std::int32_t ACount, PCPortAsync AAsyncPtr, std::int32_t& ARead);
    TComStat QueryStatus(TComErrors* AErrors);
    void Escape(std::uint32_t AFunction);
    void Purge(std::uint32_t AFlags);
    // The one raise helper for failed OS calls: takes the platform's reason for AError at
    // once, and notes a gone device so that its hang-up is not reported a second time.
    void RaiseOsError(std::int32_t ACode, TOsError AError);
    // On the GUI thread, for the event thread that saw the device go: closes the port as
    // gone and reports it.
    void CloseGone(TOsError AError);

    bool CanReconfigureOpenPort() const;
    template <typename T>
    void SetControlSetting(T& AField, T AValue);
    template <typename T>
    void SetThreadSetting(T& AField, T AValue);

    bool FInputCountNotSupported = false;
    std::unique_ptr<TComThread> FEventThread;
    // A thread that a handler on it stopped, until the next Open or the destructor.
    std::unique_ptr<TComThread> FStoppedThread;
    bool FThreadCreated = false;
    THandle FHandle = InvalidHandle;
    std::intptr_t FWindow = 0;
    std::int32_t FUpdateCount = 0;
    std::vector<TComLink*> FLinks;
    bool FTriggersOnRxChar = true;
    TThreadPriority FEventThreadPriority = tpNormal;
    bool FHasLink = false;
    bool FConnected = false;
    TBaudRate FBaudRate = br9600;
    std::int32_t FCustomBaudRate = 9600;
    std::string FPort = "COM1";
    TStopBits FStopBits = sbOneStopBit;
    TDataBits FDataBits = dbEight;
    bool FDiscardNull = false;
    char FEventChar = 0;
    TComEvents FEvents = AllComEvents;
    std::unique_ptr<TComBuffer> FBuffer;
    std::unique_ptr<TComParity> FParity;
    std::unique_ptr<TComTimeouts> FTimeouts;
    std::unique_ptr<TComFlowControl> FFlowControl;
    TSyncMethod FSyncMethod = smThreadSync;
    TStoredProps FStoredProps = {spBasic};
    TRxCharEvent FOnRxChar;
    TRxBufEvent FOnRxBuf;
    TNotifyEvent FOnTxEmpty;
    TNotifyEvent FOnBreak;
    TNotifyEvent FOnRing;
    TComSignalEvent FOnCTSChange;
    TComSignalEvent FOnDSRChange;
    TComSignalEvent FOnRLSDChange;
    TComErrorEvent FOnError;
    TNotifyEvent FOnRxFlag;
    TNotifyEvent FOnAfterOpen;
    TNotifyEvent FOnAfterClose;
    TNotifyEvent FOnBeforeOpen;
    TNotifyEvent FOnBeforeClose;
    TNotifyEvent FOnRx80Full;
    bool FReadAsyncExceptionsEnabled = false;
    std::int32_t FReadAsyncErrorCount = 0;
    std::uint32_t FReadAsyncLastError = 0;
    std::int32_t FSyncWriteErrors = 0;
    bool FOverlapped = true;
    PCPortAsync FReadAsyncPtr = nullptr;
    PCPortAsync FWriteAsyncPtr = nullptr;
    // Open and Close are not re-entered from their own handlers.
    bool FOpening = false;
    bool FClosing = false;
    // Counts successful openings, so that the steps after one see whether it still stands.
    std::uint32_t FOpenings = 0;
    bool FDeviceGone = false;
    // A transfer raised the gone device's error to its caller during this opening; set on
    // whichever thread the transfer ran.
    std::atomic<bool> FGoneRaised{false};
};

// The modal dialog that ShowSetupDialog runs. The component has no GUI of its own: a GUI
// library installs its dialog here (cportqt does). Returns the one installed before.
using TSetupDialogProc = std::function<void(TCustomComPort& APort)>;
TSetupDialogProc SetSetupDialog(TSetupDialogProc AProc);

// The port with its settings exposed at design time; it adds no behaviour.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};

} // namespace cport
