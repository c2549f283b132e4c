// Modem lines (and parity) for pseudo-terminals, loaded into Wine's processes with LD_PRELOAD.
//
// A pty has no modem lines: the line ioctls answer ENOTTY, and Wine's serial emulation then
// fails every WaitCommEvent, GetCommModemStatus and DTR/RTS escape. A pty also forces CS8 and
// drops PARENB, and glibc's tcsetattr then reports EINVAL for settings it did apply, which fails
// SetCommState with parity or fewer data bits. For each pty slave that has a state file
// ($QUENDAL_MODEM_DIR/pts-<n>) this library answers the line ioctls from the file and keeps the
// character size and parity enable there, as a serial line would; the test's device side shares
// the file:
//   bytes 0-3   lines the device drives (CTS, DSR, RI, CD), written by the device side only;
//   bytes 4-7   lines the port drives (DTR, RTS), written by this library only;
//   bytes 8-11  how often the lines were read, written by this library only: Wine reads them
//               every millisecond while an event wait with line events is pending, which is how
//               the device side knows that a line change now will be seen;
//   bytes 12-15 the CSIZE and PARENB bits last set, with KeptFlag, written by this library only.
// The lines are TIOCM_* bit sets, everything in native byte order. Every other descriptor and
// request goes to the real ioctl. Kept out of sanitizer builds: AddressSanitizer refuses to run
// under a preload.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

using TIoctl = int (*)(int, unsigned long, ...);
using TGetAttr = int (*)(int, termios*);
using TSetAttr = int (*)(int, int, const termios*);

constexpr int DeviceLines = TIOCM_CTS | TIOCM_DSR | TIOCM_RI | TIOCM_CD;
constexpr int PortLines = TIOCM_DTR | TIOCM_RTS;
constexpr off_t DeviceOffset = 0;
constexpr off_t PortOffset = 4;
constexpr off_t ReadsOffset = 8;
constexpr off_t KeptOffset = 12;
constexpr std::int32_t KeptFlag = 0x40000000;
constexpr tcflag_t KeptBits = CSIZE | PARENB;

std::mutex PortLinesLock; // read-modify-write of the port's word
std::atomic<std::int32_t> Reads{0};

template <typename TFunction>
TFunction Real(const char* AName) {
    return reinterpret_cast<TFunction>(::dlsym(RTLD_NEXT, AName));
}

TIoctl RealIoctl() {
    static const auto real = Real<TIoctl>("ioctl");
    return real;
}

TGetAttr RealGetAttr() {
    static const auto real = Real<TGetAttr>("tcgetattr");
    return real;
}

TSetAttr RealSetAttr() {
    static const auto real = Real<TSetAttr>("tcsetattr");
    return real;
}

// The state file of AFd when it is a pty slave that has one, else -1. Unix98 pty slaves have the
// majors 136 to 143.
int OpenState(int AFd) {
    struct stat info {};
    if (::fstat(AFd, &info) != 0 || !S_ISCHR(info.st_mode)) return -1;
    const unsigned major = ::major(info.st_rdev);
    if (major < 136 || major > 143) return -1;
    const char* dir = std::getenv("QUENDAL_MODEM_DIR");
    if (dir == nullptr) return -1;
    char path[512];
    const unsigned index = (major - 136) * 256 + ::minor(info.st_rdev);
    if (std::snprintf(path, sizeof path, "%s/pts-%u", dir, index) >= static_cast<int>(sizeof path))
        return -1;
    return ::open(path, O_RDWR | O_CLOEXEC);
}

int ReadWord(int AState, off_t AOffset) {
    std::int32_t word = 0;
    if (::pread(AState, &word, sizeof word, AOffset) != static_cast<ssize_t>(sizeof word)) return 0;
    return word;
}

int Lines(int AState) {
    return (ReadWord(AState, DeviceOffset) & DeviceLines) |
           (ReadWord(AState, PortOffset) & PortLines);
}

void ChangePortLines(int AState, int ASet, int AClear) {
    std::lock_guard lock(PortLinesLock);
    const std::int32_t word = (ReadWord(AState, PortOffset) | ASet) & ~AClear & PortLines;
    (void)!::pwrite(AState, &word, sizeof word, PortOffset);
}

// Answers a modem-line request for a pty with a state file; false for anything else.
bool Answer(int AFd, unsigned long ARequest, void* AArg) {
    // Wine polls TIOCMGET and never waits in TIOCMIWAIT, which therefore stays unanswered.
    if (ARequest != TIOCMGET && ARequest != TIOCMSET && ARequest != TIOCMBIS &&
        ARequest != TIOCMBIC)
        return false;
    const int state = OpenState(AFd);
    if (state < 0) return false;
    if (ARequest == TIOCMGET) {
        *static_cast<int*>(AArg) = Lines(state);
        const std::int32_t reads = ++Reads;
        (void)!::pwrite(state, &reads, sizeof reads, ReadsOffset);
    } else {
        const int bits = *static_cast<const int*>(AArg) & PortLines;
        if (ARequest == TIOCMSET)
            ChangePortLines(state, bits, PortLines & ~bits);
        else if (ARequest == TIOCMBIS)
            ChangePortLines(state, bits, 0);
        else
            ChangePortLines(state, 0, bits);
    }
    ::close(state);
    return true;
}

} // namespace

extern "C" int ioctl(int AFd, unsigned long ARequest, ...) noexcept {
    va_list args;
    va_start(args, ARequest);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int saved = errno;
    if (Answer(AFd, ARequest, arg)) {
        errno = saved;
        return 0;
    }
    return RealIoctl()(AFd, ARequest, arg);
}

extern "C" int tcgetattr(int AFd, termios* ATermios) noexcept {
    const int result = RealGetAttr()(AFd, ATermios);
    if (result != 0) return result;
    const int saved = errno;
    const int state = OpenState(AFd);
    if (state >= 0) {
        const std::int32_t kept = ReadWord(state, KeptOffset);
        if (kept & KeptFlag)
            ATermios->c_cflag =
                (ATermios->c_cflag & ~KeptBits) | (static_cast<tcflag_t>(kept) & KeptBits);
        ::close(state);
    }
    errno = saved;
    return 0;
}

extern "C" int tcsetattr(int AFd, int AActions, const termios* ATermios) noexcept {
    int result = RealSetAttr()(AFd, AActions, ATermios);
    const int error = errno;
    const int state = OpenState(AFd);
    if (state < 0) return result;
    // glibc reports EINVAL when the pty did not keep CSIZE or PARENB; all else was applied.
    termios applied{};
    if (result != 0 && error == EINVAL && RealGetAttr()(AFd, &applied) == 0 &&
        (applied.c_cflag & ~KeptBits) == (ATermios->c_cflag & ~KeptBits))
        result = 0;
    if (result == 0) {
        const std::int32_t kept =
            KeptFlag | static_cast<std::int32_t>(ATermios->c_cflag & KeptBits);
        (void)!::pwrite(state, &kept, sizeof kept, KeptOffset);
    }
    ::close(state);
    errno = result == 0 ? 0 : error;
    return result;
}
