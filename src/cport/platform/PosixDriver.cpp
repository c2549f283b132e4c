#include "PosixPlatform.h"

#include <cerrno>

namespace cport {

// Placeholder until the POSIX device driver lands: every operation fails with ENOSYS.
TOsError TPosixComPlatform::CreateFileW(const std::string& APath, bool AOverlapped,
                                        THandle& AHandle) {
    (void)APath;
    (void)AOverlapped;
    (void)AHandle;
    return ENOSYS;
}

TOsError TPosixComPlatform::CloseHandle(THandle AHandle) {
    (void)AHandle;
    return ENOSYS;
}

TOsError TPosixComPlatform::SetupComm(THandle AHandle, std::uint32_t AInQueue,
                                      std::uint32_t AOutQueue) {
    (void)AHandle;
    (void)AInQueue;
    (void)AOutQueue;
    return ENOSYS;
}

TOsError TPosixComPlatform::GetCommState(THandle AHandle, TDCB& ADcb) {
    (void)AHandle;
    (void)ADcb;
    return ENOSYS;
}

TOsError TPosixComPlatform::SetCommState(THandle AHandle, const TDCB& ADcb) {
    (void)AHandle;
    (void)ADcb;
    return ENOSYS;
}

TOsError TPosixComPlatform::GetCommTimeouts(THandle AHandle, TCommTimeouts& ATimeouts) {
    (void)AHandle;
    (void)ATimeouts;
    return ENOSYS;
}

TOsError TPosixComPlatform::SetCommTimeouts(THandle AHandle, const TCommTimeouts& ATimeouts) {
    (void)AHandle;
    (void)ATimeouts;
    return ENOSYS;
}

TOsError TPosixComPlatform::GetCommMask(THandle AHandle, std::uint32_t& AMask) {
    (void)AHandle;
    (void)AMask;
    return ENOSYS;
}

TOsError TPosixComPlatform::SetCommMask(THandle AHandle, std::uint32_t AMask) {
    (void)AHandle;
    (void)AMask;
    return ENOSYS;
}

TOsError TPosixComPlatform::WaitCommEvent(THandle AHandle, std::uint32_t* AEvtMask,
                                          TOverlapped* AOverlapped) {
    (void)AHandle;
    (void)AEvtMask;
    (void)AOverlapped;
    return ENOSYS;
}

TOsError TPosixComPlatform::ReadFile(THandle AHandle, void* ABuffer, std::uint32_t ACount,
                                     std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    (void)AHandle;
    (void)ABuffer;
    (void)ACount;
    (void)ATransferred;
    (void)AOverlapped;
    return ENOSYS;
}

TOsError TPosixComPlatform::WriteFile(THandle AHandle, const void* ABuffer, std::uint32_t ACount,
                                      std::uint32_t* ATransferred, TOverlapped* AOverlapped) {
    (void)AHandle;
    (void)ABuffer;
    (void)ACount;
    (void)ATransferred;
    (void)AOverlapped;
    return ENOSYS;
}

TOsError TPosixComPlatform::GetOverlappedResult(THandle AHandle, TOverlapped* AOverlapped,
                                                std::uint32_t& ATransferred, bool AWait) {
    (void)AHandle;
    (void)AOverlapped;
    (void)ATransferred;
    (void)AWait;
    return ENOSYS;
}

TOsError TPosixComPlatform::ClearCommError(THandle AHandle, std::uint32_t& AErrors,
                                           TComStat* AStat) {
    (void)AHandle;
    (void)AErrors;
    (void)AStat;
    return ENOSYS;
}

TOsError TPosixComPlatform::PurgeComm(THandle AHandle, std::uint32_t AFlags) {
    (void)AHandle;
    (void)AFlags;
    return ENOSYS;
}

TOsError TPosixComPlatform::EscapeCommFunction(THandle AHandle, std::uint32_t AFunction) {
    (void)AHandle;
    (void)AFunction;
    return ENOSYS;
}

TOsError TPosixComPlatform::GetCommModemStatus(THandle AHandle, std::uint32_t& AStatus) {
    (void)AHandle;
    (void)AStatus;
    return ENOSYS;
}

TOsError TPosixComPlatform::TransmitCommChar(THandle AHandle, char AChar) {
    (void)AHandle;
    (void)AChar;
    return ENOSYS;
}

TOsError TPosixComPlatform::CreateEventW(bool AManualReset, bool AInitialState, THandle& AEvent) {
    (void)AManualReset;
    (void)AInitialState;
    (void)AEvent;
    return ENOSYS;
}

TOsError TPosixComPlatform::SetEvent(THandle AEvent) {
    (void)AEvent;
    return ENOSYS;
}

TOsError TPosixComPlatform::ResetEvent(THandle AEvent) {
    (void)AEvent;
    return ENOSYS;
}

TOsError TPosixComPlatform::WaitForMultipleObjects(std::uint32_t ACount, const THandle* AHandles,
                                                   bool AWaitAll, std::uint32_t ATimeout,
                                                   std::uint32_t& AResult) {
    (void)ACount;
    (void)AHandles;
    (void)AWaitAll;
    (void)ATimeout;
    (void)AResult;
    return ENOSYS;
}

void TPosixComPlatform::Sleep(std::uint32_t AMilliseconds) {
    (void)AMilliseconds;
}

TOsError TPosixComPlatform::SetCurrentThreadPriority(int APriority) {
    (void)APriority;
    return ENOSYS;
}

} // namespace cport
