#include "Device.h"

#include "Exclusive.h"
#include "InterruptibleThread.h"
#include "Termios2.h"

#include <algorithm>
#include <cerrno>
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

// A running operation's record holds STATUS_PENDING, as on Windows.
constexpr std::uintptr_t RecordPending = 0x103;
constexpr std::uint32_t MaxQueueSize = 64u << 20;
constexpr std::uint32_t DefaultQueueSize = 4096;
// The input queue holds at least this much, whatever size is asked for (sizes are a
// recommendation, as on Windows): with the 1 KiB a port asks for by default, a fast device
// would cost a hand-over to the GUI thread per kilobyte. Measured on a pty: a 16 MiB bulk
// receive reaches a fifth of the machine's limit with 1 KiB, all of it with 64 KiB.
constexpr std::uint32_t MinQueueCapacity = 64u << 10;
constexpr std::uint32_t ModemEvents = EvMask::Cts | EvMask::Dsr | EvMask::Rlsd | EvMask::Ring;
constexpr std::uint32_t LineErrors = CommError::Frame | CommError::Overrun | CommError::RxParity;
constexpr auto MaxTxEmptyBackoff = std::chrono::seconds(1);
// Beyond this a limit is as good as none, and the clock's arithmetic stays in range.
constexpr std::uint64_t MaxLimitMs = 100ull * 365 * 24 * 3600 * 1000;

TOsError Errno() {
    return static_cast<TOsError>(errno);
}

TTime After(TTime AStart, std::uint64_t AMs) {
    if (AMs > MaxLimitMs) return NoDeadline;
    return AStart + std::chrono::milliseconds(AMs);
}

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

// --- TByteQueue -----------------------------------------------------------------------------

std::uint8_t* TByteQueue::FreeSpace(std::size_t& ALength) {
    ALength = 0;
    const std::size_t room = Room();
    if (room == 0) return nullptr;
    if (FCount == 0) FHead = 0;
    const std::size_t size = FBuffer.size();
    std::size_t tail = FHead + FCount;
    std::size_t contiguous = 0;
    if (tail >= size) {
        tail -= size;
        contiguous = FHead - tail;
    } else {
        contiguous = size - tail;
    }
    ALength = std::min(contiguous, room);
    return FBuffer.data() + tail;
}

std::size_t TByteQueue::Take(std::uint8_t* ADest, std::size_t AMax) {
    const std::size_t count = std::min(AMax, FCount);
    if (count == 0) return 0;
    const std::size_t first = std::min(count, FBuffer.size() - FHead);
    std::memcpy(ADest, FBuffer.data() + FHead, first);
    std::memcpy(ADest + first, FBuffer.data(), count - first);
    FHead = (FHead + count) % FBuffer.size();
    FCount -= count;
    return count;
}

void TByteQueue::Clear() {
    FHead = 0;
    FCount = 0;
}

void TByteQueue::Resize(std::size_t ALimit) {
    std::vector<std::uint8_t> buffer(std::max(ALimit, FCount));
    const std::size_t count = Take(buffer.data(), FCount);
    FBuffer.swap(buffer);
    FHead = 0;
    FCount = count;
    FLimit = ALimit;
}

// --- Operations -----------------------------------------------------------------------------

struct TDevice::TOp {
    enum class TKind : std::uint8_t {
        Read,
        Write,
        WaitEvent
    };

    TKind Kind = TKind::Read;
    TOverlapped* Overlapped = nullptr;
    std::shared_ptr<TEvent> Event;
    bool Linked = false;
    std::uint8_t* Dest = nullptr;
    const std::uint8_t* Source = nullptr;
    std::uint32_t Count = 0;
    std::uint32_t Done = 0;
    std::uint32_t* EvtMask = nullptr;
    std::uint32_t Events = 0;
    TReadPlan Plan;
    std::optional<std::uint64_t> WriteLimitMs;
    bool Active = false;
    TTime Deadline = NoDeadline;
    TTime LastByte{};
    bool Completed = false;
    TOsError Result = 0;
    int WaiterFd = -1;
};

// Locks the device for one operation and, before unlocking, wakes the waiters whose poll no
// longer fits the device.
class TDevice::TScope {
public:
    explicit TScope(TDevice& ADevice)
        : FDevice(ADevice)
        , FLock(ADevice.FLock) {}
    ~TScope() { FDevice.Advertise(); }
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

    std::unique_lock<std::mutex>& Lock() { return FLock; }

private:
    TDevice& FDevice;
    std::unique_lock<std::mutex> FLock;
};

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
        CompleteAll(FReads, WinError::OperationAborted);
        CompleteAll(FWrites, WinError::OperationAborted);
        if (FWaitOp) {
            const POp op = std::move(FWaitOp);
            Complete(*op, WinError::OperationAborted);
        }
        FPriority.clear();
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

// --- The pump -------------------------------------------------------------------------------

TOsError TDevice::Usable() const {
    if (FClosed) return WinError::InvalidHandle;
    return FGone;
}

void TDevice::Pump() {
    Pump(InputUnknown | POLLOUT);
}

