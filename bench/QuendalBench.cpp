// quendal_bench: the component against the machine's limit and its peers, on the same
// pseudo-terminal workloads in the same run, since this machine is shared and noisy: only
// ratios measured side by side mean something.
//
// Receivers: the component as the logger uses it (event thread, smThreadSync hand-over to a
// GUI-thread stand-in, OnRxChar, ReadStr(Count)); a plain poll+read loop (the limit); a
// count-then-read loop (FIONREAD, then read exactly that: the limit of the component's read
// pattern); QSerialPort driven by readyRead. The device side is bench_device, a separate
// process on the terminal's master side.
#include "CPort.h"
#include "LogBench.h"
#include "MainThread.h"
#include "QtMainThread.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::uint64_t NowMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Voluntary context switches of each thread of this process, by thread id.
std::map<int, long> ThreadSwitches() {
    std::map<int, long> switches;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                    switches[std::atoi(entry->d_name)] = std::atol(line.c_str() + 24);
        }
        ::closedir(dir);
    }
    return switches;
}

double Percentile(std::vector<double> AValues, double AP) {
    if (AValues.empty()) return 0;
    std::sort(AValues.begin(), AValues.end());
    const auto index = static_cast<std::size_t>(AP * static_cast<double>(AValues.size() - 1) + 0.5);
    return AValues[std::min(index, AValues.size() - 1)];
}

char PatternAt(std::size_t AIndex) {
    return static_cast<char>((AIndex * 7 + AIndex / 256) & 0xFF);
}

// --- Where the processes run
// ----------------------------------------------------------------------

// The receiver and the device each on a core of their own while the receivers are measured,
// when there are two: left to the scheduler they share one core in some runs and not in others,
// and an echo then takes twice as long for every receiver alike, which hides what is compared.
class TPlacement {
public:
    TPlacement() {
        cpu_set_t all;
        if (::sched_getaffinity(0, sizeof all, &all) != 0) return;
        FAll = all;
        int found = 0;
        for (int cpu = 0; cpu < CPU_SETSIZE && found < 2; ++cpu) {
            if (!CPU_ISSET(cpu, &all)) continue;
            (found == 0 ? FReceiver : FDevice) = cpu;
            ++found;
        }
        if (found < 2) return;
        FPinned = Pin(FReceiver);
    }
    ~TPlacement() {
        if (FPinned) ::sched_setaffinity(0, sizeof FAll, &FAll);
    }
    TPlacement(const TPlacement&) = delete;
    TPlacement& operator=(const TPlacement&) = delete;

    // In the device's process, before it runs.
    static void PlaceDevice() {
        if (Current != nullptr && Current->FPinned) Pin(Current->FDevice);
    }
    std::string Describe() const {
        return FPinned ? "receiver on core " + std::to_string(FReceiver) + ", device on core " +
                             std::to_string(FDevice)
                       : "placed by the scheduler";
    }

    static inline const TPlacement* Current = nullptr;

private:
    static bool Pin(int ACpu) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(ACpu, &one);
        return ::sched_setaffinity(0, sizeof one, &one) == 0;
    }

    cpu_set_t FAll{};
    int FReceiver = -1;
    int FDevice = -1;
    bool FPinned = false;
};

// --- The device process -------------------------------------------------------------------------

class TDevice {
public:
    explicit TDevice(const std::vector<std::string>& AArguments) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
        FPid = ::fork();
        if (FPid == 0) {
            TPlacement::PlaceDevice();
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<std::string> args{BENCH_DEVICE};
            args.insert(args.end(), AArguments.begin(), AArguments.end());
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        FIn = in[1];
        char buffer[256] = {};
        std::size_t used = 0;
        while (used < sizeof buffer - 1 && std::strchr(buffer, '\n') == nullptr) {
            const ssize_t n = ::read(out[0], buffer + used, sizeof buffer - 1 - used);
            if (n <= 0) break;
            used += static_cast<std::size_t>(n);
        }
        ::close(out[0]);
        FPath = std::string(buffer, std::strcspn(buffer, "\n"));
    }
    ~TDevice() {
        Say("done\n");
        ::close(FIn);
        ::waitpid(FPid, nullptr, 0);
    }
    const std::string& Path() const { return FPath; }
    void Go() { Say("go\n"); }

private:
    void Say(const char* AText) { (void)!::write(FIn, AText, std::strlen(AText)); }
    pid_t FPid = -1;
    int FIn = -1;
    std::string FPath;
};

