// readport: prints whatever arrives on a serial port, using the cport component without a GUI.
//     readport [--poll] [--lines N] PORT
// PORT is a device path (/dev/ttyUSB0), a name below /dev (ttyUSB0) or COMn (/dev/ttyS(n-1)).
// --poll sends CR LF every 350 ms, which asks an RQ-71 for a reading; --lines N ends the
// program after N lines. Ctrl+C ends it as well.
#include <cport/CPort.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

// What the port's handler and the main thread share.
struct TState {
    std::mutex Lock;
    std::condition_variable Changed;
    long Lines = 0;
    bool Stop = false;
    int ExitCode = 0;
};

void Usage(std::FILE* AOut) {
    std::fputs("Usage: readport [--poll] [--lines N] PORT\n"
               "Prints what arrives on the serial port PORT (9600 baud, 8N1).\n"
               "  --poll      send CR LF every 350 ms (asks an RQ-71 for a reading)\n"
               "  --lines N   stop after N lines\n",
               AOut);
}

} // namespace

int main(int argc, char** argv) {
    bool poll = false;
    long maxLines = 0;
    std::string name;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            Usage(stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--poll") == 0) {
            poll = true;
        } else if (std::strcmp(argv[i], "--lines") == 0 && i + 1 < argc) {
            maxLines = std::strtol(argv[++i], nullptr, 10);
        } else if (argv[i][0] != '-' && name.empty()) {
            name = argv[i];
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (name.empty()) {
        Usage(stderr);
        return 2;
    }

    // Ctrl+C is taken by a thread of its own, blocked everywhere else before any other thread
    // starts (the port's threads inherit the mask), so that it can wake the main thread.
    TState state;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&signals, &signal);
        const std::lock_guard lock(state.Lock);
        state.Stop = true;
        state.Changed.notify_all();
    });

    try {
        cport::TComPort port(nullptr);
        port.SetPort(name);
        // By default (smThreadSync) the port's event thread hands each event to "the GUI
        // thread" and waits there until that thread runs cport::TMainThread::ProcessMessages().
        // A GUI toolkit's event loop does that (cportqt installs it for Qt); a console program
        // has no such loop, and this one's main thread is busy polling. smNone runs the handlers
        // on the port's event thread instead, so the handler below shares state with the main
        // thread only under a lock.
        port.SetSyncMethod(cport::smNone);
        port.SetOnRxChar([&](cport::TObject*, std::int32_t ACount) {
            std::string data;
            try {
                port.ReadStr(data, ACount);
            } catch (const std::exception& error) {
                // Not thrown on: the component would only queue it for a GUI thread we lack.
                std::fprintf(stderr, "readport: %s\n", error.what());
                const std::lock_guard lock(state.Lock);
                state.ExitCode = 1;
                state.Stop = true;
                state.Changed.notify_all();
                return;
            }
            const std::lock_guard lock(state.Lock);
            if (state.Stop) return; // nothing after the last line asked for
            std::size_t end = data.size();
            for (std::size_t i = 0; maxLines > 0 && i < data.size(); ++i) {
                if (data[i] == '\n' && ++state.Lines == maxLines) {
                    end = i + 1;
                    state.Stop = true;
                    state.Changed.notify_all();
                    break;
                }
            }
            std::fwrite(data.data(), 1, end, stdout);
            std::fflush(stdout);
        });
        port.Open();

        using TClock = std::chrono::steady_clock;
        const auto period = std::chrono::milliseconds(350);
        TClock::time_point nextPoll = TClock::now();
        std::unique_lock lock(state.Lock);
        while (!state.Stop) {
            if (!poll) {
                state.Changed.wait(lock, [&] { return state.Stop; });
            } else if (!state.Changed.wait_until(lock, nextPoll, [&] { return state.Stop; })) {
                lock.unlock(); // the handler must not wait for us while we write
                port.WriteStr("\r\n");
                lock.lock();
                nextPoll += period;
            }
        }
        lock.unlock();
        // Stops the event thread and waits for it before the port goes.
        port.Close();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "readport: %s\n", error.what());
        state.ExitCode = 1;
    }

    // Wakes the signal thread if no signal came (it takes this one as if Ctrl+C had come).
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return state.ExitCode;
}
