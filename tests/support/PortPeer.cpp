#include "PortPeer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace cport::test {

using Clock = std::chrono::steady_clock;

std::vector<std::string> TPortPeer::PySerial(const std::string& APath) {
    return {QUENDAL_PYTHON3, QUENDAL_SERIAL_PEER, APath};
}

std::vector<std::string> TPortPeer::Component(const std::string& APath) {
    return {QUENDAL_PORT_HOLDER, APath};
}

TPortPeer::TPortPeer(const std::vector<std::string>& ACommand) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> args = ACommand;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    FPid = ::fork();
    if (FPid == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    FInput = input[1];
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    std::string line;
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd readable{output[0], POLLIN, 0};
        if (::poll(&readable, 1, 100) <= 0) continue;
        char buffer[128];
        const ssize_t n = ::read(output[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(output[0]);
    if (line.find('\n') == std::string::npos) {
        Release();
        throw std::runtime_error(args[0] + " gave no answer (for pySerial: is Debian's "
                                           "python3-serial installed?)");
    }
    FAnswer = line.substr(0, line.find('\n'));
}

TPortPeer::~TPortPeer() {
    Release();
}

void TPortPeer::Release() {
    if (FInput >= 0) ::close(FInput);
    FInput = -1;
    if (FPid <= 0) return;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(FPid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &status, 0);
            break;
        }
        ::poll(nullptr, 0, 5);
    }
    FPid = -1;
}

} // namespace cport::test
