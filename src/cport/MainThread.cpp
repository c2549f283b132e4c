#include "MainThread.h"

#include "CPortErrors.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace cport {

namespace {

// The outcome of one call or message handed to the GUI thread; its sender waits for Done.
struct THandOver {
    bool Done = false;
    std::exception_ptr Error;
    std::intptr_t Result = 0;
    std::thread::id Caller; // of a Synchronize call
};

struct TItem {
    std::function<void()> Call;
    TMainThread::TWindowHandle Window = 0;
    TMessage Message;
    std::shared_ptr<THandOver> Sender; // empty for Queue
};

struct TState {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TItem> Items;
    std::map<TMainThread::TWindowHandle, std::shared_ptr<TMainThread::TWindowProc>> Windows;
    TMainThread::TWindowHandle NextWindow = 0;
    TMainThread::TWakeUp WakeUp;
    TMainThread::TWaitWatcher Watcher;
    TMainThread::TExceptionReport Report;
};

TState& State() {
    // Never destroyed: threads of ports in static objects may hand over during exit.
    static TState* const state = new TState();
    return *state;
}

// The thread that runs static initialisation is the one that started the program.
std::atomic<std::thread::id> MainId{std::this_thread::get_id()};

// The message being served on this thread, until its sender is released.
thread_local std::shared_ptr<THandOver> CurrentSent;

// The Synchronize calls being served on this thread, innermost first; each lives on the stack
// of the Serve that runs it.
struct TServedCall {
    std::shared_ptr<THandOver> HandOver;
    TServedCall* Outer;
};
thread_local TServedCall* ServedCalls = nullptr;

void Release(THandOver& AHandOver, std::intptr_t AResult) {
    AHandOver.Result = AResult;
    AHandOver.Done = true;
}

void Enqueue(TItem AItem) {
    TState& state = State();
    TMainThread::TWakeUp wakeUp;
    {
        std::lock_guard lock(state.Lock);
        state.Items.push_back(std::move(AItem));
        wakeUp = state.WakeUp;
    }
    state.Changed.notify_all();
    if (wakeUp) wakeUp();
}

// Waits until AHandOver is done; the caller is not the GUI thread.
void AwaitHandOver(THandOver& AHandOver) {
    TState& state = State();
    std::unique_lock lock(state.Lock);
    state.Changed.wait(lock, [&] { return AHandOver.Done; });
}

void Serve(TItem& AItem) {
    TState& state = State();
    if (AItem.Call) {
        TServedCall served{AItem.Sender, ServedCalls};
        if (AItem.Sender) ServedCalls = &served;
        try {
            AItem.Call();
        } catch (...) {
            bool released = true;
            if (AItem.Sender) {
                std::lock_guard lock(state.Lock);
                released = AItem.Sender->Done;
                if (!released) AItem.Sender->Error = std::current_exception();
            }
            // A caller released early (see WaitFor) can no longer hear of it.
            if (released) TMainThread::ShowException(std::current_exception(), nullptr);
        }
        ServedCalls = served.Outer;
        if (AItem.Sender) {
            {
                std::lock_guard lock(state.Lock);
                Release(*AItem.Sender, 0);
            }
            state.Changed.notify_all();
        }
        return;
    }
    std::shared_ptr<TMainThread::TWindowProc> proc;
    {
        std::lock_guard lock(state.Lock);
        auto window = state.Windows.find(AItem.Window);
        if (window != state.Windows.end()) proc = window->second;
    }
    const std::shared_ptr<THandOver> outer = CurrentSent;
    CurrentSent = AItem.Sender;
    if (proc) {
        try {
            (*proc)(AItem.Message);
        } catch (...) {
            TMainThread::ShowException(std::current_exception(), nullptr);
        }
    }
    TMainThread::ReplyMessage(AItem.Message.Result);
    CurrentSent = outer;
}

// Takes the next item, if any; on the GUI thread.
bool TakeItem(std::unique_lock<std::mutex>& ALock, TItem& AItem) {
    TState& state = State();
    (void)ALock;
    if (state.Items.empty()) return false;
    AItem = std::move(state.Items.front());
    state.Items.pop_front();
    return true;
}

} // namespace

std::thread::id TMainThread::Id() {
    return MainId.load();
}

void TMainThread::SetId(std::thread::id AId) {
    MainId.store(AId);
}

TMainThread::TWakeUp TMainThread::SetWakeUp(TWakeUp AWakeUp) {
    TState& state = State();
    std::lock_guard lock(state.Lock);
    std::swap(state.WakeUp, AWakeUp);
    return AWakeUp;
}

TMainThread::TWaitWatcher TMainThread::SetWaitWatcher(TWaitWatcher AWatcher) {
    TState& state = State();
    std::lock_guard lock(state.Lock);
    std::swap(state.Watcher, AWatcher);
    return AWatcher;
}

std::unique_ptr<TWaitWatch> TMainThread::CreateWaitWatch(std::function<void()> AFired) {
    TWaitWatcher watcher;
    {
        std::lock_guard lock(State().Lock);
        watcher = State().Watcher;
    }
    return watcher ? watcher(std::move(AFired)) : nullptr;
}

std::size_t TMainThread::ProcessMessages() {
    if (!IsCurrent()) return 0;
    TState& state = State();
    std::size_t served = 0;
    for (;;) {
        TItem item;
        {
            std::unique_lock lock(state.Lock);
            if (!TakeItem(lock, item)) return served;
        }
        Serve(item);
        ++served;
    }
}

