#include "TestWatcher.h"

#include "MainThread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace cport::test {

namespace {

using TClock = TWatchSet::TClock;

class TPollWatch;
// The watches, all on the test's thread; a watch is known by its number, so that one freed by
// another's callback is never fired.
struct TEntry {
    std::uint64_t Number;
    TPollWatch* Watch;
};
std::vector<TEntry> Watches;
std::uint64_t NextNumber = 0;
std::atomic<bool> Installed{false};
// Written when a call is queued for the test's thread.
int WakeFd() {
    static const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}

class TPollWatch final : public TWaitWatch {
public:
    explicit TPollWatch(std::function<void()> AFired)
        : FFired(std::move(AFired)) {
        Watches.push_back({++NextNumber, this});
    }
    ~TPollWatch() override {
        Watches.erase(std::find_if(Watches.begin(), Watches.end(),
                                   [this](const TEntry& AEntry) { return AEntry.Watch == this; }));
    }
    TPollWatch(const TPollWatch&) = delete;
    TPollWatch& operator=(const TPollWatch&) = delete;

    void Watch(TWatchSet& AWatch) override {
        for (TWatchFd& fd : AWatch.Fds)
            fd.Seen = 0;
        FSet = &AWatch;
    }
    void Poke() override {
        FPoked = true;
        WakeWatches();
    }
    TWatchSet* Set() const { return FSet; }
    bool Poked() const { return FPoked; }
    void Fire() {
        FSet = nullptr;
        FPoked = false;
        FFired();
    }

private:
    std::function<void()> FFired;
    TWatchSet* FSet = nullptr;
    std::atomic<bool> FPoked{false};
};

short PollEvents(std::uint8_t AWanted) {
    return static_cast<short>(((AWanted & WatchFor::Read) != 0 ? POLLIN : 0) |
                              ((AWanted & WatchFor::Write) != 0 ? POLLOUT : 0));
}

} // namespace

bool InstallTestWatcher() {
    if (WakeFd() < 0) return false;
    TMainThread::SetWaitWatcher([](std::function<void()> AFired) -> std::unique_ptr<TWaitWatch> {
        return std::make_unique<TPollWatch>(std::move(AFired));
    });
    Installed = true;
    return true;
}

bool ServeWatches(std::chrono::milliseconds ATimeout) {
    std::vector<pollfd> fds;
    TClock::time_point deadline = TClock::now() + ATimeout;
    bool armed = false;
    for (const TEntry& entry : Watches) {
        const TWatchSet* set = entry.Watch->Set();
        if (set == nullptr) continue;
        armed = true;
        deadline = std::min(deadline, entry.Watch->Poked() ? TClock::now() : set->Deadline);
        for (const TWatchFd& fd : set->Fds)
            fds.push_back({fd.Fd, PollEvents(fd.Wanted), 0});
    }
    if (!armed) return false;
    fds.push_back({WakeFd(), POLLIN, 0});
    const auto left = std::max(deadline - TClock::now(), TClock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
    if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) return true;
    if ((fds.back().revents & POLLIN) != 0) {
        std::uint64_t value = 0;
        while (::read(WakeFd(), &value, sizeof value) < 0 && errno == EINTR) {
        }
    }
    // Which watches are due, decided before any fires: a callback changes the list.
    std::vector<std::uint64_t> due;
    std::size_t index = 0;
    const TClock::time_point now = TClock::now();
    for (const TEntry& entry : Watches) {
        TWatchSet* set = entry.Watch->Set();
        if (set == nullptr) continue;
        bool ready = now >= set->Deadline || entry.Watch->Poked();
        for (TWatchFd& fd : set->Fds) {
            const short returned = fds[index++].revents;
            // A hung-up or failed descriptor reads as ready, as event loops report it.
            if ((returned & (POLLIN | POLLHUP | POLLERR)) != 0) fd.Seen |= WatchFor::Read;
            if ((returned & POLLOUT) != 0) fd.Seen |= WatchFor::Write;
            ready = ready || (fd.Seen & fd.Wanted) != 0;
        }
        if (ready) due.push_back(entry.Number);
    }
    for (const std::uint64_t number : due) {
        const auto entry =
            std::find_if(Watches.begin(), Watches.end(),
                         [number](const TEntry& AEntry) { return AEntry.Number == number; });
        if (entry != Watches.end() && entry->Watch->Set() != nullptr) entry->Watch->Fire();
    }
    return true;
}

void WakeWatches() {
    // Without the watcher nothing polls it, and a test may count the descriptors.
    if (!Installed || WakeFd() < 0) return;
    const std::uint64_t one = 1;
    while (::write(WakeFd(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

} // namespace cport::test
