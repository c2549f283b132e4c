// A platform with an in-memory registry and profile files for the component's storage and
// port-list tests. Any call can be made to fail with a chosen code; serial and event calls are
// not supported.
#pragma once

#include "platform/ComPlatform.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cport {

class TStoreFakePlatform final : public TComPlatform {
public:
    static constexpr TOsError NotSupported = 50;

    struct TKey {
        std::string Path; // root name, then the key path as first written
        std::vector<std::pair<std::string, TRegValue>> Values;
    };

    // The key at "ROOT\path" (letter case ignored), or nullptr.
    const TKey* Key(const std::string& AFullPath) const;
    TKey& AddKey(const std::string& AFullPath);
    // The value of a key, or nullptr.
    const TRegValue* Value(const std::string& AFullPath, const std::string& AName) const;
    void SetValue(const std::string& AFullPath, const std::string& AName, TRegValue AValue);
    static TRegValue Text(const std::string& AText) { return {RegType::Sz, AText}; }
    static TRegValue DWord(std::uint32_t AValue);

    // Profile files: file -> lines "section" -> "key" -> value, names as written.
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> Ini;
    std::optional<std::string> IniValue(const std::string& AFile, const std::string& ASection,
                                        const std::string& AKey) const;

    // The ACount-th next call named ACall (0: the next one) fails with ACode.
    void Fail(const std::string& ACall, TOsError ACode, int ASkip = 0) {
        FFailures[ACall] = {ACode, ASkip};
    }

    std::vector<std::string> Calls; // every registry and profile call, by name
    int OpenKeys = 0;               // handles handed out and not closed yet
    int ProfileFlushes = 0;
    std::vector<std::pair<THKey, std::string>> CreatedKeys; // RegCreateKeyExW arguments

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

private:
    TOsError Enter(const std::string& ACall);
    std::string PathOf(THKey AKey) const;
    TKey* Find(const std::string& AFullPath);

    std::map<std::string, std::pair<TOsError, int>> FFailures;
    std::map<std::string, TKey> FKeys; // by upper-cased path
    std::map<THKey, std::string> FHandles;
    THKey FNextHandle = 1000;
};

} // namespace cport
