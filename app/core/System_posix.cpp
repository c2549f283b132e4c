#include "System.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quendal {

namespace {

// The descriptor a file holds (its handle is wide enough for other systems' handles).
int Fd(std::intptr_t AHandle) {
    return static_cast<int>(AHandle);
}

} // namespace

TFile TFile::Open(const std::string& APath, TMode AMode, TFileError& AError) {
    int flags = O_CLOEXEC;
    switch (AMode) {
    case TMode::CreateNew:
        flags |= O_RDWR | O_APPEND | O_CREAT | O_EXCL;
        break;
    case TMode::CreateTemporary:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
    case TMode::Append:
        flags |= O_RDWR | O_APPEND;
        break;
    case TMode::Read:
        flags |= O_RDONLY;
        break;
    case TMode::Write:
        flags |= O_WRONLY | O_NOCTTY;
        break;
    }
    TFile file;
    do
        file.FHandle = ::open(APath.c_str(), flags, 0644);
    while (file.FHandle < 0 && errno == EINTR);
    if (file.FHandle < 0) AError = files::LastError();
    return file;
}

void TFile::Close() {
    if (FHandle >= 0) ::close(Fd(FHandle));
    FHandle = -1;
}

bool TFile::TryLock() {
    return ::flock(Fd(FHandle), LOCK_EX | LOCK_NB) == 0;
}