void TDevice::Pump(short AReady) {
    if (FClosed || FGone != 0) return;
    // A hung-up terminal (device gone, pty master closed) reports this; its input is lost.
    if ((AReady & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        HangUp(EIO);
        return;
    }
    const TTime now = TClock::now();
    if ((AReady & (POLLIN | InputUnknown)) != 0) ReadInput(now, (AReady & POLLIN) != 0);
    if (FGone == 0 && (AReady & POLLOUT) != 0) WriteOutput(now);
    if (FGone == 0) Expire(now);
    CheckRx80();
}

// A read that finds the line discipline's buffer empty waits for the kernel to flush its
// pending input first, a context switch or two: FIONREAD, which does not, tells whether to
// read at all when no poll has said so.
bool TDevice::InputWaiting() {
    int waiting = 0;
    if (::ioctl(FFd, FIONREAD, &waiting) == 0) return waiting > 0;
    if (errno != EIO) return true;
    HangUp(EIO);
    return false;
}

void TDevice::ReadInput(TTime ANow, bool AReady) {
    std::uint32_t events = 0;
    std::uint32_t markErrors = 0;
    bool received = false;
    for (bool ready = AReady;; ready = false) {
        std::size_t length = 0;
        std::uint8_t* space = FQueue.FreeSpace(length);
        // A full queue stops reading: the kernel and the sender wait, nothing is lost.
        if (length == 0) break;
        if (!ready && !InputWaiting()) break;
        const ssize_t got = ::read(FFd, space, length);
        if (got > 0) {
            const TDecodeResult decoded =
                FDecoder.Decode(space, static_cast<std::size_t>(got), space);
            FQueue.Commit(decoded.Count);
            if (decoded.Count > 0) events |= EvMask::RxChar;
            events |= decoded.Events;
            markErrors |= decoded.Errors;
            received = true;
            Feed(ANow);
            // A terminal hands over at most its flip buffer (about 4 KiB) per read: ask again
            // while more is waiting, so that one event carries what has arrived, not one slice.
            continue;
        }
        // With VMIN 1 and O_NONBLOCK an empty queue gives EAGAIN; 0 is a hang-up.
        if (got == 0) {
            HangUp(EIO);
            return;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            HangUp(Errno());
            return;
        }
        break;
    }
    if (!received) return;
    std::uint32_t errors = markErrors;
    if (FHasCounters) {
        // The counters tell framing from parity errors, and see overruns, which are not marked.
        const std::uint32_t counted = PollCounters();
        if (counted != 0) errors = counted;
    }
    FErrors |= errors;
    if ((errors & LineErrors) != 0) events |= EvMask::Err;
    if ((errors & CommError::Break) != 0) events |= EvMask::Break;
    PostEvents(events);
}

void TDevice::Feed(TTime ANow) {
    while (!FReads.empty() && FQueue.Count() > 0) {
        TOp& op = *FReads.front();
        op.Done += static_cast<std::uint32_t>(FQueue.Take(op.Dest + op.Done, op.Count - op.Done));
        op.LastByte = ANow;
        if (op.Done < op.Count && !op.Plan.ReturnOnFirstByte) break;
        const POp done = FReads.front();
        FReads.pop_front();
        Complete(*done, 0);
        ActivateNext(FReads, ANow);
    }
}

void TDevice::WriteOutput(TTime ANow) {
    bool wrote = false;
    for (;;) {
        const std::uint8_t* data = nullptr;
        std::size_t length = 0;
        if (!FPriority.empty()) {
            data = reinterpret_cast<const std::uint8_t*>(FPriority.data());
            length = FPriority.size();
        } else if (!FWrites.empty()) {
            data = FWrites.front()->Source + FWrites.front()->Done;
            length = FWrites.front()->Count - FWrites.front()->Done;
        } else {
            break;
        }
        const ssize_t put = ::write(FFd, data, length);
        if (put < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) HangUp(Errno());
            return;
        }
        wrote = true;
        FKernelOutput = true;
        const auto count = static_cast<std::size_t>(put);
        if (!FPriority.empty()) {
            FPriority.erase(0, count);
        } else {
            TOp& op = *FWrites.front();
            op.Done += static_cast<std::uint32_t>(count);
            if (op.Done == op.Count) {
                const POp done = FWrites.front();
                FWrites.pop_front();
                Complete(*done, 0);
                ActivateNext(FWrites, ANow);
            }
        }
        if (count < length) break;
    }
    if (wrote && FWrites.empty() && FPriority.empty()) OutputDrained(ANow);
}

void TDevice::Expire(TTime ANow) {
    while (!FReads.empty()) {
        const TOp& op = *FReads.front();
        const bool total = ANow >= op.Deadline;
        const bool interval = op.Plan.IntervalMs != 0 && op.Done > 0 &&
                              ANow >= op.LastByte + std::chrono::milliseconds(op.Plan.IntervalMs);
        if (!total && !interval) break;
        const POp done = FReads.front();
        FReads.pop_front();
        Complete(*done, 0);
        ActivateNext(FReads, ANow);
    }
    bool wroteOff = false;
    while (!FWrites.empty() && ANow >= FWrites.front()->Deadline) {
        const POp done = FWrites.front();
        FWrites.pop_front();
        Complete(*done, 0);
        ActivateNext(FWrites, ANow);
        wroteOff = true;
    }
    if (wroteOff && FWrites.empty() && FPriority.empty()) OutputDrained(ANow);
    if (ANow >= FTxEmptyCheck) CheckTxEmpty(ANow);
}

