// The log's rules and its journals: the poll's line feed, a journal on a full disk, the folder
// of journals, and saving and loading as long-running tasks.
#include "Log.h"
#include "TestFiles.h"

#include "ScratchMount.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace quendal {
namespace {

using namespace std::chrono_literals;

using cport::test::ReadFile;

class Log : public ::testing::Test {
protected:
    Log() {
        char folder[] = "/tmp/quendal-log-XXXXXX";
        FFolder = ::mkdtemp(folder);
    }
    ~Log() override { std::filesystem::remove_all(FFolder); }

    std::string All(const TLog& ALog) {
        return ALog.Store().Read(0, static_cast<std::size_t>(ALog.Store().Size()));
    }

    std::string FFolder;
};

TEST_F(Log, APollAddsALineBreakOnlyWhereALineBegins) {
    TLog log(TJournalFolder(FFolder + "/journals"));
    log.PollLineFeed(); // an empty log begins a line
    log.Received("+23.0");
    log.PollLineFeed(); // a reading trickling in is not split
    log.Received("01 C\r");
    log.PollLineFeed(); // the CR ended the line; its LF comes next
    log.Received("\n+23.002 C\r\n");
    log.PollLineFeed();
    EXPECT_EQ(All(log), "\r\n+23.001 C\r\n\r\n+23.002 C\r\n\r\n");
}

TEST_F(Log, AJournalThatCannotBeWrittenKeepsTheLogInMemoryAndSaysSoOnce) {
    cport::test::TScratchMount disk(0, "size=256k");
    ASSERT_TRUE(disk.Mounted()) << "the tests run as root, which may mount";
    const std::string filler = disk.Folder() + "/filler";
    std::ofstream(filler, std::ios::binary) << std::string(250 * 1024, 'f');
    TLog log(TJournalFolder(disk.Folder()));
    std::vector<std::string> messages;
    log.SetOnJournalFailed([&](const std::string& AMessage) { messages.push_back(AMessage); });
    std::string sent;
    for (int i = 0; i < 2000; ++i) {
        const std::string reading = "+" + std::to_string(i) + ".000 C\r\n";
        log.Received(reading);
        sent += reading;
    }
    EXPECT_EQ(All(log), sent) << "nothing received is dropped";
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(log.Store().Journal().Path() + ": No space left on device"),
              std::string::npos)
        << messages[0];
    ASSERT_TRUE(log.NeedsService());

