// Several processes on one store: concurrent writers and writers killed mid-write.
#include "TempStore.h"

#include "platform/posix/store/RegFile.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace cport {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* Location = "HKEY_CURRENT_USER\\Software\\Quendal";

std::string ReadFile(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs AWork in a child process, which ends with 0 when it returns and 1 when it throws.
template <typename TWork>
pid_t Spawn(TWork AWork) {
    std::fflush(nullptr); // a child must not write the parent's buffered output a second time
    const pid_t child = fork();
    if (child != 0) return child;
    try {
        AWork();
    } catch (...) {
        _exit(1);
    }
    _exit(0);
}

// Waits for the children while AWhileWaiting runs; false if they did not end in time (they are
// then killed) or one failed.
template <typename TPoll>
bool AwaitChildren(std::vector<pid_t> AChildren, TPoll AWhileWaiting) {
    const auto deadline = Clock::now() + std::chrono::seconds(90);
    bool ok = true;
    while (!AChildren.empty()) {
        AWhileWaiting();
        for (auto it = AChildren.begin(); it != AChildren.end();) {
            int status = 0;
            if (waitpid(*it, &status, WNOHANG) == *it) {
                ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
                it = AChildren.erase(it);
            } else {
                ++it;
            }
        }
        if (Clock::now() > deadline) {
            for (const pid_t child : AChildren) {
                kill(child, SIGKILL);
                waitpid(child, nullptr, 0);
            }
            return false;
        }
    }
    return ok;
}

std::unique_ptr<TComPort> MakePort(const std::string& AName) {
    auto port = std::make_unique<TComPort>(nullptr);
    port->SetName(AName);
    return port;
}

class StoreProcesses : public TempStore {
protected:
    // A SIGKILL loses nothing that a write() handed to the kernel, so what these tests pin down
    // (readers see whole files, writers lose nothing of each other) does not depend on the
    // disk. On a RAM file system a replacement costs microseconds instead of the milliseconds
    // of fsync on a disk, which keeps hundreds of kills quick.
    std::filesystem::path BaseFolder() const override {
        std::error_code ignored;
        if (std::filesystem::is_directory("/dev/shm", ignored) && access("/dev/shm", W_OK) == 0)
            return "/dev/shm";
        return TempStore::BaseFolder();
    }

    bool TemporaryFilesLeft() const {
        for (const auto& entry : std::filesystem::directory_iterator(Folder))
            if (entry.path().filename().string().find(".tmp.") != std::string::npos) return true;
        return false;
    }

    // Where the kills of KillRepeatedly landed, as the store showed it afterwards.
    struct TKillPoints {
        int Temporary = 0; // inside a replacement: its temporary file was left behind
        int Mixed = 0;     // between two values of one store: some values old, some new
    };

    // Starts a child that runs AStore(false), AStore(true), AStore(false), ... and kills it
    // AKills times at a random moment within its stores; ACheck runs after each kill.
    void KillRepeatedly(int AKills, const std::function<void(bool)>& AStore,
                        const std::function<void(int)>& ACheck) {
        const unsigned seed = std::random_device{}();
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        // How long one store takes here: the kills spread over that much time.
        const auto begin = Clock::now();
        for (int i = 0; i < 10; ++i)
            AStore(i % 2 == 1);
        const auto window = std::max<Clock::duration>((Clock::now() - begin) / 10 * 3 / 2,
                                                      std::chrono::microseconds(100));
        for (int round = 0; round < AKills; ++round) {
            int progress[2];
            ASSERT_EQ(pipe(progress), 0);
            const pid_t child = Spawn([&] {
                close(progress[0]);
                for (bool b = false;; b = !b) {
                    AStore(b);
                    if (write(progress[1], "x", 1) != 1) return;
                }
            });
            close(progress[1]);
            // One finished store shows the child is running; then it dies at a random point
            // of one of the next.
            pollfd fd{progress[0], POLLIN, 0};
            ASSERT_EQ(poll(&fd, 1, 10000), 1) << "the writer made no progress";
            const auto until =
                Clock::now() +
                std::chrono::nanoseconds(random() % static_cast<std::uint64_t>(window.count()));
            while (Clock::now() < until) {
            }
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            close(progress[0]);
            if (TemporaryFilesLeft()) ++Points.Temporary;
            ACheck(round);
            if (HasFatalFailure()) return;
        }
        std::printf("%d kills: %d inside a file replacement, %d between two values\n", AKills,
                    Points.Temporary, Points.Mixed);
    }

    TKillPoints Points;
};

TEST_F(StoreProcesses, ConcurrentWritersOfDifferentComponentsLoseNothing) {
    constexpr int Rounds = 500;
    auto writer = [](const std::string& AName) {
        return Spawn([AName] {
            auto port = MakePort(AName);
            for (int i = 0; i < Rounds; ++i) {
                port->SetPort(AName + "-" + std::to_string(i));
                port->StoreSettings(stRegistry, Location);
            }
        });
    };
    const std::vector<pid_t> children = {writer("PortA"), writer("PortB")};
    int reads = 0;
    int unreadable = 0;
    int wentBack = 0;
    std::map<std::string, int> seen;
    // A reader takes no lock: it must still only ever see whole files, and never an older
    // value of one component after a newer one (a writer that lost the other's change).
    const bool finished = AwaitChildren(children, [&] {
        std::string text;
        if (ReadWholeFile(UserFile(), text) == ENOENT) return; // not yet written
        ++reads;
        const auto tree = ParseRegFile(text, "HKEY_CURRENT_USER");
        if (!tree) {
            ++unreadable;
            return;
        }
        for (const std::string name : {"PortA", "PortB"}) {
            const TRegKey* key = tree->Find({"Software", "Quendal", name});
            const TRegNamedValue* value = key != nullptr ? key->FindValue("Port") : nullptr;
            if (value == nullptr) {
                if (seen.contains(name)) ++wentBack;
                continue;
            }
            const int round = std::stoi(value->Value.Data.substr(name.size() + 1));
            if (round < seen[name]) ++wentBack;
            seen[name] = round;
        }
    });
    ASSERT_TRUE(finished);
    std::printf("%d reads while writing, %d of PortA's rounds and %d of PortB's seen last\n", reads,
                seen["PortA"], seen["PortB"]);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(unreadable, 0);
    EXPECT_EQ(wentBack, 0);
    for (const std::string name : {"PortA", "PortB"}) {
        auto port = MakePort(name);
        port->LoadSettings(stRegistry, Location);
        EXPECT_EQ(port->Port(), name + "-" + std::to_string(Rounds - 1));
    }
}

TEST_F(StoreProcesses, ConcurrentWritersOfOneIniFileLoseNothing) {
    constexpr int Rounds = 500;
    const std::string file = Folder + "/shared.ini";
    auto writer = [&](const std::string& ASection) {
        return Spawn([&, ASection] {
            for (int i = 0; i < Rounds; ++i)
                if (TComPlatform::Current().WritePrivateProfileStringW(
                        ASection, "n" + std::to_string(i), std::to_string(i), file) != 0)
                    throw std::runtime_error("write failed");
        });
    };
    ASSERT_TRUE(AwaitChildren({writer("A"), writer("B")}, [] {}));
    for (const char* section : {"A", "B"})
        for (int i = 0; i < Rounds; ++i)
            EXPECT_EQ(Platform.GetPrivateProfileStringW(section, "n" + std::to_string(i), "lost",
                                                        2048, file),
                      std::to_string(i))
                << section << i;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder), {}), 1)
        << "nothing but the file is left beside it";
}

