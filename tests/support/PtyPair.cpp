#include "PtyPair.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace cport {

namespace {

[[noreturn]] void Fail(const std::string& AWhat) {
    throw std::runtime_error(AWhat + ": " + std::strerror(errno));
}

int MillisecondsLeft(std::chrono::steady_clock::time_point AUntil) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        AUntil - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WaitFor(int AFd, short AEvents, std::chrono::steady_clock::time_point AUntil) {
    pollfd fd{AFd, AEvents, 0};
    return ::poll(&fd, 1, MillisecondsLeft(AUntil)) > 0;
}

} // namespace

TPtyPair::TPtyPair() {
    int slave = -1;
    char name[128] = {};
    if (::openpty(&FMaster, &slave, name, nullptr, nullptr) != 0) Fail("openpty");
    // The test opens the slave by its path; this descriptor is not needed.
    ::close(slave);
    FSlavePath = name;
    termios line{};
    if (::tcgetattr(FMaster, &line) != 0) Fail("tcgetattr");
    ::cfmakeraw(&line);
    if (::tcsetattr(FMaster, TCSANOW, &line) != 0) Fail("tcsetattr");
    const int flags = ::fcntl(FMaster, F_GETFL);
    if (flags < 0 || ::fcntl(FMaster, F_SETFL, flags | O_NONBLOCK) != 0) Fail("fcntl");
    // Programs a test starts are other programs on the line, never its device side.
    if (::fcntl(FMaster, F_SETFD, FD_CLOEXEC) != 0) Fail("fcntl");
}

TPtyPair::~TPtyPair() {
    CloseMaster();
}

void TPtyPair::CloseMaster() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
}

bool TPtyPair::WriteAll(const std::string& AData, std::chrono::milliseconds ATimeout) {
    const auto until = std::chrono::steady_clock::now() + ATimeout;
    std::size_t done = 0;
    while (done < AData.size()) {
        const ssize_t put = ::write(FMaster, AData.data() + done, AData.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!WaitFor(FMaster, POLLOUT, until)) {
            return false;
        }
    }
    return true;
}

std::string TPtyPair::ReadExactly(std::size_t ACount, std::chrono::milliseconds ATimeout) {
    const auto until = std::chrono::steady_clock::now() + ATimeout;
    std::string data;
    char buffer[65536];
    while (data.size() < ACount) {
        const ssize_t got = ::read(FMaster, buffer, std::min(sizeof buffer, ACount - data.size()));
        if (got > 0) {
            data.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        } else if (!WaitFor(FMaster, POLLIN, until)) {
            break;
        }
    }
    return data;
}

std::string TPtyPair::ReadAvailable() {
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(FMaster, buffer, sizeof buffer);
        if (got <= 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return data;
}

TPtyLine TPtyPair::SlaveLine() const {
    return ReadPtyLine(FMaster);
}

} // namespace cport
