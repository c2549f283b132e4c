#include "Recorder.h"

#include "Connection.h"
#include "JournalFolder.h"
#include "MainThread.h"
#include "PortDesign.h"
#include "Stamps.h"
#include "System.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <ostream>

namespace quendal {

using namespace cport;

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto PollEvery = 350ms;
constexpr auto TickEvery = 1s;
constexpr auto StatusEvery = 60s;

bool ParseCount(const char* AText, std::uint64_t AMax, std::uint64_t& AValue) {
    char* end = nullptr;
    if (AText[0] < '0' || AText[0] > '9') return false;
    const unsigned long long value = std::strtoull(AText, &end, 10);
    if (*end != '\0' || value == 0 || value > AMax) return false;
    AValue = value;
    return true;
}

int LocalDay(std::int64_t AEpochMs) {
    const std::tm local = files::LocalTime(static_cast<std::time_t>(AEpochMs / 1000));
    return local.tm_year * 400 + local.tm_yday;
}

// What wakes the recorder's loop: a call queued for it, or the request to stop. It outlives
// the loop, since a signal may still come while the program ends.
struct TWaker {
    std::mutex Lock;
    std::condition_variable Wake;
    bool Woken = false;
    std::atomic<bool> Stop{false};

    void Notify() {
        {
            std::lock_guard lock(Lock);
            Woken = true;
        }
        Wake.notify_one();
    }
};

TWaker& Waker() {
    static auto* waker = new TWaker;
    return *waker;
}

std::string Describe(std::exception_ptr AError) {
    std::string text = TMainThread::ExceptionMessage(AError);
    try {
        std::rethrow_exception(AError);
    } catch (const EComPort& e) {
        if (!e.Reason().empty()) text += " (" + e.Reason() + ")";
    } catch (...) {
    }
    return text;
}

} // namespace

bool WantsRecorder(int argc, char** argv) {
    return argc > 1 && std::strcmp(argv[1], "--record") == 0;
}

bool ParseRecorder(int argc, char** argv, TRecorderOptions& AOptions, std::string& AError) {
    if (!WantsRecorder(argc, argv) || argc < 3 || argv[2][0] == '-') {
        AError = "--record needs a PORT";
        return false;
    }
    AOptions.Port = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        std::uint64_t number = 0;
        if (option == "--poll") {
            AOptions.Poll = true;
        } else if (option == "--timestamps") {
            AOptions.TimeStamps = true;
        } else if (option == "--rotate-daily") {
            AOptions.RotateDaily = true;
        } else if (option == "--output" && hasValue) {
            AOptions.Output = argv[++i];
        } else if (option == "--baud" && hasValue) {
            if (!ParseCount(argv[++i], 100'000'000, number)) {
                AError = std::string("--baud: not a rate in bits per second: ") + argv[i];
                return false;
            }
            AOptions.Baud = static_cast<std::uint32_t>(number);
        } else if (option == "--rotate-size" && hasValue) {
            if (!ParseCount(argv[++i], std::uint64_t{1} << 40, number)) {
                AError = std::string("--rotate-size: not a number of megabytes: ") + argv[i];
                return false;
            }
            AOptions.RotateBytes = number << 20;
        } else {
            AError = "--record: unknown or incomplete option " + option;
            return false;
        }
    }
    if (AOptions.RotateDaily && AOptions.RotateBytes > 0) {
        AError = "--rotate-size and --rotate-daily: choose one";
        return false;
    }
    return true;
}

TRecordFile::TRecordFile(std::string APath, bool AStamps, std::uint64_t ARotateBytes,
                         bool ARotateDaily)
    : FBase(std::move(APath))
    , FStamps(AStamps)
    , FRotateBytes(ARotateBytes)
    , FRotateDaily(ARotateDaily) {}

std::string TRecordFile::NameFor(std::int64_t AStamp) const {
    if (FRotateBytes == 0 && !FRotateDaily) return FBase;
    const std::tm local = files::LocalTime(static_cast<std::time_t>(AStamp / 1000));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y-%m-%d-%H%M%S", &local);
    const std::string name = files::NameOf(FBase);
    const std::size_t dot = name.rfind('.');
    const std::size_t at =
        dot == std::string::npos || dot == 0 ? FBase.size() : FBase.size() - (name.size() - dot);
    std::string path = FBase.substr(0, at) + stamp + FBase.substr(at);
    // Two files begun within one second.
    for (int n = 2; files::Exists(path); ++n)
        path = FBase.substr(0, at) + stamp + "-" + std::to_string(n) + FBase.substr(at);
    return path;
}

