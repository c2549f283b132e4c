#include "Registry.h"

#include "Files.h"
#include "platform/posix/Platform.h"
#include "platform/posix/Ports.h"
#include "platform/posix/Text.h"

#include <cerrno>

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

} // namespace

TOsError TRegistryKeys::Resolve(THKey AKey, TKeyRef& ARef) {
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

TOsError TRegistryKeys::ResolveBelow(THKey AKey, const std::string& ASubKey, TKeyRef& ARef) {
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

THKey TRegistryKeys::Add(TKeyRef ARef) {
    const std::lock_guard<std::mutex> guard(FMutex);
    const THKey key = FNextKey++;
    FKeys.emplace(key, std::move(ARef));
    return key;
}

TOsError TRegistryKeys::BuildSerialComm(TKeyRef& ARef) {
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

TOsError TRegistryKeys::Remove(THKey AKey) {
    if (AKey == HKey::CurrentUser || AKey == HKey::LocalMachine) return 0;
    const std::lock_guard<std::mutex> guard(FMutex);
    return FKeys.erase(AKey) == 1 ? 0 : EBADF;
}

// --- The platform's registry operations ----------------------------------------------------

TOsError TPosixComPlatform::RegCreateKeyExW(THKey AKey, const std::string& ASubKey,
                                            THKey& AResult) {
    TRegistryKeys::TKeyRef ref;
    TOsError error = FKeys->ResolveBelow(AKey, ASubKey, ref);
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
    AResult = FKeys->Add(std::move(ref));
    return 0;
}

TOsError TPosixComPlatform::RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    TRegistryKeys::TKeyRef ref;
    TOsError error = FKeys->ResolveBelow(AKey, ASubKey, ref);
    if (error != 0) return error;
    if (ref.Built == nullptr) {
        TRegKey tree;
        error = LoadTree(ref.File, ref.RootName, tree);
        if (error != 0) return error;
        if (tree.Find(ref.Path) == nullptr) return WinError::FileNotFound;
    }
    AResult = FKeys->Add(std::move(ref));
    return 0;
}

TOsError TPosixComPlatform::RegCloseKey(THKey AKey) {
    return FKeys->Remove(AKey);
}

TOsError TPosixComPlatform::RegSetValueExW(THKey AKey, const std::string& AName,
                                           const TRegValue& AValue) {
    TRegistryKeys::TKeyRef ref;
    const TOsError error = FKeys->Resolve(AKey, ref);
    if (error != 0) return error;
    if (!IsStorableValue(AName, AValue)) return EINVAL;
    return ChangeTree(ref.File, ref.RootName, [&](TRegKey& ATree) {
        ATree.OpenOrCreate(ref.Path).SetValue(AName, AValue);
    });
}

TOsError TPosixComPlatform::RegQueryValueExW(THKey AKey, const std::string& AName,
                                             TRegValue& AValue) {
    TRegistryKeys::TKeyRef ref;
    TOsError error = FKeys->Resolve(AKey, ref);
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

TOsError TPosixComPlatform::RegEnumValueW(THKey AKey, std::uint32_t AIndex,
                                          std::size_t AMaxNameChars, std::size_t AMaxDataBytes,
                                          std::string& AName, TRegValue& AValue) {
    TRegistryKeys::TKeyRef ref;
    TOsError error = FKeys->Resolve(AKey, ref);
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

} // namespace cport
