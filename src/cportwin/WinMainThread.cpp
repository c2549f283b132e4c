#include "WinMainThread.h"

#include "CPort.h"
#include "CPortSetup.h"
#include "MainThread.h"
#include "WinText.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>

namespace cport {

namespace {

constexpr UINT ServeMessage = WM_APP + 1;
// A wait watch is due: WParam is its number.
constexpr UINT WatchMessage = WM_APP + 2;
constexpr const wchar_t* ClassName = L"cportwin.MainThread";

// Shared by the wake-up, which runs on any thread, and the window on the GUI thread: a wake-up
// racing with the window's end must not post to a window that is gone.
struct TWakeTarget {
    std::mutex Lock;
    HWND Window = nullptr; // guarded by Lock
    // One posted message serves every call queued before it runs, so wake-ups coalesce.
    std::atomic<bool> Posted{false};
};

TWakeTarget& Target() {
    static TWakeTarget target;
    return target;
}

void Post(UINT AMsg, WPARAM AWParam) {
    TWakeTarget& target = Target();
    std::lock_guard lock(target.Lock);
    if (target.Window != nullptr) PostMessageW(target.Window, AMsg, AWParam, 0);
}

void Wake() {
    if (Target().Posted.exchange(true)) return;
    Post(ServeMessage, 0);
}

void PostWatch(std::uintptr_t ANumber) {
    Post(WatchMessage, ANumber);
}

void CALLBACK WatchDue(PVOID ANumber, BOOLEAN /*ATimedOut*/) {
    PostWatch(reinterpret_cast<std::uintptr_t>(ANumber));
}

// The watch of a wait that the GUI thread completes itself. The system's wait threads watch the
// handle and the deadline and post a message to the GUI thread's window, which every message
// loop of that thread serves, a modal dialog's included; the handler of the port's events then
// runs there, with no thread of the port's own that waits for it.
class TWinWaitWatch final : public TWaitWatch {
public:
    explicit TWinWaitWatch(std::function<void()> AFired);
    ~TWinWaitWatch() override;
    TWinWaitWatch(const TWinWaitWatch&) = delete;
    TWinWaitWatch& operator=(const TWinWaitWatch&) = delete;

    void Watch(TWatchSet& AWatch) override;
    void Poke() override {
        FPoked = true;
        PostWatch(FNumber);
    }
    // From the window procedure. A message that a wait or a poke posted before the last Watch
    // may fire the present one early: its owner checks and watches again.
    void Due();

private:
    void Disarm();

