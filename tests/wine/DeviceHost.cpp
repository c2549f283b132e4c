// Runs one Windows test program under Wine with a serial device of its own, and plays the
// Linux side of that device.
//
//   device_host MODEMLIB PROGRAM [ARGS...]      (WINEPREFIX must be set)
//
// It opens a pseudo-terminal pair, maps the slave into the prefix as the first free COM port
// from COM5 on (COM1 is the machine's console), starts PROGRAM with QUENDAL_PORT naming that port
// and QUENDAL_DEVICE the local TCP port on which the test reaches the device side, with MODEMLIB
// preloaded so that the pty has modem lines. A connection that starts with 'D' carries the
// line's bytes both ways (what the test sends is what the device sends); one that starts with
// 'C' takes commands, one line each, answered with one line:
//   lines [CTS] [DSR] [RI] [CD]   sets the lines the device drives          -> ok
//   outputs                       the lines the port drives                -> [DTR] [RTS]
//   line                          the pty's settings as the port left them -> key value ...
//   hangup                        closes the device side, as a pulled cable -> ok
//   polled                        waits (up to 5 s) until the port reads its modem lines twice
//                                 more, which Wine does only while an event wait for line
//                                 changes is pending                        -> ok
// The program's output is passed on until it exits; what Wine's own processes keep of its
// output descriptors does not hold this program up. Exits with the program's status.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Lines of the modem state file shared with the preloaded library (see ModemLines.cpp).
constexpr off_t DeviceLinesOffset = 0;
constexpr off_t PortLinesOffset = 4;
constexpr off_t LineReadsOffset = 8;
constexpr off_t KeptBitsOffset = 12; // CSIZE and PARENB as the port set them, with KeptFlag
constexpr std::int32_t KeptFlag = 0x40000000;
constexpr std::size_t RelayLimit = 1 << 20; // bytes held per direction before pushing back
constexpr int FirstPort = 5; // Wine maps the low ones to /dev/ttyS*, COM1 being the console
constexpr int LastPort = 99;

[[noreturn]] void Fail(const std::string& AWhat) {
    throw std::runtime_error(AWhat + ": " + std::strerror(errno));
}

void SetNonBlocking(int AFd) {
    ::fcntl(AFd, F_SETFL, ::fcntl(AFd, F_GETFL) | O_NONBLOCK);
}

class TDescriptor {
public:
    explicit TDescriptor(int AFd = -1)
        : FFd(AFd) {}
    ~TDescriptor() { Reset(); }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return FFd; }
    int Release() {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }
    void Reset(int AFd = -1) {
        if (FFd >= 0) ::close(FFd);
        FFd = AFd;
    }

private:
    int FFd;
};

// The pty, its COM name in the prefix and its modem state file; all undone on destruction.
class TMappedPty {
public:
    explicit TMappedPty(const std::string& APrefix) {
        int master = -1;
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) Fail("openpty");
        FMaster.Reset(master);
        FSlave.Reset(slave);
        // Neither end may reach Wine's processes, or closing ours would not hang up.
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        FSlavePath = name;
        // A new pty echoes and translates; a serial line does neither until configured.
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        SetNonBlocking(master);