std::size_t TFile::Write(const char* AData, std::size_t ACount, TFileError& AError) {
    std::size_t done = 0;
    while (done < ACount) {
        const ssize_t n = ::write(Fd(FHandle), AData + done, ACount - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            AError = files::LastError();
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TFile::ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount,
                          TFileError& AError) const {
    std::size_t done = 0;
    while (done < ACount) {
        const ssize_t n =
            ::pread(Fd(FHandle), ABuffer + done, ACount - done, static_cast<off_t>(AOffset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            AError = files::LastError();
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TFile::CopyFrom(const TFile& ASource, std::uint64_t AOffset, std::size_t ACount,
                            TFileError& AError) {
    std::size_t done = 0;
    while (done < ACount) {
        auto from = static_cast<off_t>(AOffset + done);
        const ssize_t n =
            ::copy_file_range(Fd(ASource.FHandle), &from, Fd(FHandle), nullptr, ACount - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return done; // the source ended
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF) {
            AError = files::LastError();
            return done;
        }
        // Not between these two (a device, another file system on an old kernel): by hand.
        std::vector<char> buffer(std::min<std::size_t>(ACount - done, 1 << 20));
        while (done < ACount) {
            const std::size_t want = std::min(buffer.size(), ACount - done);
            const std::size_t got = ASource.ReadAt(AOffset + done, buffer.data(), want, AError);
            if (got == 0) return done;
            const std::size_t written = Write(buffer.data(), got, AError);
            done += written;
            if (written < got) return done;
        }
    }
    return done;
}

std::size_t TFile::Read(char* ABuffer, std::size_t ACount, TFileError& AError) {
    for (;;) {
        const ssize_t n = ::read(Fd(FHandle), ABuffer, ACount);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) {
            AError = files::LastError();
            return 0;
        }
    }
}

bool TFile::Sync(TFileError& AError) {
    if (::fdatasync(Fd(FHandle)) == 0) return true;
    // Devices and pipes cannot be synced, and need not be.
    if (errno == EINVAL || errno == EROFS) return true;
    AError = files::LastError();
    return false;
}

std::uint64_t TFile::Size() const {
    struct stat status {};
    return ::fstat(Fd(FHandle), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

bool TFile::Truncate(std::uint64_t ASize) {
    return ::ftruncate(Fd(FHandle), static_cast<off_t>(ASize)) == 0;
}

void TFile::CopyPermissionsFrom(const std::string& APath) {
    struct stat status {};
    if (::stat(APath.c_str(), &status) == 0) ::fchmod(Fd(FHandle), status.st_mode & 07777);
}

namespace files {

TFileError LastError() {
    const int code = errno;
    return TFileError{code, std::strerror(code)};
}

bool MakeFolders(const std::string& APath, TFileError& AError) {
    std::string path;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = APath.find('/', pos + 1);
        path = APath.substr(0, pos);
        if (path.empty()) continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            AError = LastError();
            return false;
        }
    }
    struct stat status {};
    if (::stat(APath.c_str(), &status) != 0) {
        AError = LastError();
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        AError = TFileError{ENOTDIR, std::strerror(ENOTDIR)};
        return false;
    }
    return true;
}

void SyncFolder(const std::string& APath) {
    const int folder = ::open(APath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    ::fsync(folder);
    ::close(folder);
}

std::vector<TFileInfo> List(const std::string& AFolder, const std::string& APrefix,
                            const std::string& ASuffix) {
    std::vector<TFileInfo> found;
    DIR* folder = ::opendir(AFolder.c_str());
    if (folder == nullptr) return found;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() < APrefix.size() + ASuffix.size() || name.rfind(APrefix, 0) != 0 ||
            name.compare(name.size() - ASuffix.size(), ASuffix.size(), ASuffix) != 0)
            continue;
        TFileInfo info;
        info.Path = AFolder + "/" + name;
        struct stat status {};
        if (::lstat(info.Path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        info.Size = static_cast<std::uint64_t>(status.st_size);
        info.Modified = status.st_mtime;
        found.push_back(std::move(info));
    }
    ::closedir(folder);
    return found;
}

bool Exists(const std::string& APath) {
    struct stat status {};
    return ::stat(APath.c_str(), &status) == 0;
}

bool Stat(const std::string& APath, TFileInfo& AInfo) {
    struct stat status {};
    if (::stat(APath.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    AInfo.Path = APath;
    AInfo.Size = static_cast<std::uint64_t>(status.st_size);
    AInfo.Modified = status.st_mtime;
    return true;
}

bool Remove(const std::string& APath) {
    return ::unlink(APath.c_str()) == 0;
}

bool IsDevice(const std::string& APath) {
    struct stat status {};
    return ::stat(APath.c_str(), &status) == 0 && !S_ISREG(status.st_mode) &&
           !S_ISDIR(status.st_mode);
}

bool MayWrite(const std::string& APath, TFileError& AError) {
    struct stat status {};
    if (::stat(APath.c_str(), &status) != 0) {
        AError = LastError();
        return false;
    }
    mode_t bit = S_IWOTH;
    if (status.st_uid == ::geteuid())
        bit = S_IWUSR;
    else if (status.st_gid == ::getegid())
        bit = S_IWGRP;
    if ((status.st_mode & bit) != 0) return true;
    AError = TFileError{EACCES, std::strerror(EACCES)};
    return false;
}

std::string Resolve(const std::string& APath) {
    char* resolved = ::realpath(APath.c_str(), nullptr);
    if (resolved == nullptr) return APath;
    std::string path = resolved;
    std::free(resolved);
    return path;
}

std::string FolderOf(const std::string& APath) {
    const std::size_t slash = APath.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : APath.substr(0, slash);
}

std::string NameOf(const std::string& APath) {
    const std::size_t slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

bool Replace(const std::string& ASource, const std::string& ATarget, TFileError& AError) {
    if (::rename(ASource.c_str(), ATarget.c_str()) == 0) return true;
    AError = LastError();
    return false;
}

std::string TemporaryNameFor(const std::string& APath) {
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::string folder = FolderOf(APath);
    for (;;) {
        const std::string name =
            folder + "/." + NameOf(APath) + "." + std::to_string(random() % 1000000) + ".tmp";
        if (!Exists(name)) return name;
    }
}

std::string StateHome() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return state;
    const char* home = std::getenv("HOME");
    std::string base;
    if (home != nullptr && home[0] != '\0') {
        base = home;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) {
        base = user->pw_dir;
    } else {
        base = "/tmp";
    }
    return base + "/.local/state";
}

long ProcessId() {
    return static_cast<long>(::getpid());
}

std::tm LocalTime(std::time_t ATime) {
    std::tm local{};
    ::localtime_r(&ATime, &local);
    return local;
}

void OnStopSignal(std::function<void()> AStop) {
    // Blocked here, before the other threads start, they inherit the mask: only sigwait below
    // takes these signals.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops, stop = std::move(AStop)] {
        for (;;) {
            int signal = 0;
            if (::sigwait(&stops, &signal) == 0) stop();
        }
    }).detach();
}

} // namespace files
} // namespace quendal
