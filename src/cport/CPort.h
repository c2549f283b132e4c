// The serial-port component: the port, and the records of its overlapped transfers. Its
// settings objects, errors and links have headers of their own, which this one includes; the
// store accessors (CPortStorage.h) and the port list (CPortList.h) are included where used.
#pragma once

#include "CPortErrors.h"
#include "CPortSettings.h"
#include "CPortTypes.h"
#include "ComLink.h"
#include "Component.h"
#include "OsTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cport {

class TComThread;
class TIniAccess;
class TRegistryAccess;
struct TComStat;
struct TMessage;

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
    TComEvents Events() const { return FEvents; }
    // Takes effect at the next Open.
    void SetEvents(TComEvents AValue) { FEvents = AValue; }
    TStoredProps StoredProps() const { return FStoredProps; }
    void SetStoredProps(TStoredProps AValue) { FStoredProps = AValue; }
    // Both raise EComPort code 14 for a new value while the port is open.
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod AValue);
    TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
    void SetEventThreadPriority(TThreadPriority AValue);
    // Reads false while a registered link wants received buffers.
    bool TriggersOnRxChar() const { return FTriggersOnRxChar && !FHasLink; }
    // Raises EComPort code 22 while a registered link wants received buffers.
    void SetTriggersOnRxChar(bool AValue);
    bool Overlapped() const { return FOverlapped; }
    // Ignored while the port is open.
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
    // Starts a write; true when it completed at once, with AWritten bytes.
    bool StartWrite(const void* ABuffer, std::int32_t ACount, PCPortAsync AAsyncPtr,
                    std::uint32_t& AWritten);
    // Starts a read; false when its start failed and was counted instead of raised.
    // ACompleted: it completed at once, with ARead bytes.
    bool StartRead(void* ABuffer, std::int32_t ACount, PCPortAsync AAsyncPtr, std::int32_t& ARead,
                   bool* ACompleted = nullptr);
    // What follows a completed operation of AAsyncPtr: the links hear of it.
    void FinishAsync(PCPortAsync AAsyncPtr);
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
