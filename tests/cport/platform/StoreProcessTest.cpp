// Several processes on one store: concurrent writers and writers killed mid-write.
#include "TempStore.h"

#include "platform/RegFile.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
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

using StoreProcesses = TempStore;

TEST_F(StoreProcesses, ConcurrentWritersOfDifferentComponentsLoseNothing) {
    constexpr int Rounds = 200;
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
    // A reader takes no lock: it must still only ever see whole files.
    const bool finished = AwaitChildren(children, [&] {
        const std::string text = ReadFile(UserFile());
        if (text.empty()) return;
        ++reads;
        if (!ParseRegFile(text, "HKEY_CURRENT_USER")) ++unreadable;
    });
    ASSERT_TRUE(finished);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(unreadable, 0);
    for (const std::string name : {"PortA", "PortB"}) {
        auto port = MakePort(name);
        port->LoadSettings(stRegistry, Location);
        EXPECT_EQ(port->Port(), name + "-" + std::to_string(Rounds - 1));
    }
}

TEST_F(StoreProcesses, ConcurrentWritersOfOneIniFileLoseNothing) {
    constexpr int Rounds = 100;
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

TEST_F(StoreProcesses, AWriterKilledAtRandomPointsLeavesOldOrNewValues) {
    constexpr int Kills = 40;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    {
        auto port = MakePort("ComPort");
        Apply(*port, SetA);
        port->StoreSettings(stRegistry, Location);
    }
    for (int round = 0; round < Kills; ++round) {
        int progress[2];
        ASSERT_EQ(pipe(progress), 0);
        const pid_t child = Spawn([&] {
            close(progress[0]);
            auto port = MakePort("ComPort");
            for (bool b = false;; b = !b) {
                Apply(*port, b ? SetB : SetA);
                port->StoreSettings(stRegistry, Location);
                if (write(progress[1], "x", 1) != 1) return;
            }
        });
        close(progress[1]);
        // Let it complete a few stores, then kill it somewhere inside the next ones.
        const int stores = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < stores; ++i) {
            pollfd fd{progress[0], POLLIN, 0};
            ASSERT_EQ(poll(&fd, 1, 10000), 1) << "the writer made no progress";
            char c;
            ASSERT_EQ(read(progress[0], &c, 1), 1);
        }
        const auto until =
            Clock::now() + std::chrono::microseconds(random() % 3000); // a random point
        while (Clock::now() < until) {
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(progress[0]);

        const auto tree = ParseRegFile(ReadFile(UserFile()), "HKEY_CURRENT_USER");
        ASSERT_TRUE(tree) << "round " << round;
        const TRegKey* key = tree->Find({"Software", "Quendal", "ComPort"});
        ASSERT_NE(key, nullptr);
        ASSERT_EQ(key->Values.size(), 6u);
        auto port = MakePort("ComPort");
        port->LoadSettings(stRegistry, Location);
        EXPECT_TRUE(port->Port() == std::string(SetA.Port) || port->Port() == SetB.Port);
        EXPECT_TRUE(port->BaudRate() == SetA.Baud || port->BaudRate() == SetB.Baud);
        EXPECT_TRUE(port->StopBits() == SetA.Stop || port->StopBits() == SetB.Stop);
        EXPECT_TRUE(port->DataBits() == SetA.Data || port->DataBits() == SetB.Data);
        EXPECT_TRUE(port->Parity().Bits() == SetA.Parity || port->Parity().Bits() == SetB.Parity);
        const TFlowControl flow = port->FlowControl().FlowControl();
        EXPECT_TRUE(flow == SetA.Flow || flow == SetB.Flow);
    }
    // The next writer clears the temporary files that killed writers left behind.
    MakePort("ComPort")->StoreSettings(stRegistry, Location);
    for (const auto& entry : std::filesystem::directory_iterator(Folder))
        EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
            << entry.path();
}

} // namespace
} // namespace cport
