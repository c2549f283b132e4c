#include "StoreFakePlatform.h"

#include <algorithm>

namespace cport {

namespace {

std::string Upper(std::string AText) {
    for (char& c : AText)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return AText;
}

// Stored sizes as the real registry counts them: text as UTF-16 with its terminator (the texts
// of these tests are ASCII).
std::size_t StoredSize(const TRegValue& AValue) {
    if (AValue.Type == RegType::Sz || AValue.Type == RegType::ExpandSz)
        return (AValue.Data.size() + 1) * 2;
    return AValue.Data.size();
}

template <typename TMap>
auto FindNoCase(TMap& AMap, const std::string& AName) {
    return std::find_if(AMap.begin(), AMap.end(),
                        [&](const auto& AEntry) { return Upper(AEntry.first) == Upper(AName); });
}

} // namespace

TRegValue TStoreFakePlatform::DWord(std::uint32_t AValue) {
    TRegValue value{RegType::DWord, std::string(4, '\0')};
    for (std::size_t i = 0; i < 4; ++i)
        value.Data[i] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
    return value;
}

TOsError TStoreFakePlatform::Enter(const std::string& ACall) {
    Calls.push_back(ACall);
    return InjectedFailure(ACall);
}

TStoreFakePlatform::TKey* TStoreFakePlatform::Find(const std::string& AFullPath) {
    const auto it = FKeys.find(Upper(AFullPath));
    return it == FKeys.end() ? nullptr : &it->second;
}

const TStoreFakePlatform::TKey* TStoreFakePlatform::Key(const std::string& AFullPath) const {
    const auto it = FKeys.find(Upper(AFullPath));
    return it == FKeys.end() ? nullptr : &it->second;
}

TStoreFakePlatform::TKey& TStoreFakePlatform::AddKey(const std::string& AFullPath) {
    TKey& key = FKeys[Upper(AFullPath)];
    if (key.Path.empty()) key.Path = AFullPath;
    return key;
}

const TRegValue* TStoreFakePlatform::Value(const std::string& AFullPath,
                                           const std::string& AName) const {
    const TKey* key = Key(AFullPath);
    if (key == nullptr) return nullptr;
    const auto it = FindNoCase(key->Values, AName);
    return it == key->Values.end() ? nullptr : &it->second;
}

void TStoreFakePlatform::SetValue(const std::string& AFullPath, const std::string& AName,
                                  TRegValue AValue) {
    TKey& key = AddKey(AFullPath);
    const auto it = FindNoCase(key.Values, AName);
    if (it != key.Values.end())
        it->second = std::move(AValue);
    else
        key.Values.emplace_back(AName, std::move(AValue));
}

std::string TStoreFakePlatform::PathOf(THKey AKey) const {
    if (AKey == HKey::CurrentUser) return "HKEY_CURRENT_USER";
    if (AKey == HKey::LocalMachine) return "HKEY_LOCAL_MACHINE";
    const auto it = FHandles.find(AKey);
    return it == FHandles.end() ? std::string() : it->second;
}

TOsError TStoreFakePlatform::RegCreateKeyExW(THKey AKey, const std::string& ASubKey,
                                             THKey& AResult) {
    CreatedKeys.emplace_back(AKey, ASubKey);
    if (const TOsError e = Enter("RegCreateKeyExW")) return e;
    const std::string base = PathOf(AKey);
    if (base.empty()) return WinError::InvalidHandle;
    const std::string path = base + "\\" + ASubKey;
    AddKey(path);
    AResult = FNextHandle++;
    FHandles[AResult] = path;
    ++OpenKeys;
    return 0;
}

TOsError TStoreFakePlatform::RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    if (const TOsError e = Enter("RegOpenKeyExW")) return e;
    const std::string path = PathOf(AKey) + "\\" + ASubKey;
    if (Find(path) == nullptr) return WinError::FileNotFound;
    AResult = FNextHandle++;
    FHandles[AResult] = path;
    ++OpenKeys;
    return 0;
}