// --- Receivers --------------------------------------------------------------------------------

using TSink = std::function<void(const char* AData, std::size_t ACount)>;

class TReceiver {
public:
    virtual ~TReceiver() = default;
    virtual const char* Name() const = 0;
    virtual void Open(const std::string& APath, TSink ASink) = 0;
    virtual void Write(const std::string& AData) = 0;
    // Delivers what arrives to the sink until APredicate holds or ATimeout passes.
    virtual bool RunUntil(const std::function<bool()>& APredicate,
                          std::chrono::milliseconds ATimeout) = 0;
};

int OpenRaw(const std::string& APath) {
    const int fd = ::open(APath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw std::runtime_error("open " + APath);
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

// poll + read of whatever is there: the limit.
class TPlainLoop : public TReceiver {
public:
    explicit TPlainLoop(bool ACountFirst)
        : FCountFirst(ACountFirst) {}
    ~TPlainLoop() override {
        if (FFd >= 0) ::close(FFd);
    }
    const char* Name() const override {
        return FCountFirst ? "count-then-read loop" : "poll+read loop";
    }
    void Open(const std::string& APath, TSink ASink) override {
        FFd = OpenRaw(APath);
        FSink = std::move(ASink);
    }
    void Write(const std::string& AData) override {
        (void)!::write(FFd, AData.data(), AData.size());
    }
    bool RunUntil(const std::function<bool()>& APredicate,
                  std::chrono::milliseconds ATimeout) override {
        const auto deadline = Clock::now() + ATimeout;
        std::vector<char> buffer(1 << 16);
        while (!APredicate()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd readable{FFd, POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
            std::size_t want = buffer.size();
            if (FCountFirst) {
                int count = 0;
                ::ioctl(FFd, FIONREAD, &count);
                want = std::min(buffer.size(), static_cast<std::size_t>(std::max(count, 1)));
            }
            const ssize_t n = ::read(FFd, buffer.data(), want);
            if (n > 0) FSink(buffer.data(), static_cast<std::size_t>(n));
        }
        return true;
    }

private:
    bool FCountFirst;
    int FFd = -1;
    TSink FSink;
};

// A receiver that delivers in Qt's event loop.
class TQtLoopReceiver : public TReceiver {
public:
    bool RunUntil(const std::function<bool()>& APredicate,
                  std::chrono::milliseconds ATimeout) override {
        if (APredicate()) return true;
        // The loop ends at the deadline or when data that arrived makes the condition hold;
        // nothing else wakes it, as in a program that waits for its data. (A loop of
        // processEvents with a coarse timer may miss a timer that fires early, and wait for
        // ever.)
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        FCheck = [&] {
            if (APredicate()) loop.quit();
        };
        deadline.start(ATimeout);
        loop.exec();
        FCheck = nullptr;
        return APredicate();
    }

protected:
    // After each delivery to the sink.
    void Delivered() {
        if (FCheck) FCheck();
    }

private:
    std::function<void()> FCheck;
};

// The component as the logger uses it: thread sync, Qt's event loop, OnRxChar reading what it
// is told with ReadStr.
class TComponentReceiver : public TQtLoopReceiver {
public:
    explicit TComponentReceiver(std::int32_t AInputSize, bool ADiscardNull)
        : FInputSize(AInputSize)
        , FDiscardNull(ADiscardNull) {
        cport::InstallQtMainThreadAndSetupDialog();
    }
    ~TComponentReceiver() override { FPort.reset(); }
    const char* Name() const override { return "cport (logger's way)"; }
    void Open(const std::string& APath, TSink ASink) override {
        FPort = std::make_unique<cport::TComPort>(nullptr);
        FPort->SetPort(APath);
        FPort->SetDiscardNull(FDiscardNull);
        FPort->FlowControl().SetControlDTR(cport::dtrEnable);
        FPort->Buffer().SetInputSize(FInputSize);
        FPort->SetOnRxChar([this, ASink](cport::TObject*, std::int32_t ACount) {
            FPort->ReadStr(FChunk, ACount);
            ASink(FChunk.data(), FChunk.size());
            Delivered();
        });
        FPort->Open();
    }
    void Write(const std::string& AData) override { FPort->WriteStr(AData); }

private:
    std::int32_t FInputSize;
    bool FDiscardNull;
    std::unique_ptr<cport::TComPort> FPort;
    std::string FChunk;
};

class TQSerialPortReceiver : public TQtLoopReceiver {
public:
    const char* Name() const override { return "QSerialPort"; }
    void Open(const std::string& APath, TSink ASink) override {
        FPort = std::make_unique<QSerialPort>(QString::fromStdString(APath));
        QObject::connect(FPort.get(), &QSerialPort::readyRead, [this, ASink] {
            const QByteArray data = FPort->readAll();
            ASink(data.constData(), static_cast<std::size_t>(data.size()));
            Delivered();
        });
        if (!FPort->open(QIODevice::ReadWrite)) throw std::runtime_error("QSerialPort open");
    }
    void Write(const std::string& AData) override {
        FPort->write(AData.data(), static_cast<qint64>(AData.size()));
        // Sent at once, as the other receivers do, not at the next turn of the loop.
        FPort->flush();
    }

private:
    std::unique_ptr<QSerialPort> FPort;
};

using TMakeReceiver = std::function<std::unique_ptr<TReceiver>()>;

// --- Workloads ----------------------------------------------------------------------------------

struct TBulkResult {
    double MiBPerSecond = 0;
    double CpuSeconds = 0;
    std::uint64_t Lost = 0;
};

TBulkResult Bulk(const TMakeReceiver& AMake, std::size_t ASize) {
    TDevice device({"bulk", std::to_string(ASize)});
    auto receiver = AMake();
    std::size_t received = 0;
    std::uint64_t wrong = 0;
    receiver->Open(device.Path(), [&](const char* AData, std::size_t ACount) {
        for (std::size_t i = 0; i < ACount; ++i)
            wrong += AData[i] != PatternAt(received + i) ? 1 : 0;
        received += ACount;
    });
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    device.Go();
    receiver->RunUntil([&] { return received >= ASize; }, 120s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    TBulkResult result;
    result.MiBPerSecond = static_cast<double>(received) / (1 << 20) / seconds;
    result.CpuSeconds = CpuSeconds() - cpu;
    result.Lost = (ASize - std::min(ASize, received)) + wrong;
    return result;
}

struct TLatency {
    double Median = 0;
    double P99 = 0;
    double CpuSeconds = 0;
};

TLatency Echo(const TMakeReceiver& AMake, int ARounds) {
    TDevice device({"echo"});
    auto receiver = AMake();
    std::size_t received = 0;
    receiver->Open(device.Path(), [&](const char*, std::size_t ACount) { received += ACount; });
    device.Go();
    std::vector<double> rounds;
    double cpu = 0;
    for (int i = 0; i < ARounds + 50; ++i) {
        if (i == 50) cpu = CpuSeconds();
        const std::size_t expected = received + 12;
        const auto start = Clock::now();
        receiver->Write("\r\n");
        if (!receiver->RunUntil([&] { return received >= expected; }, 5s)) break;
        if (i >= 50) // the first rounds warm caches and threads up
            rounds.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return {Percentile(rounds, 0.5), Percentile(rounds, 0.99), CpuSeconds() - cpu};
}

TLatency Trickle(const TMakeReceiver& AMake, long AMilliseconds) {
    TDevice device({"trickle", std::to_string(AMilliseconds)});
    auto receiver = AMake();
    std::string pending;
    std::vector<double> latencies;
    receiver->Open(device.Path(), [&](const char* AData, std::size_t ACount) {
        const std::uint64_t now = NowMicroseconds() & 0xFFFFFFFFFFull;
        pending.append(AData, ACount);
        while (pending.size() >= 12) {
            const std::uint64_t sent = std::strtoull(pending.substr(0, 10).c_str(), nullptr, 16);
            latencies.push_back(static_cast<double>(now - sent));
            pending.erase(0, 12);
        }
    });
    device.Go();
    const double cpu = CpuSeconds();
    receiver->RunUntil([&] { return latencies.size() >= static_cast<std::size_t>(AMilliseconds); },
                       std::chrono::milliseconds(AMilliseconds + 5000));
    return {Percentile(latencies, 0.5), Percentile(latencies, 0.99), CpuSeconds() - cpu};
}

// The figure of each field over the runs: their median.
TLatency MedianOf(const std::vector<TLatency>& ARuns) {
    if (ARuns.empty()) return {};
    const auto median = [&](double TLatency::*AField) {
        std::vector<double> values;
        for (const TLatency& run : ARuns)
            values.push_back(run.*AField);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return {median(&TLatency::Median), median(&TLatency::P99), median(&TLatency::CpuSeconds)};
}

struct TIdleResult {
    double CpuSeconds = 0;
    long WakeUps = 0; // voluntary switches of the receiver's threads, the waiting one excluded
};

TIdleResult Idle(const TMakeReceiver& AMake, std::chrono::seconds ADuration) {
    TDevice device({"idle"});
    auto receiver = AMake();
    receiver->Open(device.Path(), [](const char*, std::size_t) {});
    device.Go();
    receiver->RunUntil([] { return false; }, 200ms); // let open settle
    const auto before = ThreadSwitches();
    const double cpu = CpuSeconds();
    receiver->RunUntil([] { return false; }, ADuration);
    const auto after = ThreadSwitches();
    TIdleResult result;
    result.CpuSeconds = CpuSeconds() - cpu;
    const int self = static_cast<int>(::gettid());
    for (const auto& [tid, count] : after) {
        if (tid == self) continue; // this thread waited for the duration and woke once, at its end
        auto it = before.find(tid);
        result.WakeUps += count - (it == before.end() ? 0 : it->second);
    }
    return result;
}

std::string Machine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string model = "unknown CPU";
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    std::ifstream version("/proc/sys/kernel/osrelease");
    std::string kernel;
    std::getline(version, kernel);
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, Linux " +
           kernel;
}

} // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    QApplication application(argc, argv);
    bool quick = false;
    const char* only = nullptr; // receivers' names: those alone, without the log benchmarks
    std::string workload;       // one workload alone (bulk, echo, idle, trickle), for profiling
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        if (std::strcmp(argv[i], "--workload") == 0 && i + 1 < argc) workload = argv[++i];
    }
    const auto runs = [&](const char* AName) { return workload.empty() || workload == AName; };
    const std::size_t bulkSize = 16u << 20;
    const int rounds = quick ? 300 : 2000;
    const long trickleMs = quick ? 1000 : 5000;
    const auto idle = quick ? 2s : 10s;

    const std::vector<TMakeReceiver> receivers = {
        [] { return std::make_unique<TPlainLoop>(false); },
        [] { return std::make_unique<TPlainLoop>(true); },
        [] { return std::make_unique<TQSerialPortReceiver>(); },
        // Every byte value occurs in the bulk pattern: NUL bytes are kept for the check.
        [] { return std::make_unique<TComponentReceiver>(1024, false); },
    };

    std::ostringstream table;
    table << "| receiver | W1 bulk MiB/s (ratio) | W1 CPU s | W1 lost | W2 echo median/p99 us | "
             "W2 CPU s | W3 idle CPU s / wake-ups | W4 trickle median/p99 us | W4 CPU s |\n"
          << "|---|---|---|---|---|---|---|---|---|\n";
    // What each receiver measured, run by run.
    struct TMeasured {
        std::string Name;
        TMakeReceiver Make;
        std::vector<TBulkResult> Bulks;
        std::vector<TLatency> Echoes;
        TIdleResult Idle;
        std::vector<TLatency> Trickles;
    };
    std::vector<TMeasured> measured;
    // --only takes names, or parts of them, separated by commas.
    const auto chosen = [&](const std::string& AName) {
        if (only == nullptr) return true;
        std::istringstream parts(only);
        for (std::string part; std::getline(parts, part, ',');)
            if (!part.empty() && AName.find(part) != std::string::npos) return true;
        return false;
    };
    for (const TMakeReceiver& make : receivers) {
        const std::string name = make()->Name();
        if (chosen(name)) measured.push_back({name, make, {}, {}, {}, {}});
    }
    std::string placement;
    {
        const TPlacement place;
        TPlacement::Current = &place;
        placement = place.Describe();
        // Every figure is the median of three runs (one when quick), and the receivers take
        // their turns run by run: this machine's speed drifts over minutes, and a receiver
        // measured all in a row would get a slow stretch alone.
        const int repeats = quick ? 1 : 3;
        const auto each = [&](const char* AWorkload, const std::function<void(TMeasured&)>& ARun) {
            if (!runs(AWorkload)) return;
            std::fprintf(stderr, "%s...\n", AWorkload);
            for (int i = 0; i < repeats; ++i)
                for (TMeasured& receiver : measured)
                    ARun(receiver);
        };
        each("bulk", [&](TMeasured& AR) { AR.Bulks.push_back(Bulk(AR.Make, bulkSize)); });
        each("echo", [&](TMeasured& AR) { AR.Echoes.push_back(Echo(AR.Make, rounds)); });
        if (runs("idle")) {
            std::fprintf(stderr, "idle...\n");
            for (TMeasured& receiver : measured)
                receiver.Idle = Idle(receiver.Make, idle);
        }
        each("trickle", [&](TMeasured& AR) { AR.Trickles.push_back(Trickle(AR.Make, trickleMs)); });
        TPlacement::Current = nullptr;
    }
    double limit = 0;
    for (TMeasured& receiver : measured) {
        std::vector<TBulkResult>& bulks = receiver.Bulks;
        std::sort(bulks.begin(), bulks.end(), [](const TBulkResult& A, const TBulkResult& B) {
            return A.MiBPerSecond < B.MiBPerSecond;
        });
        const TBulkResult bulk = bulks.empty() ? TBulkResult{} : bulks[bulks.size() / 2];
        if (limit == 0) limit = bulk.MiBPerSecond;
        const TLatency echo = MedianOf(receiver.Echoes);
        const TLatency trickle = MedianOf(receiver.Trickles);
        const TIdleResult& rest = receiver.Idle;
        char row[512];
        std::snprintf(row, sizeof row,
                      "| %s | %.0f (%.2fx) | %.2f | %llu | %.0f / %.0f | %.3f | %.3f / %ld | "
                      "%.0f / %.0f | %.3f |\n",
                      receiver.Name.c_str(), bulk.MiBPerSecond,
                      limit > 0 ? bulk.MiBPerSecond / limit : 0.0, bulk.CpuSeconds,
                      static_cast<unsigned long long>(bulk.Lost), echo.Median, echo.P99,
                      echo.CpuSeconds, rest.CpuSeconds, rest.WakeUps, trickle.Median, trickle.P99,
                      trickle.CpuSeconds);
        table << row;
    }
    table << "\nReceivers measured with the " << placement << ".\n";
    if (only == nullptr && workload.empty()) {
        std::fprintf(stderr, "log...\n");
        table << "\n" << LogBenchmarks(quick);
    }
    std::printf("Machine: %s\n\n%s", Machine().c_str(), table.str().c_str());
    return 0;
}