void TMainThread::Synchronize(const std::function<void()>& AMethod) {
    if (IsCurrent()) {
        AMethod();
        return;
    }
    auto handOver = std::make_shared<THandOver>();
    handOver->Caller = std::this_thread::get_id();
    TItem item;
    item.Call = AMethod;
    item.Sender = handOver;
    Enqueue(std::move(item));
    AwaitHandOver(*handOver);
    if (handOver->Error) std::rethrow_exception(handOver->Error);
}

void TMainThread::Queue(std::function<void()> AMethod) {
    TItem item;
    item.Call = std::move(AMethod);
    Enqueue(std::move(item));
}

TMainThread::TWindowHandle TMainThread::AllocateHWnd(TWindowProc AProc) {
    TState& state = State();
    std::lock_guard lock(state.Lock);
    const TWindowHandle window = ++state.NextWindow;
    state.Windows[window] = std::make_shared<TWindowProc>(std::move(AProc));
    return window;
}

void TMainThread::DeallocateHWnd(TWindowHandle AWindow) {
    TState& state = State();
    {
        std::lock_guard lock(state.Lock);
        state.Windows.erase(AWindow);
        for (auto it = state.Items.begin(); it != state.Items.end();) {
            if (!it->Call && it->Window == AWindow) {
                if (it->Sender) Release(*it->Sender, 0);
                it = state.Items.erase(it);
            } else {
                ++it;
            }
        }
    }
    state.Changed.notify_all();
}

std::intptr_t TMainThread::SendMessage(TWindowHandle AWindow, std::uint32_t AMsg,
                                       std::uintptr_t AWParam, std::intptr_t ALParam) {
    TItem item;
    item.Window = AWindow;
    item.Message.Msg = AMsg;
    item.Message.WParam = AWParam;
    item.Message.LParam = ALParam;
    if (IsCurrent()) {
        // Not sent from another thread: no sender to release.
        Serve(item);
        return item.Message.Result;
    }
    auto handOver = std::make_shared<THandOver>();
    item.Sender = handOver;
    Enqueue(std::move(item));
    AwaitHandOver(*handOver);
    return handOver->Result;
}

bool TMainThread::InSendMessage() {
    if (!CurrentSent) return false;
    std::lock_guard lock(State().Lock);
    return !CurrentSent->Done;
}

void TMainThread::ReplyMessage(std::intptr_t AResult) {
    if (!CurrentSent) return;
    TState& state = State();
    {
        std::lock_guard lock(state.Lock);
        if (CurrentSent->Done) return;
        Release(*CurrentSent, AResult);
    }
    state.Changed.notify_all();
}

TMainThread::TExceptionReport TMainThread::SetExceptionReport(TExceptionReport AReport) {
    TState& state = State();
    std::lock_guard lock(state.Lock);
    std::swap(state.Report, AReport);
    return AReport;
}

void TMainThread::ShowException(std::exception_ptr AError, TObject* ASender) noexcept {
    TExceptionReport report;
    {
        std::lock_guard lock(State().Lock);
        report = State().Report;
    }
    try {
        if (report)
            report(AError, ASender);
        else
            std::fprintf(stderr, "%s\n", ExceptionMessage(AError).c_str());
    } catch (...) {
        // A report that fails has nobody left to tell.
    }
}

void TMainThread::QueueException(std::exception_ptr AError) {
    std::function<std::exception_ptr()> rebuild;
    try {
        std::rethrow_exception(AError);
    } catch (const EComPort& e) {
        rebuild = [copy = EComPort(e)] { return std::make_exception_ptr(copy); };
    } catch (...) {
        rebuild = [text = ExceptionMessage(std::current_exception())] {
            return std::make_exception_ptr(std::runtime_error(text));
        };
    }
    Queue([rebuild = std::move(rebuild)] { ShowException(rebuild(), nullptr); });
}

std::string TMainThread::ExceptionMessage(std::exception_ptr AError) {
    try {
        if (AError) std::rethrow_exception(AError);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "Unknown error";
}

// --- TThread ------------------------------------------------------------------------------------

TThread::TThread() = default;

TThread::~TThread() {
    WaitFor();
}

void TThread::Start() {
    // The thread itself reads FThread (IsCurrent): it begins once FThread holds it.
    std::lock_guard started(State().Lock);
    FThread = std::thread([this] {
        TState& shared = State();
        // Start holds the lock until FThread is stored.
        { std::lock_guard lock(shared.Lock); }
        try {
            Execute();
        } catch (...) {
            FFatalException = std::current_exception();
        }
        {
            std::lock_guard lock(shared.Lock);
            FFinished = true;
        }
        shared.Changed.notify_all();
        if (FFreeOnTerminate) {
            FThread.detach();
            delete this;
        }
    });
}

bool TThread::IsCurrent() const {
    return FThread.get_id() == std::this_thread::get_id();
}

void TThread::FreeOnTerminate() {
    FFreeOnTerminate = true;
}

void TThread::WaitFor() {
    if (!FThread.joinable() || IsCurrent()) return;
    if (TMainThread::IsCurrent()) {
        TState& state = State();
        std::unique_lock lock(state.Lock);
        // A call of this thread's that this very wait runs inside of (a handler that ends the
        // thread) would never return before the wait does: the thread is let go at once.
        bool released = false;
        for (TServedCall* call = ServedCalls; call != nullptr; call = call->Outer) {
            if (call->HandOver->Caller == FThread.get_id() && !call->HandOver->Done) {
                Release(*call->HandOver, 0);
                released = true;
            }
        }
        if (released) state.Changed.notify_all();
        while (!FFinished) {
            TItem item;
            if (TakeItem(lock, item)) {
                lock.unlock();
                Serve(item);
                lock.lock();
            } else {
                state.Changed.wait(lock);
            }
        }
    }
    FThread.join();
}

} // namespace cport
