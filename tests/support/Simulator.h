// The simulated RQ-71 as a child process, for tests of the whole program.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cport::test {

class TSimulatorProcess {
public:
    // Starts the simulator with AArguments and waits (bounded) until it has printed its
    // terminal's path. Throws std::runtime_error when it does not start.
    explicit TSimulatorProcess(const std::vector<std::string>& AArguments = {});
    // Stops it with SIGTERM and waits for it.
    ~TSimulatorProcess();
    TSimulatorProcess(const TSimulatorProcess&) = delete;
    TSimulatorProcess& operator=(const TSimulatorProcess&) = delete;

    // The terminal's path it printed first.
    const std::string& Path() const { return FPath; }
    pid_t Pid() const { return FPid; }
    // The next line it prints ("hung up", a new terminal's path after coming back), waiting
    // at most ATimeout; false when none comes.
    bool NextLine(std::string& ALine, std::chrono::milliseconds ATimeout);
    // Stops it now; returns its exit status (as waitpid gives it).
    int Stop();
    // True once it has ended by itself (e.g. after hanging up).
    bool Ended();

private:
    pid_t FPid = -1;
    int FStatus = 0;
    int FOutput = -1;
    std::string FPending; // printed, not yet taken
    std::string FPath;
};

// The path of the simulator program of this build.
std::string SimulatorProgram();

} // namespace cport::test
