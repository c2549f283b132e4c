#include "InterruptibleThread.h"

#include <chrono>
#include <csignal>

#include <pthread.h>

namespace cport {

namespace {

int WakeSignal() {
    return SIGRTMAX - 1;
}

extern "C" void IgnoreWakeSignal(int) {}

// Without SA_RESTART the interrupted call returns EINTR instead of going on.
void InstallWakeHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction current {};
        if (::sigaction(WakeSignal(), nullptr, &current) != 0) return;
        if (current.sa_handler != SIG_DFL) return;
        struct sigaction action {};
        action.sa_handler = IgnoreWakeSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(WakeSignal(), &action, nullptr);
    });
}

// Re-signalling covers a signal that came just before the body entered its call.
constexpr std::chrono::milliseconds ResignalEvery{10};

} // namespace

TInterruptibleThread::TInterruptibleThread(std::function<bool()> ABody)
    : FBody(std::move(ABody)) {
    InstallWakeHandler();
    FThread = std::thread([this] { Run(); });
}

TInterruptibleThread::~TInterruptibleThread() {
    Stop();
}

void TInterruptibleThread::Run() {
    for (;;) {
        {
            std::lock_guard lock(FLock);
            if (FStopping) break;
        }
        if (!FBody()) break;
    }
    std::lock_guard lock(FLock);
    FDone = true;
    FLeft.notify_all();
}

void TInterruptibleThread::Stop() {
    if (!FThread.joinable()) return;
    {
        std::unique_lock lock(FLock);
        FStopping = true;
        while (!FDone) {
            ::pthread_kill(FThread.native_handle(), WakeSignal());
            FLeft.wait_for(lock, ResignalEvery);
        }
    }
    FThread.join();
}

} // namespace cport