bool TRecordFile::Open(TFileError& AError) {
    return Start(TAnchoredClock().Now(), AError);
}

bool TRecordFile::Start(std::int64_t AStamp, TFileError& AError) {
    FPath = NameFor(AStamp);
    FDay = LocalDay(AStamp);
    if (!files::MakeFolders(files::FolderOf(FPath), AError)) return false;
    // A file that is there already is continued, never replaced.
    const bool exists = files::Exists(FPath);
    TFile file =
        TFile::Open(FPath, exists ? TFile::TMode::Append : TFile::TMode::CreateNew, AError);
    if (!file.IsOpen()) return false;
    char last = '\n';
    if (file.Size() > 0) file.ReadAt(file.Size() - 1, &last, 1, AError);
    FJournal = std::make_unique<TJournal>(FPath, std::move(file), TJournal::TMarker::None);
    if (last != '\n') FJournal->Append("\r\n", 2); // its last line was cut off
    FAtLineStart = true;
    return true;
}

void TRecordFile::RotateIfDue(std::int64_t AStamp) {
    if (!FAtLineStart || !FJournal) return;
    const bool full = FRotateBytes > 0 && FJournal->Size() >= FRotateBytes;
    const bool nextDay = FRotateDaily && LocalDay(AStamp) != FDay;
    if (!full && !nextDay) return;
    TJournal::TFailure failure = FJournal->OnFailure();
    FJournal->End();
    FPath = NameFor(AStamp);
    FDay = LocalDay(AStamp);
    // Created at its first byte; if it cannot be, the text waits in memory and is told.
    FJournal = std::make_unique<TJournal>(FPath, TJournal::TMarker::None);
    FJournal->SetOnFailure(std::move(failure));
}

void TRecordFile::Put(std::string_view ABytes, std::int64_t AStamp) {
    for (std::size_t at = 0; at < ABytes.size();) {
        if (FAtLineStart) {
            RotateIfDue(AStamp);
            if (FStamps) {
                FOut += StampText(AStamp);
                FOut += '\t';
            }
            FAtLineStart = false;
        }
        const std::size_t feed = ABytes.find('\n', at);
        const std::size_t end = feed == std::string_view::npos ? ABytes.size() : feed + 1;
        FOut.append(ABytes.substr(at, end - at));
        if (feed != std::string_view::npos) {
            ++FLines;
            FAtLineStart = true;
            // A line ends here: what it holds goes out before a new file may begin.
            FJournal->Append(FOut.data(), FOut.size());
            FBytes += FOut.size();
            FOut.clear();
        }
        at = end;
    }
    if (!FOut.empty()) {
        FJournal->Append(FOut.data(), FOut.size());
        FBytes += FOut.size();
        FOut.clear();
    }
}

void TRecordFile::Append(std::string_view AText, std::int64_t AStamp) {
    FBreaks.Normalize(AText, FNormalized);
    Put(FNormalized, AStamp);
}

void TRecordFile::PollLineFeed(std::int64_t AStamp) {
    if (FAtLineStart) Put("\r\n", AStamp);
}

void TRecordFile::EndLine(std::int64_t AStamp) {
    if (!FAtLineStart) Put("\r\n", AStamp);
}

void TRecordFile::Service(std::int64_t ANow) {
    FJournal->Retry();
    RotateIfDue(ANow);
}

