// A platform with an in-memory registry and profile files for the component's storage and
// port-list tests. Any call can be made to fail with a chosen code (TFakePlatformBase::Fail);
// serial and event calls are not supported.
#pragma once

#include "FakePlatformBase.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cport {

class TStoreFakePlatform final : public test::TFakePlatformBase {
public:
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

    std::vector<std::string> Calls; // every registry and profile call, by name
    int OpenKeys = 0;               // handles handed out and not closed yet
    int ProfileFlushes = 0;
    std::vector<std::pair<THKey, std::string>> CreatedKeys; // RegCreateKeyExW arguments

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

    std::map<std::string, TKey> FKeys; // by upper-cased path
    std::map<THKey, std::string> FHandles;
    THKey FNextHandle = 1000;
};

} // namespace cport
