// quendal_automate, the harness program run headless against the simulated RQ-71: what it
// logs and saves, what it prints, and how it fails.
#include "Simulator.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using cport::test::TSimulatorProcess;

using cport::test::ReadFile;

struct TRun {
    int ExitCode = -1; // -1: did not end in time and was killed
    std::string Out;
    std::string Err;
};

class Automation : public ::testing::Test {
protected:
    Automation() {
        char folder[] = "/tmp/quendal-automate-XXXXXX";
        FFolder = ::mkdtemp(folder);
        // The program's stored settings and port list stay in the test's folder.
        ::setenv("CPORT_REGISTRY_DIR", FFolder.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ~Automation() override {
        ::unsetenv("CPORT_REGISTRY_DIR");
        std::filesystem::remove_all(FFolder);
    }

    std::string File(const std::string& AName) const { return FFolder + "/" + AName; }

    // Runs quendal_automate with AArguments, waiting at most 30 s.
    TRun Automate(std::vector<std::string> AArguments) const {
        AArguments.insert(AArguments.begin(), QUENDAL_AUTOMATE);
        std::vector<char*> argv;
        for (std::string& arg : AArguments)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string out = File("quendal.out"), err = File("quendal.err");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = -1;
        TRun run;
        const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return run;
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "quendal_automate did not end within 30 s";
                return run;
            }
            std::this_thread::sleep_for(10ms);
        }
        run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.Out = ReadFile(out);
        run.Err = ReadFile(err);
        return run;
    }

private:
    std::string FFolder;
};

// The closing line, its numbers checked for sense; the number of lateness samples is returned.
long CheckLatenessLine(const std::string& AOut, double ASeconds) {
    static const std::regex line(
        R"(^lateness_ms p50=(-?\d+\.\d+) p99=(-?\d+\.\d+) max=(-?\d+\.\d+) samples=(\d+) )"
        R"(rss_kib=(\d+)\n$)");
    std::smatch match;
    if (!std::regex_match(AOut, match, line)) {
        ADD_FAILURE() << "not the one lateness line: " << AOut;
        return 0;
    }
    const double p50 = std::stod(match[1]), p99 = std::stod(match[2]), max = std::stod(match[3]);
    const long samples = std::stol(match[4]), rss = std::stol(match[5]);
    EXPECT_LE(p50, p99);
    EXPECT_LE(p99, max);
    // A 10 ms timer over the run: at most one tick per 10 ms, and a loaded machine still
    // delivers a good part of them.
    EXPECT_LE(samples, static_cast<long>(ASeconds * 100) + 30);
    EXPECT_GE(samples, static_cast<long>(ASeconds * 20));
    EXPECT_GT(rss, 1000) << "VmRSS read in KiB";
    return samples;
}

TEST_F(Automation, PollingLogsEachPollsLineFeedAndItsAnswer) {
    TSimulatorProcess simulator({"--no-publish", "--seed", "3", "--record", File("sent.bin"),
                                 "--poll-count", File("polls")});
    const TRun run = Automate({simulator.Path(), "1.5", File("log.txt")});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    CheckLatenessLine(run.Out, 1.5);
    simulator.Stop();
    // The device answers each poll with one reading; each poll put a line feed into the log
    // first, and the last poll's answer arrived before the port closed.
    const std::string sent = ReadFile(File("sent.bin"));
    std::string expected;
    for (std::size_t at = 0; at < sent.size();) {
        const std::size_t end = sent.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a reading without its line end";
        expected += "\r\n" + sent.substr(at, end + 2 - at);
        at = end + 2;
    }
    EXPECT_GE(sent.size(), 3u * 12) << "about four polls in 1.5 s";
    EXPECT_EQ(ReadFile(File("log.txt")), expected);
    EXPECT_EQ(ReadFile(File("polls")), std::to_string(sent.size() / 12) + "\n")
        << "the simulator counts the polls it answered";
}

TEST_F(Automation, WithoutPollTheSavedLogIsExactlyWhatWasSent) {
    // The stream begins once the program has surely opened the port (opening discards what is
    // waiting) and ends before it closes it; --rss-every samples on the way.
    TSimulatorProcess simulator({"--no-publish", "--record", File("sent.bin"), "--nul",
                                 "--lines-per-second", "200", "--stream-delay", "1", "--stream-for",
                                 "0.5"});
    const TRun run =
        Automate({simulator.Path(), "2", File("log.txt"), "--no-poll", "--rss-every", "0.5"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    simulator.Stop();
    std::string sent = ReadFile(File("sent.bin"));
    ASSERT_GE(sent.size(), 50u * 13) << "the stream ran";
    // The port discards NUL bytes; the device's CR LF line ends are saved as they are.
    std::erase(sent, '\0');
    EXPECT_EQ(ReadFile(File("log.txt")), sent);

    std::istringstream out(run.Out);
    std::string line, last;
    std::vector<long> logBytes;
    static const std::regex sample(R"(^rss_kib=(\d+) log_bytes=(\d+)$)");
    while (std::getline(out, line)) {
        std::smatch match;
        if (std::regex_match(line, match, sample))
            logBytes.push_back(std::stol(match[2]));
        else
            last += line + "\n";
    }
    ASSERT_GE(logBytes.size(), 3u) << run.Out;
    EXPECT_EQ(logBytes.front(), 0) << "the first sample is taken right after opening";
    EXPECT_EQ(logBytes.back(), static_cast<long>(sent.size()))
        << "log_bytes counts the log as saved, once the stream has ended";
    CheckLatenessLine(last, 2);
}

TEST_F(Automation, ErrorsGoToStandardErrorWithExitCodeOne) {
    const std::string missing = File("no-such-port");
    TRun run = Automate({missing, "1", File("log.txt")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("Unable to open com port on " + missing), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_FALSE(std::filesystem::exists(File("log.txt")));

    TSimulatorProcess simulator({"--no-publish"});
    run = Automate({simulator.Path(), "0.5", File("no/such/folder/log.txt")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("Fehler beim Speichern der Datei!"), std::string::npos) << run.Err;

    run = Automate({simulator.Path(), "soon", File("log.txt")});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find("SECONDS"), std::string::npos) << run.Err;
}

TEST_F(Automation, ADeviceThatHangsUpWhilePollingFailsTheRun) {
    // Long enough after the start that a slow (sanitized, loaded) program has opened the port.
    TSimulatorProcess simulator({"--no-publish", "--hang-up-after", "2"});
    const TRun run = Automate({simulator.Path(), "5", File("log.txt")});
    EXPECT_EQ(run.ExitCode, 1);
    // Whichever notices first: the port's watch (ReadFile) or the poll's write (WriteFile).
    EXPECT_NE(run.Err.find(" function failed on " + simulator.Path()), std::string::npos)
        << run.Err;
    EXPECT_EQ(run.Out, "");
}

} // namespace
