// The registry, profile files and text comparison of the POSIX platform.
//
// Registry: each root is one file in the ".reg" export format (RegFile.h), found through
// CurrentStoreLocations() at every call. Every operation reads the file afresh, so programs
// sharing a store see each other's changes; every change is a read-modify-write under an
// exclusive lock on a lock file beside the store, written through an atomic replacement. A
// store that cannot be parsed fails every operation that reads it with EBADMSG; the next change
// first keeps it aside (Files.h: KeepAsideFile) and starts from an empty store. Creating a
// key in such a store hands out the handle without creating anything, so the failure shows at
// the first read or the creation happens with the first write.
//
// The local machine's key HARDWARE\DEVICEMAP\SERIALCOMM is built when opened: the system's
// serial devices (unless CPORT_REGISTRY_DIR is set), then the published ports, then the values
// the store file holds there. Values written to it go to the store file.
//
// Key handles are numbers of this object's own, valid in every thread until closed.
#pragma once

#include "RegFile.h"
#include "platform/ComPlatform.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cport {

class TPosixStore {
public:
    TOsError CreateKey(THKey AKey, const std::string& ASubKey, THKey& AResult);
    TOsError OpenKey(THKey AKey, const std::string& ASubKey, THKey& AResult);
    TOsError CloseKey(THKey AKey);
    TOsError SetValue(THKey AKey, const std::string& AName, const TRegValue& AValue);
    TOsError QueryValue(THKey AKey, const std::string& AName, TRegValue& AValue);
    TOsError EnumValue(THKey AKey, std::uint32_t AIndex, std::size_t AMaxNameChars,
                       std::size_t AMaxDataBytes, std::string& AName, TRegValue& AValue);

    // Profile files: UTF-8 (a byte order mark is kept), or UTF-16LE with its byte order mark.
    // A name without a folder is a file in CurrentStoreLocations().IniFolder. Writes are not
    // cached: each one is a locked read-modify-write with an atomic replacement, so the
    // flush (no section, key and value) has nothing to do.
    std::string GetProfileString(const std::string& ASection, const std::string& AKey,
                                 const std::string& ADefault, std::size_t ASize,
                                 const std::string& AFile);
    TOsError WriteProfileString(const std::optional<std::string>& ASection,
                                const std::optional<std::string>& AKey,
                                const std::optional<std::string>& AValue, const std::string& AFile);

    // Collates in the program's current locale (the classic one unless the program set
    // another), on UTF-8 text; letter case is folded first when asked.
    int CompareText(const std::string& A, const std::string& B, bool AIgnoreCase);

private:
    struct TKeyRef {
        std::string File;
        std::string RootName;
        std::vector<std::string> Path;
        // The built content of the serial port key, or null for an ordinary key.
        std::shared_ptr<const std::vector<TRegNamedValue>> Built;
    };

    TOsError Resolve(THKey AKey, TKeyRef& ARef);
    TOsError ResolveBelow(THKey AKey, const std::string& ASubKey, TKeyRef& ARef);
    THKey AddHandle(TKeyRef ARef);
    TOsError BuildSerialComm(TKeyRef& ARef);

    std::mutex FMutex;
    std::map<THKey, TKeyRef> FKeys;
    THKey FNextKey = 0x100;
};

} // namespace cport
