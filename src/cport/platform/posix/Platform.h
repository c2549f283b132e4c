// The POSIX implementation of the platform layer. Its operations are spread over files by
// concern: HandleTable.cpp (devices, events, waits, threads) and store/Store.cpp (registry,
// profile files, text comparison); each keeps its state behind its own pointer.
#pragma once

#include "platform/ComPlatform.h"

#include <memory>

namespace cport {

class TPosixDriver;
class TPosixStore;

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

    TOsError RegCreateKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) override;
    TOsError RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) override;
    TOsError RegCloseKey(THKey AKey) override;
    TOsError RegSetValueExW(THKey AKey, const std::string& AName, const TRegValue& AValue) override;
    TOsError RegQueryValueExW(THKey AKey, const std::string& AName, TRegValue& AValue) override;
    TOsError RegEnumValueW(THKey AKey, std::uint32_t AIndex, std::size_t AMaxNameChars,
                           std::size_t AMaxDataBytes, std::string& AName,
                           TRegValue& AValue) override;

    std::string GetPrivateProfileStringW(const std::string& ASection, const std::string& AKey,
                                         const std::string& ADefault, std::size_t ASize,
                                         const std::string& AFile) override;
    TOsError WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                        const std::optional<std::string>& AKey,
                                        const std::optional<std::string>& AValue,
                                        const std::string& AFile) override;

    int CompareStringW(const std::string& A, const std::string& B, bool AIgnoreCase) override;

    // From the device itself (Ports.h), so that a path typed by hand is known too.
    bool DescribeComPort(const std::string& AValueName, const std::string& APort,
                         std::string& ADescription, std::string& AIdentity) override;

private:
    std::unique_ptr<TPosixDriver> FDriver;
    std::unique_ptr<TPosixStore> FStore;
};

} // namespace cport