int RunRecorder(const TRecorderOptions& AOptions, std::ostream& AErr) {
    TWaker& waker = Waker();
    // Before any thread starts: they all leave the stop signals to the one that waits for them.
    files::OnStopSignal([&waker] {
        waker.Stop = true;
        waker.Notify();
    });
    TMainThread::SetWakeUp([&waker] { waker.Notify(); });
    TMainThread::SetExceptionReport([&AErr](std::exception_ptr AError, TObject*) {
        AErr << "quendal: " << Describe(AError) << std::endl;
    });

    TAnchoredClock clock;
    std::string output = AOptions.Output;
    if (output.empty()) {
        const std::tm local = files::LocalTime(static_cast<std::time_t>(clock.Now() / 1000));
        char name[48];
        std::strftime(name, sizeof name, "/record-%Y-%m-%d-%H%M%S.txt", &local);
        output = TJournalFolder::DefaultPath() + name;
    }
    TRecordFile file(output, AOptions.TimeStamps, AOptions.RotateBytes, AOptions.RotateDaily);
    TFileError error;
    if (!file.Open(error)) {
        AErr << "quendal: cannot write " << file.Path() << ": " << error.Text << std::endl;
        return 1;
    }
    file.Journal().SetOnFailure([&AErr](const std::string& APath, const TFileError& AError) {
        AErr << "quendal: cannot write " << APath << ": " << AError.Text
             << "; the log waits in memory until it can" << std::endl;
    });

    TComPort port(nullptr);
    port.SetLoading();
    SetDesignValues(port);
    port.Loaded();
    try {
        port.LoadSettings(stRegistry, SettingsKey);
    } catch (const std::exception& e) {
        AErr << "quendal: " << e.what() << "; the port's other settings are the defaults"
             << std::endl;
    }
    port.SetPort(AOptions.Port);
    if (AOptions.Baud != 0) {
        const TBaudRate rate = TextToBaudRate(std::to_string(AOptions.Baud));
        if (BaudRateToValue(rate) == AOptions.Baud) {
            port.SetBaudRate(rate);
        } else {
            port.SetCustomBaudRate(static_cast<std::int32_t>(AOptions.Baud));
            port.SetBaudRate(brCustom);
        }
    }
    TConnection connection(port);
    connection.SetOnReconnected([&] { file.EndLine(clock.Now()); });
    bool writeFailed = false;
    port.SetOnAfterOpen([&](TObject*) {
        clock.Anchor();
        writeFailed = false;
        connection.AfterOpen();
    });
    port.SetOnAfterClose([&](TObject*) { connection.AfterClose(false); });
    port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
        std::string received;
        port.ReadStr(received, ACount);
        file.Append(received, clock.Now());
    });
    try {
        connection.Toggle();
    } catch (...) {
        AErr << "quendal: cannot open " << AOptions.Port << ": "
             << Describe(std::current_exception()) << std::endl;
        return 1;
    }

    const auto status = [&] {
        AErr << "quendal: " << StampText(clock.Now()).substr(0, 19) << " "
             << connection.StatusText() << ", " << file.Lines() << " lines, " << file.Bytes()
             << " bytes in " << file.Path() << std::endl;
    };
    status();
    auto nextPoll = TClock::now() + PollEvery;
    auto nextTick = TClock::now() + TickEvery;
    auto nextStatus = TClock::now() + StatusEvery;
    while (!waker.Stop) {
        {
            std::unique_lock lock(waker.Lock);
            auto until = std::min(nextTick, nextStatus);
            if (AOptions.Poll && port.Connected()) until = std::min(until, nextPoll);
            waker.Wake.wait_until(lock, until, [&] { return waker.Woken; });
            waker.Woken = false;
        }
        TMainThread::ProcessMessages();
        const auto now = TClock::now();
        if (AOptions.Poll && port.Connected() && now >= nextPoll) {
            nextPoll = now + PollEvery;
            try {
                port.WriteStr("\r\n");
                file.PollLineFeed(clock.Now());
            } catch (...) {
                // Told once; a device that went away is told by its hang-up.
                if (!writeFailed) TMainThread::ShowException(std::current_exception(), &port);
                writeFailed = true;
            }
        }
        if (now >= nextTick) {
            nextTick = now + TickEvery;
            connection.Tick();
            file.Service(clock.Now());
        }
        if (now >= nextStatus) {
            nextStatus = now + StatusEvery;
            status();
        }
    }
    try {
        port.Close();
    } catch (...) {
        AErr << "quendal: " << Describe(std::current_exception()) << std::endl;
    }
    file.Journal().End();
    status();
    return 0;
}

} // namespace quendal
