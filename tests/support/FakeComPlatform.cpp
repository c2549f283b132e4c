#include "FakeComPlatform.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace cport::test {

namespace {
// Internal marks an operation that still runs, as the Windows status STATUS_PENDING does.
constexpr std::uintptr_t PendingStatus = 0x103;

bool IsEventOrWait(const std::string& AName) {
    return AName == "CreateEventW" || AName == "SetEvent" || AName == "ResetEvent" ||
           AName == "WaitForMultipleObjects" || AName == "CloseEvent" || AName == "Sleep" ||
           AName == "SetCurrentThreadPriority";
}
} // namespace

TFakeComPlatform::TFakeComPlatform(TComPlatform* AStore)
    : FStore(AStore != nullptr ? *AStore : Native()) {}
TFakeComPlatform::~TFakeComPlatform() = default;

std::vector<TFakeComPlatform::TCall> TFakeComPlatform::Calls() const {
    std::lock_guard lock(FLock);
    return FCalls;
}

std::vector<std::string> TFakeComPlatform::DeviceCallNames() const {
    std::lock_guard lock(FLock);
    std::vector<std::string> names;
    for (const TCall& call : FCalls)
        if (!IsEventOrWait(call.Name)) names.push_back(call.Name);
    return names;
}

std::vector<TFakeComPlatform::TCall> TFakeComPlatform::CallsNamed(const std::string& AName) const {
    std::lock_guard lock(FLock);
    std::vector<TCall> calls;
    for (const TCall& call : FCalls)
        if (call.Name == AName) calls.push_back(call);
    return calls;
}

int TFakeComPlatform::CountCalls(const std::string& AName) const {
    return static_cast<int>(CallsNamed(AName).size());
}

void TFakeComPlatform::ClearCalls() {
    std::lock_guard lock(FLock);
    FCalls.clear();
}

void TFakeComPlatform::Receive(const std::string& ABytes) {
    std::lock_guard lock(FLock);
    FInput += ABytes;
    for (auto& [handle, device] : FDevices)
        ServeReadsLocked(device);
}

std::string TFakeComPlatform::Written() const {
    std::lock_guard lock(FLock);
    return FWritten;
}

void TFakeComPlatform::SetReadsWait(bool AValue) {
    std::lock_guard lock(FLock);
    FReadsWait = AValue;
}

void TFakeComPlatform::SetWritesWait(bool AValue) {
    std::lock_guard lock(FLock);
    FWritesWait = AValue;
}

void TFakeComPlatform::CompleteWrites(std::uint32_t AMaxBytes) {
    std::lock_guard lock(FLock);
    for (auto& [handle, device] : FDevices) {
        for (TPendingWrite& write : device.Writes) {
            const auto n =
                static_cast<std::uint32_t>(std::min<std::size_t>(write.Bytes.size(), AMaxBytes));
            FWritten += write.Bytes.substr(0, n);
            Complete(write.Overlapped, WinError::Success, n);
        }
        device.Writes.clear();
    }
}

void TFakeComPlatform::SetInputCount(std::int64_t ACount) {
    std::lock_guard lock(FLock);
    FInputCount = ACount;
}

void TFakeComPlatform::SetOutputCount(std::uint32_t ACount) {
    std::lock_guard lock(FLock);
    FOutputCount = ACount;
}

void TFakeComPlatform::SetModemStatus(std::uint32_t AStatus) {
    std::lock_guard lock(FLock);
    FModemStatus = AStatus;
}

void TFakeComPlatform::AddCommErrors(std::uint32_t AErrors) {
    std::lock_guard lock(FLock);
    FCommErrors |= AErrors;
}

void TFakeComPlatform::SetStatFlags(std::uint32_t AFlags) {
    std::lock_guard lock(FLock);
    FStatFlags = AFlags;
}

void TFakeComPlatform::SignalCommEvent(std::uint32_t AMask) {
    std::lock_guard lock(FLock);
    for (auto& [handle, device] : FDevices) {
        const std::uint32_t events = AMask & device.CommMask;
        if (events == 0) continue;
        if (device.WaitOverlapped != nullptr) {
            *device.WaitMask = events;
            Complete(device.WaitOverlapped, WinError::Success, 0);
            device.WaitOverlapped = nullptr;
            device.WaitMask = nullptr;
        } else {
            device.History |= events;
        }
    }
}

