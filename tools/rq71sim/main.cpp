// rq71sim: a simulated RQ-71 on a pseudo-terminal. It prints the path of the terminal's serial
// side, publishes it so that the port lists of programs show it, and answers each poll line
// (CR LF) with one reading; optionally it streams readings on its own, mixes NUL bytes in, or
// hangs up after a while as a pulled adapter would, once or again and again, coming back on a
// new terminal under the same published name.
#include "PortPublish.h"
#include "Rq71Device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct TOptions {
    double LinesPerSecond = 0;
    double BytesPerSecond = 0;
    bool MixNul = false;
    double HangUpAfter = 0;
    double HangUpEvery = 0;
    double DownFor = 1;
    double StreamDelay = 0;
    double StreamFor = 0;
    bool HasSeed = false;
    std::uint32_t Seed = 0;
    std::string Name;
    bool Publish = true;
    std::string Record;
    std::string PollCount;
};

void Usage(FILE* AOut) {
    std::fputs(
        "Usage: rq71sim [options]\n"
        "A simulated Tessivo RQ-71 on a pseudo-terminal. Prints the terminal's path, lists it\n"
        "in the port list of programs, and answers every CR LF with one reading line such as\n"
        "\"+23.456 \\xB0C\\r\\n\" (12 bytes, the degree sign as byte 0xB0).\n"
        "\n"
        "  --lines-per-second N   also send N readings a second on its own\n"
        "  --bytes-per-second N   also send readings at N bytes a second on its own\n"
        "  --stream-delay S       begin streaming S seconds after the start\n"
        "  --stream-for S         stop streaming S seconds after it began (polls are still\n"
        "                         answered), so that a program that opens the port before\n"
        "                         and closes it after logs every byte sent\n"
        "  --nul                  put one NUL byte into every reading\n"
        "  --hang-up-after S      hang up after S seconds, as a pulled USB adapter does\n"
        "  --hang-up-every S      hang up after every S seconds up, and come back (plugged in\n"
        "                         again) on a new terminal under the same name in the port\n"
        "                         list; prints \"hung up\", then each new path on its own line\n"
        "  --down-for S           how long each of those hang-ups lasts (default 1)\n"
        "SIGUSR1 pulls the device at once; it comes back after --down-for.\n"
        "  --seed N               fixed seed: the same readings every run\n"
        "  --name NAME            the name in the port list (default \"RQ-71 simulator <pid>\")\n"
        "  --no-publish           do not list the terminal in the port list\n"
        "  --record FILE          write every byte sent to FILE as well\n"
        "  --poll-count FILE      on exit, write the number of polls answered to FILE\n"
        "  --help                 this text\n"
        "\n"
        "Stops cleanly on SIGINT or SIGTERM and removes its port list entry.\n",
        AOut);
}

bool ParseNumber(const char* AText, double& AValue) {
    char* end = nullptr;
    errno = 0;
    AValue = std::strtod(AText, &end);
    return errno == 0 && end != AText && *end == '\0' && AValue >= 0;
}

// Returns false and says why when the arguments are wrong.
bool ParseOptions(int argc, char** argv, TOptions& AOptions, int& AExit) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char*& AValue) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "rq71sim: %s needs a value\n", arg.c_str());
                return false;
            }
            AValue = argv[++i];
            return true;
        };
        const char* text = nullptr;
        double number = 0;
        if (arg == "--help") {
            Usage(stdout);
            AExit = 0;
            return false;
        } else if (arg == "--nul") {
            AOptions.MixNul = true;
        } else if (arg == "--no-publish") {
            AOptions.Publish = false;
        } else if (arg == "--lines-per-second" || arg == "--bytes-per-second" ||
                   arg == "--hang-up-after" || arg == "--hang-up-every" || arg == "--down-for" ||
                   arg == "--stream-delay" || arg == "--stream-for" || arg == "--seed") {
            if (!value(text)) return AExit = 2, false;
            if (!ParseNumber(text, number)) {
                std::fprintf(stderr, "rq71sim: %s: not a number: %s\n", arg.c_str(), text);
                return AExit = 2, false;
            }
            if (arg == "--lines-per-second")
                AOptions.LinesPerSecond = number;
            else if (arg == "--bytes-per-second")
                AOptions.BytesPerSecond = number;
            else if (arg == "--hang-up-after")
                AOptions.HangUpAfter = number;
            else if (arg == "--hang-up-every")
                AOptions.HangUpEvery = number;
            else if (arg == "--down-for")
                AOptions.DownFor = number;
            else if (arg == "--stream-delay")
                AOptions.StreamDelay = number;
            else if (arg == "--stream-for")
                AOptions.StreamFor = number;
            else {
                AOptions.HasSeed = true;
                AOptions.Seed = static_cast<std::uint32_t>(number);
            }
        } else if (arg == "--name" || arg == "--record" || arg == "--poll-count") {
            if (!value(text)) return AExit = 2, false;
            (arg == "--name"     ? AOptions.Name
             : arg == "--record" ? AOptions.Record
                                 : AOptions.PollCount) = text;
        } else {
            std::fprintf(stderr, "rq71sim: unknown option %s (see --help)\n", arg.c_str());
            return AExit = 2, false;
        }
    }
    return true;
}