    std::function<void()> FFired;
    std::uintptr_t FNumber = 0;
    TWatchSet* FWatch = nullptr;
    HANDLE FWait = nullptr;
    HANDLE FTimer = nullptr;
    std::atomic<bool> FPoked{false};
};

// The watches by number. Numbers are not reused, so a message that comes after its watch has
// gone finds none.
struct TWatches {
    std::mutex Lock;
    std::unordered_map<std::uintptr_t, TWinWaitWatch*> Entries;
    std::uintptr_t Last = 0;
};

TWatches& Watches() {
    static TWatches watches;
    return watches;
}

TWinWaitWatch::TWinWaitWatch(std::function<void()> AFired)
    : FFired(std::move(AFired)) {
    TWatches& watches = Watches();
    std::lock_guard lock(watches.Lock);
    FNumber = ++watches.Last;
    watches.Entries.emplace(FNumber, this);
}

TWinWaitWatch::~TWinWaitWatch() {
    Disarm();
    TWatches& watches = Watches();
    std::lock_guard lock(watches.Lock);
    watches.Entries.erase(FNumber);
}

void TWinWaitWatch::Watch(TWatchSet& AWatch) {
    Disarm();
    FWatch = &AWatch;
    if (FPoked) {
        PostWatch(FNumber);
        return;
    }
    DWORD timeout = INFINITE;
    if (AWatch.Deadline != TWatchSet::TClock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(AWatch.Deadline -
                                                                       TWatchSet::TClock::now());
        timeout = static_cast<DWORD>(std::clamp<std::int64_t>(left.count(), 0, INFINITE - 1));
    }
    const auto context = reinterpret_cast<PVOID>(FNumber);
    constexpr ULONG once = WT_EXECUTEONLYONCE;
    if (AWatch.Handle != 0 &&
        !RegisterWaitForSingleObject(&FWait, reinterpret_cast<HANDLE>(AWatch.Handle), WatchDue,
                                     context, timeout, once | WT_EXECUTEINWAITTHREAD)) {
        // Not watchable (out of wait threads): looked at again every few milliseconds rather
        // than never, or in a loop.
        FWait = nullptr;
        timeout = std::min<DWORD>(timeout, 10);
    }
    if (FWait == nullptr && timeout != INFINITE &&
        !CreateTimerQueueTimer(&FTimer, nullptr, WatchDue, context, timeout, 0,
                               once | WT_EXECUTEINTIMERTHREAD)) {
        FTimer = nullptr;
        PostWatch(FNumber);
    }
}

void TWinWaitWatch::Due() {
    if (FWatch == nullptr) return;
    FWatch = nullptr;
    FPoked = false;
    Disarm();
    // This object may be gone when the callback returns (a handler closed the port).
    FFired();
}

void TWinWaitWatch::Disarm() {
    // Both wait until a callback under way has posted: none comes afterwards.
    if (FWait != nullptr) UnregisterWaitEx(FWait, INVALID_HANDLE_VALUE);
    if (FTimer != nullptr) DeleteTimerQueueTimer(nullptr, FTimer, INVALID_HANDLE_VALUE);
    FWait = nullptr;
    FTimer = nullptr;
}

void ServeWatch(std::uintptr_t ANumber) {
    TWinWaitWatch* watch = nullptr;
    {
        TWatches& watches = Watches();
        std::lock_guard lock(watches.Lock);
        const auto found = watches.Entries.find(ANumber);
        if (found != watches.Entries.end()) watch = found->second;
    }
    if (watch != nullptr) watch->Due();
}

LRESULT CALLBACK ServeProc(HWND AWindow, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    if (AMsg == WatchMessage) {
        ServeWatch(AWParam);
        return 0;
    }
    if (AMsg != ServeMessage) return DefWindowProcW(AWindow, AMsg, AWParam, ALParam);
    // Cleared before serving: a call queued while the queue is served posts a new message
    // rather than waiting for one that has already run.
    Target().Posted = false;
    TMainThread::ProcessMessages();
    return 0;
}

} // namespace

void InstallWinMainThread() {
    TWakeTarget& target = Target();
    {
        std::lock_guard lock(target.Lock);
        if (target.Window != nullptr) return;
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ServeProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = ClassName;
    // A second install after an uninstall finds the class registered already.
    if (RegisterClassW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "RegisterClassW");
    // A message-only window: never shown, never enumerated, but served by every message loop
    // of the thread that made it.
    const HWND window =
        CreateWindowExW(0, ClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (window == nullptr)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateWindowExW");
    TMainThread::SetId(std::this_thread::get_id());
    {
        std::lock_guard lock(target.Lock);
        target.Window = window;
    }
    target.Posted = false;
    TMainThread::SetWakeUp(Wake);
    TMainThread::SetWaitWatcher([](std::function<void()> AFired) -> std::unique_ptr<TWaitWatch> {
        return std::make_unique<TWinWaitWatch>(std::move(AFired));
    });
    TMainThread::SetExceptionReport(WinExceptionReport);
    SetSetupDialog(RunSetupDialog);
    // Calls queued before the wake-up existed are served as soon as a message loop runs.
    Wake();
}

void UninstallWinMainThread() {
    TMainThread::SetWakeUp(nullptr);
    TMainThread::SetWaitWatcher(nullptr);
    HWND window = nullptr;
    {
        std::lock_guard lock(Target().Lock);
        window = Target().Window;
        Target().Window = nullptr;
    }
    if (window != nullptr) DestroyWindow(window);
}

void WinExceptionReport(std::exception_ptr AError, TObject* /*ASender*/) {
    if (!TMainThread::IsCurrent()) {
        // Only the GUI thread may show a window.
        TMainThread::QueueException(AError);
        return;
    }
    const HWND owner = GetActiveWindow();
    wchar_t title[256] = L"";
    if (owner != nullptr) GetWindowTextW(owner, title, 256);
    MessageBoxW(owner, Utf8ToWide(ReportText(AError)).c_str(), title[0] != 0 ? title : nullptr,
                MB_OK | MB_ICONERROR);
}

} // namespace cport