    std::filesystem::remove(filler);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (log.NeedsService() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        log.Service();
    }
    EXPECT_FALSE(log.NeedsService()) << "written once there is room";
    EXPECT_EQ(ReadFile(log.Store().Journal().Path()), sent);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(Log, JournalsAreKeptUpToALimitAndAnUnendedOneIsOffered) {
    const TJournalFolder folder(FFolder);
    std::vector<std::string> ended;
    {
        TLog log(folder, 100 * 1024);
        for (int i = 0; i < 3; ++i) {
            log.Received(std::string(40 * 1024, static_cast<char>('a' + i)));
            ended.push_back(log.Store().Journal().Path());
            log.Clear(); // keeps the journal, then trims the oldest beyond the limit
        }
        EXPECT_FALSE(std::filesystem::exists(ended[0]));
        EXPECT_TRUE(std::filesystem::exists(ended[1]));
        EXPECT_TRUE(std::filesystem::exists(ended[2]));
        EXPECT_FALSE(std::filesystem::exists(ended[2] + ".open")) << "ended cleanly";
        log.Received(std::string(200 * 1024, 'x'));
        const std::string shown = log.Store().Journal().Path();
        log.PollLineFeed();
        EXPECT_TRUE(std::filesystem::exists(shown));
        auto restore = log.StartRestore(ended[2]); // trims, as a new log does
        ASSERT_TRUE(log.FinishRestore(*restore));
        EXPECT_FALSE(std::filesystem::exists(ended[1]));
        EXPECT_TRUE(std::filesystem::exists(ended[2])) << "the log shown is kept";
        EXPECT_TRUE(folder.Unended().empty()) << "the live journal is in use, the rest ended";
    }
    // A program that died leaves its journal marked, and nobody holds it.
    const std::string dead = FFolder + "/log-2026-01-01-000000-1-0.txt";
    std::ofstream(dead, std::ios::binary) << "+1.000 C\r\n+2.0";
    std::ofstream(dead + ".open");
    TLog log(folder);
    const std::optional<TFileInfo> unended = log.UnendedJournal();
    ASSERT_TRUE(unended.has_value());
    EXPECT_EQ(unended->Path, dead);
    auto restore = log.StartRestore(dead);
    ASSERT_TRUE(log.FinishRestore(*restore));
    EXPECT_EQ(restore->Lines(), 2u);
    log.Received("00 C\r\n");
    EXPECT_EQ(ReadFile(dead), "+1.000 C\r\n+2.000 C\r\n") << "the log goes on in its journal";
    EXPECT_TRUE(folder.Unended().empty()) << "in use now";
}

TEST_F(Log, SaveReplacesTheFileOnlyWhenItCanAndSaysWhyNot) {
    TLog log(TJournalFolder(FFolder + "/journals"));
    log.Received("+1.0 C\r\n+2.0 C");
    const std::string file = FFolder + "/saved.txt";
    const auto save = [&](const std::string& APath) {
        auto task = log.StartSave(APath);
        task->Wait();
        return task;
    };
    EXPECT_TRUE(save(file)->Succeeded());
    EXPECT_EQ(ReadFile(file), "+1.0 C\r\n+2.0 C\r\n");

    auto full = save("/dev/full");
    EXPECT_EQ(full->Error().Text, "No space left on device");
    EXPECT_EQ(full->ErrorPath(), "/dev/full");
    auto missing = save(FFolder + "/no/such/folder/log.txt");
    EXPECT_EQ(missing->Error().Text, "No such file or directory");

    ::chmod(file.c_str(), 0444); // read-only for everybody, root included
    log.Received("\r\n+3.0 C");
    EXPECT_EQ(save(file)->Error().Text, "Permission denied");
    EXPECT_EQ(ReadFile(file), "+1.0 C\r\n+2.0 C\r\n");
}

TEST_F(Log, LoadReplacesTheLogAndWhatArrivesMeanwhileFollowsIt) {
    TLog log(TJournalFolder(FFolder + "/journals"));
    log.Received("old\r\n");
    const std::string file = FFolder + "/in.txt";
    std::ofstream(file, std::ios::binary) << "\xEF\xBB\xBF\xE2\x82\xAC 1\r2";
    auto load = log.StartLoad(file);
    log.Received("\n+3"); // the file ends in a line of its own, which this ends
    log.PollLineFeed();
    ASSERT_TRUE(log.FinishLoad(*load));
    EXPECT_EQ(All(log), "\x80 1\r\n2\r\n+3");

    // A cancelled load leaves the log as it was, with what arrived meanwhile.
    const std::string fifo = FFolder + "/slow";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto cancelled = log.StartLoad(fifo);
    std::ofstream writer(fifo, std::ios::binary);
    writer << "first part" << std::flush;
    cancelled->Cancel();
    log.Received("\r\n");
    writer << "second part" << std::flush;
    writer.close();
    EXPECT_FALSE(log.FinishLoad(*cancelled));
    EXPECT_TRUE(cancelled->Cancelled());
    EXPECT_EQ(All(log), "\x80 1\r\n2\r\n+3\r\n");
}

TEST_F(Log, EachLineKeepsTheTimeItsFirstByteCameWhichSavesShowOnlyWhenAsked) {
    const std::string journals = FFolder + "/journals";
    std::int64_t now = 1'765'200'000'000;
    const std::int64_t start = now;
    std::string journal;
    {
        TLog log{TJournalFolder(journals)};
        log.SetClock([&] { return now; });
        log.Received("+23.0");
        now += 400;
        log.Received("01 C\r\n+23.");
        now += 350;
        log.PollLineFeed(); // in the middle of a line: no line
        now += 50;
        log.Received("002 C\r\n");
        now += 300;
        log.PollLineFeed();
        const TLogStore& store = log.Store();
        EXPECT_EQ(store.StampOf(0), start);
        EXPECT_EQ(store.StampOf(1), start + 400) << "its first byte came with the first line's end";
        EXPECT_EQ(store.StampOf(2), start + 1100) << "the poll's own line";
        EXPECT_EQ(store.StampOf(3), TStamps::None);

        const std::string file = FFolder + "/saved.txt";
        auto stamped = log.StartSave(file, true);
        stamped->Wait();
        EXPECT_EQ(ReadFile(file), StampText(start) + "\t+23.001 C\r\n" + StampText(start + 400) +
                                      "\t+23.002 C\r\n" + StampText(start + 1100) + "\t\r\n");
        auto plain = log.StartSave(file);
        plain->Wait();
        EXPECT_EQ(ReadFile(file), "+23.001 C\r\n+23.002 C\r\n\r\n");
        journal = store.Journal().Path();
    }
    EXPECT_EQ(StampText(start).size(), 23u) << "2026-12-08 14:03:07.412";
    // A journal cut after its second line keeps the stamps of its lines; the next line's time
    // goes to the right line.
    std::filesystem::resize_file(journal, std::string("+23.001 C\r\n+23.002 C\r\n").size());
    TLog log{TJournalFolder(journals)};
    log.SetClock([&] { return now; });
    auto restore = log.StartRestore(journal);
    ASSERT_TRUE(log.FinishRestore(*restore));
    now = start - 5000; // the wall clock was set back before this run
    log.Received("+23.003 C\r\n");
    EXPECT_EQ(log.Store().StampOf(1), start + 400);
    EXPECT_EQ(log.Store().StampOf(2), now) << "a time before the first is kept too";
    // Lines of a loaded file have no time; what arrives after them has.
    const std::string file = FFolder + "/in.txt";
    std::ofstream(file, std::ios::binary) << "a\r\nb\r\n";
    auto load = log.StartLoad(file);
    ASSERT_TRUE(log.FinishLoad(*load));
    log.Received("c\r\n");
    EXPECT_EQ(log.Store().StampOf(1), TStamps::None);
    EXPECT_EQ(log.Store().StampOf(2), now);
}

} // namespace
} // namespace quendal