        const std::string own = APrefix + "/quendal";
        ::mkdir(own.c_str(), 0700);
        ::mkdir((own + "/modem").c_str(), 0700);
        FStatePath = own + "/modem/pts-" + FSlavePath.substr(FSlavePath.rfind('/') + 1);
        FState.Reset(::open(FStatePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (FState.Get() < 0) Fail("open " + FStatePath);
        const std::array<std::int32_t, 4> none{0, 0, 0, 0};
        if (::pwrite(FState.Get(), none.data(), sizeof none, 0) != sizeof none)
            Fail("write " + FStatePath);

        // A port is ours while we hold its lock; a crashed holder's lock goes with it.
        for (int port = FirstPort; port <= LastPort && FPortName.empty(); ++port) {
            const std::string lock = own + "/com" + std::to_string(port) + ".lock";
            TDescriptor fd(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
            if (fd.Get() < 0) Fail("open " + lock);
            if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
            FLinkPath = APrefix + "/dosdevices/com" + std::to_string(port);
            ::unlink(FLinkPath.c_str());
            if (::symlink(FSlavePath.c_str(), FLinkPath.c_str()) != 0) Fail("symlink " + FLinkPath);
            FLock.Reset(fd.Release());
            FPortName = "COM" + std::to_string(port);
        }
        if (FPortName.empty()) throw std::runtime_error("no free COM port in the prefix");
    }

    ~TMappedPty() {
        char target[256] = {};
        if (::readlink(FLinkPath.c_str(), target, sizeof target - 1) > 0 && FSlavePath == target)
            ::unlink(FLinkPath.c_str());
        ::unlink(FStatePath.c_str());
    }

    TMappedPty(const TMappedPty&) = delete;
    TMappedPty& operator=(const TMappedPty&) = delete;

    int Master() const { return FMaster.Get(); }
    const std::string& PortName() const { return FPortName; }
    std::string ModemDir() const { return FStatePath.substr(0, FStatePath.rfind('/')); }

    void HangUp() {
        FMaster.Reset();
        FSlave.Reset();
    }

    void SetDeviceLines(std::int32_t ALines) {
        if (::pwrite(FState.Get(), &ALines, sizeof ALines, DeviceLinesOffset) != sizeof ALines)
            Fail("write " + FStatePath);
    }

    std::int32_t PortLines() const { return Word(PortLinesOffset); }
    std::int32_t LineReads() const { return Word(LineReadsOffset); }

    // The settings the port gave the line. A pty keeps neither PARENB nor the character size:
    // those are the ones the modem-line library kept for it.
    std::string LineSettings() const {
        termios line{};
        if (FSlave.Get() < 0 || ::tcgetattr(FSlave.Get(), &line) != 0) return "error no line";
        const std::int32_t kept = Word(KeptBitsOffset);
        if (kept & KeptFlag)
            line.c_cflag = (line.c_cflag & ~(CSIZE | PARENB)) |
                           (static_cast<tcflag_t>(kept) & (CSIZE | PARENB));
        const tcflag_t size = line.c_cflag & CSIZE;
        std::ostringstream text;
        text << "speed " << Speed(::cfgetospeed(&line)) << " bits "
             << (size == CS5   ? 5
                 : size == CS6 ? 6
                 : size == CS7 ? 7
                               : 8)
             << " parenb " << ((line.c_cflag & PARENB) != 0) << " cstopb "
             << ((line.c_cflag & CSTOPB) != 0) << " parodd " << ((line.c_cflag & PARODD) != 0)
             << " cmspar " << ((line.c_cflag & CMSPAR) != 0) << " crtscts "
             << ((line.c_cflag & CRTSCTS) != 0) << " ixon " << ((line.c_iflag & IXON) != 0)
             << " ixoff " << ((line.c_iflag & IXOFF) != 0) << " vstart "
             << static_cast<int>(line.c_cc[VSTART]) << " vstop "
             << static_cast<int>(line.c_cc[VSTOP]);
        return text.str();
    }

private:
    std::int32_t Word(off_t AOffset) const {
        std::int32_t word = 0;
        if (::pread(FState.Get(), &word, sizeof word, AOffset) != sizeof word) return 0;
        return word;
    }

    static long Speed(speed_t ACode) {
        static constexpr std::array<std::pair<speed_t, long>, 23> Codes = {{
            {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},
            {B134, 134},       {B150, 150},       {B200, 200},       {B300, 300},
            {B600, 600},       {B1200, 1200},     {B1800, 1800},     {B2400, 2400},
            {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
            {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
            {B500000, 500000}, {B576000, 576000}, {B921600, 921600},
        }};
        for (const auto& [code, speed] : Codes)
            if (code == ACode) return speed;
        return -1;
    }

    TDescriptor FMaster;
    TDescriptor FSlave; // held so that the master never sees a hang-up while the port is closed
    TDescriptor FState;
    TDescriptor FLock;
    std::string FSlavePath;
    std::string FStatePath;
    std::string FLinkPath;
    std::string FPortName;
};

// Moves bytes from one descriptor to another through a bounded buffer.
struct TRelay {
    std::string Pending;
    bool WantsInput() const { return Pending.size() < RelayLimit; }
    // Reads what AFrom has; false when it is closed or failed.
    bool Fill(int AFrom) {
        char chunk[65536];
        const ssize_t n = ::read(AFrom, chunk, sizeof chunk);
        if (n > 0) Pending.append(chunk, static_cast<std::size_t>(n));
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
    }
    bool Drain(int ATo) {
        const ssize_t n = ::write(ATo, Pending.data(), Pending.size());
        if (n > 0) Pending.erase(0, static_cast<std::size_t>(n));
        return n >= 0 || errno == EAGAIN || errno == EINTR;
    }
};

// One of the program's output pipes, passed on to ours.
class TOutput {
public:
    TOutput(int AFrom, int ATo)
        : FFrom(AFrom)
        , FTo(ATo) {
        SetNonBlocking(AFrom);
    }
    int Get() const { return FFrom.Get(); }
    // Passes on what the pipe holds now; false when it held nothing.
    bool Pass() {
        char chunk[4096];
        const ssize_t n = FFrom.Get() < 0 ? -1 : ::read(FFrom.Get(), chunk, sizeof chunk);
        if (n > 0) (void)!::write(FTo, chunk, static_cast<std::size_t>(n));
        if (n == 0) FFrom.Reset(); // poll skips a closed one
        return n > 0;
    }

private:
    TDescriptor FFrom;
    int FTo;
};

std::int32_t ParseLines(std::istringstream& AWords, bool& AOk) {
    std::int32_t lines = 0;
    std::string word;
    AOk = true;
    while (AWords >> word) {
        if (word == "CTS")
            lines |= TIOCM_CTS;
        else if (word == "DSR")
            lines |= TIOCM_DSR;
        else if (word == "RI")
            lines |= TIOCM_RI;
        else if (word == "CD")
            lines |= TIOCM_CD;
        else
            AOk = false;
    }
    return lines;
}

// A "polled" command waiting for its answer.
struct TPollWait {
    int Fd;
    std::int32_t Reads;
    std::chrono::steady_clock::time_point Deadline;
};

std::string Answer(TMappedPty& APty, const std::string& ACommand) {
    std::istringstream words(ACommand);
    std::string verb;
    words >> verb;
    if (verb == "lines") {
        bool ok = false;
        const std::int32_t lines = ParseLines(words, ok);
        if (!ok) return "error unknown line";
        APty.SetDeviceLines(lines);
        return "ok";
    }
    if (verb == "outputs") {
        const std::int32_t lines = APty.PortLines();
        std::string text;
        if (lines & TIOCM_DTR) text += "DTR ";
        if (lines & TIOCM_RTS) text += "RTS ";
        if (!text.empty()) text.pop_back();
        return text;
    }
    if (verb == "line") return APty.LineSettings();
    if (verb == "hangup") {
        APty.HangUp();
        return "ok";
    }
    return "error unknown command";
}

int Run(const std::string& AModemLib, char** AProgram) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr) throw std::runtime_error("WINEPREFIX is not set");
    TMappedPty pty(prefix);

    TDescriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), 4) != 0 ||
        ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Fail("listen");

