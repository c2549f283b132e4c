// What the component needs from "the GUI library", without any GUI library: running a call on
// the GUI thread and waiting for it, hidden event windows whose procedures run on the GUI
// thread and release the sender as soon as they start, a thread wait that keeps serving both,
// and the application's exception report.
//
// Calls for the GUI thread wait in one queue. A GUI toolkit installs a wake-up that makes its
// event loop call ProcessMessages (cportqt does this for Qt); a program without one calls it
// itself. A GUI thread that waits for another thread through WaitForThread serves the queue
// while it waits, so a hand-over in flight can never deadlock against a close.
#pragma once

#include "Component.h"
#include "OsTypes.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace cport {

// A message delivered to a window procedure; Result is what the procedure answers.
struct TMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

// A watch that the GUI thread's event loop keeps for a wait the component hands to it (a port's
// event wait): the descriptors of a TWatchSet on POSIX, its handle on Windows, and its deadline.
class TWaitWatch {
public:
    TWaitWatch() = default;
    TWaitWatch(const TWaitWatch&) = delete;
    TWaitWatch& operator=(const TWaitWatch&) = delete;
    // Stops watching; the callback is not called afterwards.
    virtual ~TWaitWatch() = default;
    // Watches AWatch, replacing what was watched before, until one of its descriptors is
    // ready, its handle is signalled or its deadline has passed; then marks the ready ones in
    // Seen, stops watching and calls the callback, on the GUI thread. AWatch must stay valid
    // until then, or until the next Watch or the destruction.
    virtual void Watch(TWatchSet& AWatch) = 0;
    // From any thread: makes the watch fire soon with nothing seen, as a passed deadline does.
    // A poke while nothing is watched fires the next watch at once.
    virtual void Poke() = 0;
};

class TMainThread {
public:
    using TWakeUp = std::function<void()>;
    using TExceptionReport = std::function<void(std::exception_ptr AError, TObject* ASender)>;
    using TWindowProc = std::function<void(TMessage& AMessage)>;
    using TWindowHandle = std::intptr_t;

    // The GUI thread: the thread that started the program, unless set otherwise (tests run a
    // stand-in thread).
    static std::thread::id Id();
    static void SetId(std::thread::id AId);
    static bool IsCurrent() { return std::this_thread::get_id() == Id(); }

    // Called (from any thread) whenever a call is queued for the GUI thread. Returns the one
    // installed before. Without one, queued calls wait until the GUI thread serves the queue.
    static TWakeUp SetWakeUp(TWakeUp AWakeUp);

    // Creates the watches of waits that the GUI thread completes itself (ports whose events are
    // handed to the GUI thread then need no thread of their own). A toolkit installs one whose
    // watches its event loop keeps (cportqt does); without one such waits are waited for in a
    // thread. Returns the one installed before.
    using TWaitWatcher = std::function<std::unique_ptr<TWaitWatch>(std::function<void()> AFired)>;
    static TWaitWatcher SetWaitWatcher(TWaitWatcher AWatcher);
    // A new watch that calls AFired when it fires; null when no watcher is installed.
    static std::unique_ptr<TWaitWatch> CreateWaitWatch(std::function<void()> AFired);

    // Runs every call queued for the GUI thread; on the GUI thread only. Returns how many ran.
    static std::size_t ProcessMessages();

    // Runs AMethod on the GUI thread and waits until it has returned; an exception it raises
    // is raised again in the caller. On the GUI thread itself it runs at once.
    static void Synchronize(const std::function<void()>& AMethod);
    // Runs AMethod on the GUI thread later, without waiting for it.
    static void Queue(std::function<void()> AMethod);

    // Hidden windows. A window's procedure runs on the GUI thread.
    static TWindowHandle AllocateHWnd(TWindowProc AProc);
    // Releases the window; messages still queued for it are dropped, their senders released.
    static void DeallocateHWnd(TWindowHandle AWindow);
    // Delivers a message to the window's procedure and returns its result. From another
    // thread the caller waits until the procedure replies (ReplyMessage) or returns.
    static std::intptr_t SendMessage(TWindowHandle AWindow, std::uint32_t AMsg,
                                     std::uintptr_t AWParam, std::intptr_t ALParam);
    // True inside a window procedure serving a message sent from another thread that has not
    // been replied to yet.
    static bool InSendMessage();
    // Releases the sender of the message being served, with AResult as its result.
    static void ReplyMessage(std::intptr_t AResult);

    // The application's exception report: shows an exception that escaped an action of the
    // user or an event handler. The default writes the message to standard error. Returns the
    // report installed before.
    static TExceptionReport SetExceptionReport(TExceptionReport AReport);
    static void ShowException(std::exception_ptr AError, TObject* ASender) noexcept;
    // Hands an exception caught on another thread to the report on the GUI thread, as a copy
    // that shares nothing with the original (the sender is not passed: it may be gone by then).
    static void QueueException(std::exception_ptr AError);
    // The message of an exception, or a generic text for one that carries none.
    static std::string ExceptionMessage(std::exception_ptr AError);
};

// A thread of the component: created suspended, started by Start, asked to end by Terminate.
// WaitFor on the GUI thread serves the queue while it waits, so a thread blocked in a hand-over
// can finish. A derived class must end its thread in its own destructor (its members are gone
// by the time this base destructor runs); the base destructor only waits for a thread that is
// still running.
class TThread {
public:
    TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    virtual ~TThread();

    // Raises std::system_error when the system cannot create the thread.
    void Start();
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // Whether the calling thread is this thread.
    bool IsCurrent() const;
    // Waits until Execute has returned and joins the thread; does nothing if it never started,
    // was joined already, or is the calling thread. Called on the GUI thread from inside one of
    // this thread's Synchronize calls, it first lets the thread go on as if that call had
    // returned: the call could not return before the wait does.
    void WaitFor();
    // Called on the thread itself, by code that frees the owner of this object: the object is
    // freed by its own thread once Execute has returned, and nobody waits for it.
    void FreeOnTerminate();
    // The exception that ended Execute, if one did.
    std::exception_ptr FatalException() const { return FFatalException; }

protected:
    virtual void Execute() = 0;
    static void Synchronize(const std::function<void()>& AMethod) {
        TMainThread::Synchronize(AMethod);
    }

private:
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    bool FFinished = false;        // guarded by the queue's lock
    bool FFreeOnTerminate = false; // the thread's own
    std::exception_ptr FFatalException;
};

} // namespace cport