TOsError TStoreFakePlatform::RegCloseKey(THKey AKey) {
    if (const TOsError e = Enter("RegCloseKey")) return e;
    if (FHandles.erase(AKey) == 0) return WinError::InvalidHandle;
    --OpenKeys;
    return 0;
}

TOsError TStoreFakePlatform::RegSetValueExW(THKey AKey, const std::string& AName,
                                            const TRegValue& AValue) {
    if (const TOsError e = Enter("RegSetValueExW")) return e;
    const auto it = FHandles.find(AKey);
    if (it == FHandles.end()) return WinError::InvalidHandle;
    SetValue(it->second, AName, AValue);
    return 0;
}

TOsError TStoreFakePlatform::RegQueryValueExW(THKey AKey, const std::string& AName,
                                              TRegValue& AValue) {
    if (const TOsError e = Enter("RegQueryValueExW")) return e;
    const auto it = FHandles.find(AKey);
    if (it == FHandles.end()) return WinError::InvalidHandle;
    const TRegValue* value = Value(it->second, AName);
    if (value == nullptr) return WinError::FileNotFound;
    AValue = *value;
    return 0;
}

TOsError TStoreFakePlatform::RegEnumValueW(THKey AKey, std::uint32_t AIndex,
                                           std::size_t AMaxNameChars, std::size_t AMaxDataBytes,
                                           std::string& AName, TRegValue& AValue) {
    if (const TOsError e = Enter("RegEnumValueW")) return e;
    const auto it = FHandles.find(AKey);
    if (it == FHandles.end()) return WinError::InvalidHandle;
    const TKey* key = Find(it->second);
    if (AIndex >= key->Values.size()) return WinError::NoMoreItems;
    const auto& entry = key->Values[AIndex];
    if (entry.first.size() > AMaxNameChars || StoredSize(entry.second) > AMaxDataBytes)
        return WinError::MoreData;
    AName = entry.first;
    AValue = entry.second;
    return 0;
}

std::optional<std::string> TStoreFakePlatform::IniValue(const std::string& AFile,
                                                        const std::string& ASection,
                                                        const std::string& AKey) const {
    const auto file = Ini.find(AFile);
    if (file == Ini.end()) return std::nullopt;
    const auto section = FindNoCase(file->second, ASection);
    if (section == file->second.end()) return std::nullopt;
    const auto line = FindNoCase(section->second, AKey);
    if (line == section->second.end()) return std::nullopt;
    return line->second;
}

std::string TStoreFakePlatform::GetPrivateProfileStringW(const std::string& ASection,
                                                         const std::string& AKey,
                                                         const std::string& ADefault,
                                                         std::size_t ASize,
                                                         const std::string& AFile) {
    Enter("GetPrivateProfileStringW");
    const std::string value = IniValue(AFile, ASection, AKey).value_or(ADefault);
    return value.substr(0, ASize == 0 ? 0 : ASize - 1);
}

TOsError TStoreFakePlatform::WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                                        const std::optional<std::string>& AKey,
                                                        const std::optional<std::string>& AValue,
                                                        const std::string& AFile) {
    if (const TOsError e = Enter("WritePrivateProfileStringW")) return e;
    if (!ASection && !AKey && !AValue) {
        ++ProfileFlushes;
        return 0;
    }
    if (!ASection || !AKey || !AValue) return NotSupported;
    auto& sections = Ini[AFile];
    auto section = FindNoCase(sections, *ASection);
    if (section == sections.end())
        section = sections.emplace(*ASection, decltype(section->second){}).first;
    auto line = FindNoCase(section->second, *AKey);
    if (line == section->second.end())
        section->second.emplace(*AKey, *AValue);
    else
        line->second = *AValue;
    return 0;
}

int TStoreFakePlatform::CompareStringW(const std::string& A, const std::string& B,
                                       bool AIgnoreCase) {
    Enter("CompareStringW");
    const std::string a = AIgnoreCase ? Upper(A) : A;
    const std::string b = AIgnoreCase ? Upper(B) : B;
    if (a < b) return CompareResult::LessThan;
    return a == b ? CompareResult::Equal : CompareResult::GreaterThan;
}

} // namespace cport
