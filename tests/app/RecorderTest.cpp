// quendal --record, the logger without a display, run as a program against the simulated
// RQ-71: what it writes, how it rotates its files, how it stops and how it refuses.
#include "Simulator.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using cport::test::TSimulatorProcess;

using cport::test::ReadFile;

class Recorder : public ::testing::Test {
protected:
    Recorder() {
        char folder[] = "/tmp/quendal-record-XXXXXX";
        FFolder = ::mkdtemp(folder);
        ::setenv("CPORT_REGISTRY_DIR", FFolder.c_str(), 1);
        ::setenv("XDG_STATE_HOME", FFolder.c_str(), 1);
        // No display: the recorder must not need one.
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
    }
    ~Recorder() override {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        ::unsetenv("CPORT_REGISTRY_DIR");
        ::unsetenv("XDG_STATE_HOME");
        std::filesystem::remove_all(FFolder);
    }

    std::string File(const std::string& AName) const { return FFolder + "/" + AName; }

    void Start(std::vector<std::string> AArguments) {
        AArguments.insert(AArguments.begin(), {QUENDAL_PROGRAM, "--record"});
        std::vector<char*> argv;
        for (std::string& argument : AArguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, File("stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(::posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    // Waits (bounded) for the recorder to end by itself; its exit code, -1 when it did not.
    int Wait(std::chrono::seconds ATimeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + ATimeout;
        int status = 0;
        while (::waitpid(FPid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(10ms);
        }
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int Stop(int ASignal = SIGTERM) {
        ::kill(FPid, ASignal);
        return Wait();
    }
    bool WaitUntil(const std::function<bool()>& ACondition, std::chrono::seconds ATimeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + ATimeout;
        while (!ACondition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    std::string FFolder;
    pid_t FPid = -1;
};

TEST_F(Recorder, PollsAndWritesEachLineWithItsTimeUntilItIsStopped) {
    TSimulatorProcess simulator({"--no-publish", "--seed", "9"});
    Start({simulator.Path(), "--poll", "--timestamps", "--output", File("log.txt")});
    ASSERT_TRUE(WaitUntil([&] {
        const std::string log = ReadFile(File("log.txt"));
        return std::count(log.begin(), log.end(), '\n') >= 6;
    }));
    EXPECT_EQ(Stop(), 0) << ReadFile(File("stderr"));
    const std::string log = ReadFile(File("log.txt"));
    static const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\t(\+\d+\.\d{3} \xB0C)?)");
    std::size_t readings = 0;
    for (std::size_t at = 0; at < log.size();) {
        const std::size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        const std::string text = log.substr(at, end - at);
        EXPECT_TRUE(std::regex_match(text, line)) << text;
        readings += text.find('+') != std::string::npos;
        at = end + 2;
    }
    EXPECT_GE(readings, 2u);
    EXPECT_NE(ReadFile(File("stderr")).find(" lines, "), std::string::npos)
        << "a status line at the start and at the end";
}

TEST_F(Recorder, ANewFileBeginsOnceOneIsFull) {
    TSimulatorProcess simulator(
        {"--no-publish", "--bytes-per-second", "1000000", "--stream-delay", "1"});
    Start({simulator.Path(), "--output", File("run.log"), "--rotate-size", "1"});
    const auto files = [&] {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(FFolder))
            if (entry.path().filename().string().starts_with("run-")) found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    };
    ASSERT_TRUE(WaitUntil([&] { return files().size() >= 3; }));
    EXPECT_EQ(Stop(SIGINT), 0);
    const auto written = files();
    static const std::regex name(R"(run-\d{4}-\d\d-\d\d-\d{6}(-\d+)?\.log)");
    for (std::size_t i = 0; i < written.size(); ++i) {
        EXPECT_TRUE(std::regex_match(written[i].filename().string(), name)) << written[i];
        const std::string content = ReadFile(written[i]);
        if (i + 1 < written.size()) {
            EXPECT_GE(content.size(), 1u << 20);
            EXPECT_TRUE(content.ends_with("\r\n")) << "a file ends at a line's end";
        }
    }
}

TEST_F(Recorder, WrongArgumentsAPortOrAFileItCannotOpenEndItWithAReason) {
    const auto run = [&](std::vector<std::string> AArguments) {
        Start(std::move(AArguments));
        const int code = Wait();
        return std::make_pair(code, ReadFile(File("stderr")));
    };
    auto [code, message] = run({});
    EXPECT_EQ(code, 2);
    EXPECT_NE(message.find("--record needs a PORT"), std::string::npos) << message;
    std::tie(code, message) = run({"/dev/null", "--rotate-size", "1", "--rotate-daily"});
    EXPECT_EQ(code, 2);
    std::tie(code, message) = run({"/dev/null", "--speed", "9600"});
    EXPECT_EQ(code, 2);
    EXPECT_NE(message.find("--speed"), std::string::npos) << message;
    std::tie(code, message) = run({File("no-such-port"), "--output", File("out.txt")});
    EXPECT_EQ(code, 1);
    EXPECT_NE(message.find("cannot open " + File("no-such-port")), std::string::npos) << message;
    EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
    TSimulatorProcess simulator({"--no-publish"});
    std::tie(code, message) = run({simulator.Path(), "--output", "/proc/version/log.txt"});
    EXPECT_EQ(code, 1);
    EXPECT_NE(message.find("cannot write /proc/version/log.txt"), std::string::npos) << message;
}

} // namespace
