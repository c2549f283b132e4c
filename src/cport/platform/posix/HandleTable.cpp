#include "HandleTable.h"

#include "Device.h"
#include "Events.h"
#include "Platform.h"

#include <cerrno>
#include <ctime>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace cport {

// --- The handle table -----------------------------------------------------------------------

TPosixDriver::~TPosixDriver() {
    std::unordered_map<THandle, TObject> handles;
    {
        std::lock_guard lock(FLock);
        handles.swap(FHandles);
    }
    for (auto& [handle, object] : handles)
        if (auto* device = std::get_if<std::shared_ptr<TDevice>>(&object)) (*device)->Close();
}

THandle TPosixDriver::AddObject(TObject AObject) {
    std::lock_guard lock(FLock);
    const THandle handle = FNext;
    FNext += 4;
    FHandles.emplace(handle, std::move(AObject));
    return handle;
}

THandle TPosixDriver::Add(std::shared_ptr<TDevice> ADevice) {
    return AddObject(std::move(ADevice));
}

THandle TPosixDriver::Add(std::shared_ptr<TEvent> AEvent) {
    return AddObject(std::move(AEvent));
}

TOsError TPosixDriver::FindDevice(THandle AHandle, std::shared_ptr<TDevice>& ADevice) {
    std::lock_guard lock(FLock);
    const auto entry = FHandles.find(AHandle);
    if (entry == FHandles.end()) return WinError::InvalidHandle;
    auto* device = std::get_if<std::shared_ptr<TDevice>>(&entry->second);
    if (device == nullptr) return WinError::InvalidHandle;
    ADevice = *device;
    return 0;
}

TOsError TPosixDriver::FindEvent(THandle AHandle, std::shared_ptr<TEvent>& AEvent) {
    std::lock_guard lock(FLock);
    const auto entry = FHandles.find(AHandle);
    if (entry == FHandles.end()) return WinError::InvalidHandle;
    auto* event = std::get_if<std::shared_ptr<TEvent>>(&entry->second);
    if (event == nullptr) return WinError::InvalidHandle;
    AEvent = *event;
    return 0;
}

TOsError TPosixDriver::Close(THandle AHandle) {
    TObject object;
    {
        std::lock_guard lock(FLock);
        const auto entry = FHandles.find(AHandle);
        if (entry == FHandles.end()) return WinError::InvalidHandle;
        object = std::move(entry->second);
        FHandles.erase(entry);
    }
    if (auto* device = std::get_if<std::shared_ptr<TDevice>>(&object)) (*device)->Close();
    return 0;
}

// --- Serial devices -------------------------------------------------------------------------

namespace {

// The record's event, if it names one.
TOsError RecordEvent(TPosixDriver& ADriver, const TOverlapped* AOverlapped,
                     std::shared_ptr<TEvent>& AEvent) {
    if (AOverlapped == nullptr || AOverlapped->hEvent == 0) return 0;
    return ADriver.FindEvent(AOverlapped->hEvent, AEvent);
}

} // namespace

TOsError TPosixComPlatform::CreateFileW(const std::string& APath, bool AOverlapped,
                                        THandle& AHandle) {
    AHandle = InvalidHandle;
    ClearErrorReason();
    std::shared_ptr<TDevice> device;
    if (const TOsError error = TDevice::Open(APath, AOverlapped, device)) return error;
    AHandle = FDriver->Add(std::move(device));
    return 0;
}

TOsError TPosixComPlatform::CloseHandle(THandle AHandle) {
    return FDriver->Close(AHandle);
}

TOsError TPosixComPlatform::SetupComm(THandle AHandle, std::uint32_t AInQueue,
                                      std::uint32_t AOutQueue) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->SetupComm(AInQueue, AOutQueue);
}

TOsError TPosixComPlatform::GetCommState(THandle AHandle, TDCB& ADcb) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->GetState(ADcb);
}

TOsError TPosixComPlatform::SetCommState(THandle AHandle, const TDCB& ADcb) {
    ClearErrorReason();
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->SetState(ADcb);
}

TOsError TPosixComPlatform::GetCommTimeouts(THandle AHandle, TCommTimeouts& ATimeouts) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->GetTimeouts(ATimeouts);
}

TOsError TPosixComPlatform::SetCommTimeouts(THandle AHandle, const TCommTimeouts& ATimeouts) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->SetTimeouts(ATimeouts);
}

TOsError TPosixComPlatform::GetCommMask(THandle AHandle, std::uint32_t& AMask) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->GetMask(AMask);
}

TOsError TPosixComPlatform::SetCommMask(THandle AHandle, std::uint32_t AMask) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->SetMask(AMask);
}

TOsError TPosixComPlatform::WaitCommEvent(THandle AHandle, std::uint32_t* AEvtMask,
                                          TOverlapped* AOverlapped) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    std::shared_ptr<TEvent> event;
    if (const TOsError error = RecordEvent(*FDriver, AOverlapped, event)) return error;
    return device->WaitEvent(AEvtMask, AOverlapped, event);
}

TOsError TPosixComPlatform::ReadFile(THandle AHandle, void* ABuffer, std::uint32_t ACount,
                                     std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    std::shared_ptr<TEvent> event;
    if (const TOsError error = RecordEvent(*FDriver, AOverlapped, event)) return error;
    return device->Read(ABuffer, ACount, ATransferred, AOverlapped, event);
}