bool TDevice::Activate(TOp& AOp, TTime ANow) {
    AOp.Active = true;
    if (AOp.Kind == TOp::TKind::Write) {
        if (AOp.WriteLimitMs) AOp.Deadline = After(ANow, *AOp.WriteLimitMs);
        return false;
    }
    const TReadPlan& plan = AOp.Plan;
    AOp.Done += static_cast<std::uint32_t>(FQueue.Take(AOp.Dest + AOp.Done, AOp.Count - AOp.Done));
    if (AOp.Done > 0) AOp.LastByte = ANow;
    const bool full = AOp.Done == AOp.Count;
    const bool now = plan.TotalMs && *plan.TotalMs == 0;
    const bool any = AOp.Done > 0 && (plan.ReturnIfQueued || plan.ReturnOnFirstByte);
    if (full || now || any) {
        Complete(AOp, 0);
        return true;
    }
    if (plan.TotalMs) AOp.Deadline = After(ANow, *plan.TotalMs);
    return false;
}

void TDevice::ActivateNext(std::deque<POp>& AQueue, TTime ANow) {
    while (!AQueue.empty() && !AQueue.front()->Active) {
        const POp op = AQueue.front();
        if (!Activate(*op, ANow)) break;
        AQueue.pop_front();
    }
}

void TDevice::Complete(TOp& AOp, TOsError AError) {
    AOp.Completed = true;
    AOp.Result = AError;
    if (AOp.Kind == TOp::TKind::WaitEvent && AOp.EvtMask != nullptr && AError == 0)
        *AOp.EvtMask = AOp.Events;
    if (AOp.Overlapped != nullptr) {
        AOp.Overlapped->InternalHigh = AOp.Done;
        AOp.Overlapped->Internal = AError;
    }
    if (AOp.Event) {
        if (AOp.Linked) AOp.Event->Unlink(this);
        AOp.Event->Set();
    }
    if (AOp.WaiterFd >= 0) WakeFd(AOp.WaiterFd);
}

void TDevice::CompleteAll(std::deque<POp>& AQueue, TOsError AError) {
    std::deque<POp> ops;
    ops.swap(AQueue);
    for (const POp& op : ops)
        Complete(*op, AError);
}

void TDevice::Withdraw(TOp& AOp, TOsError AError) {
    for (std::deque<POp>* queue : {&FReads, &FWrites}) {
        const auto op = std::find_if(queue->begin(), queue->end(), [&AOp](const POp& ACandidate) {
            return ACandidate.get() == &AOp;
        });
        if (op == queue->end()) continue;
        const POp withdrawn = *op;
        queue->erase(op);
        Complete(AOp, AError);
        ActivateNext(*queue, TClock::now());
        return;
    }
    if (FWaitOp.get() == &AOp) FWaitOp.reset();
    Complete(AOp, AError);
}

void TDevice::HangUp(TOsError AError) {
    FGone = AError;
    CompleteAll(FReads, AError);
    CompleteAll(FWrites, AError);
    if (FWaitOp) {
        const POp op = std::move(FWaitOp);
        Complete(*op, AError);
    }
    FPriority.clear();
    FTxEmptyCheck = NoDeadline;
}

void TDevice::PostEvents(std::uint32_t AEvents) {
    const std::uint32_t events = AEvents & FMask;
    if (events == 0) return;
    if (!FWaitOp) {
        FHistory |= events;
        return;
    }
    const POp op = std::move(FWaitOp);
    op->Events = events | FHistory;
    FHistory = 0;
    Complete(*op, 0);
}

void TDevice::CheckRx80() {
    if (FQueue.Count() < FRx80Threshold) {
        FRx80Armed = true;
    } else if (FRx80Armed) {
        FRx80Armed = false;
        PostEvents(EvMask::Rx80Full);
    }
}

std::uint32_t TDevice::KernelOutput() {
    if (!FKernelOutput) return 0;
    int left = 0;
    if (::ioctl(FFd, TIOCOUTQ, &left) != 0 || left <= 0) {
        FKernelOutput = false;
        return 0;
    }
    return static_cast<std::uint32_t>(left);
}

TTime::duration TDevice::LineTime(std::uint32_t ABytes) const {
    const std::uint64_t bits = 1u + FDcb.ByteSize + (FDcb.Parity != DcbParity::None ? 1u : 0u) +
                               (FDcb.StopBits == DcbStopBits::One ? 1u : 2u);
    const std::uint64_t rate = FDcb.BaudRate != 0 ? FDcb.BaudRate : 9600;
    return std::chrono::nanoseconds(ABytes * bits * 1000000000ull / rate) +
           std::chrono::milliseconds(1);
}

