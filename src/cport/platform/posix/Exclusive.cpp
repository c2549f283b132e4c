#include "Exclusive.h"

#include "platform/posix/store/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace cport {

namespace {

// Pseudo-terminal slaves (UNIX98) use these majors; their masters are all /dev/ptmx.
constexpr unsigned PtySlaveMajorFirst = 136;
constexpr unsigned PtySlaveMajorLast = 143;
constexpr unsigned PtmxMajor = 5;
constexpr unsigned PtmxMinor = 2;

bool IsNumber(const char* AText) {
    if (*AText == '\0') return false;
    for (; *AText != '\0'; ++AText)
        if (*AText < '0' || *AText > '9') return false;
    return true;
}

std::string CommandName(long APid) {
    std::string name;
    if (ReadWholeFile("/proc/" + std::to_string(APid) + "/comm", name) != 0) return {};
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return name;
}

bool ProcessRuns(long APid) {
    return ::kill(static_cast<pid_t>(APid), 0) == 0 || errno == EPERM;
}

// The pseudo-terminal whose master the descriptor AFd of process APid holds, or -1.
long MasterIndex(long APid, const char* AFd) {
    std::string info;
    if (ReadWholeFile("/proc/" + std::to_string(APid) + "/fdinfo/" + AFd, info) != 0) return -1;
    const std::string key = "tty-index:";
    const std::size_t at = info.find(key);
    if (at == std::string::npos) return -1;
    return std::strtol(info.c_str() + at + key.size(), nullptr, 10);
}

// Whether process APid has ADevice open (other than through AOwnFd), and not as the other
// side of the same pseudo-terminal (APtyIndex >= 0 for a pty slave).
bool Holds(long APid, dev_t ADevice, int AOwnFd, long APtyIndex) {
    const std::string folder = "/proc/" + std::to_string(APid) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false; // another user's process: not ours to see
    bool holds = false;
    bool master = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsNumber(entry->d_name)) continue;
        if (AOwnFd >= 0 && std::atoi(entry->d_name) == AOwnFd) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
        if (st.st_rdev == ADevice) holds = true;
        if (APtyIndex >= 0 && major(st.st_rdev) == PtmxMajor && minor(st.st_rdev) == PtmxMinor &&
            MasterIndex(APid, entry->d_name) == APtyIndex)
            master = true;
    }
    ::closedir(dir);
    return holds && !master;
}

bool ParsePid(const std::string& AText, long& APid) {
    std::size_t at = AText.find_first_not_of(' ');
    if (at == std::string::npos) return false;
    const std::size_t end = AText.find_first_not_of("0123456789", at);
    const std::size_t digits = (end == std::string::npos ? AText.size() : end) - at;
    if (digits == 0 || digits > 10) return false;
    if (end != std::string::npos && AText.find_first_not_of(" \n", end) != std::string::npos)
        return false;
    APid = std::strtol(AText.c_str() + at, nullptr, 10);
    return APid > 0;
}

std::string LockFolder() {
    const char* folder = std::getenv(LockFolderVariable);
    if (folder != nullptr && folder[0] != '\0') return folder;
    struct stat st {};
    return ::stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode) ? "/run/lock" : "/var/lock";
}

// Writes our lock beside APath and puts it in place in one step: replacing a stale one, or
// only where there is none (EEXIST otherwise).
TOsError WriteLock(const std::string& APath, bool AReplace) {
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    const std::string temp = APath + "." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return static_cast<TOsError>(errno);
    TOsError error = 0;
    // Every program must be able to read whose lock it is, whatever our umask.
    if (::fchmod(fd, 0644) != 0 || ::write(fd, text, static_cast<std::size_t>(length)) != length)
        error = static_cast<TOsError>(errno);
    ::close(fd);
    if (error == 0 && (AReplace ? ::rename(temp.c_str(), APath.c_str())
                                : ::link(temp.c_str(), APath.c_str())) != 0)
        error = static_cast<TOsError>(errno);
    ::unlink(temp.c_str());
    return error;
}

} // namespace

std::string InUseReason(const TDeviceHolder& AHolder) {
    if (AHolder.Pid <= 0) return "in use by another program";
    const std::string name = AHolder.Name.empty() ? "another program" : AHolder.Name;
    return "in use by " + name + " (PID " + std::to_string(AHolder.Pid) + ")";
}

std::string PermissionReason(const std::string& ANode) {
    struct stat st {};
    if (::stat(ANode.c_str(), &st) != 0 || st.st_uid == ::geteuid() ||
        (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return {};
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    groups.push_back(::getegid());
    for (const gid_t group : groups)
        if (group == st.st_gid) return {}; // a member already: something else refuses
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr)
        return {};
    return std::string("Permission denied: add yourself to the ") + found->gr_name + " group";
}

bool IsPtySlave(dev_t ADevice) {
    return major(ADevice) >= PtySlaveMajorFirst && major(ADevice) <= PtySlaveMajorLast;
}

bool FindDeviceHolder(dev_t ADevice, int AOwnFd, bool AIncludeSelf, TDeviceHolder& AHolder) {
    const long ptyIndex =
        IsPtySlave(ADevice)
            ? static_cast<long>((major(ADevice) - PtySlaveMajorFirst) * 256 + minor(ADevice))
            : -1;
    const long self = ::getpid();
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (!IsNumber(entry->d_name)) continue;
        const long pid = std::strtol(entry->d_name, nullptr, 10);
        if (pid == self && !AIncludeSelf) continue;
        if (!Holds(pid, ADevice, pid == self ? AOwnFd : -1, ptyIndex)) continue;
        AHolder = {pid, CommandName(pid)};
        found = true;
        break;
    }
    ::closedir(proc);
    return found;
}

TUucpLock::~TUucpLock() {
    Release();
}

TOsError TUucpLock::Acquire(const std::string& ANode, TDeviceHolder& AHolder) {
    Release();
    char real[PATH_MAX];
    const std::string node = ::realpath(ANode.c_str(), real) != nullptr ? real : ANode;
    const std::string path = LockFolder() + "/LCK.." + node.substr(node.rfind('/') + 1);
    // A few rounds, for a lock that comes or goes while we look at it.
    for (int round = 0; round < 3; ++round) {
        std::string text;
        const TOsError read = ReadWholeFile(path, text);
        if (read == ENOENT) {
            const TOsError written = WriteLock(path, false);
            if (written == EEXIST) continue;
            if (written == 0) FPath = path;
            return 0; // a folder we may not write: no lock, as other programs do then
        }
        if (read != 0) return 0;
        long pid = 0;
        if (ParsePid(text, pid)) {
            if (pid == ::getpid()) {
                FPath = path;
                return 0;
            }
            if (ProcessRuns(pid)) {
                AHolder = {pid, CommandName(pid)};
                return EBUSY;
            }
        }
        // Stale (its process is gone, or it holds no PID): replaced in one step, so that no
        // other program finds the name missing meanwhile.
        if (WriteLock(path, true) == 0) FPath = path;
        return 0;
    }
    return 0;
}

void TUucpLock::Release() {
    if (FPath.empty()) return;
    std::string text;
    long pid = 0;
    if (ReadWholeFile(FPath, text) == 0 && ParsePid(text, pid) && pid == ::getpid())
        ::unlink(FPath.c_str());
    FPath.clear();
}

} // namespace cport
