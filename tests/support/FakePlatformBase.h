// The base of the test platforms. A call that a fake does not override fails with NotSupported,
// and any call can be made to fail with a chosen OS error code, with the same meaning in every
// fake: Fail lets ASkip calls of the name pass, then fails the next ATimes ones.
#pragma once

#include "platform/ComPlatform.h"

#include <map>
#include <mutex>
#include <string>

namespace cport::test {

class TFakePlatformBase : public TComPlatform {
public:
    static constexpr TOsError NotSupported = 50;

    // After ASkip more calls of AName, the next ATimes ones (< 0: every one until cleared) fail
    // with ACode. A new Fail for a name replaces the one before.
    void Fail(const std::string& AName, TOsError ACode, int ATimes = 1, int ASkip = 0);
    void ClearFailures();

    TOsError CreateFileW(const std::string&, bool, THandle&) override { return NotSupported; }
    TOsError CloseHandle(THandle) override { return NotSupported; }
    TOsError SetupComm(THandle, std::uint32_t, std::uint32_t) override { return NotSupported; }
    TOsError GetCommState(THandle, TDCB&) override { return NotSupported; }
    TOsError SetCommState(THandle, const TDCB&) override { return NotSupported; }
    TOsError GetCommTimeouts(THandle, TCommTimeouts&) override { return NotSupported; }
    TOsError SetCommTimeouts(THandle, const TCommTimeouts&) override { return NotSupported; }
    TOsError GetCommMask(THandle, std::uint32_t&) override { return NotSupported; }
    TOsError SetCommMask(THandle, std::uint32_t) override { return NotSupported; }
    TOsError WaitCommEvent(THandle, std::uint32_t*, TOverlapped*) override { return NotSupported; }
    TOsError ReadFile(THandle, void*, std::uint32_t, std::uint32_t*, TOverlapped*) override {
        return NotSupported;
    }
    TOsError WriteFile(THandle, const void*, std::uint32_t, std::uint32_t*, TOverlapped*) override {
        return NotSupported;
    }
    TOsError GetOverlappedResult(THandle, TOverlapped*, std::uint32_t&, bool) override {
        return NotSupported;
    }
    TOsError ClearCommError(THandle, std::uint32_t&, TComStat*) override { return NotSupported; }
    TOsError PurgeComm(THandle, std::uint32_t) override { return NotSupported; }
    TOsError EscapeCommFunction(THandle, std::uint32_t) override { return NotSupported; }
    TOsError GetCommModemStatus(THandle, std::uint32_t&) override { return NotSupported; }
    TOsError TransmitCommChar(THandle, char) override { return NotSupported; }
    TOsError CancelIoEx(THandle, TOverlapped*) override { return NotSupported; }
    TOsError CreateEventW(bool, bool, THandle&) override { return NotSupported; }
    TOsError SetEvent(THandle) override { return NotSupported; }
    TOsError ResetEvent(THandle) override { return NotSupported; }
    TOsError WaitForMultipleObjects(std::uint32_t, const THandle*, bool, std::uint32_t,
                                    std::uint32_t&) override {
        return NotSupported;
    }
    void Sleep(std::uint32_t) override {}
    TOsError SetCurrentThreadPriority(int) override { return NotSupported; }

protected:
    // Counts a call of AName against the failures set up; its injected code, or 0.
    TOsError InjectedFailure(const std::string& AName);

private:
    struct TFailure {
        TOsError Code = 0;
        int Times = 0;
        int Skip = 0;
    };
    std::mutex FFailLock;
    std::map<std::string, TFailure> FFailures;
};

} // namespace cport::test
