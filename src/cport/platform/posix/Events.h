// Events and waits of the POSIX platform layer.
//
// An event is a state and the wake descriptors of the threads that wait for it, which it writes
// to when it becomes signalled; a waiter polls only its own. The driver has no thread of
// its own: a pending transfer or event wait of a device makes progress in the threads that call
// into the device or wait for the transfer's completion event. To that end an event knows the
// devices whose pending operations complete through it (its links, TPollSource), and a thread
// waiting for the event also polls those devices and lets them do their work whenever their
// descriptors or deadlines call for it.
//
// Every waiting thread owns one wake descriptor (an eventfd, created on first use). A source
// or an event notes the wake descriptors of its current waiters and writes to them when what
// they should poll for changes (a new link, room in a full input queue, a nearer deadline, a
// closed device), so that no change is lost between preparing a wait and polling. A wait that
// an event loop watches is known by a negative number instead and is woken through its loop,
// which then need not poll a descriptor more.
#pragma once

#include "Lock.h"
#include "platform/ComPlatform.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <poll.h>

namespace cport {

using TClock = std::chrono::steady_clock;
using TTime = TClock::time_point;
inline constexpr TTime NoDeadline = TTime::max();

// What a waiter polls for a source: a descriptor with its poll events (Fd -1: nothing), and
// the time by which it must let the source work again.
struct TPollRequest {
    int Fd = -1;
    short Events = 0;
    TTime Deadline = NoDeadline;
};

// A device seen from a waiter.
class TPollSource {
public:
    TPollSource() = default;
    TPollSource(const TPollSource&) = delete;
    TPollSource& operator=(const TPollSource&) = delete;
    virtual ~TPollSource() = default;

    // Does the source's pending work (AReturned: the poll events its descriptor returned in
    // the previous round, or 0) and registers AWaiterFd until EndWait; the registration of a
    // waiter that is registered already is updated. Returns what to poll.
    virtual TPollRequest BeginWait(int AWaiterFd, short AReturned) = 0;
    virtual void EndWait(int AWaiterFd) = 0;
};

// The calling thread's wake descriptor.
TOsError ThreadWakeFd(int& AFd);
// Wakes the thread that owns AFd from its poll, or the event loop of the watched wait that
// a negative AFd names; a wake-up nobody needs costs one round.
void WakeFd(int AFd);
void DrainFd(int AFd);

class TEvent {
public:
    static TOsError Create(bool AManualReset, bool AInitialState, std::shared_ptr<TEvent>& AEvent);
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Set();
    void Reset();
    // Takes the signal: true when signalled; an auto-reset event is then reset.
    bool TryAcquire();
    bool Signalled();

    // A pending operation of ASource completes through this event; one Unlink per Link.
    void Link(const std::shared_ptr<TPollSource>& ASource);
    void Unlink(const TPollSource* ASource);
    // Unlink and Set in one: the operation of ASource that completes through this event is done.
    void SetUnlinking(const TPollSource* ASource);

private:
    friend class TWaitRound;
    friend class TAllEvents;

    TEvent(bool AManualReset, bool AInitialState);
    void SetLocked();
    void ResetLocked();
    void UnlinkLocked(const TPollSource* ASource);

    struct TLinkEntry {
        std::weak_ptr<TPollSource> Source;
        const TPollSource* Key = nullptr;
        unsigned Count = 0;
    };

    TLock FLock;
    const bool FManualReset;
    // Made true only under FLock (Set reads it without, to skip what would change nothing);
    // Reset makes it false without.
    std::atomic<bool> FSignalled;
    std::vector<TLinkEntry> FLinks;
    std::uint64_t FLinkGeneration = 0; // counts new links
    std::vector<int> FWaiters;         // their wake descriptors
};

// WaitForMultipleObjects over events: AResult is Wait::Object0 + the lowest index of a
// signalled event (or Object0 once all are, with AWaitAll), or Wait::Timeout. Auto-reset
// events that end the wait are reset. AEvents holds 1 to 64 events, no duplicates when
// AWaitAll (EINVAL otherwise).
TOsError WaitForEvents(const std::vector<std::shared_ptr<TEvent>>& AEvents, bool AWaitAll,
                       std::uint32_t ATimeoutMs, std::uint32_t& AResult);

// A wait for AEvent that an event loop carries out (TEventWait): each check does one round of
// WaitForEvents without its poll, and leaves what that poll would watch. What would wake a
// waiting thread calls AWake instead (see WakeFd).
std::unique_ptr<TEventWait> WatchEventWait(std::shared_ptr<TEvent> AEvent,
                                           std::function<void()> AWake);

// Polls AFds until ADeadline or a returned event; EINTR counts as a return. Returns errno.
TOsError PollUntil(std::vector<pollfd>& AFds, TTime ADeadline);

} // namespace cport
