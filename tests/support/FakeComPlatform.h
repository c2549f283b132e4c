// A recording platform for tests: a scripted serial device, in-process events and waits, and
// the registry, profile and comparison calls passed on to a store platform (the native one
// unless another is given, such as the in-memory TStoreFakePlatform). Every call is
// recorded, and any call can be made to fail with a chosen OS error code (TFakePlatformBase::Fail),
// so each raise site of the component can be tested with its exact code, OS code and message.
#pragma once

#include "FakePlatformBase.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace cport::test {

class TFakeComPlatform : public TFakePlatformBase {
public:
    struct TCall {
        explicit TCall(std::string AName, THandle AHandle = InvalidHandle, std::uint64_t AArg1 = 0,
                       std::uint64_t AArg2 = 0)
            : Name(std::move(AName))
            , Handle(AHandle)
            , Arg1(AArg1)
            , Arg2(AArg2) {}
        std::string Name;
        THandle Handle = InvalidHandle;
        std::uint64_t Arg1 = 0; // the call's first scalar argument (flags, code, size, ...)
        std::uint64_t Arg2 = 0;
        std::string Text;       // a path or the bytes of a write
        TDCB Dcb;               // SetCommState
        TCommTimeouts Timeouts; // SetCommTimeouts
    };

    explicit TFakeComPlatform(TComPlatform* AStore = nullptr);
    ~TFakeComPlatform() override;

    // --- What happened ---------------------------------------------------------------------
    std::vector<TCall> Calls() const;
    // The names of the device and registry calls in order (event and wait calls left out).
    std::vector<std::string> DeviceCallNames() const;
    std::vector<TCall> CallsNamed(const std::string& AName) const;
    int CountCalls(const std::string& AName) const;
    void ClearCalls();

    // --- The device -------------------------------------------------------------------------
    // Bytes the device has received and a read can take.
    void Receive(const std::string& ABytes);
    // Everything written to the device so far.
    std::string Written() const;
    // With true, a read that finds no bytes stays pending until bytes arrive or it is aborted;
    // with false (the default) it completes at once with what is there, as with the default
    // timeouts.
    void SetReadsWait(bool AValue);
    // With true, writes stay pending until CompleteWrites or an abort.
    void SetWritesWait(bool AValue);
    // Completes pending writes, each with at most AMaxBytes bytes.
    void CompleteWrites(std::uint32_t AMaxBytes = MaxDword);
    // Overrides the input count that ClearCommError reports (negative: the bytes held).
    void SetInputCount(std::int64_t ACount);
    void SetOutputCount(std::uint32_t ACount);
    void SetModemStatus(std::uint32_t AStatus);
    // Error bits ClearCommError reports once, and hold flags it reports until changed.
    void AddCommErrors(std::uint32_t AErrors);
    void SetStatFlags(std::uint32_t AFlags);
    // Line events: completes a pending WaitCommEvent with AMask (filtered by the event mask),
    // or keeps them for the next wait.
    void SignalCommEvent(std::uint32_t AMask);
    // The open device handles.
    std::vector<THandle> OpenDevices() const;
    std::uint32_t CommMask() const;
    bool WaitCommEventPending() const;
    // Blocks (bounded) until a WaitCommEvent is pending; false on timeout.
    bool WaitUntilCommWaitPending(std::chrono::milliseconds ATimeout) const;
    // Blocks (bounded) until AName has been called at least ACount times; false on timeout.
    bool WaitForCall(const std::string& AName, std::chrono::milliseconds ATimeout,
                     int ACount = 1) const;
    // Number of events that exist (created and not closed).
    std::size_t LiveEvents() const;

    // --- TComPlatform ------------------------------------------------------------------------
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
    bool DescribeComPort(const std::string& AValueName, const std::string& APort,
                         std::string& ADescription, std::string& AIdentity) override;

private:
    struct TEvent {
        bool ManualReset = true;
        bool Signalled = false;
    };
    struct TPendingRead {
        TOverlapped* Overlapped;
        char* Buffer;
        std::uint32_t Count;
    };
    struct TPendingWrite {
        TOverlapped* Overlapped;
        std::string Bytes;
    };
    struct TDevice {
        bool Overlapped = true;
        std::uint32_t CommMask = 0;
        std::uint32_t History = 0;
        std::uint32_t* WaitMask = nullptr;
        TOverlapped* WaitOverlapped = nullptr;
        std::deque<TPendingRead> Reads;
        std::deque<TPendingWrite> Writes;
        TDCB Dcb;
        TCommTimeouts Timeouts;
    };

    // Record a call and return the injected failure for it, if any; with the lock held.
    TOsError Enter(TCall ACall);
    TDevice* FindDevice(THandle AHandle);
    void StartOperation(TOverlapped* AOverlapped);
    void Complete(TOverlapped* AOverlapped, TOsError AError, std::uint32_t ACount);
    void SignalLocked(THandle AEvent);
    void ServeReadsLocked(TDevice& ADevice);
    std::uint32_t InputCountLocked() const;

    TComPlatform& FStore;
    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    std::vector<TCall> FCalls;
    std::map<THandle, TDevice> FDevices;
    std::map<THandle, TEvent> FEvents;
    THandle FNextHandle = 0x1000;
    std::string FInput;
    std::string FWritten;
    bool FReadsWait = false;
    bool FWritesWait = false;
    std::int64_t FInputCount = -1;
    std::uint32_t FOutputCount = 0;
    std::uint32_t FModemStatus = 0;
    std::uint32_t FCommErrors = 0;
    std::uint32_t FStatFlags = 0;
};

} // namespace cport::test