// TXEMPTY is due once the kernel's queue is empty too. A device (unlike a pty) holds output
// in the kernel; it is checked again after the time the line needs for it.
void TDevice::OutputDrained(TTime ANow) {
    if ((FMask & EvMask::TxEmpty) == 0) return;
    const std::uint32_t left = KernelOutput();
    if (left == 0) {
        FTxEmptyCheck = NoDeadline;
        PostEvents(EvMask::TxEmpty);
        return;
    }
    FTxEmptyLast = left;
    FTxEmptyBackoff = LineTime(left);
    FTxEmptyCheck = ANow + FTxEmptyBackoff;
}

void TDevice::CheckTxEmpty(TTime ANow) {
    FTxEmptyCheck = NoDeadline;
    if (!FWrites.empty() || !FPriority.empty()) return;
    const std::uint32_t left = KernelOutput();
    if (left == 0) {
        PostEvents(EvMask::TxEmpty);
        return;
    }
    // Output held by flow control does not shrink: back off rather than check at line pace.
    if (left >= FTxEmptyLast)
        FTxEmptyBackoff = std::min<TTime::duration>(FTxEmptyBackoff * 2, MaxTxEmptyBackoff);
    else
        FTxEmptyBackoff = LineTime(left);
    FTxEmptyLast = left;
    FTxEmptyCheck = ANow + FTxEmptyBackoff;
}

std::uint32_t TDevice::PollCounters() {
    serial_icounter_struct counts{};
    if (::ioctl(FFd, TIOCGICOUNT, &counts) != 0) return 0;
    std::uint32_t errors = 0;
    if (counts.frame != FCounts.Frame) errors |= CommError::Frame;
    if (counts.parity != FCounts.Parity) errors |= CommError::RxParity;
    if (counts.overrun != FCounts.Overrun) errors |= CommError::Overrun;
    if (counts.brk != FCounts.Brk) errors |= CommError::Break;
    if (counts.buf_overrun != FCounts.BufOverrun) errors |= CommError::RxOver;
    FCounts.Frame = counts.frame;
    FCounts.Parity = counts.parity;
    FCounts.Overrun = counts.overrun;
    FCounts.Brk = counts.brk;
    FCounts.BufOverrun = counts.buf_overrun;
    return errors;
}

// --- Waiters --------------------------------------------------------------------------------

TPollRequest TDevice::Request() const {
    TPollRequest request;
    if (FClosed || FGone != 0) return request;
    request.Fd = FFd;
    if (FQueue.Room() > 0) request.Events |= POLLIN;
    if (!FWrites.empty() || !FPriority.empty()) request.Events |= POLLOUT;
    if (!FReads.empty()) {
        const TOp& op = *FReads.front();
        request.Deadline = op.Deadline;
        if (op.Plan.IntervalMs != 0 && op.Done > 0)
            request.Deadline = std::min(
                request.Deadline, op.LastByte + std::chrono::milliseconds(op.Plan.IntervalMs));
    }
    if (!FWrites.empty()) request.Deadline = std::min(request.Deadline, FWrites.front()->Deadline);
    request.Deadline = std::min(request.Deadline, FTxEmptyCheck);
    return request;
}

void TDevice::Register(int AWaiterFd, const TPollRequest& ARequest) {
    FWaiters.push_back({AWaiterFd, ARequest.Events, ARequest.Deadline, ARequest.Fd >= 0, false});
    if (ARequest.Fd >= 0) ++FPolling;
}

void TDevice::Unregister(int AWaiterFd) {
    const auto waiter =
        std::find_if(FWaiters.begin(), FWaiters.end(),
                     [AWaiterFd](const TWaiter& AWaiter) { return AWaiter.Fd == AWaiterFd; });
    if (waiter == FWaiters.end()) return;
    if (waiter->Polls && --FPolling == 0 && FClosed) FUnpolled.notify_all();
    FWaiters.erase(waiter);
}

void TDevice::Advertise() {
    if (FWaiters.empty()) return;
    const TPollRequest now = Request();
    for (TWaiter& waiter : FWaiters) {
        if (waiter.Woken) continue;
        const bool changed =
            now.Fd < 0 ? waiter.Polls
                       : (now.Events & ~waiter.Events) != 0 || now.Deadline < waiter.Deadline;
        if (!changed) continue;
        WakeFd(waiter.Fd);
        waiter.Woken = true;
    }
}

TPollRequest TDevice::BeginWait(int AWaiterFd, short AReturned) {
    TScope scope(*this);
    Pump(AReturned);
    const TPollRequest request = Request();
    Register(AWaiterFd, request);
    return request;
}

void TDevice::EndWait(int AWaiterFd) {
    std::lock_guard lock(FLock);
    Unregister(AWaiterFd);
}

