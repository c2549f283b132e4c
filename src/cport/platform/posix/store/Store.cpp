#include "Store.h"

#include "Files.h"
#include "IniText.h"
#include "platform/posix/Platform.h"
#include "platform/posix/Ports.h"
#include "platform/posix/Text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <sys/stat.h>

namespace cport {

namespace {

constexpr const char* CurrentUserName = "HKEY_CURRENT_USER";
constexpr const char* LocalMachineName = "HKEY_LOCAL_MACHINE";

bool IsSerialCommKey(const std::string& ARootName, const std::vector<std::string>& APath) {
    return ARootName == LocalMachineName && APath.size() == 3 &&
           EqualNoCase(APath[0], "HARDWARE") && EqualNoCase(APath[1], "DEVICEMAP") &&
           EqualNoCase(APath[2], "SERIALCOMM");
}

// The root's tree as the file holds it now; a missing file is an empty store.
TOsError LoadTree(const std::string& AFile, const std::string& ARootName, TRegKey& ATree) {
    std::string text;
    const TOsError error = ReadWholeFile(AFile, text);
    if (error == ENOENT) {
        ATree = TRegKey{ARootName, {}, {}};
        return 0;
    }
    if (error != 0) return error;
    auto tree = ParseRegFile(text, ARootName);
    if (!tree) return EBADMSG;
    ATree = std::move(*tree);
    return 0;
}

template <typename TChange>
TOsError ChangeTree(const std::string& AFile, const std::string& ARootName, TChange AChange) {
    TOsError error = MakeFolders(ParentFolder(AFile));
    TFileLock lock;
    if (error == 0) error = lock.LockFile(AFile + ".lock");
    if (error != 0) return error;
    RemoveStaleTemporaries(AFile);
    TRegKey tree;
    error = LoadTree(AFile, ARootName, tree);
    if (error == EBADMSG) {
        std::string keptAs;
        error = KeepAsideFile(AFile, keptAs);
        tree = TRegKey{ARootName, {}, {}};
    }
    if (error != 0) return error;
    AChange(tree);
    return ReplaceFile(AFile, FormatRegFile(tree, ARootName));
}

std::string ResolveIniFile(const std::string& AFile) {
    if (AFile.find('/') != std::string::npos) return AFile;
    const std::string folder = CurrentStoreLocations().IniFolder;
    return folder.empty() ? std::string() : folder + "/" + AFile;
}

} // namespace

TOsError TPosixStore::Resolve(THKey AKey, TKeyRef& ARef) {
    if (AKey == HKey::CurrentUser || AKey == HKey::LocalMachine) {
        const TStoreLocations places = CurrentStoreLocations();
        const bool user = AKey == HKey::CurrentUser;
        ARef = TKeyRef{user ? places.UserFile : places.MachineFile,
                       user ? CurrentUserName : LocalMachineName,
                       {},
                       nullptr};
        return 0;
    }
    const std::lock_guard<std::mutex> guard(FMutex);
    const auto it = FKeys.find(AKey);
    if (it == FKeys.end()) return EBADF;
    ARef = it->second;
    return 0;
}

TOsError TPosixStore::ResolveBelow(THKey AKey, const std::string& ASubKey, TKeyRef& ARef) {
    TOsError error = Resolve(AKey, ARef);
    if (error != 0) return error;
    const auto path = SplitKeyPath(ASubKey);
    // Deeper keys could not be read back from the store file.
    if (!path || ARef.Path.size() + path->size() > MaxKeyDepth) return EINVAL;
    if (!path->empty()) ARef.Built = nullptr;
    ARef.Path.insert(ARef.Path.end(), path->begin(), path->end());
    if (ARef.Built == nullptr && IsSerialCommKey(ARef.RootName, ARef.Path))
        error = BuildSerialComm(ARef);
    return error;
}

THKey TPosixStore::AddHandle(TKeyRef ARef) {
    const std::lock_guard<std::mutex> guard(FMutex);
    const THKey key = FNextKey++;
    FKeys.emplace(key, std::move(ARef));
    return key;
}

TOsError TPosixStore::BuildSerialComm(TKeyRef& ARef) {
    TRegKey tree;
    const TOsError error = LoadTree(ARef.File, ARef.RootName, tree);
    if (error != 0) return error;
    auto values = std::make_shared<std::vector<TRegNamedValue>>();
    auto add = [&](const std::vector<TPortEntry>& AEntries) {
        for (const TPortEntry& e : AEntries)
            values->push_back({e.Name, TRegValue{RegType::Sz, e.Data}});
    };
    const TStoreLocations places = CurrentStoreLocations();
    if (!places.Isolated || CurrentSystemRoots().SysSet) add(ListSystemPorts());
    add(ListPublishedPorts(places.PortsFolder));
    if (const TRegKey* stored = tree.Find(ARef.Path))
        values->insert(values->end(), stored->Values.begin(), stored->Values.end());
    ARef.Built = std::move(values);
    return 0;
}

TOsError TPosixStore::CreateKey(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    TKeyRef ref;
    TOsError error = ResolveBelow(AKey, ASubKey, ref);
    if (error != 0) return error;
    if (ref.Built == nullptr) {
        TRegKey tree;
        error = LoadTree(ref.File, ref.RootName, tree);
        // A store that cannot be parsed is left for the first write to keep aside; reads
        // through the handle fail until then.
        if (error == 0 && tree.Find(ref.Path) == nullptr)
            error = ChangeTree(ref.File, ref.RootName,
                               [&](TRegKey& ATree) { ATree.OpenOrCreate(ref.Path); });
        if (error == EBADMSG) error = 0;
        if (error != 0) return error;
    }
    AResult = AddHandle(std::move(ref));
    return 0;
}

TOsError TPosixStore::OpenKey(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    TKeyRef ref;
    TOsError error = ResolveBelow(AKey, ASubKey, ref);
    if (error != 0) return error;
    if (ref.Built == nullptr) {
        TRegKey tree;
        error = LoadTree(ref.File, ref.RootName, tree);
        if (error != 0) return error;
        if (tree.Find(ref.Path) == nullptr) return WinError::FileNotFound;
    }
    AResult = AddHandle(std::move(ref));
    return 0;
}

TOsError TPosixStore::CloseKey(THKey AKey) {
    if (AKey == HKey::CurrentUser || AKey == HKey::LocalMachine) return 0;
    const std::lock_guard<std::mutex> guard(FMutex);
    return FKeys.erase(AKey) == 1 ? 0 : EBADF;
}

TOsError TPosixStore::SetValue(THKey AKey, const std::string& AName, const TRegValue& AValue) {
    TKeyRef ref;
    const TOsError error = Resolve(AKey, ref);
    if (error != 0) return error;
    if (!IsStorableValue(AName, AValue)) return EINVAL;
    return ChangeTree(ref.File, ref.RootName, [&](TRegKey& ATree) {
        ATree.OpenOrCreate(ref.Path).SetValue(AName, AValue);
    });
}

TOsError TPosixStore::QueryValue(THKey AKey, const std::string& AName, TRegValue& AValue) {
    TKeyRef ref;
    TOsError error = Resolve(AKey, ref);
    if (error != 0) return error;
    const TRegNamedValue* found = nullptr;
    TRegKey tree;
    if (ref.Built != nullptr) {
        for (const TRegNamedValue& v : *ref.Built)
            if (found == nullptr && EqualNoCase(v.Name, AName)) found = &v;
    } else {
        error = LoadTree(ref.File, ref.RootName, tree);
        if (error != 0) return error;
        const TRegKey* key = tree.Find(ref.Path);
        found = key != nullptr ? key->FindValue(AName) : nullptr;
    }
    if (found == nullptr) return WinError::FileNotFound;
    AValue = found->Value;
    return 0;
}

TOsError TPosixStore::EnumValue(THKey AKey, std::uint32_t AIndex, std::size_t AMaxNameChars,
                                std::size_t AMaxDataBytes, std::string& AName, TRegValue& AValue) {
    TKeyRef ref;
    TOsError error = Resolve(AKey, ref);
    if (error != 0) return error;
    TRegKey tree;
    const std::vector<TRegNamedValue>* values = ref.Built.get();
    if (values == nullptr) {
        error = LoadTree(ref.File, ref.RootName, tree);
        if (error != 0) return error;
        const TRegKey* key = tree.Find(ref.Path);
        if (key == nullptr) return WinError::FileNotFound;
        values = &key->Values;
    }
    if (AIndex >= values->size()) return WinError::NoMoreItems;
    const TRegNamedValue& v = (*values)[AIndex];
    if (Utf16Length(v.Name) > AMaxNameChars || StoredDataSize(v.Value) > AMaxDataBytes)
        return WinError::MoreData;
    AName = v.Name;
    AValue = v.Value;
    return 0;
}

std::string TPosixStore::GetProfileString(const std::string& ASection, const std::string& AKey,
                                          const std::string& ADefault, std::size_t ASize,
                                          const std::string& AFile) {
    if (ASize == 0) return {};
    std::string value = ADefault;
    // The profile functions drop trailing blanks of the default.
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    std::string raw;
    const std::string path = ResolveIniFile(AFile);
    if (!path.empty() && ReadWholeFile(path, raw) == 0) {
        bool utf16 = false;
        const std::string text = IniDecodeFile(raw, utf16);
        if (auto found = IniReadValue(IniStripUtf8Bom(text), ASection, AKey)) value = *found;
    }
    return std::string(TruncateUtf16(value, ASize - 1));
}

TOsError TPosixStore::WriteProfileString(const std::optional<std::string>& ASection,
                                         const std::optional<std::string>& AKey,
                                         const std::optional<std::string>& AValue,
                                         const std::string& AFile) {
    if (!ASection) return AKey || AValue ? EINVAL : 0;
    if (!IsWritableIniSection(*ASection) || (AKey && !IsWritableIniKey(*AKey)) ||
        (AValue && !IsWritableIniValue(*AValue)))
        return EINVAL;
    std::string path = ResolveIniFile(AFile);
    if (path.empty()) return ENOENT;
    if (AFile.find('/') == std::string::npos) {
        const TOsError error = MakeFolders(ParentFolder(path));
        if (error != 0) return error;
    }
    struct stat st {};
    const bool exists = lstat(path.c_str(), &st) == 0;
    if (!exists && (!AKey || !AValue)) return 0; // nothing to remove
    // Replacing a link would cut it off from its target; the target is what gets replaced.
    if (exists && S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (realpath(path.c_str(), real) == nullptr) return static_cast<TOsError>(errno);
        path = real;
    }
    TFileLock lock;
    TOsError error = lock.LockInPlace(path);
    if (error != 0) return error;
    // Replacing the file by a rename needs only the folder's permission; the file's own says
    // whether it may be changed.
    error = CheckWritable(path);
    if (error != 0) return error;
    RemoveStaleTemporaries(path);
    std::string raw;
    error = ReadWholeFile(path, raw);
    if (error != 0) return error;
    bool utf16 = false;
    const std::string text = IniDecodeFile(raw, utf16);
    const std::string_view body = IniStripUtf8Bom(text);
    const std::string bom(text.substr(0, text.size() - body.size()));
    const std::string changed = bom + IniWriteValue(body, *ASection, AKey, AValue);
    if (changed == text && exists) return 0;
    return ReplaceFile(path, IniEncodeFile(changed, utf16));
}

int TPosixStore::CompareText(const std::string& A, const std::string& B, bool AIgnoreCase) {
    const std::wstring a = AIgnoreCase ? FoldCase(A) : DecodeUtf8(A);
    const std::wstring b = AIgnoreCase ? FoldCase(B) : DecodeUtf8(B);
    const int order = std::wcscoll(a.c_str(), b.c_str());
    if (order < 0) return CompareResult::LessThan;
    return order == 0 ? CompareResult::Equal : CompareResult::GreaterThan;
}

// --- The platform's operations ---------------------------------------------------------------

TOsError TPosixComPlatform::RegCreateKeyExW(THKey AKey, const std::string& ASubKey,
                                            THKey& AResult) {
    return FStore->CreateKey(AKey, ASubKey, AResult);
}

TOsError TPosixComPlatform::RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    return FStore->OpenKey(AKey, ASubKey, AResult);
}