// Two complete sets of basic settings; a writer alternates between them.
struct TBasicSet {
    const char* Port;
    TBaudRate Baud;
    TStopBits Stop;
    TDataBits Data;
    TParityBits Parity;
    TFlowControl Flow;
};
constexpr TBasicSet SetA = {"A-port", br9600, sbOneStopBit, dbEight, prNone, fcNone};
constexpr TBasicSet SetB = {"B-port", br19200, sbTwoStopBits, dbSeven, prEven, fcHardware};

void Apply(TCustomComPort& APort, const TBasicSet& ASet) {
    APort.SetPort(ASet.Port);
    APort.SetBaudRate(ASet.Baud);
    APort.SetStopBits(ASet.Stop);
    APort.SetDataBits(ASet.Data);
    APort.Parity().SetBits(ASet.Parity);
    APort.FlowControl().SetFlowControl(ASet.Flow);
}

// A store is six separate value writes, as on Windows: a writer killed between two of them
// leaves some values of the new set and the rest of the old one. Each value, though, is
// always the one or the other, and the file always parses.
TEST_F(StoreProcesses, AWriterKilledAtRandomPointsLeavesOldOrNewValues) {
    constexpr int Kills = 200;
    {
        auto port = MakePort("ComPort");
        Apply(*port, SetA);
        port->StoreSettings(stRegistry, Location);
    }
    auto writer = MakePort("ComPort");
    KillRepeatedly(
        Kills,
        [&](bool AB) {
            Apply(*writer, AB ? SetB : SetA);
            writer->StoreSettings(stRegistry, Location);
        },
        [&](int ARound) {
            const auto tree = ParseRegFile(ReadFile(UserFile()), "HKEY_CURRENT_USER");
            ASSERT_TRUE(tree) << "round " << ARound;
            const TRegKey* key = tree->Find({"Software", "Quendal", "ComPort"});
            ASSERT_NE(key, nullptr);
            ASSERT_EQ(key->Values.size(), 6u);
            auto port = MakePort("ComPort");
            port->LoadSettings(stRegistry, Location);
            const TFlowControl flow = port->FlowControl().FlowControl();
            const bool a[] = {port->Port() == SetA.Port,
                              port->BaudRate() == SetA.Baud,
                              port->StopBits() == SetA.Stop,
                              port->DataBits() == SetA.Data,
                              port->Parity().Bits() == SetA.Parity,
                              flow == SetA.Flow};
            const bool b[] = {port->Port() == SetB.Port,
                              port->BaudRate() == SetB.Baud,
                              port->StopBits() == SetB.Stop,
                              port->DataBits() == SetB.Data,
                              port->Parity().Bits() == SetB.Parity,
                              flow == SetB.Flow};
            int fromA = 0;
            for (std::size_t i = 0; i < std::size(a); ++i) {
                EXPECT_TRUE(a[i] || b[i]) << "value " << i << ", round " << ARound;
                fromA += a[i] ? 1 : 0;
            }
            if (fromA != 0 && fromA != 6) ++Points.Mixed;
        });
    // The next writer clears the temporary files that killed writers left behind.
    MakePort("ComPort")->StoreSettings(stRegistry, Location);
    EXPECT_FALSE(TemporaryFilesLeft());
}

