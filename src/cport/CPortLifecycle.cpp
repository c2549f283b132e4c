#include "CPort_p.h"

#include <array>

namespace cport {

namespace {

// The two-bit fields of the control block, already shifted into place.
constexpr std::array<std::uint32_t, 3> DtrControlFlags = {0x0000, 0x0010, 0x0020};
constexpr std::array<std::uint32_t, 4> RtsControlFlags = {0x0000, 0x1000, 0x2000, 0x3000};

TComPlatform& Platform() {
    return TComPlatform::Current();
}

TSetupDialogProc& SetupDialog() {
    static TSetupDialogProc proc;
    return proc;
}

// Resets a flag when the scope ends, whichever way it ends.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& AFlag)
        : FFlag(AFlag) {
        FFlag = true;
    }
    ~TFlagGuard() { FFlag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& FFlag;
};

} // namespace

TCustomComPort::TCustomComPort(TComponent* AOwner)
    : TComponent(AOwner) {
    FParity = std::make_unique<TComParity>();
    FParity->AttachPort(this);
    FFlowControl = std::make_unique<TComFlowControl>();
    FFlowControl->AttachPort(this);
    FTimeouts = std::make_unique<TComTimeouts>();
    FTimeouts->AttachPort(this);
    FBuffer = std::make_unique<TComBuffer>();
    FBuffer->AttachPort(this);
}

TCustomComPort::~TCustomComPort() {
    // A destructor must not throw: a failure of the close sequence goes to the application's
    // exception report instead, and destruction goes on.
    try {
        Close();
    } catch (...) {
        TMainThread::ShowException(std::current_exception(), this);
    }
    FreeStoppedThread();
    // Freed by a handler on its own event thread, which cannot wait for itself: the thread
    // frees itself once that handler has returned.
    if (FStoppedThread) FStoppedThread.release()->FreeOnTerminate();
    FreeAsync(FReadAsyncPtr);
    FreeAsync(FWriteAsyncPtr);
    FBuffer.reset();
    FFlowControl.reset();
    FTimeouts.reset();
    FParity.reset();
    FLinks.clear();
}

void TCustomComPort::Loaded() {
    TComponent::Loaded();
    if (FConnected && !Designing()) {
        FConnected = false;
        try {
            Open();
        } catch (...) {
            TMainThread::ShowException(std::current_exception(), this);
        }
    }
}

void TCustomComPort::BeginUpdate() {
    ++FUpdateCount;
}

void TCustomComPort::EndUpdate() {
    if (FUpdateCount <= 0) return;
    --FUpdateCount;
    if (FUpdateCount == 0) ApplyAllSettings();
}

void TCustomComPort::Open() {
    if (FConnected || Designing() || FOpening) return;
    FreeStoppedThread();
    {
        TFlagGuard opening(FOpening);
        ProcessBeforeOpen();
        CreatePortHandle();
        FConnected = true;
        try {
            ApplyAllSettings();
            StartEventDelivery();
        } catch (...) {
            if (FWindow != 0) {
                TMainThread::DeallocateHWnd(FWindow);
                FWindow = 0;
            }
            ReleasePortHandle();
            FConnected = false;
            throw;
        }
        ++FOpenings;
        FDeviceGone = false;
        FGoneRaised = false;
    }
    // The port is open: its handlers may close it, or open it anew under another name.
    ProcessAfterOpen();
}

void TCustomComPort::StartEventDelivery() {
    FThreadCreated = false;
    if (FEvents.Empty()) return;
    if (FSyncMethod == smWindowSync)
        FWindow =
            TMainThread::AllocateHWnd([this](TMessage& AMessage) { EventWindowProc(AMessage); });
    if (FOverlapped) {
        FEventThread = std::make_unique<TComThread>(this);
        FThreadCreated = true;
    }
}

void TCustomComPort::Close() {
    if (!FConnected || Designing() || FClosing) return;
    TFlagGuard closing(FClosing);
    // Every step runs even when an earlier one fails (a device that vanished refuses the
    // purge), so the port always ends up closed; the first failure is raised at the end.
    std::exception_ptr failure;
    auto step = [&failure](auto AStep) {
        try {
            AStep();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    };
    step([this] { ProcessBeforeClose(); });
    step([this] { AbortAllAsync(); });
    if (FThreadCreated) {
        StopEventThread();
        FThreadCreated = false;
    }
    if (FWindow != 0) {
        TMainThread::DeallocateHWnd(FWindow);
        FWindow = 0;
    }
    ReleasePortHandle();
    FConnected = false;
    step([this] { ProcessAfterClose(); });
    if (failure) std::rethrow_exception(failure);
}

void TCustomComPort::StopEventThread() {
    std::unique_ptr<TComThread> thread = std::move(FEventThread);
    thread->EndDeliveries();
    if (!thread->IsCurrent()) return; // freeing it stops it and waits for it
    // A handler on the event thread itself (smNone) closes: the thread cannot wait for
    // itself, so it ends once the handler has returned and is waited for later.
    thread->Leave();
    FreeStoppedThread();
    FStoppedThread = std::move(thread);
}

void TCustomComPort::FreeStoppedThread() {
    if (FStoppedThread && !FStoppedThread->IsCurrent()) FStoppedThread.reset();
}

TSetupDialogProc SetSetupDialog(TSetupDialogProc AProc) {
    std::swap(SetupDialog(), AProc);
    return AProc;
}

void TCustomComPort::ShowSetupDialog() {
    if (!SetupDialog()) throw std::logic_error("No setup dialog is installed");
    SetupDialog()(*this);
}

void TCustomComPort::SetConnected(bool AValue) {
    if (Designing() || Loading()) {
        FConnected = AValue;
        return;
    }
    if (AValue == FConnected) return;
    if (AValue)
        Open();
    else
        Close();
}

void TCustomComPort::CreatePortHandle() {
    THandle handle = InvalidHandle;
    const TOsError error = Platform().CreateFileW("\\\\.\\" + FPort, FOverlapped, handle);
    if (error != WinError::Success || handle == InvalidHandle) {
        FHandle = InvalidHandle;
        RaiseOsError(cpeCannotOpen, error);
    }
    FHandle = handle;
}

void TCustomComPort::ReleasePortHandle() {
    if (FHandle != InvalidHandle) Platform().CloseHandle(FHandle);
    FHandle = InvalidHandle;
}

void TCustomComPort::RaiseOsError(std::int32_t ACode, TOsError AError) {
    std::string reason = TakeErrorReason(AError);
    if (FConnected && IsDeviceGoneError(AError)) {
        FGoneRaised = true;
        // The thread on the GUI side of the hand-over only: the event thread finds out itself.
        if (FThreadCreated && FEventThread && TMainThread::IsCurrent())
            FEventThread->NoteDeviceGone(AError);
    }
    throw EComPort(ACode, static_cast<std::int32_t>(AError), FPort, std::move(reason));
}

void TCustomComPort::CloseGone(TOsError AError) {
    // Whoever called the transfer that met the gone device has had its error already.
    const bool raised = FGoneRaised;
    EComPort report(cpeReadFile, static_cast<std::int32_t>(AError), FPort,
                    "the device has gone away (" + OsErrorText(AError) + ")");
    FDeviceGone = true;
    try {
        Close();
    } catch (...) {
        // The device is gone: what its close refuses adds nothing to the report.
    }
    // Open and Close handlers do not free their port, so it is still here to name.
    if (!raised) TMainThread::ShowException(std::make_exception_ptr(report), this);
}

bool TCustomComPort::CanApply() const {
    return FConnected && FUpdateCount == 0 && !Designing() && !Loading();
}

bool TCustomComPort::CanReconfigureOpenPort() const {
    return FConnected && !Designing() && !Loading();
}

void TCustomComPort::ApplyAllSettings() {
    ApplyBufferSettings();
    ApplyControlBlock();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyControlBlock() {
    if (!CanApply()) return;
    TDCB dcb;
    dcb.DCBlength = sizeof(TDCB);
    dcb.BaudRate = FBaudRate == brCustom ? static_cast<std::uint32_t>(FCustomBaudRate)
                                         : BaudRateToValue(FBaudRate);
    const bool errorChar = FParity->Check() && FParity->Replace();
    std::uint32_t flags = DcbFlag::Binary;
    if (FParity->Check()) flags |= DcbFlag::Parity;
    if (FFlowControl->OutCTSFlow()) flags |= DcbFlag::OutxCtsFlow;
    if (FFlowControl->OutDSRFlow()) flags |= DcbFlag::OutxDsrFlow;
    flags |= DtrControlFlags[FFlowControl->ControlDTR()];
    if (FFlowControl->DSRSensitivity()) flags |= DcbFlag::DsrSensitivity;
    if (FFlowControl->TxContinueOnXoff()) flags |= DcbFlag::TXContinueOnXoff;
    if (FFlowControl->XonXoffOut()) flags |= DcbFlag::OutX;
    if (FFlowControl->XonXoffIn()) flags |= DcbFlag::InX;
    if (errorChar) flags |= DcbFlag::ErrorChar;
    if (FDiscardNull) flags |= DcbFlag::Null;
    flags |= RtsControlFlags[FFlowControl->ControlRTS()];
    dcb.Flags = flags;
    dcb.XonLim = static_cast<std::uint16_t>(FBuffer->InputSize() / 4);
    dcb.XoffLim = dcb.XonLim;
    dcb.ByteSize = static_cast<std::uint8_t>(5 + FDataBits);
    dcb.Parity = static_cast<std::uint8_t>(FParity->Bits());
    dcb.StopBits = static_cast<std::uint8_t>(FStopBits);
    dcb.XonChar = FFlowControl->XonChar();
    dcb.XoffChar = FFlowControl->XoffChar();
    dcb.ErrorChar = errorChar ? FParity->ReplaceChar() : '\0';
    dcb.EvtChar = FEventChar;
    if (const TOsError error = Platform().SetCommState(FHandle, dcb))
        RaiseOsError(cpeSetCommState, error);
}

void TCustomComPort::ApplyTimeoutSettings() {
    if (!CanApply()) return;
    // -1 reaches the device as MAXDWORD: each value is handed over as its 32-bit pattern.
    auto pattern = [](std::int32_t AValue) { return static_cast<std::uint32_t>(AValue); };
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = pattern(FTimeouts->ReadInterval());
    timeouts.ReadTotalTimeoutMultiplier = pattern(FTimeouts->ReadTotalMultiplier());
    timeouts.ReadTotalTimeoutConstant = pattern(FTimeouts->ReadTotalConstant());
    timeouts.WriteTotalTimeoutMultiplier = pattern(FTimeouts->WriteTotalMultiplier());
    timeouts.WriteTotalTimeoutConstant = pattern(FTimeouts->WriteTotalConstant());
    if (const TOsError error = Platform().SetCommTimeouts(FHandle, timeouts))
        RaiseOsError(cpeSetCommTimeouts, error);
}

void TCustomComPort::ApplyBufferSettings() {
    if (!CanApply()) return;
    if (const TOsError error =
            Platform().SetupComm(FHandle, static_cast<std::uint32_t>(FBuffer->InputSize()),
                                 static_cast<std::uint32_t>(FBuffer->OutputSize())))
        RaiseOsError(cpeSetupComm, error);
}

template <typename T>
void TCustomComPort::SetThreadSetting(T& AField, T AValue) {
    if (AField == AValue) return;
    // The event thread and its dispatch read these while the port is open.
    if (CanReconfigureOpenPort()) throw EComPort::CreateNoWinCode(cpePropertyWhileOpen);
    AField = AValue;
}

void TCustomComPort::SetPort(const std::string& AValue) {
    if (FPort == AValue) return;
    FPort = AValue;
    if (CanReconfigureOpenPort()) {
        Close();
        Open();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate AValue) {
    ChangeSetting(FBaudRate, AValue, this, &TCustomComPort::ApplyControlBlock);
}
void TCustomComPort::SetCustomBaudRate(std::int32_t AValue) {
    ChangeSetting(FCustomBaudRate, AValue, this, &TCustomComPort::ApplyControlBlock);
}
void TCustomComPort::SetStopBits(TStopBits AValue) {
    ChangeSetting(FStopBits, AValue, this, &TCustomComPort::ApplyControlBlock);
}
void TCustomComPort::SetDataBits(TDataBits AValue) {
    ChangeSetting(FDataBits, AValue, this, &TCustomComPort::ApplyControlBlock);
}
void TCustomComPort::SetDiscardNull(bool AValue) {
    ChangeSetting(FDiscardNull, AValue, this, &TCustomComPort::ApplyControlBlock);
}
void TCustomComPort::SetEventChar(char AValue) {
    ChangeSetting(FEventChar, AValue, this, &TCustomComPort::ApplyControlBlock);
}
void TCustomComPort::SetSyncMethod(TSyncMethod AValue) {
    SetThreadSetting(FSyncMethod, AValue);
}
void TCustomComPort::SetEventThreadPriority(TThreadPriority AValue) {
    SetThreadSetting(FEventThreadPriority, AValue);
}

void TCustomComPort::SetTriggersOnRxChar(bool AValue) {
    if (FHasLink) throw EComPort::CreateNoWinCode(cpeRxBufLinked);
    FTriggersOnRxChar = AValue;
}

void TCustomComPort::SetOverlapped(bool AValue) {
    if (!FConnected) FOverlapped = AValue;
}

void TCustomComPort::SetParity(const TComParity& AValue) {
    FParity->Assign(AValue);
    ApplyControlBlock();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& AValue) {
    FFlowControl->Assign(AValue);
    ApplyControlBlock();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& AValue) {
    FTimeouts->Assign(AValue);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& AValue) {
    FBuffer->Assign(AValue);
    ApplyBufferSettings();
}

} // namespace cport
