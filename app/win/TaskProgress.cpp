#include "TaskProgress.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

namespace quendal {

namespace {

using namespace std::chrono_literals;

// Work that ends within this time costs no window and no round through the message loop.
constexpr auto AtOnce = 20ms;
constexpr auto WindowAfter = 200ms;
constexpr UINT CheckMs = 30;
constexpr int IdCancel = IDCANCEL;
constexpr const wchar_t* ClassName = L"Quendal.Progress";

class TProgressWatch;
// The watches by their timer: a thread timer's procedure gets only the timer's id.
std::map<UINT_PTR, std::unique_ptr<TProgressWatch>>& Watches() {
    static std::map<UINT_PTR, std::unique_ptr<TProgressWatch>> watches;
    return watches;
}

LRESULT CALLBACK ProgressProc(HWND AWindow, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    if (AMsg == WM_COMMAND && LOWORD(AWParam) == IdCancel) {
        auto* task = reinterpret_cast<TLogTask*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
        if (task != nullptr) task->Cancel();
        return 0;
    }
    if (AMsg == WM_CLOSE) return 0; // Cancel, not the close box, ends the work
    return DefWindowProcW(AWindow, AMsg, AWParam, ALParam);
}

class TProgressWatch {
public:
    TProgressWatch(HWND AOwner, TLogTask& ATask, std::wstring ALabel,
                   std::function<void()> AFinished)
        : FOwner(AOwner)
        , FTask(ATask)
        , FLabel(std::move(ALabel))
        , FFinished(std::move(AFinished))
        , FStart(std::chrono::steady_clock::now()) {}
    ~TProgressWatch() { CloseWindow(); }
    TProgressWatch(const TProgressWatch&) = delete;
    TProgressWatch& operator=(const TProgressWatch&) = delete;

    // Whether the work is done; then AFinished has run.
    bool Check() {
        if (FTask.Done()) {
            CloseWindow();
            FFinished();
            return true;
        }
        if (FWindow == nullptr && std::chrono::steady_clock::now() - FStart >= WindowAfter)
            OpenWindow();
        if (FBar != nullptr) {
            const std::uint64_t total = FTask.Total();
            if (total == 0) {
                // A source of unknown size.
                SetWindowLongPtrW(FBar, GWL_STYLE,
                                  GetWindowLongPtrW(FBar, GWL_STYLE) | PBS_MARQUEE);
                SendMessageW(FBar, PBM_SETMARQUEE, TRUE, 0);
            } else {
                SendMessageW(
                    FBar, PBM_SETPOS,
                    static_cast<WPARAM>(static_cast<double>(std::min(FTask.Progress(), total)) *
                                        1000.0 / static_cast<double>(total)),
                    0);
            }
        }
        return false;
    }

private:
    void OpenWindow() {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ProgressProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = ClassName;
        RegisterClassW(&windowClass); // fails harmlessly when registered already
        RECT owner{};
        GetWindowRect(FOwner, &owner);
        const DWORD style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
        RECT frame{0, 0, 260, 90};
        AdjustWindowRectEx(&frame, style, FALSE, 0);
        FWindow = CreateWindowExW(0, ClassName, L"Quendal", style, owner.left + 10, owner.top + 40,
                                  frame.right - frame.left, frame.bottom - frame.top, FOwner,
                                  nullptr, instance, nullptr);
        if (FWindow == nullptr) return;
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&FTask));
        const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
        const HWND label = CreateWindowExW(0, L"STATIC", FLabel.c_str(), WS_CHILD | WS_VISIBLE, 10,
                                           8, 240, 16, FWindow, nullptr, instance, nullptr);
        SendMessageW(label, WM_SETFONT, font, FALSE);
        FBar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 28, 240, 18,
                               FWindow, nullptr, instance, nullptr);
        SendMessageW(FBar, PBM_SETRANGE32, 0, 1000);
        const HWND cancel = CreateWindowExW(
            0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 175, 56,
            75, 25, FWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdCancel)), instance,
            nullptr);
        SendMessageW(cancel, WM_SETFONT, font, FALSE);
        // Modal to the owner only: the owner still repaints and logs, but takes no commands.
        EnableWindow(FOwner, FALSE);
    }

    void CloseWindow() {
        if (FWindow == nullptr) return;
        EnableWindow(FOwner, TRUE);
        DestroyWindow(FWindow);
        FWindow = nullptr;
        FBar = nullptr;
    }

    HWND FOwner;
    TLogTask& FTask;
    std::wstring FLabel;
    std::function<void()> FFinished;
    std::chrono::steady_clock::time_point FStart;
    HWND FWindow = nullptr;
    HWND FBar = nullptr;
};

void CALLBACK CheckWatch(HWND /*AWindow*/, UINT /*AMsg*/, UINT_PTR AId, DWORD /*ATime*/) {
    auto found = Watches().find(AId);
    if (found == Watches().end()) return;
    // Taken out first: AFinished may start another piece of work.
    std::unique_ptr<TProgressWatch> watch = std::move(found->second);
    if (!watch->Check()) {
        found->second = std::move(watch);
        return;
    }
    KillTimer(nullptr, AId);
    Watches().erase(AId);
}

} // namespace

void RunWithProgress(HWND AOwner, TLogTask& ATask, const std::wstring& ALabel,
                     std::function<void()> AFinished) {
    if (ATask.WaitFor(AtOnce)) {
        AFinished();
        return;
    }
    const UINT_PTR timer = SetTimer(nullptr, 0, CheckMs, CheckWatch);
    Watches()[timer] =
        std::make_unique<TProgressWatch>(AOwner, ATask, ALabel, std::move(AFinished));
}

} // namespace quendal