TOsError TPosixComPlatform::RegCloseKey(THKey AKey) {
    return FStore->CloseKey(AKey);
}

TOsError TPosixComPlatform::RegSetValueExW(THKey AKey, const std::string& AName,
                                           const TRegValue& AValue) {
    return FStore->SetValue(AKey, AName, AValue);
}

TOsError TPosixComPlatform::RegQueryValueExW(THKey AKey, const std::string& AName,
                                             TRegValue& AValue) {
    return FStore->QueryValue(AKey, AName, AValue);
}

TOsError TPosixComPlatform::RegEnumValueW(THKey AKey, std::uint32_t AIndex,
                                          std::size_t AMaxNameChars, std::size_t AMaxDataBytes,
                                          std::string& AName, TRegValue& AValue) {
    return FStore->EnumValue(AKey, AIndex, AMaxNameChars, AMaxDataBytes, AName, AValue);
}

std::string TPosixComPlatform::GetPrivateProfileStringW(const std::string& ASection,
                                                        const std::string& AKey,
                                                        const std::string& ADefault,
                                                        std::size_t ASize,
                                                        const std::string& AFile) {
    return FStore->GetProfileString(ASection, AKey, ADefault, ASize, AFile);
}

TOsError TPosixComPlatform::WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                                       const std::optional<std::string>& AKey,
                                                       const std::optional<std::string>& AValue,
                                                       const std::string& AFile) {
    return FStore->WriteProfileString(ASection, AKey, AValue, AFile);
}

int TPosixComPlatform::CompareStringW(const std::string& A, const std::string& B,
                                      bool AIgnoreCase) {
    return FStore->CompareText(A, B, AIgnoreCase);
}

} // namespace cport
