// The registry of the POSIX platform. Each root is one file in the ".reg" export format
// (RegFile.h), found through CurrentStoreLocations() at every call. Every operation reads the
// file afresh, so programs sharing a store see each other's changes; every change is a
// read-modify-write under an exclusive lock on a lock file beside the store, written through an
// atomic replacement. A store that cannot be parsed fails every operation that reads it with
// EBADMSG; the next change first keeps it aside (Files.h: KeepAsideFile) and starts from an
// empty store. Creating a key in such a store hands out the handle without creating anything,
// so the failure shows at the first read or the creation happens with the first write.
//
// The local machine's key HARDWARE\DEVICEMAP\SERIALCOMM is built when opened: the system's
// serial devices (unless CPORT_REGISTRY_DIR is set), then the published ports, then the values
// the store file holds there. Values written to it go to the store file.
#pragma once

#include "RegFile.h"
#include "platform/ComPlatform.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cport {

// The registry's key handles: numbers of the platform's own, valid in every thread until
// closed. A handle stands for a key path in a root's file, not for anything read from it.
class TRegistryKeys {
public:
    struct TKeyRef {
        std::string File;
        std::string RootName;
        std::vector<std::string> Path;
        // The built content of the serial port key, or null for an ordinary key.
        std::shared_ptr<const std::vector<TRegNamedValue>> Built;
    };

    // The key AKey stands for: a root, or a handle handed out by Add; EBADF for any other.
    TOsError Resolve(THKey AKey, TKeyRef& ARef);
    // The key ASubKey below AKey, the serial port key built when that is the one named.
    TOsError ResolveBelow(THKey AKey, const std::string& ASubKey, TKeyRef& ARef);
    THKey Add(TKeyRef ARef);
    // EBADF for a handle that is not open; closing a root does nothing.
    TOsError Remove(THKey AKey);

private:
    TOsError BuildSerialComm(TKeyRef& ARef);

    std::mutex FMutex;
    std::map<THKey, TKeyRef> FKeys;
    THKey FNextKey = 0x100;
};

} // namespace cport