std::vector<THandle> TFakeComPlatform::OpenDevices() const {
    std::lock_guard lock(FLock);
    std::vector<THandle> handles;
    for (const auto& [handle, device] : FDevices)
        handles.push_back(handle);
    return handles;
}

std::uint32_t TFakeComPlatform::CommMask() const {
    std::lock_guard lock(FLock);
    return FDevices.empty() ? 0 : FDevices.begin()->second.CommMask;
}

bool TFakeComPlatform::WaitCommEventPending() const {
    std::lock_guard lock(FLock);
    for (const auto& [handle, device] : FDevices)
        if (device.WaitOverlapped != nullptr) return true;
    return false;
}

bool TFakeComPlatform::WaitUntilCommWaitPending(std::chrono::milliseconds ATimeout) const {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, ATimeout, [this] {
        for (const auto& [handle, device] : FDevices)
            if (device.WaitOverlapped != nullptr) return true;
        return false;
    });
}

bool TFakeComPlatform::WaitForCall(const std::string& AName, std::chrono::milliseconds ATimeout,
                                   int ACount) const {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, ATimeout, [&] {
        return std::count_if(FCalls.begin(), FCalls.end(),
                             [&](const TCall& ACall) { return ACall.Name == AName; }) >= ACount;
    });
}

std::size_t TFakeComPlatform::LiveEvents() const {
    std::lock_guard lock(FLock);
    return FEvents.size();
}

// --- Internals --------------------------------------------------------------------------------

TOsError TFakeComPlatform::Enter(TCall ACall) {
    const std::string name = ACall.Name;
    FCalls.push_back(std::move(ACall));
    FChanged.notify_all();
    return InjectedFailure(name);
}

TFakeComPlatform::TDevice* TFakeComPlatform::FindDevice(THandle AHandle) {
    auto it = FDevices.find(AHandle);
    return it == FDevices.end() ? nullptr : &it->second;
}

void TFakeComPlatform::StartOperation(TOverlapped* AOverlapped) {
    AOverlapped->Internal = PendingStatus;
    AOverlapped->InternalHigh = 0;
    auto event = FEvents.find(AOverlapped->hEvent);
    if (event != FEvents.end()) event->second.Signalled = false;
}

void TFakeComPlatform::Complete(TOverlapped* AOverlapped, TOsError AError, std::uint32_t ACount) {
    AOverlapped->Internal = AError;
    AOverlapped->InternalHigh = ACount;
    SignalLocked(AOverlapped->hEvent);
}

void TFakeComPlatform::SignalLocked(THandle AEvent) {
    auto event = FEvents.find(AEvent);
    if (event == FEvents.end()) return;
    event->second.Signalled = true;
    FChanged.notify_all();
}

void TFakeComPlatform::ServeReadsLocked(TDevice& ADevice) {
    while (!ADevice.Reads.empty() && !FInput.empty()) {
        TPendingRead read = ADevice.Reads.front();
        ADevice.Reads.pop_front();
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(read.Count, FInput.size()));
        std::memcpy(read.Buffer, FInput.data(), n);
        FInput.erase(0, n);
        Complete(read.Overlapped, WinError::Success, n);
    }
}

std::uint32_t TFakeComPlatform::InputCountLocked() const {
    return FInputCount >= 0 ? static_cast<std::uint32_t>(FInputCount)
                            : static_cast<std::uint32_t>(FInput.size());
}

// --- Devices ----------------------------------------------------------------------------------

TOsError TFakeComPlatform::CreateFileW(const std::string& APath, bool AOverlapped,
                                       THandle& AHandle) {
    std::lock_guard lock(FLock);
    AHandle = InvalidHandle;
    TCall call{"CreateFileW"};
    call.Text = APath;
    call.Arg1 = AOverlapped ? 1 : 0;
    if (TOsError e = Enter(call)) return e;
    AHandle = ++FNextHandle;
    FDevices[AHandle].Overlapped = AOverlapped;
    return WinError::Success;
}

