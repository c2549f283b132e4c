#include "DeviceOperation.h"

#include "Exclusive.h"
#include "InterruptibleThread.h"
#include "Termios2.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cport {

namespace {

// Why opening the node failed, in the user's words: who holds a busy device, which group may
// open it; the system's text otherwise.
std::string OpenFailureReason(const std::string& ANode, TOsError AError) {
    if (AError == EBUSY) {
        TDeviceHolder holder;
        struct stat st {};
        if (::stat(ANode.c_str(), &st) == 0) FindDeviceHolder(st.st_rdev, -1, true, holder);
        return InUseReason(holder);
    }
    if (AError == EACCES || AError == EPERM) {
        std::string reason = PermissionReason(ANode);
        if (!reason.empty()) return reason;
    }
    char buffer[256];
    // Not OsErrorText: 6 is ENXIO here, not the invalid handle it stands for elsewhere.
    return ::strerror_r(static_cast<int>(AError), buffer, sizeof buffer);
}

bool ParseComNumber(const std::string& AName, unsigned& ANumber) {
    if (AName.size() < 4 || AName.size() > 12) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if ((AName[i] | 0x20) != "com"[i]) return false;
    ANumber = 0;
    for (std::size_t i = 3; i < AName.size(); ++i) {
        if (AName[i] < '0' || AName[i] > '9') return false;
        ANumber = ANumber * 10 + static_cast<unsigned>(AName[i] - '0');
    }
    return ANumber >= 1;
}

} // namespace

std::string DeviceNodeFor(const std::string& APath) {
    static const std::string prefix = "\\\\.\\";
    const std::string name = APath.rfind(prefix, 0) == 0 ? APath.substr(prefix.size()) : APath;
    if (!name.empty() && name.front() == '/') return name;
    unsigned number = 0;
    if (ParseComNumber(name, number)) return "/dev/ttyS" + std::to_string(number - 1);
    return "/dev/" + name;
}

// --- Opening and closing --------------------------------------------------------------------

TDevice::TDevice(int AFd, bool AOverlapped)
    : FFd(AFd)
    , FOverlapped(AOverlapped) {}

TDevice::~TDevice() {
    Close();
}

TOsError TDevice::Open(const std::string& APath, bool AOverlapped,
                       std::shared_ptr<TDevice>& ADevice) {
    const std::string node = DeviceNodeFor(APath);
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const TOsError error = Errno();
        SetErrorReason(error, OpenFailureReason(node, error));
        return error;
    }
    std::shared_ptr<TDevice> device(new TDevice(fd, AOverlapped));
    if (const TOsError error = device->Init(node)) return error;
    ADevice = std::move(device);
    return 0;
}

TOsError TDevice::Init(const std::string& ANode) {
    if (::isatty(FFd) == 0) return ENOTTY;
    struct stat st {};
    if (::fstat(FFd, &st) != 0) return Errno();
    TDeviceHolder holder;
    // flock keeps out a second opener, in this process too, and root, whom TIOCEXCL lets in.
    if (::flock(FFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return Errno();
        FindDeviceHolder(st.st_rdev, FFd, true, holder);
        SetErrorReason(EBUSY, InUseReason(holder));
        return EBUSY;
    }
    // A program that opened the device plainly takes neither lock: its descriptors show it,
    // and so does the UUCP lock file that serial programs take.
    if (FindDeviceHolder(st.st_rdev, FFd, false, holder) || FLockFile.Acquire(ANode, holder) != 0) {
        SetErrorReason(EBUSY, InUseReason(holder));
        return EBUSY;
    }
    FOutputHeld = !IsPtySlave(st.st_rdev);
    if (::ioctl(FFd, TIOCEXCL) != 0) return Errno();
    // The flag lives in the terminal, not in our descriptor: Close clears it again.
    FExclusive = true;
    // A handle starts with transmission running, as on Windows; an output stop (TCOOFF) lives
    // in the terminal and would outlast the handle that set it.
    if (::tcflow(FFd, TCOON) != 0) return Errno();
    if (const TOsError error = MakeRawLine(FFd)) return error;
    TLineSettings line;
    if (const TOsError error = ReadLine(FFd, line)) return error;
    FDcb.BaudRate = line.BaudRate;
    FDcb.Flags = DcbFlag::Binary;
    FDcb.ByteSize = line.ByteSize;
    FDcb.Parity = line.Parity;
    FDcb.StopBits = line.StopBits;
    FDcb.XonChar = static_cast<char>(line.XonChar);
    FDcb.XoffChar = static_cast<char>(line.XoffChar);

    int lines = 0;
    FHasModemLines = ::ioctl(FFd, TIOCMGET, &lines) == 0;
    if (FHasModemLines) {
        FModemLines = lines;
        FDtr = (lines & TIOCM_DTR) != 0;
        FRts = (lines & TIOCM_RTS) != 0;
    }
    serial_icounter_struct counts{};
    FHasCounters = ::ioctl(FFd, TIOCGICOUNT, &counts) == 0;
    if (FHasCounters) {
        FCounts.Frame = counts.frame;
        FCounts.Overrun = counts.overrun;
        FCounts.Parity = counts.parity;
        FCounts.Brk = counts.brk;
        FCounts.BufOverrun = counts.buf_overrun;
    }
    FQueue.Resize(std::max(DefaultQueueSize, MinQueueCapacity));
    FRx80Threshold = (std::size_t{DefaultQueueSize} * 4 + 4) / 5;
    FDecoder.Configure({false, false, 0, true, 0, false});
    return 0;
}

void TDevice::Close() {
    bool xoffHeld = false;
    {
        std::unique_lock lock(FLock);
        if (FClosed) return;
        FClosed = true;
        FRequestGrew = true;
        CompleteAll(FReads, WinError::OperationAborted);
        CompleteAll(FWrites, WinError::OperationAborted);
        if (FWaitOp) {
            const POp op = std::move(FWaitOp);
            Complete(*op, WinError::OperationAborted);
        }
        FPriority.clear();
        if (FWaitLink) {
            FWaitLink->Unlink(this);
            FWaitLink.reset();
        }
        Advertise();
        // The descriptor is closed only once no waiter polls it any more, so no thread ever
        // polls a closed or reused descriptor.
        FUnpolled.wait(lock, [this] { return FPolling == 0; });
        xoffHeld = FXoffHeld;
    }
    if (FWatcher) {
        FWatcher->Stop();
        FWatcher.reset();
    }
    // Not left to whoever opens the device next: an output stop, and the exclusive flag,
    // which would keep every later opener but root out while the terminal exists.
    if (xoffHeld) ::tcflow(FFd, TCOON);
    if (FExclusive) ::ioctl(FFd, TIOCNXCL);
    ::close(FFd);
    FLockFile.Release();
}

} // namespace cport
