#include "CPort_p.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <system_error>

namespace cport {

namespace {

TComPlatform& Platform() {
    return TComPlatform::Current();
}

std::uint32_t Count32(std::int32_t ACount) {
    return ACount > 0 ? static_cast<std::uint32_t>(ACount) : 0;
}

// Closes an event when the scope ends.
class TEventGuard {
public:
    explicit TEventGuard(THandle AEvent)
        : FEvent(AEvent) {}
    ~TEventGuard() {
        if (FEvent != 0) Platform().CloseHandle(FEvent);
    }
    TEventGuard(const TEventGuard&) = delete;
    TEventGuard& operator=(const TEventGuard&) = delete;

private:
    THandle FEvent;
};

} // namespace

// --- Operation records ------------------------------------------------------------------------

void EnsureAsync(PCPortAsync& APtr) {
    if (APtr != nullptr) return;
    APtr = new TCPortAsync();
    THandle event = 0;
    // A record without an event fails its first wait with the code of its operation.
    if (Platform().CreateEventW(true, true, event) != WinError::Success) event = 0;
    APtr->Overlapped.hEvent = event;
}

void FreeAsync(PCPortAsync& APtr) {
    if (APtr == nullptr) return;
    if (APtr->Overlapped.hEvent != 0) Platform().CloseHandle(APtr->Overlapped.hEvent);
    delete APtr;
    APtr = nullptr;
}

void StageAsync(TOperationKind AKind, const void* ASource, std::int32_t ACount, PCPortAsync APtr) {
    // Public, so checked in every build: a release build would write through null.
    if (APtr == nullptr) throw EComPort::CreateNoWinCode(cpeBadAsyncParam);
    APtr->Kind = AKind;
    APtr->Data.reset();
    if (ACount > 0) {
        APtr->Data = std::make_unique<char[]>(static_cast<std::size_t>(ACount));
        if (ASource != nullptr)
            std::memcpy(APtr->Data.get(), ASource, static_cast<std::size_t>(ACount));
    }
    APtr->Size = ACount;
}

std::int32_t AsyncFailureCode(PCPortAsync APtr) {
    if (APtr != nullptr && APtr->Kind == okWrite) return cpeWriteFile;
    if (APtr != nullptr && APtr->Kind == okRead) return cpeReadFile;
    return 0;
}

// --- Overlapped operations ----------------------------------------------------------------------

bool TCustomComPort::StartWrite(const void* ABuffer, std::int32_t ACount, PCPortAsync AAsyncPtr,
                                std::uint32_t& AWritten) {
    if (AAsyncPtr == nullptr) throw EComPort::CreateNoWinCode(cpeBadAsyncParam);
    StageAsync(okWrite, ABuffer, ACount, AAsyncPtr);
    AWritten = 0;
    // The platform writes from the caller's buffer; the record's copy is for the links.
    const TOsError error =
        Platform().WriteFile(FHandle, ABuffer, Count32(ACount), &AWritten, &AAsyncPtr->Overlapped);
    if (error != WinError::Success && error != WinError::IoPending)
        RaiseOsError(cpeWriteFile, error);
    NotifyLinksSignal(lnTx, true);
    if (error != WinError::Success) AWritten = 0;
    return error == WinError::Success;
}

std::int32_t TCustomComPort::WriteAsync(const void* ABuffer, std::int32_t ACount,
                                        PCPortAsync& AAsyncPtr) {
    std::uint32_t written = 0;
    StartWrite(ABuffer, ACount, AAsyncPtr, written);
    return static_cast<std::int32_t>(written);
}

std::int32_t TCustomComPort::WriteStrAsync(const std::string& AStr, PCPortAsync& AAsyncPtr) {
    if (AStr.empty()) return 0;
    return WriteAsync(AStr.data(), static_cast<std::int32_t>(AStr.size()), AAsyncPtr);
}

bool TCustomComPort::StartRead(void* ABuffer, std::int32_t ACount, PCPortAsync AAsyncPtr,
                               std::int32_t& ARead, bool* ACompleted) {
    AAsyncPtr->Kind = okRead;
    std::uint32_t read = 0;
    if (ACount > 0) static_cast<char*>(ABuffer)[0] = '\0';
    const TOsError error =
        Platform().ReadFile(FHandle, ABuffer, Count32(ACount), &read, &AAsyncPtr->Overlapped);
    ARead = 0;
    if (ACompleted != nullptr) *ACompleted = error == WinError::Success;
    if (error == WinError::Success || error == WinError::IoPending) {
        ARead = error == WinError::Success ? static_cast<std::int32_t>(read) : 0;
        return true;
    }
    if (FReadAsyncExceptionsEnabled) RaiseOsError(cpeReadFile, error);
    ++FReadAsyncErrorCount;
    FReadAsyncLastError = error;
    return false;
}

std::int32_t TCustomComPort::ReadAsync(void* ABuffer, std::int32_t ACount, PCPortAsync& AAsyncPtr) {
    if (AAsyncPtr == nullptr) throw EComPort::CreateNoWinCode(cpeBadAsyncParam);
    std::int32_t read = 0;
    StartRead(ABuffer, ACount, AAsyncPtr, read);
    return read;
}

std::int32_t TCustomComPort::ReadStrAsync(std::string& AStr, std::int32_t ACount,
                                          PCPortAsync& AAsyncPtr) {
    AStr.resize(Count32(ACount));
    if (ACount <= 0) return 0;
    return ReadAsync(AStr.data(), ACount, AAsyncPtr);
}

std::int32_t TCustomComPort::WaitForAsync(PCPortAsync& AAsyncPtr) {
    if (AAsyncPtr == nullptr) throw EComPort::CreateNoWinCode(cpeBadAsyncParam);
    std::uint32_t result = Wait::Failed;
    TOsError error =
        Platform().WaitForSingleObject(AAsyncPtr->Overlapped.hEvent, Wait::Infinite, result);
    if (error == WinError::Success && result != Wait::Object0) error = WinError::InvalidHandle;
    if (error != WinError::Success) RaiseOsError(AsyncFailureCode(AAsyncPtr), error);
    std::uint32_t transferred = 0;
    error = Platform().GetOverlappedResult(FHandle, &AAsyncPtr->Overlapped, transferred, false);
    if (error != WinError::Success) RaiseOsError(AsyncFailureCode(AAsyncPtr), error);
    FinishAsync(AAsyncPtr);
    return static_cast<std::int32_t>(transferred);
}

void TCustomComPort::FinishAsync(PCPortAsync AAsyncPtr) {
    if (!FInputCountNotSupported) {
        if (AAsyncPtr->Kind == okRead) {
            // Asked only for links, which are told when the input is empty.
            if (!FLinks.empty() && InputCount() == 0) NotifyLinksSignal(lnRx, false);
        } else if (AAsyncPtr->Data) {
            // Only a write's copy is reported as transmitted: a read's receive block holds
            // received bytes, which no link must take for sent ones.
            NotifyLinksTxBuf(AAsyncPtr->Data.get(), AAsyncPtr->Size);
        }
    }
}

bool TCustomComPort::IsAsyncCompleted(PCPortAsync AAsyncPtr) {
    if (AAsyncPtr == nullptr) throw EComPort::CreateNoWinCode(cpeBadAsyncParam);
    std::uint32_t transferred = 0;
    const TOsError error =
        Platform().GetOverlappedResult(FHandle, &AAsyncPtr->Overlapped, transferred, false);
    if (error == WinError::Success) return true;
    if (error == WinError::IoPending || error == WinError::IoIncomplete) return false;
    RaiseOsError(cpeAsyncStatus, error);
    return false;
}

// --- Synchronous transfers ----------------------------------------------------------------------

bool TCustomComPort::WriteDirect(const void* ABuffer, std::int32_t ACount) {
    if (!FConnected) return false;
    std::uint32_t written = 0;
    if (Platform().WriteFile(FHandle, ABuffer, Count32(ACount), &written, nullptr) !=
        WinError::Success) {
        ++FSyncWriteErrors;
        return false;
    }
    return true;
}

// An operation that completed at once needs no wait for its event (which is set).
std::int32_t TCustomComPort::WriteAndWait(const void* ABuffer, std::int32_t ACount) {
    EnsureAsync(FWriteAsyncPtr);
    std::uint32_t written = 0;
    if (!StartWrite(ABuffer, ACount, FWriteAsyncPtr, written)) return WaitForAsync(FWriteAsyncPtr);
    FinishAsync(FWriteAsyncPtr);
    return static_cast<std::int32_t>(written);
}

std::int32_t TCustomComPort::WriteStrAndWait(const std::string& AStr) {
    if (AStr.empty()) return 0;
    return WriteAndWait(AStr.data(), static_cast<std::int32_t>(AStr.size()));
}

std::int32_t TCustomComPort::Write(const void* ABuffer, std::int32_t ACount) {
    if (FOverlapped) return WriteAndWait(ABuffer, ACount);
    return WriteDirect(ABuffer, ACount) ? ACount : 0;
}

std::int32_t TCustomComPort::WriteStr(const std::string& AStr) {
    if (FOverlapped) return WriteStrAndWait(AStr);
    const auto length = static_cast<std::int32_t>(AStr.size());
    return WriteDirect(AStr.data(), length) ? length : 0;
}

std::int32_t TCustomComPort::Read(void* ABuffer, std::int32_t ACount) {
    EnsureAsync(FReadAsyncPtr);
    std::int32_t read = 0;
    bool completed = false;
    // A read whose start failed and was counted has nothing to wait for.
    if (!StartRead(ABuffer, ACount, FReadAsyncPtr, read, &completed)) return 0;
    if (!completed) return WaitForAsync(FReadAsyncPtr);
    FinishAsync(FReadAsyncPtr);
    return read;
}

std::int32_t TCustomComPort::ReadStr(std::string& AStr, std::int32_t ACount) {
    if (ACount <= 0) {
        AStr.clear();
        return 0;
    }
    // The bytes go from the driver's queue straight into the string, whose storage a caller
    // that reads into the same string every time reuses.
    AStr.resize(static_cast<std::size_t>(ACount));
    std::int32_t read = 0;
    try {
        read = Read(AStr.data(), ACount);
    } catch (...) {
        AStr.clear();
        throw;
    }
    AStr.resize(static_cast<std::size_t>(std::max(read, 0)));
    return read;
}

// --- Status and line control --------------------------------------------------------------------

TComStat TCustomComPort::QueryStatus(TComErrors* AErrors) {
    TComStat stat;
    std::uint32_t errors = 0;
    if (const TOsError error = Platform().ClearCommError(FHandle, errors, &stat))
        RaiseOsError(cpeClearCommError, error);
    if (AErrors != nullptr) {
        TComErrors set;
        if (errors & CommError::Frame) set.Include(ceFrame);
        if ((errors & CommError::RxParity) && FParity->Check()) set.Include(ceRxParity);
        if (errors & CommError::Overrun) set.Include(ceOverrun);
        if (errors & CommError::RxOver) set.Include(ceRxOver);
        if (errors & CommError::TxFull) set.Include(ceTxFull);
        if (errors & CommError::Break) set.Include(ceBreak);
        if (errors & CommError::IOE) set.Include(ceIO);
        if (errors & CommError::Mode) set.Include(ceMode);
        *AErrors = set;
    }
    return stat;
}

std::int32_t TCustomComPort::InputCount() {
    if (FInputCountNotSupported) return 0;
    return static_cast<std::int32_t>(QueryStatus(nullptr).cbInQue);
}

std::int32_t TCustomComPort::OutputCount() {
    return static_cast<std::int32_t>(QueryStatus(nullptr).cbOutQue);
}

TComStateFlags TCustomComPort::StateFlags() {
    return TComStateFlags::FromBits(static_cast<std::uint8_t>(QueryStatus(nullptr).Flags & 0xFF));
}

TComErrors TCustomComPort::LastErrors() {
    TComErrors errors;
    QueryStatus(&errors);
    return errors;
}

TComSignals TCustomComPort::Signals() {
    // Without overlapped access the modem lines are not asked for.
    if (!FOverlapped) return {};
    std::uint32_t status = 0;
    if (const TOsError error = Platform().GetCommModemStatus(FHandle, status))
        RaiseOsError(cpeGetModemStatus, error);
    TComSignals signals;
    if (status & ModemStatus::CtsOn) signals.Include(csCTS);
    if (status & ModemStatus::DsrOn) signals.Include(csDSR);
    if (status & ModemStatus::RingOn) signals.Include(csRing);
    if (status & ModemStatus::RlsdOn) signals.Include(csRLSD);
    return signals;
}

void TCustomComPort::Escape(std::uint32_t AFunction) {
    if (const TOsError error = Platform().EscapeCommFunction(FHandle, AFunction))
        RaiseOsError(cpeEscapeFunction, error);
}

void TCustomComPort::SetDTR(bool AOnOff) {
    Escape(AOnOff ? Esc::SetDtr : Esc::ClrDtr);
}
void TCustomComPort::SetRTS(bool AOnOff) {
    Escape(AOnOff ? Esc::SetRts : Esc::ClrRts);
}
void TCustomComPort::SetXonXoff(bool AOnOff) {
    Escape(AOnOff ? Esc::SetXon : Esc::SetXoff);
}
void TCustomComPort::SetBreak(bool AOnOff) {
    Escape(AOnOff ? Esc::SetBreak : Esc::ClrBreak);
}

void TCustomComPort::Purge(std::uint32_t AFlags) {
    if (const TOsError error = Platform().PurgeComm(FHandle, AFlags))
        RaiseOsError(cpePurgeComm, error);
}

void TCustomComPort::ClearBuffer(bool AInput, bool AOutput) {
    std::uint32_t flags = 0;
    if (AInput) flags |= Purge::RxClear;
    if (AOutput) flags |= Purge::TxClear;
    Purge(flags);
}

void TCustomComPort::AbortAllAsync() {
    if (FOverlapped) Purge(Purge::TxAbort | Purge::RxAbort);
}

void TCustomComPort::TransmitChar(char ACh) {
    if (const TOsError error = Platform().TransmitCommChar(FHandle, ACh))
        RaiseOsError(cpeTransmitChar, error);
}

void TCustomComPort::WaitForEvent(TComEvents& AEvents, THandle AStopEvent, std::int32_t ATimeout) {
    if (FThreadCreated) throw EComPort::CreateNoWinCode(cpeWaitWithThread);
    TComPlatform& platform = Platform();
    TOverlapped overlapped;
    if (const TOsError error = platform.CreateEventW(true, false, overlapped.hEvent))
        RaiseOsError(cpeWaitForEvent, error);
    TEventGuard eventGuard(overlapped.hEvent);
    THandle handles[2] = {overlapped.hEvent, AStopEvent};
    const std::uint32_t handleCount = AStopEvent != 0 ? 2 : 1;

    platform.SetCommMask(FHandle, EventsToMask(AEvents));
    std::uint32_t mask = 0;
    TOsError error = WinError::IoPending;
    // Without overlapped access the device's wait blocks its caller until an event comes. It
    // runs on a thread of its own, so that this one can honour the timeout and the stop event,
    // and tells of its end through the record's event.
    std::future<TOsError> blocking;
    if (FOverlapped) {
        error = platform.WaitCommEvent(FHandle, &mask, &overlapped);
    } else {
        try {
            blocking =
                std::async(std::launch::async, [&platform, &mask, &overlapped, handle = FHandle] {
                    const TOsError result = platform.WaitCommEvent(handle, &mask, &overlapped);
                    if (result != WinError::IoPending) platform.SetEvent(overlapped.hEvent);
                    return result;
                });
        } catch (const std::system_error& e) {
            error = static_cast<TOsError>(e.code().value());
        }
    }
    if (error != WinError::Success && error != WinError::IoPending)
        RaiseOsError(cpeWaitForEvent, error);
    std::uint32_t result = Wait::Failed;
    error = platform.WaitForMultipleObjects(handleCount, handles, false,
                                            static_cast<std::uint32_t>(ATimeout), result);
    bool ended =
        error == WinError::Success &&
        (result == Wait::Object0 || result == Wait::Object0 + 1 || result == Wait::Timeout);
    if (error == WinError::Success && !ended) error = WinError::InvalidHandle;
    bool pending = true; // the device's wait ran, or runs, in the background
    if (blocking.valid()) {
        // A wait still blocked in the device is cancelled: the mask cannot end it, since
        // Windows holds every other call on such a device back until it returns. It may not
        // have begun yet, hence the repeats.
        while (blocking.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            platform.CancelIoEx(FHandle, nullptr);
            blocking.wait_for(std::chrono::milliseconds(10));
        }
        const TOsError started = blocking.get();
        // Wine alone returns at once and lets the wait run on as if it were overlapped.
        pending = started == WinError::IoPending;
        if (!pending && started != WinError::Success &&
            (started != WinError::OperationAborted || result == Wait::Object0)) {
            ended = false;
            error = started;
        }
    }
    platform.SetCommMask(FHandle, 0);
    if (pending && result != Wait::Object0) {
        // The new mask ends the device's wait, which then writes into mask: wait for that
        // before mask and the record go out of scope.
        std::uint32_t ignored = 0;
        platform.GetOverlappedResult(FHandle, &overlapped, ignored, true);
    }
    if (!ended) RaiseOsError(cpeWaitForEvent, error);
    AEvents = MaskToEvents(mask);
}

} // namespace cport