// Waits in the calling thread until AOp has completed; the lock is released while polling.
TOsError TDevice::Block(TOp& AOp, std::unique_lock<std::mutex>& ALock) {
    int wake = -1;
    if (const TOsError error = ThreadWakeFd(wake)) return error;
    AOp.WaiterFd = wake;
    while (!AOp.Completed) {
        const TPollRequest request = Request();
        Register(wake, request);
        Advertise();
        ALock.unlock();
        std::vector<pollfd> fds;
        if (request.Fd >= 0) fds.push_back({request.Fd, request.Events, 0});
        fds.push_back({wake, POLLIN, 0});
        const TOsError error = PollUntil(fds, request.Deadline);
        if ((fds.back().revents & POLLIN) != 0) DrainFd(wake);
        const short returned = request.Fd >= 0 ? fds.front().revents : 0;
        ALock.lock();
        Unregister(wake);
        if (error != 0) {
            // The caller gets its buffer back: the operation must not run on without it.
            AOp.WaiterFd = -1;
            Withdraw(AOp, error);
            return error;
        }
        Pump(returned);
    }
    AOp.WaiterFd = -1;
    return 0;
}

// Either the operation completed at once (its record and event are done), or it runs on:
// pending on an overlapped device, waited for here on the other kind.
TOsError TDevice::Start(const POp& AOp, std::unique_lock<std::mutex>& ALock,
                        std::uint32_t* ATransferred) {
    if (!AOp->Completed) {
        if (AOp->Overlapped != nullptr) {
            AOp->Overlapped->Internal = RecordPending;
            AOp->Overlapped->InternalHigh = 0;
        }
        if (AOp->Event) {
            AOp->Event->Link(shared_from_this());
            AOp->Linked = true;
        }
        if (FOverlapped) return WinError::IoPending;
        if (const TOsError error = Block(*AOp, ALock)) return error;
    }
    if (ATransferred != nullptr) *ATransferred = AOp->Done;
    return AOp->Result;
}

// --- Settings -------------------------------------------------------------------------------

TOsError TDevice::SetupComm(std::uint32_t AInQueue, std::uint32_t AOutQueue) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    if (AInQueue == 0 || AInQueue > MaxQueueSize || AOutQueue > MaxQueueSize) return EINVAL;
    FQueue.Resize(std::max(AInQueue, MinQueueCapacity));
    // The 80 % mark belongs to the size the program asked for.
    FRx80Threshold = (std::size_t{AInQueue} * 4 + 4) / 5;
    CheckRx80();
    Pump();
    return 0;
}

TOsError TDevice::GetState(TDCB& ADcb) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    ADcb = FDcb;
    return 0;
}

// Accepted but not expressible on Linux, so without effect:
// - DTR handshake (fDtrControl 2) and DSR output flow (fOutxDsrFlow): the kernel has no
//   DTR/DSR flow control; DTR keeps its level.
// - DSR sensitivity (fDsrSensitivity): input is never gated by DSR.
// - RTS toggle (fRtsControl 3): the kernel does not raise RTS around transmission.
// - XonLim and XoffLim: the kernel decides when IXOFF sends XOFF and XON.
// - fTXContinueOnXoff: the kernel's IXOFF never stops our output.
// - fAbortOnError: errors never abort transfers.
// - fBinary 0 and EofChar: input is always binary.
TOsError TDevice::SetState(const TDCB& ADcb) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    const std::uint32_t flags = ADcb.Flags;
    const bool xonXoff = (flags & (DcbFlag::OutX | DcbFlag::InX)) != 0;
    if (ADcb.BaudRate == 0 || ADcb.ByteSize < 5 || ADcb.ByteSize > 8 ||
        ADcb.Parity > DcbParity::Space || ADcb.StopBits > DcbStopBits::Two ||
        (xonXoff && ADcb.XonChar == ADcb.XoffChar))
        return EINVAL;
    const std::uint32_t dtr = (flags & DcbFlag::DtrControlMask) >> DcbFlag::DtrControlShift;
    const std::uint32_t rts = (flags & DcbFlag::RtsControlMask) >> DcbFlag::RtsControlShift;

    TLineSettings line;
    line.BaudRate = ADcb.BaudRate;
    line.ByteSize = ADcb.ByteSize;
    line.Parity = ADcb.Parity;
    line.StopBits = ADcb.StopBits;
    line.ParityCheck = (flags & DcbFlag::Parity) != 0;
    line.HardwareFlow = (flags & DcbFlag::OutxCtsFlow) != 0 || rts == 2;
    line.XonXoffOut = (flags & DcbFlag::OutX) != 0;
    line.XonXoffIn = (flags & DcbFlag::InX) != 0;
    line.XonChar = static_cast<std::uint8_t>(ADcb.XonChar);
    line.XoffChar = static_cast<std::uint8_t>(ADcb.XoffChar);
    // Input that came under the old marking rule is decoded by it.
    if (line.ParityCheck != FDecoder.Config().Marks) Pump();
    if (FGone != 0) return FGone;
    std::uint32_t taken = 0;
    if (const TOsError error = ApplyLine(FFd, line, taken)) {
        if (error == EINVAL && taken != 0)
            SetErrorReason(error, "the device does not support " + std::to_string(line.BaudRate) +
                                      " baud (it would run at " + std::to_string(taken) + ")");
        return error;
    }

    TDecoderConfig decoder;
    decoder.DiscardNull = (flags & DcbFlag::Null) != 0;
    decoder.ReplaceErrors = line.ParityCheck && (flags & DcbFlag::ErrorChar) != 0;
    decoder.ErrorChar = static_cast<std::uint8_t>(ADcb.ErrorChar);
    decoder.DetectEvtChar = true;
    decoder.EvtChar = static_cast<std::uint8_t>(ADcb.EvtChar);
    decoder.Marks = line.ParityCheck;
    FDecoder.Configure(decoder);

    if (dtr < 2)
        if (const TOsError error = SetModemLine(TIOCM_DTR, dtr == 1)) return error;
    if (rts < 2)
        if (const TOsError error = SetModemLine(TIOCM_RTS, rts == 1)) return error;
    FDcb = ADcb;
    return 0;
}