TOsError TFakeComPlatform::CloseHandle(THandle AHandle) {
    std::lock_guard lock(FLock);
    if (FEvents.erase(AHandle) > 0) {
        FCalls.push_back(TCall{"CloseEvent", AHandle});
        return WinError::Success;
    }
    if (TOsError e = Enter(TCall{"CloseHandle", AHandle})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    // Closing a handle ends what still runs on it, as Windows does.
    for (TPendingRead& read : device->Reads)
        Complete(read.Overlapped, WinError::OperationAborted, 0);
    for (TPendingWrite& write : device->Writes)
        Complete(write.Overlapped, WinError::OperationAborted, 0);
    if (device->WaitOverlapped != nullptr)
        Complete(device->WaitOverlapped, WinError::OperationAborted, 0);
    FDevices.erase(AHandle);
    return WinError::Success;
}

TOsError TFakeComPlatform::SetupComm(THandle AHandle, std::uint32_t AInQueue,
                                     std::uint32_t AOutQueue) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"SetupComm", AHandle, AInQueue, AOutQueue})) return e;
    return FindDevice(AHandle) != nullptr ? WinError::Success : WinError::InvalidHandle;
}

TOsError TFakeComPlatform::GetCommState(THandle AHandle, TDCB& ADcb) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"GetCommState", AHandle})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    ADcb = device->Dcb;
    return WinError::Success;
}

TOsError TFakeComPlatform::SetCommState(THandle AHandle, const TDCB& ADcb) {
    std::lock_guard lock(FLock);
    TCall call{"SetCommState", AHandle};
    call.Dcb = ADcb;
    if (TOsError e = Enter(call)) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    device->Dcb = ADcb;
    return WinError::Success;
}

TOsError TFakeComPlatform::GetCommTimeouts(THandle AHandle, TCommTimeouts& ATimeouts) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"GetCommTimeouts", AHandle})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    ATimeouts = device->Timeouts;
    return WinError::Success;
}

TOsError TFakeComPlatform::SetCommTimeouts(THandle AHandle, const TCommTimeouts& ATimeouts) {
    std::lock_guard lock(FLock);
    TCall call{"SetCommTimeouts", AHandle};
    call.Timeouts = ATimeouts;
    if (TOsError e = Enter(call)) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    device->Timeouts = ATimeouts;
    return WinError::Success;
}

TOsError TFakeComPlatform::GetCommMask(THandle AHandle, std::uint32_t& AMask) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"GetCommMask", AHandle})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    AMask = device->CommMask;
    return WinError::Success;
}

TOsError TFakeComPlatform::SetCommMask(THandle AHandle, std::uint32_t AMask) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"SetCommMask", AHandle, AMask})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    device->CommMask = AMask;
    device->History = 0;
    // A new mask ends a pending wait, which then reports no events.
    if (device->WaitOverlapped != nullptr) {
        *device->WaitMask = 0;
        Complete(device->WaitOverlapped, WinError::Success, 0);
        device->WaitOverlapped = nullptr;
        device->WaitMask = nullptr;
    }
    return WinError::Success;
}

TOsError TFakeComPlatform::WaitCommEvent(THandle AHandle, std::uint32_t* AEvtMask,
                                         TOverlapped* AOverlapped) {
    std::unique_lock lock(FLock);
    if (TOsError e = Enter(TCall{"WaitCommEvent", AHandle})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    if (AOverlapped == nullptr || device->WaitOverlapped != nullptr)
        return WinError::InvalidParameter;
    StartOperation(AOverlapped);
    if (device->History != 0) {
        *AEvtMask = device->History;
        device->History = 0;
        Complete(AOverlapped, WinError::Success, 0);
        return WinError::Success;
    }
    device->WaitMask = AEvtMask;
    device->WaitOverlapped = AOverlapped;
    FChanged.notify_all();
    return WinError::IoPending;
}

TOsError TFakeComPlatform::ReadFile(THandle AHandle, void* ABuffer, std::uint32_t ACount,
                                    std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"ReadFile", AHandle, ACount})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(ACount, FInput.size()));
    if (AOverlapped == nullptr) {
        std::memcpy(ABuffer, FInput.data(), n);
        FInput.erase(0, n);
        if (ATransferred != nullptr) *ATransferred = n;
        return WinError::Success;
    }
    StartOperation(AOverlapped);
    if (n == 0 && FReadsWait && ACount > 0) {
        device->Reads.push_back({AOverlapped, static_cast<char*>(ABuffer), ACount});
        return WinError::IoPending;
    }
    std::memcpy(ABuffer, FInput.data(), n);
    FInput.erase(0, n);
    Complete(AOverlapped, WinError::Success, n);
    if (ATransferred != nullptr) *ATransferred = n;
    return WinError::Success;
}

