// The lock of a device and of an event.
#pragma once

#include <atomic>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace cport {

// A mutex that costs one atomic instruction to take and one to release while nobody else
// wants it, which is nearly always: a delivered event takes a device's and an event's locks
// several times, where a library mutex adds a call and its checks of the mutex's kind to each.
// The state says free, held, or held with sleepers; a sleeper sleeps on it (a futex).
class TLock {
public:
    TLock() = default;
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

    void lock() noexcept {
        int state = Free;
        if (!FState.compare_exchange_strong(state, Held, std::memory_order_acquire,
                                            std::memory_order_relaxed))
            LockContended(state);
    }
    void unlock() noexcept {
        if (FState.exchange(Free, std::memory_order_release) == Contended)
            Futex(FUTEX_WAKE_PRIVATE, 1);
    }

private:
    enum : int {
        Free,
        Held,
        Contended
    };

    void LockContended(int AState) noexcept {
        // Marked as wanted before sleeping, so that the holder's unlock wakes a sleeper; a
        // thread that then takes the lock keeps the mark, since others may still sleep.
        if (AState != Contended) AState = FState.exchange(Contended, std::memory_order_acquire);
        while (AState != Free) {
            Futex(FUTEX_WAIT_PRIVATE, Contended);
            AState = FState.exchange(Contended, std::memory_order_acquire);
        }
    }
    void Futex(int AOperation, int AValue) noexcept {
        static_assert(sizeof(FState) == sizeof(int));
        // The kernel reads the word itself; EINTR and EAGAIN send the caller round again.
        ::syscall(SYS_futex, reinterpret_cast<int*>(&FState), AOperation, AValue, nullptr, nullptr,
                  0);
    }

    std::atomic<int> FState{Free};
};

} // namespace cport