TOsError TDevice::GetTimeouts(TCommTimeouts& ATimeouts) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    ATimeouts = FTimeouts;
    return 0;
}

TOsError TDevice::SetTimeouts(const TCommTimeouts& ATimeouts) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    if (!ValidTimeouts(ATimeouts)) return EINVAL;
    FTimeouts = ATimeouts;
    return 0;
}

TOsError TDevice::GetMask(std::uint32_t& AMask) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    AMask = FMask;
    return 0;
}

TOsError TDevice::SetMask(std::uint32_t AMask) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    Pump();
    if (FGone != 0) return FGone;
    FMask = AMask;
    FHistory = 0;
    // Bytes the queue holds already would never be announced: while the queue is full the
    // device is held and no further byte arrives to raise the event. A line that keeps
    // sending (as a UART does) would raise it with its next byte.
    if ((AMask & EvMask::RxChar) != 0 && FQueue.Count() > 0) FHistory = EvMask::RxChar;
    if (FWaitOp) {
        const POp op = std::move(FWaitOp);
        op->Events = 0;
        Complete(*op, 0);
    }
    if ((AMask & ModemEvents) != 0 && FHasModemLines && !FWatcher) StartWatcher();
    return 0;
}

// --- Transfers and event waits --------------------------------------------------------------

TOsError TDevice::WaitEvent(std::uint32_t* AEvtMask, TOverlapped* AOverlapped,
                            const std::shared_ptr<TEvent>& AEvent) {
    TScope scope(*this);
    if (FOverlapped && AOverlapped == nullptr) return EINVAL;
    if (AEvent) AEvent->Reset();
    if (const TOsError error = Usable()) return error;
    // Events already in the history end the wait without asking the device.
    if ((FHistory & FMask) == 0) Pump();
    if (FGone != 0) return FGone;
    if (FWaitOp || FMask == 0) return EINVAL;
    const POp op = std::make_shared<TOp>();
    op->Kind = TOp::TKind::WaitEvent;
    op->Overlapped = AOverlapped;
    op->Event = AEvent;
    op->EvtMask = AEvtMask;
    if ((FHistory & FMask) != 0) {
        op->Events = FHistory & FMask;
        FHistory = 0;
        Complete(*op, 0);
    } else {
        FWaitOp = op;
    }
    return Start(op, scope.Lock(), nullptr);
}

TOsError TDevice::Read(void* ABuffer, std::uint32_t ACount, std::uint32_t* ATransferred,
                       TOverlapped* AOverlapped, const std::shared_ptr<TEvent>& AEvent) {
    TScope scope(*this);
    if (ATransferred != nullptr) *ATransferred = 0;
    if ((FOverlapped && AOverlapped == nullptr) || (ABuffer == nullptr && ACount > 0))
        return EINVAL;
    if (AEvent) AEvent->Reset();
    if (const TOsError error = Usable()) return error;
    // What the queue holds already is read without asking the device.
    if (!FReads.empty() || FQueue.Count() < ACount) Pump();
    if (FGone != 0) return FGone;
    const POp op = std::make_shared<TOp>();
    op->Kind = TOp::TKind::Read;
    op->Overlapped = AOverlapped;
    op->Event = AEvent;
    op->Dest = static_cast<std::uint8_t*>(ABuffer);
    op->Count = ACount;
    op->Plan = PlanRead(FTimeouts, ACount);
    FReads.push_back(op);
    if (FReads.size() == 1 && Activate(*op, TClock::now())) FReads.pop_front();
    CheckRx80();
    return Start(op, scope.Lock(), ATransferred);
}

TOsError TDevice::Write(const void* ABuffer, std::uint32_t ACount, std::uint32_t* ATransferred,
                        TOverlapped* AOverlapped, const std::shared_ptr<TEvent>& AEvent) {
    TScope scope(*this);
    if (ATransferred != nullptr) *ATransferred = 0;
    if ((FOverlapped && AOverlapped == nullptr) || (ABuffer == nullptr && ACount > 0))
        return EINVAL;
    if (AEvent) AEvent->Reset();
    if (const TOsError error = Usable()) return error;
    Pump();
    if (FGone != 0) return FGone;
    const POp op = std::make_shared<TOp>();
    op->Kind = TOp::TKind::Write;
    op->Overlapped = AOverlapped;
    op->Event = AEvent;
    op->Source = static_cast<const std::uint8_t*>(ABuffer);
    op->Count = ACount;
    op->WriteLimitMs = WriteTotalMs(FTimeouts, ACount);
    const TTime now = TClock::now();
    // The direct write first, so that a failing start sets no event.
    if (ACount > 0 && FWrites.empty() && FPriority.empty()) {
        ssize_t put = -1;
        do {
            put = ::write(FFd, op->Source, op->Count);
        } while (put < 0 && errno == EINTR);
        if (put < 0 && errno != EAGAIN) {
            const TOsError error = Errno();
            HangUp(error);
            return error;
        }
        if (put > 0) {
            op->Done = static_cast<std::uint32_t>(put);
            FKernelOutput = true;
        }
    }
    if (op->Done == op->Count) {
        Complete(*op, 0);
        if (ACount > 0) OutputDrained(now);
    } else {
        FWrites.push_back(op);
        if (FWrites.size() == 1) Activate(*op, now);
    }
    return Start(op, scope.Lock(), ATransferred);
}

