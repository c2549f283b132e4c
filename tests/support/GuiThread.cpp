#include "GuiThread.h"

#include "TestWatcher.h"

#include <condition_variable>
#include <cstdlib>

namespace cport::test {

namespace {
std::mutex WakeLock;
std::condition_variable Woken;
bool Queued = false;

void InstallWakeUp() {
    static const bool installed = [] {
        TMainThread::SetWakeUp([] {
            {
                std::lock_guard lock(WakeLock);
                Queued = true;
            }
            Woken.notify_all();
            WakeWatches();
        });
        return true;
    }();
    (void)installed;
}

// Before any test opens a port: the port decides at its opening how it waits.
[[maybe_unused]] const bool Watching =
    std::getenv("CPORT_TEST_WATCHER") != nullptr && InstallTestWatcher();
} // namespace

bool ServeUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
    InstallWakeUp();
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
        TMainThread::ProcessMessages();
        if (APredicate()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto wait = std::min<std::chrono::steady_clock::duration>(deadline - now, 5ms);
        if (ServeWatches(std::chrono::ceil<std::chrono::milliseconds>(wait))) {
            std::lock_guard lock(WakeLock);
            Queued = false;
            continue;
        }
        std::unique_lock lock(WakeLock);
        Woken.wait_for(lock, wait, [] { return Queued; });
        Queued = false;
    }
}

bool WaitUntilQueued(std::chrono::milliseconds ATimeout) {
    InstallWakeUp();
    std::unique_lock lock(WakeLock);
    const bool queued = Woken.wait_for(lock, ATimeout, [] { return Queued; });
    Queued = false;
    return queued;
}

TReportRecorder::TReportRecorder() {
    FPrevious = TMainThread::SetExceptionReport([this](std::exception_ptr AError, TObject*) {
        std::lock_guard lock(FLock);
        FMessages.push_back(TMainThread::ExceptionMessage(AError));
        FLast = AError;
    });
}

TReportRecorder::~TReportRecorder() {
    TMainThread::SetExceptionReport(FPrevious);
}

std::vector<std::string> TReportRecorder::Messages() const {
    std::lock_guard lock(FLock);
    return FMessages;
}

std::size_t TReportRecorder::Count() const {
    std::lock_guard lock(FLock);
    return FMessages.size();
}

std::exception_ptr TReportRecorder::Last() const {
    std::lock_guard lock(FLock);
    return FLast;
}

} // namespace cport::test
