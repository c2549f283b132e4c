#include "Platform.h"

#include "Device.h"
#include "Events.h"
#include "HandleTable.h"
#include "Ports.h"
#include "Text.h"
#include "platform/posix/store/Registry.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace cport {

namespace {

struct TWindowsText {
    TOsError Error;
    const char* Text;
};

// The codes with Windows values that this layer reports (see ComPlatform.h) speak as on
// Windows; 6 is also ENXIO, which no operation but opening reports, and opening leaves its
// own reason.
constexpr std::array<TWindowsText, 8> WindowsTexts = {{
    {WinError::InvalidHandle, "The handle is invalid"},
    {WinError::MoreData, "More data is available"},
    {Wait::Timeout, "The wait operation timed out"},
    {WinError::NoMoreItems, "No more data is available"},
    {WinError::OperationAborted, "The I/O operation has been aborted because of either a thread "
                                 "exit or an application request"},
    {WinError::IoIncomplete, "Overlapped I/O event is not in a signaled state"},
    {WinError::IoPending, "Overlapped I/O operation is in progress"},
    {WinError::NotFound, "Element not found"},
}};

} // namespace

TPosixComPlatform::TPosixComPlatform()
    : FHandles(std::make_unique<THandleTable>())
    , FKeys(std::make_unique<TRegistryKeys>()) {}

TPosixComPlatform::~TPosixComPlatform() = default;

TComPlatform& TComPlatform::Native() {
    // Never destroyed: event threads of ports in static objects may still use it at exit.
    static TPosixComPlatform* const platform = new TPosixComPlatform();
    return *platform;
}

// --- Serial devices -------------------------------------------------------------------------

template <typename... TParams, typename... TArgs>
TOsError TPosixComPlatform::OnDevice(THandle AHandle, TOsError (TDevice::*AOperation)(TParams...),
                                     TArgs&&... AArgs) {
    const std::shared_ptr<TDevice>* device = nullptr;
    if (const TOsError error = FHandles->Lookup(AHandle, device)) return error;
    return ((**device).*AOperation)(std::forward<TArgs>(AArgs)...);
}

TOsError TPosixComPlatform::RecordEvent(const TOverlapped* AOverlapped,
                                        const std::shared_ptr<TEvent>*& AEvent) {
    static const std::shared_ptr<TEvent> none;
    AEvent = &none;
    if (AOverlapped == nullptr || AOverlapped->hEvent == 0) return 0;
    return FHandles->Lookup(AOverlapped->hEvent, AEvent);
}

TOsError TPosixComPlatform::CreateFileW(const std::string& APath, bool AOverlapped,
                                        THandle& AHandle) {
    AHandle = InvalidHandle;
    ClearErrorReason();
    std::shared_ptr<TDevice> device;
    if (const TOsError error = TDevice::Open(APath, AOverlapped, device)) return error;
    AHandle = FHandles->Add(std::move(device));
    return 0;
}

TOsError TPosixComPlatform::CloseHandle(THandle AHandle) {
    return FHandles->Close(AHandle);
}

TOsError TPosixComPlatform::SetupComm(THandle AHandle, std::uint32_t AInQueue,
                                      std::uint32_t AOutQueue) {
    return OnDevice(AHandle, &TDevice::SetupComm, AInQueue, AOutQueue);
}

TOsError TPosixComPlatform::GetCommState(THandle AHandle, TDCB& ADcb) {
    return OnDevice(AHandle, &TDevice::GetState, ADcb);
}

TOsError TPosixComPlatform::SetCommState(THandle AHandle, const TDCB& ADcb) {
    ClearErrorReason();
    return OnDevice(AHandle, &TDevice::SetState, ADcb);
}

TOsError TPosixComPlatform::GetCommTimeouts(THandle AHandle, TCommTimeouts& ATimeouts) {
    return OnDevice(AHandle, &TDevice::GetTimeouts, ATimeouts);
}

TOsError TPosixComPlatform::SetCommTimeouts(THandle AHandle, const TCommTimeouts& ATimeouts) {
    return OnDevice(AHandle, &TDevice::SetTimeouts, ATimeouts);
}

TOsError TPosixComPlatform::GetCommMask(THandle AHandle, std::uint32_t& AMask) {
    return OnDevice(AHandle, &TDevice::GetMask, AMask);
}

TOsError TPosixComPlatform::SetCommMask(THandle AHandle, std::uint32_t AMask) {
    return OnDevice(AHandle, &TDevice::SetMask, AMask);
}

TOsError TPosixComPlatform::WaitCommEvent(THandle AHandle, std::uint32_t* AEvtMask,
                                          TOverlapped* AOverlapped) {
    const std::shared_ptr<TEvent>* event = nullptr;
    if (const TOsError error = RecordEvent(AOverlapped, event)) return error;
    return OnDevice(AHandle, &TDevice::WaitEvent, AEvtMask, AOverlapped, *event);
}

TOsError TPosixComPlatform::ReadFile(THandle AHandle, void* ABuffer, std::uint32_t ACount,
                                     std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    const std::shared_ptr<TEvent>* event = nullptr;
    if (const TOsError error = RecordEvent(AOverlapped, event)) return error;
    return OnDevice(AHandle, &TDevice::Read, ABuffer, ACount, ATransferred, AOverlapped, *event);
}

