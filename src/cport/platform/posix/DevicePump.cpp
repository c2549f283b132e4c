#include "DeviceOperation.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cport {

namespace {

constexpr std::uint32_t LineErrors = CommError::Frame | CommError::Overrun | CommError::RxParity;
constexpr auto MaxTxEmptyBackoff = std::chrono::seconds(1);
// About the most a terminal's read returns at once (the line discipline's buffer).
constexpr std::size_t TerminalReadSize = 4096;
// How long input found empty counts as still empty for a look that no poll asked for.
constexpr auto InputFreshFor = std::chrono::microseconds(50);
// Beyond this a limit is as good as none, and the clock's arithmetic stays in range.
constexpr std::uint64_t MaxLimitMs = 100ull * 365 * 24 * 3600 * 1000;

TTime After(TTime AStart, std::uint64_t AMs) {
    if (AMs > MaxLimitMs) return NoDeadline;
    return AStart + std::chrono::milliseconds(AMs);
}

} // namespace

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
    if (count > first) std::memcpy(ADest + first, FBuffer.data(), count - first);
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

// --- The pump -------------------------------------------------------------------------------

TOsError TDevice::Usable() const {
    if (FClosed) return WinError::InvalidHandle;
    return FGone;
}

void TDevice::Pump() {
    Pump(TInput::Unknown, true);
}

void TDevice::Pump(short AReturned) {
    // A hung-up terminal (device gone, pty master closed) reports this; its input is lost.
    if ((AReturned & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        if (!FClosed && FGone == 0) HangUp(EIO);
        return;
    }
    Pump((AReturned & POLLIN) != 0 ? TInput::Ready : TInput::None, (AReturned & POLLOUT) != 0);
}

void TDevice::Pump(TInput AInput, bool AWritable) {
    if (FClosed || FGone != 0) return;
    const TTime now = TClock::now();
    if (AInput != TInput::None) ReadInput(now, AInput == TInput::Ready);
    // Most calls find nothing to send and nothing due.
    if (FGone == 0 && AWritable && (!FWrites.empty() || !FPriority.empty())) WriteOutput(now);
    if (FGone == 0 && (!FReads.empty() || !FWrites.empty() || now >= FTxEmptyCheck)) Expire(now);
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
    // The calls of one delivery (the wait, the count, the read) each look at the input; a
    // look so soon after one that found it empty is a system call that cannot tell a byte
    // arriving now from one arriving a moment later, and a poll sees that byte anyway.
    if (!AReady && ANow - FInputEmptyAt < InputFreshFor) return;
    std::uint32_t events = 0;
    std::uint32_t markErrors = 0;
    bool received = false;
    for (bool ready = AReady;; ready = false) {
        // A read waiting for bytes takes them straight into its buffer, as a Windows driver
        // fills the pending request's: while it waits the queue is empty, and what arrives
        // needs no second copy.
        TOp* const direct = FQueue.Count() == 0 && !FReads.empty() ? FReads.front().get() : nullptr;
        std::size_t length = 0;
        std::uint8_t* space = nullptr;
        if (direct != nullptr) {
            space = direct->Dest + direct->Done;
            length = direct->Count - direct->Done;
        } else {
            space = FQueue.FreeSpace(length);
        }
        // A full queue stops reading: the kernel and the sender wait, nothing is lost.
        if (length == 0) break;
        if (!ready && !InputWaiting()) {
            FInputEmptyAt = ANow;
            break;
        }
        const ssize_t got = ::read(FFd, space, length);
        if (got > 0) {
            const TDecodeResult decoded =
                FDecoder.Decode(space, static_cast<std::size_t>(got), space);
            if (direct != nullptr)
                Filled(*direct, decoded.Count, ANow);
            else
                FQueue.Commit(decoded.Count);
            if (decoded.Count > 0) events |= EvMask::RxChar;
            events |= decoded.Events;
            markErrors |= decoded.Errors;
            received = true;
            Feed(ANow);
            // A terminal hands over at most its line discipline's buffer (4 KiB, less a byte)
            // per read: after a read near that size that no poll asked for, ask again while
            // more is waiting, so that one event carries what has arrived, not one slice. A
            // short read took all there was; after a poll's read the next poll tells (asking
            // each time finds nothing far more often than more).
            if (ready || static_cast<std::size_t>(got) < std::min(length, TerminalReadSize / 2)) {
                FInputEmptyAt = ANow;
                break;
            }
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
        FInputEmptyAt = ANow;
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

bool TDevice::Filled(TOp& AOp, std::size_t ACount, TTime ANow) {
    if (ACount == 0) return false; // all of it discarded (NULs, breaks)
    // The interval's deadline, and room in the queue when the bytes came from it.
    FRequestGrew = true;
    AOp.Done += static_cast<std::uint32_t>(ACount);
    AOp.LastByte = ANow;
    if (AOp.Done < AOp.Count && !AOp.Plan.ReturnOnFirstByte) return false;
    const POp done = FReads.front();
    FReads.pop_front();
    Complete(*done, 0);
    ActivateNext(FReads, ANow);
    return true;
}

void TDevice::Feed(TTime ANow) {
    while (!FReads.empty() && FQueue.Count() > 0) {
        TOp& op = *FReads.front();
        if (!Filled(op, FQueue.Take(op.Dest + op.Done, op.Count - op.Done), ANow)) break;
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
        FKernelOutput = FOutputHeld;
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
    // A deadline, and room in the queue for a read.
    FRequestGrew = true;
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
    if (AOp.Overlapped != nullptr)
        StoreRecord(*AOp.Overlapped, static_cast<std::uintptr_t>(AError), AOp.Done);
    if (AOp.Event) {
        if (AOp.Linked)
            AOp.Event->SetUnlinking(this);
        else
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
    FRequestGrew = true;
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
    POp op = std::move(FWaitOp);
    op->Events = events | FHistory;
    FHistory = 0;
    // The link stays for the next wait, which mostly names the same event; a completed
    // operation needs its event no more.
    const bool linked = std::exchange(op->Linked, false);
    Complete(*op, 0);
    if (linked) FWaitLink = std::move(op->Event);
    // Kept for the next wait unless a blocked caller still holds it (copies are made under
    // the lock, so a count of one is exact).
    if (op.use_count() == 1) {
        op->Event.reset();
        FSpareWaitOp = std::move(op);
    }
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
    FRequestGrew = true;
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
    FRequestGrew = true;
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

} // namespace cport