using TClock = std::chrono::steady_clock;

class TSimulator {
public:
    TSimulator(const TOptions& AOptions, std::uint32_t ASeed)
        : FOptions(AOptions)
        , FDevice(ASeed, AOptions.MixNul) {}

    ~TSimulator() {
        if (!FOptions.PollCount.empty()) {
            if (FILE* file = std::fopen(FOptions.PollCount.c_str(), "w")) {
                std::fprintf(file, "%zu\n", FPolls);
                std::fclose(file);
            }
        }
        if (FPublished) cport::UnpublishPort(FOptions.Name);
        for (int fd : {FMaster, FSlave, FRecord, FSignals})
            if (fd >= 0) ::close(fd);
    }

    int Run() {
        FSince = TClock::now();
        if (!Start()) return 1;
        const TClock::time_point streamFrom = FSince + Seconds(FOptions.StreamDelay);
        FStreamUntil = FOptions.StreamFor > 0 ? streamFrom + Seconds(FOptions.StreamFor)
                                              : TClock::time_point::max();
        FLastStream = streamFrom;
        for (;;) {
            // While hung up there is no terminal: poll skips a negative descriptor.
            pollfd fds[2] = {
                {FMaster, static_cast<short>(POLLIN | (FOutput.empty() ? 0 : POLLOUT)), 0},
                {FSignals, POLLIN, 0}};
            if (::poll(fds, 2, NextTimeout()) < 0 && errno != EINTR) {
                std::perror("rq71sim: poll");
                return 1;
            }
            if (fds[1].revents & POLLIN) {
                signalfd_siginfo signal{};
                if (::read(FSignals, &signal, sizeof signal) == sizeof signal &&
                    signal.ssi_signo == SIGUSR1) {
                    // Pulled by hand: back after --down-for, on a new terminal.
                    if (FMaster >= 0) HangUp(TClock::now());
                    continue;
                }
                return 0;
            }
            const TClock::time_point now = TClock::now();
            if (FOptions.HangUpAfter > 0 && now - FSince >= Seconds(FOptions.HangUpAfter)) {
                Say("hung up");
                return 0;
            }
            if (FMaster < 0) {
                if (now >= FBackAt && !OpenTerminal()) return 1;
                continue;
            }
            if (FOptions.HangUpEvery > 0 && now - FUpSince >= Seconds(FOptions.HangUpEvery)) {
                HangUp(now);
                continue;
            }
            if (fds[0].revents & POLLIN) ReadPolls();
            Stream();
            if (!Flush()) return 1;
        }
    }

private:
    static TClock::duration Seconds(double ASeconds) {
        return std::chrono::duration_cast<TClock::duration>(
            std::chrono::duration<double>(ASeconds));
    }

    static void Say(const char* ALine) {
        std::puts(ALine);
        std::fflush(stdout);
    }