TOsError TPosixComPlatform::WriteFile(THandle AHandle, const void* ABuffer, std::uint32_t ACount,
                                      std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    std::shared_ptr<TEvent> event;
    if (const TOsError error = RecordEvent(*FDriver, AOverlapped, event)) return error;
    return device->Write(ABuffer, ACount, ATransferred, AOverlapped, event);
}

TOsError TPosixComPlatform::GetOverlappedResult(THandle AHandle, TOverlapped* AOverlapped,
                                                std::uint32_t& ATransferred, bool AWait) {
    ATransferred = 0;
    if (AOverlapped == nullptr) return EINVAL;
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    bool pending = false;
    TOsError result = device->Outcome(AOverlapped, ATransferred, pending);
    if (!pending || !AWait) return pending ? WinError::IoIncomplete : result;
    std::shared_ptr<TEvent> event;
    if (const TOsError error = RecordEvent(*FDriver, AOverlapped, event)) return error;
    if (event) {
        std::uint32_t signalled = 0;
        if (const TOsError error = WaitForEvents({event}, false, Wait::Infinite, signalled))
            return error;
    } else if (const TOsError error = device->AwaitRecord(AOverlapped)) {
        return error;
    }
    // Someone else may have set the event: the operation can still run, as on Windows.
    result = device->Outcome(AOverlapped, ATransferred, pending);
    return pending ? WinError::IoIncomplete : result;
}

TOsError TPosixComPlatform::ClearCommError(THandle AHandle, std::uint32_t& AErrors,
                                           TComStat* AStat) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->ClearError(AErrors, AStat);
}

TOsError TPosixComPlatform::PurgeComm(THandle AHandle, std::uint32_t AFlags) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->Purge(AFlags);
}

TOsError TPosixComPlatform::EscapeCommFunction(THandle AHandle, std::uint32_t AFunction) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->Escape(AFunction);
}

TOsError TPosixComPlatform::GetCommModemStatus(THandle AHandle, std::uint32_t& AStatus) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->ModemStatus(AStatus);
}

TOsError TPosixComPlatform::TransmitCommChar(THandle AHandle, char AChar) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->TransmitChar(AChar);
}

TOsError TPosixComPlatform::CancelIoEx(THandle AHandle, TOverlapped* AOverlapped) {
    std::shared_ptr<TDevice> device;
    if (const TOsError error = FDriver->FindDevice(AHandle, device)) return error;
    return device->Cancel(AOverlapped);
}

// --- Events, waits and threads --------------------------------------------------------------

TOsError TPosixComPlatform::CreateEventW(bool AManualReset, bool AInitialState, THandle& AEvent) {
    AEvent = 0;
    std::shared_ptr<TEvent> event;
    if (const TOsError error = TEvent::Create(AManualReset, AInitialState, event)) return error;
    AEvent = FDriver->Add(std::move(event));
    return 0;
}

TOsError TPosixComPlatform::SetEvent(THandle AEvent) {
    std::shared_ptr<TEvent> event;
    if (const TOsError error = FDriver->FindEvent(AEvent, event)) return error;
    event->Set();
    return 0;
}

TOsError TPosixComPlatform::ResetEvent(THandle AEvent) {
    std::shared_ptr<TEvent> event;
    if (const TOsError error = FDriver->FindEvent(AEvent, event)) return error;
    event->Reset();
    return 0;
}

TOsError TPosixComPlatform::WaitForMultipleObjects(std::uint32_t ACount, const THandle* AHandles,
                                                   bool AWaitAll, std::uint32_t ATimeout,
                                                   std::uint32_t& AResult) {
    AResult = Wait::Failed;
    if (AHandles == nullptr && ACount > 0) return EINVAL;
    std::vector<std::shared_ptr<TEvent>> events(ACount);
    for (std::uint32_t i = 0; i < ACount; ++i)
        if (const TOsError error = FDriver->FindEvent(AHandles[i], events[i])) return error;
    return WaitForEvents(events, AWaitAll, ATimeout, AResult);
}

void TPosixComPlatform::Sleep(std::uint32_t AMilliseconds) {
    if (AMilliseconds == 0) {
        ::sched_yield();
        return;
    }
    timespec left{static_cast<time_t>(AMilliseconds / 1000),
                  static_cast<long>(AMilliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

namespace {

// Windows thread priorities onto nice values. The named levels (idle, lowest, below normal,
// normal, above normal, highest, time critical) are spread over the nice range; the
// levels between them fall in between.
int NiceFor(int APriority) {
    if (APriority >= -2 && APriority <= 2) return -5 * APriority;
    if (APriority < 0) return 10 + (-APriority - 2) * 9 / 13;
    return -10 - (APriority - 2) * 10 / 13;
}

} // namespace

TOsError TPosixComPlatform::SetCurrentThreadPriority(int APriority) {
    if (APriority < -15 || APriority > 15) return EINVAL;
    // On Linux a nice value belongs to a thread, not to the whole process.
    const auto thread = static_cast<id_t>(::gettid());
    if (::setpriority(PRIO_PROCESS, thread, NiceFor(APriority)) != 0)
        return static_cast<TOsError>(errno);
    return 0;
}

} // namespace cport