TOsError TPosixComPlatform::WriteFile(THandle AHandle, const void* ABuffer, std::uint32_t ACount,
                                      std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    const std::shared_ptr<TEvent>* event = nullptr;
    if (const TOsError error = RecordEvent(AOverlapped, event)) return error;
    return OnDevice(AHandle, &TDevice::Write, ABuffer, ACount, ATransferred, AOverlapped, *event);
}

TOsError TPosixComPlatform::GetOverlappedResult(THandle AHandle, TOverlapped* AOverlapped,
                                                std::uint32_t& ATransferred, bool AWait) {
    ATransferred = 0;
    if (AOverlapped == nullptr) return EINVAL;
    const std::shared_ptr<TDevice>* found = nullptr;
    if (const TOsError error = FHandles->Lookup(AHandle, found)) return error;
    TDevice& device = **found;
    bool pending = false;
    TOsError result = device.Outcome(AOverlapped, ATransferred, pending);
    if (!pending || !AWait) return pending ? WinError::IoIncomplete : result;
    const std::shared_ptr<TEvent>* event = nullptr;
    if (const TOsError error = RecordEvent(AOverlapped, event)) return error;
    if (*event) {
        std::uint32_t signalled = 0;
        if (const TOsError error = WaitForEvents({*event}, false, Wait::Infinite, signalled))
            return error;
    } else if (const TOsError error = device.AwaitRecord(AOverlapped)) {
        return error;
    }
    // Someone else may have set the event: the operation can still run, as on Windows.
    result = device.Outcome(AOverlapped, ATransferred, pending);
    return pending ? WinError::IoIncomplete : result;
}

TOsError TPosixComPlatform::ClearCommError(THandle AHandle, std::uint32_t& AErrors,
                                           TComStat* AStat) {
    return OnDevice(AHandle, &TDevice::ClearError, AErrors, AStat);
}

TOsError TPosixComPlatform::PurgeComm(THandle AHandle, std::uint32_t AFlags) {
    return OnDevice(AHandle, &TDevice::Purge, AFlags);
}

TOsError TPosixComPlatform::EscapeCommFunction(THandle AHandle, std::uint32_t AFunction) {
    return OnDevice(AHandle, &TDevice::Escape, AFunction);
}

TOsError TPosixComPlatform::GetCommModemStatus(THandle AHandle, std::uint32_t& AStatus) {
    return OnDevice(AHandle, &TDevice::ModemStatus, AStatus);
}

TOsError TPosixComPlatform::TransmitCommChar(THandle AHandle, char AChar) {
    return OnDevice(AHandle, &TDevice::TransmitChar, AChar);
}

TOsError TPosixComPlatform::CancelIoEx(THandle AHandle, TOverlapped* AOverlapped) {
    return OnDevice(AHandle, &TDevice::Cancel, AOverlapped);
}

// --- Events, waits and threads --------------------------------------------------------------

TOsError TPosixComPlatform::CreateEventW(bool AManualReset, bool AInitialState, THandle& AEvent) {
    AEvent = 0;
    std::shared_ptr<TEvent> event;
    if (const TOsError error = TEvent::Create(AManualReset, AInitialState, event)) return error;
    AEvent = FHandles->Add(std::move(event));
    return 0;
}

TOsError TPosixComPlatform::SetEvent(THandle AEvent) {
    std::shared_ptr<TEvent> event;
    if (const TOsError error = FHandles->Find(AEvent, event)) return error;
    event->Set();
    return 0;
}

TOsError TPosixComPlatform::ResetEvent(THandle AEvent) {
    std::shared_ptr<TEvent> event;
    if (const TOsError error = FHandles->Find(AEvent, event)) return error;
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
        if (const TOsError error = FHandles->Find(AHandles[i], events[i])) return error;
    return WaitForEvents(events, AWaitAll, ATimeout, AResult);
}

std::unique_ptr<TEventWait> TPosixComPlatform::WatchEvent(THandle AEvent,
                                                          std::function<void()> AWake) {
    std::shared_ptr<TEvent> event;
    if (FHandles->Find(AEvent, event) != 0) return nullptr;
    return WatchEventWait(std::move(event), std::move(AWake));
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

// --- Text -----------------------------------------------------------------------------------

int TPosixComPlatform::CompareStringW(const std::string& A, const std::string& B,
                                      bool AIgnoreCase) {
    const std::wstring a = AIgnoreCase ? FoldCase(A) : DecodeUtf8(A);
    const std::wstring b = AIgnoreCase ? FoldCase(B) : DecodeUtf8(B);
    const int order = std::wcscoll(a.c_str(), b.c_str());
    if (order < 0) return CompareResult::LessThan;
    return order == 0 ? CompareResult::Equal : CompareResult::GreaterThan;
}

// --- Ports as people know them -------------------------------------------------------------

bool TPosixComPlatform::DescribeComPort(const std::string& /*AValueName*/, const std::string& APort,
                                        std::string& ADescription, std::string& AIdentity) {
    DescribePort(APort, ADescription, AIdentity);
    return true;
}

std::string OsErrorText(TOsError AError) {
    for (const TWindowsText& text : WindowsTexts)
        if (text.Error == AError) return text.Text;
    char buffer[256];
    // The GNU strerror_r: in the user's language where the program has set its locale.
    return ::strerror_r(static_cast<int>(AError), buffer, sizeof buffer);
}

bool IsDeviceGoneError(TOsError AError) {
    return AError == static_cast<TOsError>(EIO);
}

} // namespace cport