TOsError TFakeComPlatform::WriteFile(THandle AHandle, const void* ABuffer, std::uint32_t ACount,
                                     std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    std::lock_guard lock(FLock);
    TCall call{"WriteFile", AHandle, ACount};
    call.Text.assign(static_cast<const char*>(ABuffer), ACount);
    if (TOsError e = Enter(call)) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    if (AOverlapped == nullptr) {
        FWritten += call.Text;
        if (ATransferred != nullptr) *ATransferred = ACount;
        return WinError::Success;
    }
    StartOperation(AOverlapped);
    if (FWritesWait) {
        device->Writes.push_back({AOverlapped, call.Text});
        return WinError::IoPending;
    }
    FWritten += call.Text;
    Complete(AOverlapped, WinError::Success, ACount);
    if (ATransferred != nullptr) *ATransferred = ACount;
    return WinError::Success;
}

TOsError TFakeComPlatform::GetOverlappedResult(THandle AHandle, TOverlapped* AOverlapped,
                                               std::uint32_t& ATransferred, bool AWait) {
    std::unique_lock lock(FLock);
    if (TOsError e = Enter(TCall{"GetOverlappedResult", AHandle, AWait ? 1u : 0u})) return e;
    if (AWait) FChanged.wait(lock, [&] { return AOverlapped->Internal != PendingStatus; });
    if (AOverlapped->Internal == PendingStatus) return WinError::IoIncomplete;
    ATransferred = static_cast<std::uint32_t>(AOverlapped->InternalHigh);
    return static_cast<TOsError>(AOverlapped->Internal);
}

TOsError TFakeComPlatform::ClearCommError(THandle AHandle, std::uint32_t& AErrors,
                                          TComStat* AStat) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"ClearCommError", AHandle})) return e;
    if (FindDevice(AHandle) == nullptr) return WinError::InvalidHandle;
    AErrors = FCommErrors;
    FCommErrors = 0;
    if (AStat != nullptr) {
        AStat->Flags = FStatFlags;
        AStat->cbInQue = InputCountLocked();
        AStat->cbOutQue = FOutputCount;
    }
    return WinError::Success;
}

TOsError TFakeComPlatform::PurgeComm(THandle AHandle, std::uint32_t AFlags) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"PurgeComm", AHandle, AFlags})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    if (AFlags & Purge::RxAbort) {
        for (TPendingRead& read : device->Reads)
            Complete(read.Overlapped, WinError::OperationAborted, 0);
        device->Reads.clear();
    }
    if (AFlags & Purge::TxAbort) {
        for (TPendingWrite& write : device->Writes)
            Complete(write.Overlapped, WinError::OperationAborted, 0);
        device->Writes.clear();
    }
    if (AFlags & Purge::RxClear) FInput.clear();
    return WinError::Success;
}

TOsError TFakeComPlatform::EscapeCommFunction(THandle AHandle, std::uint32_t AFunction) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"EscapeCommFunction", AHandle, AFunction})) return e;
    return FindDevice(AHandle) != nullptr ? WinError::Success : WinError::InvalidHandle;
}

TOsError TFakeComPlatform::GetCommModemStatus(THandle AHandle, std::uint32_t& AStatus) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"GetCommModemStatus", AHandle})) return e;
    if (FindDevice(AHandle) == nullptr) return WinError::InvalidHandle;
    AStatus = FModemStatus;
    return WinError::Success;
}

TOsError TFakeComPlatform::TransmitCommChar(THandle AHandle, char AChar) {
    std::lock_guard lock(FLock);
    TCall call{"TransmitCommChar", AHandle, static_cast<unsigned char>(AChar)};
    if (TOsError e = Enter(call)) return e;
    if (FindDevice(AHandle) == nullptr) return WinError::InvalidHandle;
    FWritten += AChar;
    return WinError::Success;
}