    bool Start() {
        if (!FOptions.Record.empty()) {
            FRecord =
                ::open(FOptions.Record.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (FRecord < 0) {
                std::perror(("rq71sim: " + FOptions.Record).c_str());
                return false;
            }
        }
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        sigaddset(&signals, SIGUSR1);
        ::sigprocmask(SIG_BLOCK, &signals, nullptr);
        FSignals = ::signalfd(-1, &signals, SFD_CLOEXEC);
        return OpenTerminal();
    }

    // A new terminal, published under our name and printed: the device is plugged in.
    bool OpenTerminal() {
        char path[128] = {};
        if (::openpty(&FMaster, &FSlave, path, nullptr, nullptr) != 0) {
            std::perror("rq71sim: openpty");
            return false;
        }
        // Our own descriptor on the serial side keeps the terminal alive while the program
        // that uses it closes and opens it again.
        termios raw{};
        ::tcgetattr(FSlave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(FSlave, TCSANOW, &raw);
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
        if (FOptions.Publish) {
            if (const cport::TOsError error = cport::PublishPort(FOptions.Name, path)) {
                std::fprintf(stderr, "rq71sim: cannot publish %s: %s\n", path,
                             std::strerror(static_cast<int>(error)));
                return false;
            }
            FPublished = true;
        }
        FUpSince = TClock::now();
        Say(path);
        return true;
    }

    // The device is pulled: its terminal goes, with whatever was on its way, and so does its
    // entry in the port list until it comes back on a new terminal.
    void HangUp(TClock::time_point ANow) {
        if (FPublished) cport::UnpublishPort(FOptions.Name);
        FPublished = false;
        ::close(FMaster);
        ::close(FSlave);
        FMaster = FSlave = -1;
        FOutput.clear();
        FBackAt = ANow + Seconds(FOptions.DownFor);
        Say("hung up");
    }

    int NextTimeout() const {
        const TClock::time_point now = TClock::now();
        TClock::time_point until = TClock::time_point::max();
        if (FMaster >= 0 && (FOptions.LinesPerSecond > 0 || FOptions.BytesPerSecond > 0))
            until = now + std::chrono::milliseconds(10); // streaming: top the output up
        if (FOptions.HangUpAfter > 0)
            until = std::min(until, FSince + Seconds(FOptions.HangUpAfter));
        if (FMaster < 0)
            until = std::min(until, FBackAt);
        else if (FOptions.HangUpEvery > 0)
            until = std::min(until, FUpSince + Seconds(FOptions.HangUpEvery));
        if (until == TClock::time_point::max()) return -1;
        // Rounded up, so that the time has come when the poll returns.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        return static_cast<int>(std::max<long long>(0, left.count() + 1));
    }

    void ReadPolls() {
        char buffer[4096];
        const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n <= 0) return;
        const std::string answers = FDevice.Receive(buffer, static_cast<std::size_t>(n));
        // Every answer is one reading, and every reading ends with CR LF.
        for (std::size_t at = answers.find("\r\n"); at != std::string::npos;
             at = answers.find("\r\n", at + 2))
            ++FPolls;
        FOutput += answers;
    }

    void Stream() {
        if (FOptions.LinesPerSecond <= 0 && FOptions.BytesPerSecond <= 0) return;
        const TClock::time_point now = std::min(TClock::now(), FStreamUntil);
        if (now <= FLastStream) return; // not yet, or no more
        const double seconds = std::chrono::duration<double>(now - FLastStream).count();
        FLastStream = now;
        if (FOptions.LinesPerSecond > 0) {
            FCredit += seconds * FOptions.LinesPerSecond;
            for (; FCredit >= 1; FCredit -= 1)
                FOutput += FDevice.NextReading();
        } else {
            FCredit += seconds * FOptions.BytesPerSecond;
            while (FCredit >= static_cast<double>(FPartial.size())) {
                FCredit -= static_cast<double>(FPartial.size());
                FOutput += FPartial;
                FPartial = FDevice.NextReading();
            }
        }
        // Do not queue without bound when nobody reads: the device would drop readings.
        if (FOutput.size() > (1u << 20)) FOutput.erase(0, FOutput.size() - (1u << 20));
    }

    bool Flush() {
        while (!FOutput.empty()) {
            const ssize_t n = ::write(FMaster, FOutput.data(), FOutput.size());
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) return true;
                std::perror("rq71sim: write");
                return false;
            }
            if (FRecord >= 0 &&
                ::write(FRecord, FOutput.data(), static_cast<std::size_t>(n)) != n) {
                std::perror("rq71sim: record");
                return false;
            }
            FOutput.erase(0, static_cast<std::size_t>(n));
        }
        return true;
    }

    TOptions FOptions;
    rq71::TRq71Device FDevice;
    int FMaster = -1;
    int FSlave = -1;
    int FRecord = -1;
    int FSignals = -1;
    bool FPublished = false;
    std::string FOutput;
    std::string FPartial;
    double FCredit = 0;
    std::size_t FPolls = 0;
    TClock::time_point FLastStream;
    TClock::time_point FStreamUntil;
    TClock::time_point FSince;
    TClock::time_point FUpSince;
    TClock::time_point FBackAt;
};

} // namespace

int main(int argc, char** argv) {
    // A reader of our output that went away must not end us before we unpublish.
    std::signal(SIGPIPE, SIG_IGN);
    TOptions options;
    int exitCode = 0;
    if (!ParseOptions(argc, argv, options, exitCode)) return exitCode;
    if (options.Name.empty()) options.Name = "RQ-71 simulator " + std::to_string(::getpid());
    const std::uint32_t seed = options.HasSeed ? options.Seed : std::random_device()();
    return TSimulator(options, seed).Run();
}