// Profile files are locked in place (no lock file beside the user's file): a writer killed
// while it holds that lock must not keep the next one out, nor leave a part of the file.
TEST_F(StoreProcesses, AnIniWriterKilledAtRandomPointsLeavesOldOrNewValues) {
    constexpr int Kills = 200;
    const std::string file = Folder + "/settings.ini";
    const char* const keys[] = {"Port", "BaudRate", "Parity"};
    const char* const valuesA[] = {"A-port", "9600", "None"};
    const char* const valuesB[] = {"B-port-with-a-longer-name", "115200", "Even"};
    { std::ofstream(file) << "; the user's own notes\n[Mine]\nkeep=1\n"; }
    auto store = [&](bool AB) {
        for (std::size_t i = 0; i < std::size(keys); ++i)
            if (TComPlatform::Current().WritePrivateProfileStringW(
                    "ComPort", keys[i], AB ? valuesB[i] : valuesA[i], file) != 0)
                throw std::runtime_error("write failed");
    };
    KillRepeatedly(Kills, store, [&](int ARound) {
        const std::string text = ReadFile(file);
        ASSERT_TRUE(text.starts_with("; the user's own notes\n[Mine]\nkeep=1\n"))
            << "round " << ARound << ":\n"
            << text;
        int fromA = 0;
        for (std::size_t i = 0; i < std::size(keys); ++i) {
            const std::string value =
                Platform.GetPrivateProfileStringW("ComPort", keys[i], "missing", 2048, file);
            EXPECT_TRUE(value == valuesA[i] || value == valuesB[i])
                << keys[i] << "=" << value << ", round " << ARound;
            fromA += value == valuesA[i] ? 1 : 0;
        }
        if (fromA != 0 && fromA != 3) ++Points.Mixed;
    });
    store(false);
    EXPECT_FALSE(TemporaryFilesLeft());
}

} // namespace
} // namespace cport
