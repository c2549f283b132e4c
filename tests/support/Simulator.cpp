#include "Simulator.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace cport::test {

std::string SimulatorProgram() {
    return QUENDAL_RQ71SIM;
}

TSimulatorProcess::TSimulatorProcess(const std::vector<std::string>& AArguments) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args{SimulatorProgram()};
    args.insert(args.end(), AArguments.begin(), AArguments.end());
    FPid = ::fork();
    if (FPid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    FOutput = out[0];
    if (!NextLine(FPath, std::chrono::seconds(10))) {
        Stop();
        throw std::runtime_error("the simulator did not start");
    }
}

bool TSimulatorProcess::NextLine(std::string& ALine, std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (FPending.find('\n') == std::string::npos && FOutput >= 0 &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd readable{FOutput, POLLIN, 0};
        if (::poll(&readable, 1, 20) <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(FOutput, buffer, sizeof buffer);
        if (n <= 0) break;
        FPending.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t end = FPending.find('\n');
    if (end == std::string::npos) return false;
    ALine = FPending.substr(0, end);
    FPending.erase(0, end + 1);
    return true;
}

TSimulatorProcess::~TSimulatorProcess() {
    Stop();
}

int TSimulatorProcess::Stop() {
    if (FOutput >= 0) ::close(FOutput);
    FOutput = -1;
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        while (::waitpid(FPid, &FStatus, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
    }
    return FStatus;
}

bool TSimulatorProcess::Ended() {
    if (FPid <= 0) return true;
    if (::waitpid(FPid, &FStatus, WNOHANG) == FPid) {
        FPid = -1;
        return true;
    }
    return false;
}

} // namespace cport::test
