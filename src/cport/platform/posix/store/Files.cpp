#include "Files.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cport {

namespace {

std::string EnvOr(const char* AName, const std::string& AFallback) {
    const char* value = std::getenv(AName);
    return value != nullptr && value[0] != '\0' ? std::string(value) : AFallback;
}

bool IsAbsolute(const std::string& APath) {
    return !APath.empty() && APath[0] == '/';
}

std::string HomeFolder() {
    std::string home = EnvOr("HOME", "");
    if (!home.empty()) return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

std::string BaseName(const std::string& APath) {
    const auto slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

TOsError SyncFolder(const std::string& AFolder) {
    const int fd = open(AFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return static_cast<TOsError>(errno);
    TOsError error = 0;
    // Some file systems cannot sync a folder; the rename is then as durable as they make it.
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) error = static_cast<TOsError>(errno);
    close(fd);
    return error;
}

TOsError WriteAll(int AFd, std::string_view AContent) {
    while (!AContent.empty()) {
        const ssize_t n = write(AFd, AContent.data(), AContent.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return static_cast<TOsError>(errno);
        }
        AContent.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

TOsError FlockRetrying(int AFd) {
    while (flock(AFd, LOCK_EX) != 0)
        if (errno != EINTR) return static_cast<TOsError>(errno);
    return 0;
}

} // namespace

TStoreLocations CurrentStoreLocations() {
    TStoreLocations places;
    const std::string override = EnvOr(StoreFolderVariable, "");
    if (!override.empty()) {
        places.UserFile = override + "/HKEY_CURRENT_USER.reg";
        places.MachineFile = override + "/HKEY_LOCAL_MACHINE.reg";
        places.IniFolder = override;
        places.PortsFolder = override + "/ports";
        places.Isolated = true;
        return places;
    }
    std::string config = EnvOr("XDG_CONFIG_HOME", "");
    if (!IsAbsolute(config)) {
        const std::string home = HomeFolder();
        config = home.empty() ? std::string() : home + "/.config";
    }
    places.IniFolder = config.empty() ? std::string() : config + "/cport";
    places.UserFile = config.empty() ? std::string() : places.IniFolder + "/HKEY_CURRENT_USER.reg";
    // Machine-wide like the root it stands for: writing needs the rights to /etc.
    places.MachineFile = "/etc/cport/HKEY_LOCAL_MACHINE.reg";
    const std::string runtime = EnvOr("XDG_RUNTIME_DIR", "");
    places.PortsFolder = IsAbsolute(runtime) ? runtime + "/cport/ports"
                                             : "/tmp/cport-" + std::to_string(getuid()) + "/ports";
    return places;
}

std::string ParentFolder(const std::string& APath) {
    const auto slash = APath.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return APath.substr(0, slash);
}

TOsError MakeFolders(const std::string& APath) {
    if (APath.empty()) return ENOENT;
    struct stat st {};
    if (stat(APath.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT) return static_cast<TOsError>(errno);
    const std::string parent = ParentFolder(APath);
    if (parent != APath) {
        const TOsError error = MakeFolders(parent);
        if (error != 0) return error;
    }
    if (mkdir(APath.c_str(), 0700) != 0 && errno != EEXIST) return static_cast<TOsError>(errno);
    return 0;
}

TOsError ReadWholeFile(const std::string& APath, std::string& AContent) {
    const int fd = open(APath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return static_cast<TOsError>(errno);
    AContent.clear();
    char buf[8192];
    TOsError error = 0;
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = static_cast<TOsError>(errno);
        if (n <= 0) break;
        AContent.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return error;
}

TOsError CheckWritable(const std::string& APath) {
    struct stat st {};
    if (stat(APath.c_str(), &st) != 0) return static_cast<TOsError>(errno);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
    // With the effective ids and capabilities, so that a thread that gave up root's right to
    // override permissions meets the check an ordinary user meets.
    if (faccessat(AT_FDCWD, APath.c_str(), W_OK, AT_EACCESS) != 0)
        return static_cast<TOsError>(errno);
    return 0;
}

TOsError ReplaceFile(const std::string& APath, std::string_view AContent) {
    static std::atomic<unsigned> counter{0};
    const std::string temp = APath + ".tmp." + std::to_string(getpid()) + "." +
                             std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return static_cast<TOsError>(errno);
    TOsError error = 0;
    struct stat st {};
    if (stat(APath.c_str(), &st) == 0) {
        // Only root can give the file away; anyone else owns it already, so a failure is moot.
        [[maybe_unused]] const int owned = fchown(fd, st.st_uid, st.st_gid);
        if (fchmod(fd, st.st_mode & 07777) != 0) error = static_cast<TOsError>(errno);
    }
    if (error == 0) error = WriteAll(fd, AContent);
    if (error == 0 && fsync(fd) != 0) error = static_cast<TOsError>(errno);
    if (close(fd) != 0 && error == 0) error = static_cast<TOsError>(errno);
    if (error == 0 && rename(temp.c_str(), APath.c_str()) != 0)
        error = static_cast<TOsError>(errno);
    if (error != 0) {
        unlink(temp.c_str());
        return error;
    }
    return SyncFolder(ParentFolder(APath));
}

TOsError KeepAsideFile(const std::string& APath, std::string& AKeptAs) {
    for (unsigned n = 0;; ++n) {
        AKeptAs = n == 0 ? APath + ".corrupt" : APath + "." + std::to_string(n) + ".corrupt";
        // link() never replaces an existing name, unlike rename().
        if (link(APath.c_str(), AKeptAs.c_str()) == 0) return 0;
        if (errno == EEXIST) continue;
        if (errno != EPERM && errno != ENOTSUP) return static_cast<TOsError>(errno);
        // A file system without hard links gets a copy.
        std::string content;
        TOsError error = ReadWholeFile(APath, content);
        if (error != 0) return error;
        const int fd = open(AKeptAs.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return static_cast<TOsError>(errno);
        error = WriteAll(fd, content);
        if (error == 0 && fsync(fd) != 0) error = static_cast<TOsError>(errno);
        close(fd);
        return error;
    }
}

void RemoveStaleTemporaries(const std::string& APath) {
    const std::string folder = ParentFolder(APath);
    const std::string prefix = BaseName(APath) + ".tmp.";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.starts_with(prefix)) unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
}

TFileLock::~TFileLock() {
    if (FFd >= 0) close(FFd); // closing releases the lock
}

TOsError TFileLock::LockFile(const std::string& ALockPath) {
    const int fd = open(ALockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return static_cast<TOsError>(errno);
    const TOsError error = FlockRetrying(fd);
    if (error != 0) {
        close(fd);
        return error;
    }
    FFd = fd;
    return 0;
}

TOsError TFileLock::LockInPlace(const std::string& APath) {
    for (;;) {
        const int fd = open(APath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return static_cast<TOsError>(errno);
        TOsError error = FlockRetrying(fd);
        struct stat locked {};
        struct stat current {};
        if (error == 0 && fstat(fd, &locked) != 0) error = static_cast<TOsError>(errno);
        if (error != 0) {
            close(fd);
            return error;
        }
        if (stat(APath.c_str(), &current) == 0 && current.st_dev == locked.st_dev &&
            current.st_ino == locked.st_ino) {
            FFd = fd;
            return 0;
        }
        close(fd);
    }
}

} // namespace cport
