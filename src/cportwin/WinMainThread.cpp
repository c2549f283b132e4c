#include "WinMainThread.h"

#include "CPort.h"
#include "CPortSetup.h"
#include "MainThread.h"
#include "WinText.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <system_error>

namespace cport {

namespace {

constexpr UINT ServeMessage = WM_APP + 1;
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

void Wake() {
    TWakeTarget& target = Target();
    if (target.Posted.exchange(true)) return;
    std::lock_guard lock(target.Lock);
    if (target.Window != nullptr) PostMessageW(target.Window, ServeMessage, 0, 0);
}

LRESULT CALLBACK ServeProc(HWND AWindow, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
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
    TMainThread::SetExceptionReport(WinExceptionReport);
    SetSetupDialog(RunSetupDialog);
    // Calls queued before the wake-up existed are served as soon as a message loop runs.
    Wake();
}

void UninstallWinMainThread() {
    TMainThread::SetWakeUp(nullptr);
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
