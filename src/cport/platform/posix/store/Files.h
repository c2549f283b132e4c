// File handling of the POSIX registry and profile emulation: where the stores live, atomic
// replacement and the locks that serialise read-modify-write cycles between processes.
#pragma once

#include "platform/ComPlatform.h"

#include <string>
#include <string_view>

namespace cport {

// Points every store of the component (both registry roots, profile files given without a
// folder, and the published ports) at one folder, and keeps the system's serial devices out of
// the port list. Meant for tests and for running isolated instances.
inline constexpr const char* StoreFolderVariable = "CPORT_REGISTRY_DIR";

struct TStoreLocations {
    std::string UserFile;    // the current user's registry root
    std::string MachineFile; // the local machine's registry root
    std::string IniFolder;   // where a profile file named without a folder lives
    std::string PortsFolder; // one file per published port
    bool Isolated = false;   // the variable above is set
};

// Read from the environment at each call, so a changed variable takes effect at once.
TStoreLocations CurrentStoreLocations();

std::string ParentFolder(const std::string& APath);
// Creates the folder and its missing parents, new ones readable by the user only.
TOsError MakeFolders(const std::string& APath);

// Reads a whole file; its errno (ENOENT for a missing one) on failure.
TOsError ReadWholeFile(const std::string& APath, std::string& AContent);

// 0 when the caller may change the existing file at APath, else EACCES (or the errno of the
// check). A file without any write permission bit is read-only for root too, as a file with the
// read-only attribute is for an administrator on Windows.
TOsError CheckWritable(const std::string& APath);

// Writes AContent to a new file beside APath, flushes it to the disk and renames it over APath,
// so a reader or a crash sees either the old or the new file, never a part. An existing file's
// permissions are kept.
TOsError ReplaceFile(const std::string& APath, std::string_view AContent);

// Gives the file at APath a second name beside it, APath.corrupt or APath.N.corrupt, never
// replacing an earlier one; APath itself stays until ReplaceFile replaces it, so it never
// disappears for another process. AKeptAs receives the name used.
TOsError KeepAsideFile(const std::string& APath, std::string& AKeptAs);

// Removes temporary files of ReplaceFile for APath left by writers that died. Only while
// holding APath's lock, since no other writer can then have one in progress.
void RemoveStaleTemporaries(const std::string& APath);

// An exclusive advisory lock (flock) that is released when the object goes.
class TFileLock {
public:
    TFileLock() = default;
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    ~TFileLock();

    // Locks a separate lock file that is never replaced, created as needed.
    TOsError LockFile(const std::string& ALockPath);
    // Locks the file at APath itself (created empty if missing) and makes sure it is still the
    // one at APath once locked: a writer that replaced it meanwhile makes this retry on the new
    // one. Leaves no lock file beside files that belong to the user.
    TOsError LockInPlace(const std::string& APath);

private:
    int FFd = -1;
};

} // namespace cport