TOsError TDevice::Outcome(TOverlapped* AOverlapped, std::uint32_t& ATransferred, bool& APending) {
    TScope scope(*this);
    if (AOverlapped->Internal == RecordPending) Pump();
    APending = AOverlapped->Internal == RecordPending;
    if (APending) return 0;
    ATransferred = static_cast<std::uint32_t>(AOverlapped->InternalHigh);
    return static_cast<TOsError>(AOverlapped->Internal);
}

TOsError TDevice::AwaitRecord(TOverlapped* AOverlapped) {
    TScope scope(*this);
    POp op;
    for (const std::deque<POp>* queue : {&FReads, &FWrites})
        for (const POp& candidate : *queue)
            if (candidate->Overlapped == AOverlapped) op = candidate;
    if (FWaitOp && FWaitOp->Overlapped == AOverlapped) op = FWaitOp;
    if (!op) return 0;
    return Block(*op, scope.Lock());
}

// --- Status and line control ----------------------------------------------------------------

TOsError TDevice::ClearError(std::uint32_t& AErrors, TComStat* AStat) {
    TScope scope(*this);
    if (FClosed) return WinError::InvalidHandle;
    Pump();
    if (FGone == 0 && FHasCounters) FErrors |= PollCounters();
    AErrors = FErrors;
    FErrors = 0;
    if (AStat == nullptr) return 0;
    // A gone device reports rather than fails (see HandleTable.h): nothing can be read from
    // its queue any more, nothing is sent, nothing held.
    if (FGone != 0) {
        *AStat = TComStat{};
        return 0;
    }
    std::uint32_t flags = 0;
    int lines = 0;
    if ((FDcb.Flags & DcbFlag::OutxCtsFlow) != 0 && FHasModemLines &&
        ::ioctl(FFd, TIOCMGET, &lines) == 0 && (lines & TIOCM_CTS) == 0)
        flags |= ComStatFlag::CtsHold;
    if (FXoffHeld) flags |= ComStatFlag::XoffHold;
    if (!FPriority.empty()) flags |= ComStatFlag::Txim;
    std::uint64_t output = FPriority.size() + KernelOutput();
    for (const POp& op : FWrites)
        output += op->Count - op->Done;
    AStat->Flags = flags;
    AStat->cbInQue = static_cast<std::uint32_t>(FQueue.Count());
    AStat->cbOutQue = static_cast<std::uint32_t>(std::min<std::uint64_t>(output, MaxDword));
    return 0;
}

TOsError TDevice::Purge(std::uint32_t AFlags) {
    TScope scope(*this);
    if (FClosed) return WinError::InvalidHandle;
    if ((AFlags & ~(Purge::TxAbort | Purge::RxAbort | Purge::TxClear | Purge::RxClear)) != 0)
        return EINVAL;
    // A gone device has nothing left to purge: its hang-up ended every pending operation and
    // its input can no longer be read.
    if (FGone != 0) {
        if ((AFlags & Purge::RxClear) != 0) FQueue.Clear();
        return 0;
    }
    if ((AFlags & Purge::TxAbort) != 0) CompleteAll(FWrites, WinError::OperationAborted);
    if ((AFlags & Purge::RxAbort) != 0) CompleteAll(FReads, WinError::OperationAborted);
    if ((AFlags & Purge::TxClear) != 0) {
        FPriority.clear();
        if (::tcflush(FFd, TCOFLUSH) != 0) return Errno();
    }
    if ((AFlags & Purge::RxClear) != 0) {
        if (::tcflush(FFd, TCIFLUSH) != 0) return Errno();
        FQueue.Clear();
        FDecoder.Reset();
        CheckRx80();
    }
    Pump();
    return 0;
}

TOsError TDevice::SetModemLine(int ALine, bool AOn) {
    if (FHasModemLines) {
        int bits = ALine;
        if (::ioctl(FFd, AOn ? TIOCMBIS : TIOCMBIC, &bits) != 0) return Errno();
    }
    // A device without modem lines (a pty) keeps the level it was asked for.
    (ALine == TIOCM_DTR ? FDtr : FRts) = AOn;
    return 0;
}