    int output[2];
    int errors[2];
    if (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(errors, O_CLOEXEC) != 0) Fail("pipe");
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) Fail("fork");
    if (child == 0) {
        // The test must not outlive a host that ctest has stopped.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(errors[1], STDERR_FILENO);
        const char* preload = std::getenv("LD_PRELOAD");
        const std::string preloads =
            preload != nullptr && *preload != '\0' ? AModemLib + ":" + preload : AModemLib;
        ::setenv("LD_PRELOAD", preloads.c_str(), 1);
        ::setenv("QUENDAL_MODEM_DIR", pty.ModemDir().c_str(), 1);
        ::setenv("QUENDAL_PORT", pty.PortName().c_str(), 1);
        ::setenv("QUENDAL_DEVICE", std::to_string(ntohs(address.sin_port)).c_str(), 1);
        ::execvp(AProgram[0], AProgram);
        std::fprintf(stderr, "device_host: cannot run %s: %s\n", AProgram[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(output[1]);
    ::close(errors[1]);
    TOutput out(output[0], STDOUT_FILENO);
    TOutput err(errors[0], STDERR_FILENO);
    // glibc 2.36 declares pidfd_open without C linkage for C++.
    TDescriptor exited(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
    if (exited.Get() < 0) Fail("pidfd_open");

    TDescriptor data;
    std::vector<std::pair<int, std::string>> controls; // descriptor, partial command
    TRelay toDevice, toTest;
    std::vector<TPollWait> pollWaits;
    for (;;) {
        std::vector<pollfd> fds = {{exited.Get(), POLLIN, 0},
                                   {out.Get(), POLLIN, 0},
                                   {err.Get(), POLLIN, 0},
                                   {listener.Get(), POLLIN, 0}};
        const int master = pty.Master();
        fds.push_back({master,
                       static_cast<short>((toTest.WantsInput() ? POLLIN : 0) |
                                          (toDevice.Pending.empty() ? 0 : POLLOUT)),
                       0});
        fds.push_back({data.Get(),
                       static_cast<short>((toDevice.WantsInput() ? POLLIN : 0) |
                                          (toTest.Pending.empty() ? 0 : POLLOUT)),
                       0});
        for (const auto& control : controls)
            fds.push_back({control.first, POLLIN, 0});
        // Wine reads the lines every millisecond while it waits; so does a pending "polled".
        if (::poll(fds.data(), fds.size(), pollWaits.empty() ? -1 : 1) < 0) {
            if (errno == EINTR) continue;
            Fail("poll");
        }
        if (fds[1].revents != 0) out.Pass();
        if (fds[2].revents != 0) err.Pass();
        if (fds[0].revents != 0) break;
        if (fds[3].revents & POLLIN) {
            TDescriptor connection(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
            char kind = 0;
            if (connection.Get() >= 0 && ::read(connection.Get(), &kind, 1) == 1) {
                if (kind == 'D') {
                    SetNonBlocking(connection.Get());
                    data.Reset(connection.Release());
                    toTest.Pending.clear();
                    toDevice.Pending.clear();
                } else if (kind == 'C') {
                    controls.emplace_back(connection.Release(), std::string());
                }
            }
        }
        if (fds[4].revents & (POLLIN | POLLHUP | POLLERR)) toTest.Fill(master);
        if (fds[4].revents & POLLOUT) toDevice.Drain(master);
        if (fds[5].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!toDevice.Fill(data.Get())) data.Reset();
        }
        if ((fds[5].revents & POLLOUT) && data.Get() >= 0 && !toTest.Drain(data.Get()))
            data.Reset();
        // Only the connections that were polled: one accepted just now has no entry in fds.
        const std::size_t polledControls = fds.size() - 6;
        for (std::size_t i = 0; i < polledControls; ++i) {
            if (fds[6 + i].revents == 0) continue;
            auto& [fd, partial] = controls[i];
            char chunk[256];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                std::erase_if(pollWaits, [&](const TPollWait& AWait) { return AWait.Fd == fd; });
                ::close(fd);
                fd = -1;
                continue;
            }
            partial.append(chunk, static_cast<std::size_t>(n));
            for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
                const std::string command = partial.substr(0, end);
                partial.erase(0, end + 1);
                if (command == "polled") {
                    pollWaits.push_back(
                        {fd, pty.LineReads() + 2, std::chrono::steady_clock::now() + 5s});
                    continue;
                }
                const std::string reply = Answer(pty, command) + "\n";
                (void)!::write(fd, reply.data(), reply.size());
            }
        }
        std::erase_if(pollWaits, [&](const TPollWait& AWait) {
            const bool polled = pty.LineReads() - AWait.Reads >= 0;
            if (!polled && std::chrono::steady_clock::now() < AWait.Deadline) return false;
            const std::string reply = polled ? "ok\n" : "error the lines were not read\n";
            (void)!::write(AWait.Fd, reply.data(), reply.size());
            return true;
        });
        std::erase_if(controls, [](const auto& AControl) { return AControl.first < 0; });
        if (pty.Master() < 0) toDevice.Pending.clear();
    }
    // What the program wrote before it ended; Wine's processes may keep the pipes open, so only
    // what is there.
    while (out.Pass()) {
    }
    while (err.Pass()) {
    }
    for (const auto& control : controls)
        ::close(control.first);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int AArgc, char** AArgv) {
    if (AArgc < 3) {
        std::fprintf(stderr, "usage: device_host MODEMLIB PROGRAM [ARGS...]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return Run(AArgv[1], AArgv + 2);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "device_host: %s\n", e.what());
        return 125;
    }
}
