#include "DeviceOperation.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <utility>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace cport {

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
    const bool polls = ARequest.Fd >= 0;
    if (polls) ++FPolling;
    // A waiter that goes on with its round is registered already.
    for (TWaiter& waiter : FWaiters) {
        if (waiter.Fd != AWaiterFd) continue;
        if (waiter.Polls && --FPolling == 0 && FClosed) FUnpolled.notify_all();
        waiter = {AWaiterFd, ARequest.Events, ARequest.Deadline, polls, false};
        return;
    }
    FWaiters.push_back({AWaiterFd, ARequest.Events, ARequest.Deadline, polls, false});
}

void TDevice::Unregister(int AWaiterFd) {
    const auto waiter =
        std::find_if(FWaiters.begin(), FWaiters.end(),
                     [AWaiterFd](const TWaiter& AWaiter) { return AWaiter.Fd == AWaiterFd; });
    if (waiter == FWaiters.end()) return;
    if (waiter->Polls && --FPolling == 0 && FClosed) FUnpolled.notify_all();
    FWaiters.erase(waiter);
}

bool TDevice::Outdated(const TWaiter& AWaiter, const TPollRequest& ANow) {
    if (AWaiter.Woken) return false;
    return ANow.Fd < 0 ? AWaiter.Polls
                       : (ANow.Events & ~AWaiter.Events) != 0 || ANow.Deadline < AWaiter.Deadline;
}

void TDevice::Advertise() {
    if (!std::exchange(FRequestGrew, false) || FWaiters.empty()) {
        // A change that grows a request and sets no mark would leave a waiter asleep.
        assert(std::none_of(
            FWaiters.begin(), FWaiters.end(),
            [now = Request()](const TWaiter& AWaiter) { return Outdated(AWaiter, now); }));
        return;
    }
    const TPollRequest now = Request();
    for (TWaiter& waiter : FWaiters) {
        if (!Outdated(waiter, now)) continue;
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
TOsError TDevice::Block(TOp& AOp, std::unique_lock<TLock>& ALock) {
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
TOsError TDevice::Start(TOp& AOp, std::unique_lock<TLock>& ALock, std::uint32_t* ATransferred) {
    if (!AOp.Completed) {
        if (AOp.Overlapped != nullptr) StoreRecord(*AOp.Overlapped, RecordPending, 0);
        if (AOp.Event && !AOp.Linked) {
            AOp.Event->Link(shared_from_this());
            AOp.Linked = true;
        }
        if (FOverlapped) return WinError::IoPending;
        if (const TOsError error = Block(AOp, ALock)) return error;
    }
    if (ATransferred != nullptr) *ATransferred = AOp.Done;
    return AOp.Result;
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
    // A port waits for its events again and again: the last wait's record serves again.
    POp op = std::move(FSpareWaitOp);
    if (op)
        *op = TOp{};
    else
        op = std::make_shared<TOp>();
    op->Kind = TOp::TKind::WaitEvent;
    op->Overlapped = AOverlapped;
    op->EvtMask = AEvtMask;
    if ((FHistory & FMask) != 0) {
        op->Event = AEvent;
        op->Events = FHistory & FMask;
        FHistory = 0;
        Complete(*op, 0);
    } else {
        FWaitOp = op;
        // The last wait's link serves this one when it is the same event.
        if (FWaitLink && FWaitLink == AEvent) {
            op->Event = std::move(FWaitLink);
            op->Linked = true;
        } else {
            if (FWaitLink) FWaitLink->Unlink(this);
            FWaitLink.reset();
            op->Event = AEvent;
        }
    }
    return Start(*op, scope.Lock(), nullptr);
}

TOsError TDevice::Read(void* ABuffer, std::uint32_t ACount, std::uint32_t* ATransferred,
                       TOverlapped* AOverlapped, const std::shared_ptr<TEvent>& AEvent) {
    TScope scope(*this);
    if (ATransferred != nullptr) *ATransferred = 0;
    if ((FOverlapped && AOverlapped == nullptr) || (ABuffer == nullptr && ACount > 0))
        return EINVAL;
    // A read that the queue satisfies completes now, whatever its timeouts (the common read
    // of what OnRxChar was told): it needs no operation, no deadline and no clock, and its
    // event, set at the end, needs no reset first.
    const TOsError usable = Usable();
    if (usable == 0 && FReads.empty() && FQueue.Count() >= ACount) {
        if (FQueue.Room() == 0) FRequestGrew = true;
        const auto done =
            static_cast<std::uint32_t>(FQueue.Take(static_cast<std::uint8_t*>(ABuffer), ACount));
        CheckRx80();
        if (AOverlapped != nullptr) StoreRecord(*AOverlapped, 0, done);
        if (AEvent) AEvent->Set();
        if (ATransferred != nullptr) *ATransferred = done;
        return 0;
    }
    if (AEvent) AEvent->Reset();
    if (usable != 0) return usable;
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
    return Start(*op, scope.Lock(), ATransferred);
}

TOsError TDevice::Write(const void* ABuffer, std::uint32_t ACount, std::uint32_t* ATransferred,
                        TOverlapped* AOverlapped, const std::shared_ptr<TEvent>& AEvent) {
    TScope scope(*this);
    if (ATransferred != nullptr) *ATransferred = 0;
    if ((FOverlapped && AOverlapped == nullptr) || (ABuffer == nullptr && ACount > 0))
        return EINVAL;
    if (AEvent) AEvent->Reset();
    if (const TOsError error = Usable()) return error;
    // Earlier output goes first; input waits for the next look at it, which a write needs not.
    Pump(TInput::None, true);
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
            FKernelOutput = FOutputHeld;
        }
    }
    if (op->Done == op->Count) {
        Complete(*op, 0);
        if (ACount > 0) OutputDrained(now);
    } else {
        // Its activation marks the device; one queued behind is polled for already.
        FWrites.push_back(op);
        if (FWrites.size() == 1) Activate(*op, now);
    }
    return Start(*op, scope.Lock(), ATransferred);
}

bool TDevice::Finished(TOverlapped* AOverlapped, std::uint32_t& ATransferred, TOsError& AResult) {
    // Written under the device's lock, read without it: the result is complete once Internal
    // says so (it is stored last).
    const std::uintptr_t status =
        std::atomic_ref(AOverlapped->Internal).load(std::memory_order_acquire);
    if (status == RecordPending) return false;
    ATransferred = static_cast<std::uint32_t>(
        std::atomic_ref(AOverlapped->InternalHigh).load(std::memory_order_relaxed));
    AResult = static_cast<TOsError>(status);
    return true;
}

TOsError TDevice::Outcome(TOverlapped* AOverlapped, std::uint32_t& ATransferred, bool& APending) {
    TOsError result = 0;
    APending = false;
    if (Finished(AOverlapped, ATransferred, result)) return result;
    TScope scope(*this);
    Pump();
    APending = !Finished(AOverlapped, ATransferred, result);
    return APending ? 0 : result;
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

} // namespace cport