TOsError TDevice::Escape(std::uint32_t AFunction) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    switch (AFunction) {
    case Esc::SetXoff:
        if (::tcflow(FFd, TCOOFF) != 0) return Errno();
        FXoffHeld = true;
        return 0;
    case Esc::SetXon:
        if (::tcflow(FFd, TCOON) != 0) return Errno();
        FXoffHeld = false;
        Pump();
        return 0;
    case Esc::SetRts:
    case Esc::ClrRts:
        return SetModemLine(TIOCM_RTS, AFunction == Esc::SetRts);
    case Esc::SetDtr:
    case Esc::ClrDtr:
        return SetModemLine(TIOCM_DTR, AFunction == Esc::SetDtr);
    case Esc::SetBreak:
        return ::ioctl(FFd, TIOCSBRK) == 0 ? 0 : Errno();
    case Esc::ClrBreak:
        return ::ioctl(FFd, TIOCCBRK) == 0 ? 0 : Errno();
    default:
        return EINVAL;
    }
}

TOsError TDevice::ModemStatus(std::uint32_t& AStatus) {
    TScope scope(*this);
    if (FClosed) return WinError::InvalidHandle;
    AStatus = 0;
    // A device without modem lines (a pty) has all of them off, and so has a gone one.
    if (!FHasModemLines || FGone != 0) return 0;
    int lines = 0;
    if (::ioctl(FFd, TIOCMGET, &lines) != 0) return Errno();
    if ((lines & TIOCM_CTS) != 0) AStatus |= ModemStatus::CtsOn;
    if ((lines & TIOCM_DSR) != 0) AStatus |= ModemStatus::DsrOn;
    if ((lines & TIOCM_RNG) != 0) AStatus |= ModemStatus::RingOn;
    if ((lines & TIOCM_CD) != 0) AStatus |= ModemStatus::RlsdOn;
    return 0;
}

TOsError TDevice::TransmitChar(char AChar) {
    TScope scope(*this);
    if (const TOsError error = Usable()) return error;
    Pump();
    if (FGone != 0) return FGone;
    // One priority byte at a time, as on Windows.
    if (!FPriority.empty()) return EBUSY;
    FPriority.push_back(AChar);
    WriteOutput(TClock::now());
    return FGone;
}

TOsError TDevice::Cancel(const TOverlapped* AOverlapped) {
    TScope scope(*this);
    if (FClosed) return WinError::InvalidHandle;
    std::vector<POp> cancelled;
    for (const std::deque<POp>* queue : {&FReads, &FWrites})
        for (const POp& op : *queue)
            if (AOverlapped == nullptr || op->Overlapped == AOverlapped) cancelled.push_back(op);
    if (FWaitOp && (AOverlapped == nullptr || FWaitOp->Overlapped == AOverlapped))
        cancelled.push_back(FWaitOp);
    for (const POp& op : cancelled)
        Withdraw(*op, WinError::OperationAborted);
    return cancelled.empty() ? WinError::NotFound : 0;
}

// --- Modem lines ----------------------------------------------------------------------------

void TDevice::StartWatcher() {
    serial_icounter_struct counts{};
    if (FHasCounters && ::ioctl(FFd, TIOCGICOUNT, &counts) == 0) {
        FCounts.Cts = counts.cts;
        FCounts.Dsr = counts.dsr;
        FCounts.Rng = counts.rng;
        FCounts.Dcd = counts.dcd;
    }
    int lines = 0;
    if (::ioctl(FFd, TIOCMGET, &lines) == 0) FModemLines = lines;
    FWatcher = std::make_unique<TInterruptibleThread>([this] { return WatchModemLines(); });
}

// Runs on the watcher thread; FCounts' line fields and FModemLines are its own.
bool TDevice::WatchModemLines() {
    if (::ioctl(FFd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0)
        return errno == EINTR;
    std::uint32_t events = 0;
    int lines = 0;
    if (::ioctl(FFd, TIOCMGET, &lines) != 0) return false;
    serial_icounter_struct counts{};
    if (FHasCounters && ::ioctl(FFd, TIOCGICOUNT, &counts) == 0) {
        // The counters catch pulses too short for the levels to show.
        if (counts.cts != FCounts.Cts) events |= EvMask::Cts;
        if (counts.dsr != FCounts.Dsr) events |= EvMask::Dsr;
        if (counts.dcd != FCounts.Dcd) events |= EvMask::Rlsd;
        if (counts.rng != FCounts.Rng) events |= EvMask::Ring;
        FCounts.Cts = counts.cts;
        FCounts.Dsr = counts.dsr;
        FCounts.Dcd = counts.dcd;
        FCounts.Rng = counts.rng;
    } else {
        const int changed = lines ^ FModemLines;
        if ((changed & TIOCM_CTS) != 0) events |= EvMask::Cts;
        if ((changed & TIOCM_DSR) != 0) events |= EvMask::Dsr;
        if ((changed & TIOCM_CD) != 0) events |= EvMask::Rlsd;
        // A ring is its trailing edge, as the kernel counts it.
        if ((changed & TIOCM_RNG) != 0 && (lines & TIOCM_RNG) == 0) events |= EvMask::Ring;
    }
    FModemLines = lines;
    TScope scope(*this);
    PostEvents(events);
    return true;
}

} // namespace cport
