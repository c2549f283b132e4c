// The POSIX implementation of the platform layer. Its operations are spread over files by
// concern: Platform.cpp (devices, events, waits, threads: each looks up the device or event
// its handle names in the handle table and passes the call on; text comparison),
// store/Registry.cpp (the registry, with its key handles) and store/Profile.cpp (profile
// files).
//
// Error codes. Success is 0. A failure carries the errno value of the failing call, or one
// chosen to say what Windows would report:
//   EINVAL  an invalid argument: a missing record on an overlapped device, an invalid control
//           block (or a rate the device did not take) or timeouts, an unknown purge flag or
//           escape function, a queue size of 0 or above 64 MiB, a second event wait or one
//           with an empty mask, a wait for 0 or more than 64 objects, a thread priority
//           outside -15..15
//   EBUSY   a device that is open already; a priority byte while the last one is still queued
//   ENOENT  a device that does not exist; ENOTTY: a node that is no terminal
//   EACCES  no permission to open the device, or to raise a thread's priority
//   EIO     a device that is gone (hung up): every later operation that transfers, waits or
//           configures fails so. Those that only report or discard succeed: ClearCommError
//           (the errors before the hang-up, nothing queued or held), GetCommModemStatus (all
//           lines off), PurgeComm (nothing left to purge), and CloseHandle and
//           GetOverlappedResult. So a hang-up fails the first transfer that meets it, and a
//           program that reports that failure does not also report the status queries of its
//           event handlers, or the purge of its close, for the same hang-up.
// A handle that is not open, or that names an event where a device is expected (or the other
// way round), fails with InvalidHandle (6), as on Windows. The conditions the component tests
// for itself have their Windows values too: IoPending (997) for an overlapped operation that
// runs on, IoIncomplete (996) for its outcome asked too early, OperationAborted (995) for an
// operation ended by a purge or by closing the device, and Wait::Timeout (258) as the result of
// a wait.
#pragma once

#include "platform/ComPlatform.h"

#include <memory>

namespace cport {

class TDevice;
class TEvent;
class THandleTable;
class TRegistryKeys;

class TPosixComPlatform final : public TComPlatform {
public:
    TPosixComPlatform();
    ~TPosixComPlatform() override;

    TOsError CreateFileW(const std::string& APath, bool AOverlapped, THandle& AHandle) override;
    TOsError CloseHandle(THandle AHandle) override;
    TOsError SetupComm(THandle AHandle, std::uint32_t AInQueue, std::uint32_t AOutQueue) override;
    TOsError GetCommState(THandle AHandle, TDCB& ADcb) override;
    TOsError SetCommState(THandle AHandle, const TDCB& ADcb) override;
    TOsError GetCommTimeouts(THandle AHandle, TCommTimeouts& ATimeouts) override;
    TOsError SetCommTimeouts(THandle AHandle, const TCommTimeouts& ATimeouts) override;
    TOsError GetCommMask(THandle AHandle, std::uint32_t& AMask) override;
    TOsError SetCommMask(THandle AHandle, std::uint32_t AMask) override;
    TOsError WaitCommEvent(THandle AHandle, std::uint32_t* AEvtMask,
                           TOverlapped* AOverlapped) override;
    TOsError ReadFile(THandle AHandle, void* ABuffer, std::uint32_t ACount,
                      std::uint32_t* ATransferred, TOverlapped* AOverlapped) override;
    TOsError WriteFile(THandle AHandle, const void* ABuffer, std::uint32_t ACount,
                       std::uint32_t* ATransferred, TOverlapped* AOverlapped) override;
    TOsError GetOverlappedResult(THandle AHandle, TOverlapped* AOverlapped,
                                 std::uint32_t& ATransferred, bool AWait) override;
    TOsError ClearCommError(THandle AHandle, std::uint32_t& AErrors, TComStat* AStat) override;
    TOsError PurgeComm(THandle AHandle, std::uint32_t AFlags) override;
    TOsError EscapeCommFunction(THandle AHandle, std::uint32_t AFunction) override;
    TOsError GetCommModemStatus(THandle AHandle, std::uint32_t& AStatus) override;
    TOsError TransmitCommChar(THandle AHandle, char AChar) override;
    TOsError CancelIoEx(THandle AHandle, TOverlapped* AOverlapped) override;

    TOsError CreateEventW(bool AManualReset, bool AInitialState, THandle& AEvent) override;
    TOsError SetEvent(THandle AEvent) override;
    TOsError ResetEvent(THandle AEvent) override;
    TOsError WaitForMultipleObjects(std::uint32_t ACount, const THandle* AHandles, bool AWaitAll,
                                    std::uint32_t ATimeout, std::uint32_t& AResult) override;
    void Sleep(std::uint32_t AMilliseconds) override;
    TOsError SetCurrentThreadPriority(int APriority) override;
    std::unique_ptr<TEventWait> WatchEvent(THandle AEvent, std::function<void()> AWake) override;

    TOsError RegCreateKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) override;
    TOsError RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) override;
    TOsError RegCloseKey(THKey AKey) override;
    TOsError RegSetValueExW(THKey AKey, const std::string& AName, const TRegValue& AValue) override;
    TOsError RegQueryValueExW(THKey AKey, const std::string& AName, TRegValue& AValue) override;
    TOsError RegEnumValueW(THKey AKey, std::uint32_t AIndex, std::size_t AMaxNameChars,
                           std::size_t AMaxDataBytes, std::string& AName,
                           TRegValue& AValue) override;

    // Profile files: UTF-8 (a byte order mark is kept), or UTF-16LE with its byte order mark.
    // A name without a folder is a file in CurrentStoreLocations().IniFolder. Writes are not
    // cached: each one is a locked read-modify-write with an atomic replacement, so the
    // flush (no section, key and value) has nothing to do.
    std::string GetPrivateProfileStringW(const std::string& ASection, const std::string& AKey,
                                         const std::string& ADefault, std::size_t ASize,
                                         const std::string& AFile) override;
    TOsError WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                        const std::optional<std::string>& AKey,
                                        const std::optional<std::string>& AValue,
                                        const std::string& AFile) override;

    // Collates in the program's current locale (the classic one unless the program set
    // another), on UTF-8 text; letter case is folded first when asked.
    int CompareStringW(const std::string& A, const std::string& B, bool AIgnoreCase) override;

    // From the device itself (Ports.h), so that a path typed by hand is known too.
    bool DescribeComPort(const std::string& AValueName, const std::string& APort,
                         std::string& ADescription, std::string& AIdentity) override;

private:
    // Runs AOperation on the device AHandle names, with AArgs.
    template <typename... TParams, typename... TArgs>
    TOsError OnDevice(THandle AHandle, TOsError (TDevice::*AOperation)(TParams...),
                      TArgs&&... AArgs);
    // The event of an operation's record (an empty reference for a record without one), as
    // THandleTable::Lookup gives it.
    TOsError RecordEvent(const TOverlapped* AOverlapped, const std::shared_ptr<TEvent>*& AEvent);

    std::unique_ptr<THandleTable> FHandles;
    std::unique_ptr<TRegistryKeys> FKeys;
};

} // namespace cport
