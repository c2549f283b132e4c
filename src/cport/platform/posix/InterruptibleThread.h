// A thread for a system call that nothing but a real event or a signal ends, such as
// TIOCMIWAIT, which waits for modem line changes and ignores a closed descriptor.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace cport {

class TInterruptibleThread {
public:
    // Calls ABody again and again until it returns false or Stop is called. ABody may block in
    // a system call; a stop makes that call fail with EINTR.
    explicit TInterruptibleThread(std::function<bool()> ABody);
    // Stops and joins.
    ~TInterruptibleThread();
    TInterruptibleThread(const TInterruptibleThread&) = delete;
    TInterruptibleThread& operator=(const TInterruptibleThread&) = delete;

    // Ends the thread and waits for it. The thread is signalled (the last real-time signal
    // but one, given a handler that does nothing unless the program installed its own) until
    // it has left the body: one signal could arrive just before the body enters its call.
    void Stop();

private:
    void Run();

    std::function<bool()> FBody;
    std::mutex FLock;
    std::condition_variable FLeft;
    bool FStopping = false;
    bool FDone = false;
    std::thread FThread;
};

} // namespace cport