TOsError TFakeComPlatform::CancelIoEx(THandle AHandle, TOverlapped* AOverlapped) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"CancelIoEx", AHandle})) return e;
    TDevice* device = FindDevice(AHandle);
    if (device == nullptr) return WinError::InvalidHandle;
    // The event wait only: the tests end reads and writes with a purge.
    TOverlapped* const wait = device->WaitOverlapped;
    if (wait == nullptr || (AOverlapped != nullptr && AOverlapped != wait))
        return WinError::NotFound;
    Complete(wait, WinError::OperationAborted, 0);
    device->WaitOverlapped = nullptr;
    device->WaitMask = nullptr;
    return WinError::Success;
}

// --- Events and waits -------------------------------------------------------------------------

TOsError TFakeComPlatform::CreateEventW(bool AManualReset, bool AInitialState, THandle& AEvent) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"CreateEventW", InvalidHandle, AManualReset, AInitialState}))
        return e;
    AEvent = ++FNextHandle;
    FEvents[AEvent] = TEvent{AManualReset, AInitialState};
    return WinError::Success;
}

TOsError TFakeComPlatform::SetEvent(THandle AEvent) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"SetEvent", AEvent})) return e;
    if (FEvents.count(AEvent) == 0) return WinError::InvalidHandle;
    SignalLocked(AEvent);
    return WinError::Success;
}

TOsError TFakeComPlatform::ResetEvent(THandle AEvent) {
    std::lock_guard lock(FLock);
    if (TOsError e = Enter(TCall{"ResetEvent", AEvent})) return e;
    auto event = FEvents.find(AEvent);
    if (event == FEvents.end()) return WinError::InvalidHandle;
    event->second.Signalled = false;
    return WinError::Success;
}

TOsError TFakeComPlatform::WaitForMultipleObjects(std::uint32_t ACount, const THandle* AHandles,
                                                  bool AWaitAll, std::uint32_t ATimeout,
                                                  std::uint32_t& AResult) {
    std::unique_lock lock(FLock);
    AResult = Wait::Failed;
    if (TOsError e = Enter(TCall{"WaitForMultipleObjects", InvalidHandle, ACount, ATimeout}))
        return e;
    for (std::uint32_t i = 0; i < ACount; ++i)
        if (FEvents.count(AHandles[i]) == 0) return WinError::InvalidHandle;
    // Index of the first signalled event, ACount for all of them with AWaitAll, or -1.
    auto ready = [&]() -> std::int64_t {
        std::uint32_t signalled = 0;
        for (std::uint32_t i = 0; i < ACount; ++i) {
            auto event = FEvents.find(AHandles[i]);
            if (event == FEvents.end()) return -2; // closed while waiting
            if (event->second.Signalled) {
                if (!AWaitAll) return i;
                ++signalled;
            }
        }
        return AWaitAll && signalled == ACount ? 0 : -1;
    };
    std::int64_t index = -1;
    auto done = [&] { return (index = ready()) != -1; };
    if (ATimeout == Wait::Infinite)
        FChanged.wait(lock, done);
    else
        FChanged.wait_for(lock, std::chrono::milliseconds(ATimeout), done);
    if (index == -2) return WinError::InvalidHandle;
    if (index < 0) {
        AResult = Wait::Timeout;
        return WinError::Success;
    }
    // An auto-reset event is consumed by the wait it ends.
    for (std::uint32_t i = 0; i < ACount; ++i) {
        TEvent& event = FEvents[AHandles[i]];
        if (!event.ManualReset && (AWaitAll || i == index)) event.Signalled = false;
    }
    AResult = Wait::Object0 + static_cast<std::uint32_t>(index);
    return WinError::Success;
}

void TFakeComPlatform::Sleep(std::uint32_t AMilliseconds) {
    {
        std::lock_guard lock(FLock);
        FCalls.push_back(TCall{"Sleep", InvalidHandle, AMilliseconds});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(AMilliseconds));
}

