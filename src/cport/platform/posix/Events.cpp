#include "Events.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

namespace cport {

namespace {

struct TThreadWake {
    int Fd = -1;
    ~TThreadWake() {
        if (Fd >= 0) ::close(Fd);
    }
};

void AddOne(int AFd) {
    const std::uint64_t one = 1;
    while (::write(AFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Windows allows no more objects in one wait.
constexpr std::size_t MaxWaitObjects = 64;

// The watched waits' wake-ups, by their negative numbers. A wake-up runs under the lock, so
// that once a wait has left the list none of its wake-ups runs any more.
struct TLoopWakers {
    struct TEntry {
        int Id;
        std::function<void()> Wake;
    };
    std::mutex Lock;
    std::vector<TEntry> Entries;
    int Last = 0;

    int Add(std::function<void()> AWake) {
        std::lock_guard lock(Lock);
        // Counts down from -1; after the last negative number it starts again, past the
        // numbers still in use.
        const auto used = [this](int AId) {
            return std::any_of(Entries.begin(), Entries.end(),
                               [AId](const TEntry& AEntry) { return AEntry.Id == AId; });
        };
        do {
            Last = Last == std::numeric_limits<int>::min() ? -1 : Last - 1;
        } while (used(Last));
        Entries.push_back({Last, std::move(AWake)});
        return Last;
    }
    void Remove(int AId) {
        std::lock_guard lock(Lock);
        Entries.erase(std::find_if(Entries.begin(), Entries.end(),
                                   [AId](const TEntry& AEntry) { return AEntry.Id == AId; }));
    }
    void Wake(int AId) {
        std::lock_guard lock(Lock);
        for (const TEntry& entry : Entries)
            if (entry.Id == AId) entry.Wake();
    }
};

TLoopWakers& LoopWakers() {
    // Never destroyed: ports in static objects may still be woken at exit.
    static TLoopWakers* const wakers = new TLoopWakers();
    return *wakers;
}

} // namespace

TOsError ThreadWakeFd(int& AFd) {
    thread_local TThreadWake wake;
    if (wake.Fd < 0) {
        wake.Fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake.Fd < 0) return static_cast<TOsError>(errno);
    }
    AFd = wake.Fd;
    return 0;
}

void WakeFd(int AFd) {
    if (AFd >= 0)
        AddOne(AFd);
    else
        LoopWakers().Wake(AFd);
}

void DrainFd(int AFd) {
    std::uint64_t value = 0;
    while (::read(AFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

TOsError PollUntil(std::vector<pollfd>& AFds, TTime ADeadline) {
    timespec timeout{};
    timespec* limit = nullptr;
    if (ADeadline != NoDeadline) {
        const auto left = std::max(ADeadline - TClock::now(), TClock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        limit = &timeout;
    }
    if (::ppoll(AFds.data(), AFds.size(), limit, nullptr) < 0 && errno != EINTR)
        return static_cast<TOsError>(errno);
    return 0;
}

// --- TEvent ---------------------------------------------------------------------------------

TEvent::TEvent(bool AManualReset, bool AInitialState)
    : FManualReset(AManualReset)
    , FSignalled(AInitialState) {}

TOsError TEvent::Create(bool AManualReset, bool AInitialState, std::shared_ptr<TEvent>& AEvent) {
    AEvent.reset(new TEvent(AManualReset, AInitialState));
    return 0;
}

// Only the waiters polling now are woken: one that registers later checks the state after
// registering. A signal that nobody waits for yet costs no system call.
void TEvent::SetLocked() {
    if (FSignalled.load(std::memory_order_relaxed)) return;
    FSignalled.store(true, std::memory_order_relaxed);
    for (const int waiter : FWaiters)
        WakeFd(waiter);
}

void TEvent::ResetLocked() {
    FSignalled.store(false, std::memory_order_relaxed);
}

// An event set already stays so, one reset already stays so: the port's transfers set and
// reset the same events again and again.
void TEvent::Set() {
    if (FSignalled.load(std::memory_order_acquire)) return;
    std::lock_guard lock(FLock);
    SetLocked();
}

// Only a set needs the lock, for the waiters it wakes. No event becomes signalled without it,
// so a wait for all events that finds each signalled under their locks found them so at one
// moment, as on Windows, however the resets fall.
void TEvent::Reset() {
    if (FSignalled.load(std::memory_order_relaxed))
        FSignalled.store(false, std::memory_order_seq_cst);
}

bool TEvent::TryAcquire() {
    std::lock_guard lock(FLock);
    if (!FSignalled.load(std::memory_order_relaxed)) return false;
    if (!FManualReset) ResetLocked();
    return true;
}

bool TEvent::Signalled() {
    std::lock_guard lock(FLock);
    return FSignalled.load(std::memory_order_relaxed);
}

void TEvent::Link(const std::shared_ptr<TPollSource>& ASource) {
    std::lock_guard lock(FLock);
    for (TLinkEntry& entry : FLinks) {
        if (entry.Key == ASource.get()) {
            ++entry.Count;
            return;
        }
    }
    FLinks.push_back({ASource, ASource.get(), 1});
    ++FLinkGeneration;
    for (const int waiter : FWaiters)
        WakeFd(waiter);
}

void TEvent::UnlinkLocked(const TPollSource* ASource) {
    const auto entry =
        std::find_if(FLinks.begin(), FLinks.end(),
                     [ASource](const TLinkEntry& AEntry) { return AEntry.Key == ASource; });
    if (entry != FLinks.end() && --entry->Count == 0) FLinks.erase(entry);
}

void TEvent::Unlink(const TPollSource* ASource) {
    std::lock_guard lock(FLock);
    UnlinkLocked(ASource);
}

void TEvent::SetUnlinking(const TPollSource* ASource) {
    std::lock_guard lock(FLock);
    UnlinkLocked(ASource);
    SetLocked();
}

// --- Waiting --------------------------------------------------------------------------------

// One round of a wait: the events' linked sources have done their pending work and are
// registered; what to poll is collected. The events themselves are registered with only when
// the round is about to poll (Watch), so that a completion seen by the first check wakes
// nobody. The destructor unregisters.
class TWaitRound {
public:
    struct TSourceState {
        std::shared_ptr<TPollSource> Source;
        short Returned = 0;
    };
    // What the rounds of one waiter keep from round to round: the sources with what their last
    // poll returned, and the storage of the round's lists, so that a round allocates nothing.
    struct TStorage {
        std::vector<TSourceState> Sources;
        std::vector<TSourceState> Previous;
        std::vector<pollfd> Fds;
        std::vector<std::size_t> PollIndex;
        std::vector<std::uint64_t> Generations;
        std::vector<pollfd> Polled;
    };

    TWaitRound(int AWakeFd, const std::vector<TEvent*>& AEvents, TStorage& AStorage)
        : FWakeFd(AWakeFd)
        , FEvents(AEvents)
        , FStorage(AStorage) {
        std::vector<TSourceState>& sources = FStorage.Sources;
        std::vector<TSourceState>& previous = FStorage.Previous;
        previous.swap(sources);
        sources.clear();
        FStorage.Fds.clear();
        FStorage.PollIndex.clear();
        FStorage.Generations.clear();
        for (TEvent* event : FEvents) {
            std::lock_guard lock(event->FLock);
            FStorage.Generations.push_back(event->FLinkGeneration);
            for (const TEvent::TLinkEntry& entry : event->FLinks) {
                std::shared_ptr<TPollSource> source = entry.Source.lock();
                if (!source) continue;
                const bool known =
                    std::any_of(sources.begin(), sources.end(), [&](const TSourceState& AState) {
                        return AState.Source == source;
                    });
                if (known) continue;
                short returned = 0;
                for (const TSourceState& state : previous)
                    if (state.Source == source) returned = state.Returned;
                sources.push_back({std::move(source), returned});
            }
        }
        previous.clear();
        Work();
    }

    ~TWaitRound() {
        for (TSourceState& state : FStorage.Sources)
            state.Source->EndWait(FWakeFd);
        Unwatch();
    }

    TWaitRound(const TWaitRound&) = delete;
    TWaitRound& operator=(const TWaitRound&) = delete;

    // Registers with the events, which from now on wake this waiter when they become signalled
    // or are linked to a new source. False when a link came since the round began: the round
    // is stale. The caller checks the events again afterwards.
    bool Watch() {
        FWatching = true;
        bool current = true;
        for (std::size_t i = 0; i < FEvents.size(); ++i) {
            TEvent* event = FEvents[i];
            std::lock_guard lock(event->FLock);
            event->FWaiters.push_back(FWakeFd);
            if (event->FLinkGeneration != FStorage.Generations[i]) current = false;
        }
        return current;
    }

    // Takes the round up again, its registrations with the sources kept: the sources do their
    // pending work (on what Returned took, if anything) and say anew what to poll, unless
    // AKeep tells that their last requests still hold (nothing woke the waiter since they were
    // made, and no poll returned). False, with nothing done, when the events' links name other
    // sources now: a new round is needed.
    bool Renew(bool AKeep) {
        const bool watching = std::exchange(FWatching, false);
        // Kept, the links are compared when the round watches again (AcquireOrWatch).
        if (AKeep && !watching) return true;
        bool same = true;
        for (std::size_t i = 0; i < FEvents.size(); ++i) {
            TEvent* event = FEvents[i];
            std::lock_guard lock(event->FLock);
            if (watching) EraseWaiter(*event);
            if (same) same = LinksHold(*event, i);
        }
        if (!same) return false;
        if (AKeep) return true;
        FStorage.Fds.clear();
        FStorage.PollIndex.clear();
        FDeadline = NoDeadline;
        Work();
        return true;
    }

    // For a round of one event: takes its signal, or else registers with it as Watch does.
    enum class TWatchResult : std::uint8_t {
        Acquired,
        Watching,
        Stale
    };
    TWatchResult AcquireOrWatch() {
        TEvent& event = *FEvents.front();
        std::lock_guard lock(event.FLock);
        if (event.FSignalled.load(std::memory_order_relaxed)) {
            if (!event.FManualReset) event.ResetLocked();
            return TWatchResult::Acquired;
        }
        FWatching = true;
        event.FWaiters.push_back(FWakeFd);
        return LinksHold(event, 0) ? TWatchResult::Watching : TWatchResult::Stale;
    }

    // The sources' descriptors and what to poll them for.
    const std::vector<pollfd>& SourceFds() const { return FStorage.Fds; }
    // Takes what an event loop's watch of SourceFds saw, as Returned does for a poll.
    void Seen(const TWatchSet& AWatch) {
        std::vector<TSourceState>& sources = FStorage.Sources;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const std::size_t index = FStorage.PollIndex[i];
            if (index == NotPolled || index >= AWatch.Fds.size()) continue;
            const std::uint8_t seen = AWatch.Fds[index].Seen;
            sources[i].Returned = static_cast<short>(((seen & WatchFor::Read) != 0 ? POLLIN : 0) |
                                                     ((seen & WatchFor::Write) != 0 ? POLLOUT : 0));
        }
    }

    // What a poll watches: the sources and, last, the wake descriptor (an event loop's
    // watched wait has none).
    void PollFds(std::vector<pollfd>& AFds) const {
        AFds.assign(FStorage.Fds.begin(), FStorage.Fds.end());
        if (FWakeFd >= 0) AFds.push_back({FWakeFd, POLLIN, 0});
    }
    // The sources' nearest deadline.
    TTime Deadline() const { return FDeadline; }
    // Takes what a poll of PollFds returned: the sources work on it in the next round.
    void Returned(const std::vector<pollfd>& AFds) {
        if (FWakeFd >= 0 && (AFds.back().revents & POLLIN) != 0) DrainFd(FWakeFd);
        std::vector<TSourceState>& sources = FStorage.Sources;
        for (std::size_t i = 0; i < sources.size(); ++i)
            if (FStorage.PollIndex[i] != NotPolled)
                sources[i].Returned = AFds[FStorage.PollIndex[i]].revents;
    }

    // Polls PollFds until AUntil or the sources' nearest deadline.
    TOsError Poll(TTime AUntil) {
        std::vector<pollfd>& fds = FStorage.Polled;
        PollFds(fds);
        const TOsError error = PollUntil(fds, std::min(AUntil, FDeadline));
        if (error != 0) return error;
        Returned(fds);
        return 0;
    }

private:
    static constexpr std::size_t NotPolled = ~std::size_t{0};

    // The sources' work, outside the events' locks (a source sets events while it works);
    // a source registered already keeps its registration, updated.
    void Work() {
        for (TSourceState& state : FStorage.Sources) {
            const TPollRequest request = state.Source->BeginWait(FWakeFd, state.Returned);
            state.Returned = 0;
            FStorage.PollIndex.push_back(request.Fd >= 0 ? FStorage.Fds.size() : NotPolled);
            if (request.Fd >= 0) FStorage.Fds.push_back({request.Fd, request.Events, 0});
            FDeadline = std::min(FDeadline, request.Deadline);
        }
    }

    void Unwatch() {
        if (!FWatching) return;
        FWatching = false;
        for (TEvent* event : FEvents) {
            std::lock_guard lock(event->FLock);
            EraseWaiter(*event);
        }
    }

    // Whether the round's sources are still those of the event of index AIndex (its lock
    // held). Relinked since (a completed operation's source starts the next one), the same
    // sources are as good as the round's.
    bool LinksHold(const TEvent& AEvent, std::size_t AIndex) {
        if (AEvent.FLinkGeneration == FStorage.Generations[AIndex]) return true;
        const std::vector<TSourceState>& sources = FStorage.Sources;
        const bool same =
            AEvent.FLinks.size() == sources.size() &&
            std::all_of(AEvent.FLinks.begin(), AEvent.FLinks.end(),
                        [&](const TEvent::TLinkEntry& AEntry) {
                            return std::any_of(sources.begin(), sources.end(),
                                               [&](const TSourceState& AState) {
                                                   return AState.Source.get() == AEntry.Key;
                                               });
                        });
        if (same) FStorage.Generations[AIndex] = AEvent.FLinkGeneration;
        return same;
    }

    void EraseWaiter(TEvent& AEvent) const {
        const auto waiter = std::find(AEvent.FWaiters.begin(), AEvent.FWaiters.end(), FWakeFd);
        if (waiter != AEvent.FWaiters.end()) AEvent.FWaiters.erase(waiter);
    }

    const int FWakeFd;
    const std::vector<TEvent*>& FEvents;
    TStorage& FStorage;
    TTime FDeadline = NoDeadline;
    bool FWatching = false;
};

namespace {

bool TryAcquireAny(const std::vector<std::shared_ptr<TEvent>>& AEvents, std::uint32_t& AResult) {
    for (std::size_t i = 0; i < AEvents.size(); ++i) {
        if (AEvents[i]->TryAcquire()) {
            AResult = Wait::Object0 + static_cast<std::uint32_t>(i);
            return true;
        }
    }
    return false;
}

} // namespace

// Wait-all takes every signal at once: all events locked, in address order.
class TAllEvents {
public:
    explicit TAllEvents(std::vector<TEvent*> AEvents)
        : FEvents(std::move(AEvents)) {
        std::sort(FEvents.begin(), FEvents.end());
    }

    bool TryAcquire() {
        for (TEvent* event : FEvents)
            event->FLock.lock();
        const bool all = std::all_of(FEvents.begin(), FEvents.end(), [](const TEvent* AEvent) {
            return AEvent->FSignalled.load(std::memory_order_relaxed);
        });
        if (all)
            for (TEvent* event : FEvents)
                if (!event->FManualReset) event->ResetLocked();
        for (TEvent* event : FEvents)
            event->FLock.unlock();
        return all;
    }

private:
    std::vector<TEvent*> FEvents;
};

TOsError WaitForEvents(const std::vector<std::shared_ptr<TEvent>>& AEvents, bool AWaitAll,
                       std::uint32_t ATimeoutMs, std::uint32_t& AResult) {
    AResult = Wait::Failed;
    if (AEvents.empty() || AEvents.size() > MaxWaitObjects) return EINVAL;
    // An event signalled already ends the wait without a round (a completed transfer's).
    if (!AWaitAll && TryAcquireAny(AEvents, AResult)) return 0;
    std::vector<TEvent*> unique;
    for (const std::shared_ptr<TEvent>& event : AEvents) {
        if (std::find(unique.begin(), unique.end(), event.get()) == unique.end())
            unique.push_back(event.get());
        else if (AWaitAll)
            return EINVAL;
    }
    int wake = -1;
    if (const TOsError error = ThreadWakeFd(wake)) return error;
    const TTime until = ATimeoutMs == Wait::Infinite
                            ? NoDeadline
                            : TClock::now() + std::chrono::milliseconds(ATimeoutMs);
    TAllEvents all(unique);
    // The thread's storage, kept for its capacity (a wait calls no code that waits again);
    // no source outlives the wait in it.
    thread_local TWaitRound::TStorage storage;
    struct TRelease {
        TWaitRound::TStorage& Storage;
        ~TRelease() { Storage.Sources.clear(); }
    } release{storage};
    const auto acquire = [&] {
        if (!AWaitAll) return TryAcquireAny(AEvents, AResult);
        if (!all.TryAcquire()) return false;
        AResult = Wait::Object0;
        return true;
    };
    for (;;) {
        TWaitRound round(wake, unique, storage);
        if (acquire()) return 0;
        if (TClock::now() >= until) {
            AResult = Wait::Timeout;
            return 0;
        }
        if (!round.Watch()) continue;
        // A signal may have come between the check and the registration.
        if (acquire()) return 0;
        if (const TOsError error = round.Poll(until)) {
            AResult = Wait::Failed;
            return error;
        }
    }
}

namespace {

// A wait of WaitForEvents for one event whose poll an event loop does: the round stays open
// (registered with the sources and the event) while the loop watches.
class TWatchedEventWait final : public TEventWait {
public:
    TWatchedEventWait(std::shared_ptr<TEvent> AEvent, std::function<void()> AWake)
        : FEvent(std::move(AEvent))
        , FEvents{FEvent.get()}
        , FWakeFd(LoopWakers().Add([this, wake = std::move(AWake)] {
            FWoken = true;
            wake();
        })) {}
    ~TWatchedEventWait() override {
        FRound.reset();
        LoopWakers().Remove(FWakeFd);
    }

    bool Check(TWatchSet& AWatch) override {
        // Cleared before the sources work: a wake-up meanwhile counts for the next check.
        const bool woken = FWoken.exchange(false);
        // A check that no watch and no wake-up called for (the next one after a delivery) finds
        // the sources' requests as they were made.
        const bool keep = !FArmed && !woken;
        if (FArmed && FRound) FRound->Seen(AWatch);
        FArmed = false;
        // The round of the last check goes on; it stays registered with its sources while a
        // set is delivered, which spares a round per event.
        if (FRound && !FRound->Renew(keep)) FRound.reset();
        for (;;) {
            // One round registered at a time: the sources know their waiters by number.
            if (!FRound) FRound.emplace(FWakeFd, FEvents, FStorage);
            switch (FRound->AcquireOrWatch()) {
            case TWaitRound::TWatchResult::Acquired:
                return true;
            case TWaitRound::TWatchResult::Stale:
                FRound.reset();
                continue;
            case TWaitRound::TWatchResult::Watching:
                break;
            }
            AWatch.Fds.clear();
            for (const pollfd& fd : FRound->SourceFds())
                AWatch.Fds.push_back(
                    {fd.fd,
                     static_cast<std::uint8_t>(((fd.events & POLLIN) != 0 ? WatchFor::Read : 0) |
                                               ((fd.events & POLLOUT) != 0 ? WatchFor::Write : 0)),
                     0});
            AWatch.Deadline = FRound->Deadline();
            FArmed = true;
            return false;
        }
    }

private:
    std::shared_ptr<TEvent> FEvent;
    std::vector<TEvent*> FEvents;
    // Set by every wake-up: what the sources asked to poll may have changed since.
    std::atomic<bool> FWoken{false};
    const int FWakeFd;
    TWaitRound::TStorage FStorage;
    std::optional<TWaitRound> FRound;
    bool FArmed = false; // the last check asked for a watch
};

} // namespace

std::unique_ptr<TEventWait> WatchEventWait(std::shared_ptr<TEvent> AEvent,
                                           std::function<void()> AWake) {
    return std::make_unique<TWatchedEventWait>(std::move(AEvent), std::move(AWake));
}

} // namespace cport
