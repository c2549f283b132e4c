// The Windows hand-over: a call queued on another thread runs on the GUI thread from whatever
// message loop the GUI thread is in, a modal dialog's included.
#include "WinMainThread.h"

#include "MainThread.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

namespace cport {
namespace {

class WinMainThread : public ::testing::Test {
protected:
    void SetUp() override {
        FPreviousReport = TMainThread::SetExceptionReport(nullptr);
        InstallWinMainThread();
    }
    void TearDown() override {
        UninstallWinMainThread();
        TMainThread::SetExceptionReport(FPreviousReport);
    }

    TMainThread::TExceptionReport FPreviousReport;
};

// Runs the thread's message loop until ADone or, as a bound, 10 s have passed.
bool PumpUntil(const std::atomic<bool>& ADone) {
    const DWORD end = GetTickCount() + 10000;
    while (!ADone && GetTickCount() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return ADone;
}

TEST_F(WinMainThread, ASynchronizeFromAnotherThreadRunsOnTheGuiThreadInTheMessageLoop) {
    std::atomic<bool> done{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        TMainThread::Synchronize([&] { ranOn = std::this_thread::get_id(); });
        done = true;
    });
    const bool finished = PumpUntil(done);
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

struct TModal {
    std::atomic<bool> Ran{false};
    HWND Dialog = nullptr;
};

INT_PTR CALLBACK EndOnCommand(HWND ADialog, UINT AMsg, WPARAM /*AWParam*/, LPARAM ALParam) {
    if (AMsg == WM_INITDIALOG) {
        auto* modal = reinterpret_cast<TModal*>(ALParam);
        modal->Dialog = ADialog;
        // Queued from another thread while the dialog's own loop is the only one running.
        std::thread([modal] {
            TMainThread::Queue([modal] {
                modal->Ran = true;
                EndDialog(modal->Dialog, 7);
            });
        }).detach();
        return TRUE;
    }
    return FALSE;
}

TModal* CurrentModal = nullptr;

// The bound of the modal test: ends the dialog with a result of its own.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) {
    if (CurrentModal != nullptr && CurrentModal->Dialog != nullptr)
        EndDialog(CurrentModal->Dialog, -2);
}

TEST_F(WinMainThread, AQueuedCallRunsInsideAModalDialogsLoop) {
    alignas(4) WORD words[12] = {};
    const DWORD style = WS_POPUP | WS_CAPTION;
    words[0] = LOWORD(style);
    words[1] = HIWORD(style);
    // A bound: should the hand-over fail, a timer ends the dialog with another result.
    TModal modal;
    CurrentModal = &modal;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10000, GiveUp);
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(words),
                                nullptr, EndOnCommand, reinterpret_cast<LPARAM>(&modal));
    KillTimer(nullptr, timer);
    CurrentModal = nullptr;
    EXPECT_TRUE(modal.Ran);
    EXPECT_EQ(result, 7);
}

TEST_F(WinMainThread, AnExceptionReportFromAnotherThreadIsHandedToTheGuiThread) {
    std::atomic<bool> reported{false};
    std::thread::id reportedOn;
    TMainThread::SetExceptionReport([&](std::exception_ptr, TObject*) {
        reportedOn = std::this_thread::get_id();
        reported = true;
    });
    std::thread([] {
        TMainThread::QueueException(std::make_exception_ptr(std::runtime_error("lost device")));
    }).join();
    ASSERT_TRUE(PumpUntil(reported));
    EXPECT_EQ(reportedOn, std::this_thread::get_id());
}

// A port's wait watch fires on the GUI thread, from its message loop, when its handle is
// signalled, its deadline passes or another thread pokes it; once gone it never fires.
TEST_F(WinMainThread, AWaitWatchFiresOnTheGuiThreadForItsHandleItsDeadlineOrAPoke) {
    std::atomic<bool> fired{false};
    std::thread::id firedOn;
    std::unique_ptr<TWaitWatch> watch = TMainThread::CreateWaitWatch([&] {
        firedOn = std::this_thread::get_id();
        fired = true;
    });
    ASSERT_TRUE(watch);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    TWatchSet set;
    set.Handle = reinterpret_cast<THandle>(event);
    watch->Watch(set);
    std::thread([event] { SetEvent(event); }).join();
    EXPECT_TRUE(PumpUntil(fired)) << "the handle";
    EXPECT_EQ(firedOn, std::this_thread::get_id());

    fired = false;
    set.Handle = 0;
    set.Deadline = TWatchSet::TClock::now() + std::chrono::milliseconds(20);
    watch->Watch(set);
    EXPECT_TRUE(PumpUntil(fired)) << "the deadline";

    fired = false;
    set.Deadline = TWatchSet::TClock::time_point::max();
    watch->Watch(set);
    std::thread([&] { watch->Poke(); }).join();
    EXPECT_TRUE(PumpUntil(fired)) << "the poke";

    fired = false;
    set.Handle = reinterpret_cast<THandle>(event); // still set
    watch->Watch(set);
    watch.reset();
    // Posted after whatever the watch's wait posted before it went.
    std::atomic<bool> served{false};
    TMainThread::Queue([&] { served = true; });
    EXPECT_TRUE(PumpUntil(served));
    EXPECT_FALSE(fired);
    CloseHandle(event);
}

} // namespace
} // namespace cport