TOsError TFakeComPlatform::SetCurrentThreadPriority(int APriority) {
    std::lock_guard lock(FLock);
    return Enter(TCall{"SetCurrentThreadPriority", InvalidHandle,
                       static_cast<std::uint64_t>(static_cast<std::int64_t>(APriority))});
}

// --- Registry, profile files and text: the native implementation, with failures injectable ---

TOsError TFakeComPlatform::RegCreateKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    {
        std::lock_guard lock(FLock);
        TCall call{"RegCreateKeyExW", AKey};
        call.Text = ASubKey;
        if (TOsError e = Enter(call)) return e;
    }
    return FStore.RegCreateKeyExW(AKey, ASubKey, AResult);
}

TOsError TFakeComPlatform::RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    {
        std::lock_guard lock(FLock);
        TCall call{"RegOpenKeyExW", AKey};
        call.Text = ASubKey;
        if (TOsError e = Enter(call)) return e;
    }
    return FStore.RegOpenKeyExW(AKey, ASubKey, AResult);
}

TOsError TFakeComPlatform::RegCloseKey(THKey AKey) {
    {
        std::lock_guard lock(FLock);
        if (TOsError e = Enter(TCall{"RegCloseKey", AKey})) return e;
    }
    return FStore.RegCloseKey(AKey);
}

TOsError TFakeComPlatform::RegSetValueExW(THKey AKey, const std::string& AName,
                                          const TRegValue& AValue) {
    {
        std::lock_guard lock(FLock);
        TCall call{"RegSetValueExW", AKey, AValue.Type};
        call.Text = AName;
        if (TOsError e = Enter(call)) return e;
    }
    return FStore.RegSetValueExW(AKey, AName, AValue);
}

TOsError TFakeComPlatform::RegQueryValueExW(THKey AKey, const std::string& AName,
                                            TRegValue& AValue) {
    {
        std::lock_guard lock(FLock);
        TCall call{"RegQueryValueExW", AKey};
        call.Text = AName;
        if (TOsError e = Enter(call)) return e;
    }
    return FStore.RegQueryValueExW(AKey, AName, AValue);
}

TOsError TFakeComPlatform::RegEnumValueW(THKey AKey, std::uint32_t AIndex,
                                         std::size_t AMaxNameChars, std::size_t AMaxDataBytes,
                                         std::string& AName, TRegValue& AValue) {
    {
        std::lock_guard lock(FLock);
        if (TOsError e = Enter(TCall{"RegEnumValueW", AKey, AIndex})) return e;
    }
    return FStore.RegEnumValueW(AKey, AIndex, AMaxNameChars, AMaxDataBytes, AName, AValue);
}

std::string TFakeComPlatform::GetPrivateProfileStringW(const std::string& ASection,
                                                       const std::string& AKey,
                                                       const std::string& ADefault,
                                                       std::size_t ASize,
                                                       const std::string& AFile) {
    {
        std::lock_guard lock(FLock);
        TCall call{"GetPrivateProfileStringW"};
        call.Text = ASection + "/" + AKey;
        FCalls.push_back(call);
    }
    return FStore.GetPrivateProfileStringW(ASection, AKey, ADefault, ASize, AFile);
}

TOsError TFakeComPlatform::WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                                      const std::optional<std::string>& AKey,
                                                      const std::optional<std::string>& AValue,
                                                      const std::string& AFile) {
    {
        std::lock_guard lock(FLock);
        TCall call{"WritePrivateProfileStringW"};
        call.Text = ASection.value_or("") + "/" + AKey.value_or("");
        if (TOsError e = Enter(call)) return e;
    }
    return FStore.WritePrivateProfileStringW(ASection, AKey, AValue, AFile);
}

int TFakeComPlatform::CompareStringW(const std::string& A, const std::string& B, bool AIgnoreCase) {
    return FStore.CompareStringW(A, B, AIgnoreCase);
}

bool TFakeComPlatform::DescribeComPort(const std::string& AValueName, const std::string& APort,
                                       std::string& ADescription, std::string& AIdentity) {
    // The port list comes from the store, and so does what is known of its ports.
    return FStore.DescribeComPort(AValueName, APort, ADescription, AIdentity);
}

} // namespace cport::test
