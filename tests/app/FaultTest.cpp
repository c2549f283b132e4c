// The logger's window against faults around it: a full disk or device, a folder it may not
// write, a device that hangs up a hundred times in a row, a port that another program holds,
// a device node it may not open and one that has gone. The window shows the error, keeps what
// it had, and carries on.
#include "MainFormFixture.h"

#include "LogView.h"
#include "PortPeer.h"
#include "PtyPair.h"
#include "ScratchMount.h"
#include "Simulator.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <linux/capability.h>
#include <regex>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quendal {
namespace {

using namespace cport;
using namespace std::chrono_literals;
using test::WaitFor;

// The window's message for a failed save: its fixed text, then the file and the reason.
QStringList SaveFailed(const std::string& AFile, const char* AReason) {
    return {QString::fromStdString("Fehler beim Speichern der Datei!\n" + AFile + ": " + AReason)};
}

using Faults = MainForm;

// A log of about AKiB KiB.
void FillLog(TForm1& AForm, int AKiB) {
    AForm.Button2->click();
    std::string text;
    for (int i = 0; i < AKiB * 16; ++i)
        text += "+23.456 \xB0"
                "C reading " +
                std::to_string(1000000 + i) + " of the log.....\r\n";
    AForm.Log().Received(text);
}

std::size_t EntriesIn(const std::string& AFolder) {
    std::size_t count = 0;
    if (DIR* dir = ::opendir(AFolder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ++count;
        ::closedir(dir);
    }
    return count;
}

// Saves the window's log to AFile and returns the messages shown.
QStringList Save(TForm1& AForm, const std::string& AFile) {
    TMessageBoxes boxes;
    Faults::ChooseFile(AForm.Button4, AFile);
    return boxes.Texts();
}

TEST_F(Faults, SavingToADeviceWritesToItAndAFullOneShowsTheMessage) {
    TForm1 form;
    FillLog(form, 4);
    // Nodes of our own for /dev/null and /dev/full, reached through a link: should a save ever
    // replace the node instead of writing to it again, it is ours that goes. Without the right
    // to make nodes, the system's: then the rights to /dev are missing as well.
    std::string null = Folder() + "/null";
    std::string full = Folder() + "/full";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) null = "/dev/null";
    if (::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) full = "/dev/full";
    ASSERT_EQ(::symlink(null.c_str(), (Folder() + "/null.txt").c_str()), 0);
    ASSERT_EQ(::symlink(full.c_str(), (Folder() + "/full.txt").c_str()), 0);

    EXPECT_EQ(Save(form, Folder() + "/null.txt"), QStringList{});
    EXPECT_EQ(Save(form, Folder() + "/full.txt"),
              SaveFailed(Folder() + "/full.txt", "No space left on device"));
    for (const std::string& node : {null, full}) {
        struct stat st {};
        ASSERT_EQ(::stat(node.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << node << " was replaced";
    }
    struct stat link {};
    ASSERT_EQ(::lstat((Folder() + "/full.txt").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
}

TEST_F(Faults, SavingToAFullDiskShowsTheMessageAndKeepsTheOldFile) {
    TForm1 form;
    FillLog(form, 256);
    const std::string old = "an older log\r\n";
    // A disk that fills up: a 64 KiB tmpfs, where this process may mount one.
    test::TScratchMount disk(MS_NODEV, "size=64k");
    if (disk.Mounted()) {
        const std::string file = disk.Folder() + "/log.txt";
        WriteFile(file, old);
        EXPECT_EQ(Save(form, file), SaveFailed(file, "No space left on device"));
        EXPECT_EQ(ReadFile(file), old);
        EXPECT_EQ(EntriesIn(disk.Folder()), 1u) << "the partial file was removed";
    } else {
        std::puts("no tmpfs here (mount not permitted): the disk-full case is left out");
    }
    // A write that stops half-way however the process runs: the file size limit (EFBIG).
    const std::string file = Folder() + "/log.txt";
    WriteFile(file, old);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QStringList shown = Save(form, file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(shown, SaveFailed(file, "File too large"));
    EXPECT_EQ(ReadFile(file), old);
    FillLog(form, 1);
    EXPECT_EQ(Save(form, file), QStringList{}) << "a log that fits is saved";
    EXPECT_EQ(QString::fromLatin1(ReadFile(file)), form.Memo->Lines().join("\r\n") + "\r\n");
}

TEST_F(Faults, SavingIntoAFolderWithoutWritePermissionShowsTheMessageAndKeepsTheOldFile) {
    TForm1 form;
    FillLog(form, 1);
    const std::string old = "an older log\r\n";
    // Permission bits, which root passes: root gives up that override for the save.
    const std::string locked = Folder() + "/locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    WriteFile(locked + "/log.txt", old);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    {
        test::TWithoutCapability user(CAP_DAC_OVERRIDE);
        ASSERT_TRUE(user.Active() || ::geteuid() != 0);
        // Capabilities belong to a thread; the thread that saves is started after this.
        EXPECT_EQ(Save(form, locked + "/log.txt"),
                  SaveFailed(locked + "/log.txt", "Permission denied"));
    }
    EXPECT_EQ(ReadFile(locked + "/log.txt"), old);
    EXPECT_EQ(EntriesIn(locked), 1u);
    ::chmod(locked.c_str(), 0755);
    // A read-only file system, which stops root too.
    test::TScratchMount readOnly(MS_NODEV, "size=64k");
    if (readOnly.Mounted()) {
        const std::string file = readOnly.Folder() + "/log.txt";
        WriteFile(file, old);
        ASSERT_TRUE(readOnly.RemountReadOnly());
        EXPECT_EQ(Save(form, file), SaveFailed(file, "Read-only file system"));
        EXPECT_EQ(ReadFile(file), old);
    } else {
        std::puts("no tmpfs here (mount not permitted): the read-only case is left out");
    }
}

std::size_t OpenDescriptors() {
    return EntriesIn("/proc/self/fd");
}

// What the process has open, for a failure message.
std::string DescriptorList() {
    std::string list;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        list += entry.path().filename().string() + " -> " +
                std::filesystem::read_symlink(entry.path(), error).string() + "\n";
    }
    return list;
}

std::size_t Threads() {
    return EntriesIn("/proc/self/task");
}

TEST_F(Faults, AHundredUnplugsAreToldOnceEachAndLoggingGoesOnAfterEach) {
    constexpr int Unplugs = 100;
    // Before the window: a message box that a failure leaves behind still gets closed.
    TMessageBoxes boxes;
    const std::string sent = Folder() + "/sent.bin";
    // Pulled by the test (SIGUSR1), back a tenth of a second later under its published name at
    // a new path.
    test::TSimulatorProcess simulator({"--name", "RQ-71 unplugged", "--down-for", "0.1",
                                       "--lines-per-second", "40", "--record", sent});
    TForm1 form;
    // The poll period plays no part in an unplug; a short one polls a few times each time.
    form.Timer1->setInterval(20);
    form.ComPort->SetPort(simulator.Path());
    form.Button_Open->click();
    ASSERT_TRUE(form.ComPort->Connected());
    std::size_t descriptors = 0, threads = 0;
    const auto started = std::chrono::steady_clock::now();
    // Round 0 only sets the start counts: the first message box makes Qt open what it keeps
    // for later.
    for (int round = 0; round <= Unplugs; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool poll = round % 2 == 0;
        if (form.CheckBox1->isChecked() != poll) form.CheckBox1->click();
        ASSERT_TRUE(WaitFor(
            [&] { return form.Log().Store().Size() > 0 && form.Log().Store().AtLineStart(); }));
        const qsizetype shown = boxes.Texts().size();
        const std::uint64_t logged = form.Log().Store().Size();
        ::kill(simulator.Pid(), SIGUSR1);
        std::string line, path;
        ASSERT_TRUE(simulator.NextLine(line, 5s) && line == "hung up") << line;
        ASSERT_TRUE(simulator.NextLine(path, 5s)) << "back";
        ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() > shown; }, 10s));
        // Whichever notices first: the port's watch (ReadFile) or a poll's write (WriteFile).
        EXPECT_TRUE(boxes.Texts().back().contains(QRegularExpression(
            "^COM Port Error: (Read|Write)File function failed on /dev/pts/\\d+\n.")))
            << boxes.Texts().back().toStdString();
        ASSERT_TRUE(
            WaitFor([&] { return form.ComPort->Connected() && form.ComPort->Port() == path; }, 10s))
            << "found again at " << path;
        EXPECT_EQ(form.CheckBox1->isChecked(), poll) << "Poll comes back as it was";
        ASSERT_TRUE(WaitFor([&] { return form.Log().Store().Size() > logged + 24; }))
            << "readings again";
        ASSERT_EQ(boxes.Texts().size(), shown + 1)
            << "one message per unplug; the last ones:\n"
            << boxes.Texts().mid(shown).join("\n").toStdString();
        if (round == 0) {
            descriptors = OpenDescriptors();
            threads = Threads();
            continue;
        }
        // At most what there was: something of the first message box may go later.
        EXPECT_TRUE(
            WaitFor([&] { return OpenDescriptors() <= descriptors && Threads() <= threads; }, 5s))
            << OpenDescriptors() << " descriptors (" << descriptors << " at the start), "
            << Threads() << " threads (" << threads << ")\n"
            << DescriptorList();
    }
    form.Button_Open->click();
    simulator.Stop();
    // Nothing that arrived is lost or garbled: every line of the log is a whole reading, or a
    // poll's line, in the order the device sent them; a reading the unplug cut off ends its line.
    const std::string all = ReadFile(sent);
    const std::string log =
        form.Log().Store().Read(0, static_cast<std::size_t>(form.Log().Store().Size()));
    const std::regex reading(R"([+-]\d+\.\d{3} \xB0C)");
    std::size_t at = 0, readings = 0, cut = 0;
    for (std::size_t start = 0; start < log.size();) {
        const std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos) break;
        const std::string line = log.substr(start, end - start);
        start = end + 2;
        if (line.empty()) continue;
        const std::size_t found = all.find(line, at);
        ASSERT_NE(found, std::string::npos) << "not sent, or not in order: " << line;
        at = found + line.size();
        if (std::regex_match(line, reading))
            ++readings;
        else
            ++cut; // the start of a reading that the unplug cut off
    }
    EXPECT_LE(cut, static_cast<std::size_t>(Unplugs + 1));
    EXPECT_GE(readings, static_cast<std::size_t>(Unplugs) * 2)
        << "at least the two each round waits for";
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%d unplugs in %.1f s; %zu readings, %zu cut by an unplug; %zu descriptors, "
                "%zu threads\n",
                Unplugs + 1, seconds, readings, cut, descriptors, threads);
}

TEST_F(Faults, APortHeldElsewhereUnopenableOrGoneShowsItsErrorAndTheWindowCarriesOn) {
    test::TSimulatorProcess simulator({"--no-publish"});
    const std::string path = simulator.Path();
    TMessageBoxes boxes;
    TForm1 form;
    // Clicks Open on APath; returns the message shown.
    auto refusal = [&](const std::string& APath) {
        const qsizetype shown = boxes.Texts().size();
        form.ComPort->SetPort(APath);
        form.Button_Open->click();
        EXPECT_FALSE(form.ComPort->Connected());
        EXPECT_EQ(form.Button_Open->text(), "&Open");
        EXPECT_TRUE(WaitFor([&] { return boxes.Texts().size() == shown + 1; }));
        return boxes.Texts().size() > shown ? boxes.Texts().back().toStdString() : std::string();
    };
    // The message, and the reason in the user's words below it.
    const auto refused = [](const std::string& APath, const std::string& AReason) {
        return "COM Port Error: Unable to open com port on " + APath + "\n" + AReason;
    };
    const std::regex holder(R"(in use by ([\w.-]+) \(PID \d+\))");
    const auto heldBy = [&](const std::string& AMessage) {
        std::smatch match;
        const std::string reason = AMessage.substr(AMessage.find('\n') + 1);
        return std::regex_match(reason, match, holder) ? match[1].str() : reason;
    };
    {
        test::TPortPeer peer(test::TPortPeer::PySerial(path));
        ASSERT_TRUE(peer.Holds()) << peer.Answer();
        const std::string message = refusal(path);
        EXPECT_TRUE(message.starts_with(refused(path, "in use by"))) << message;
        EXPECT_EQ(heldBy(message), "python3");
    }
    {
        // A second instance of the program.
        TForm1 other;
        other.ComPort->SetPort(path);
        other.Button_Open->click();
        ASSERT_TRUE(other.ComPort->Connected());
        const std::string message = refusal(path);
        EXPECT_EQ(heldBy(message), "app_fault_tests") << message;
    }
    {
        // Root opens whatever its permission bits say, but not a node on a file system
        // mounted without devices; without the right to mount, the simulator's own node
        // without permissions, opened without root's override.
        test::TScratchMount nodev(MS_NODEV, "size=64k");
        struct stat device {};
        ASSERT_EQ(::stat(path.c_str(), &device), 0);
        if (nodev.Mounted()) {
            const std::string node = nodev.Folder() + "/ttyRQ71";
            ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0666, device.st_rdev), 0);
            EXPECT_EQ(refusal(node), refused(node, "Permission denied"));
        } else {
            ASSERT_EQ(::chmod(path.c_str(), 0), 0);
            {
                test::TWithoutCapability user(CAP_DAC_OVERRIDE);
                EXPECT_TRUE(refusal(path).starts_with(refused(path, "Permission denied")));
            }
            ::chmod(path.c_str(), device.st_mode & 07777);
        }
    }
    {
        // A pulled adapter's node is gone. Not a stopped simulator's terminal: its name goes
        // to the next terminal made, maybe another test's device.
        const std::string gone = Folder() + "/ttyUSB-unplugged";
        EXPECT_EQ(refusal(gone), refused(gone, "No such file or directory"));
    }
    // The window carries on: the simulator opens and answers.
    form.ComPort->SetPort(path);
    form.Button_Open->click();
    ASSERT_TRUE(form.ComPort->Connected());
    form.Button_SendClick();
    EXPECT_TRUE(WaitFor([&] { return form.Memo->Lines().size() == 2; }));
    EXPECT_EQ(boxes.Texts().size(), 4);
}

// The main window in a program of its own, logging a port with nobody at it.
pid_t StartProgram(const std::string& APort, const std::string& ALog) {
    std::vector<std::string> arguments = {QUENDAL_AUTOMATE, APort,       "60",       ALog,
                                          "--no-poll",      "-platform", "offscreen"};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    return pid;
}

TEST_F(Faults, AKilledProgramsJournalHoldsWhatCameAndIsOfferedBackAtTheNextStart) {
    const std::string sent = Folder() + "/sent.bin";
    test::TSimulatorProcess simulator({"--no-publish", "--seed", "5", "--bytes-per-second",
                                       "1000000", "--stream-delay", "1", "--record", sent});
    const pid_t program = StartProgram(simulator.Path(), Folder() + "/never-saved.txt");
    ASSERT_GT(program, 0);
    // How much the device had sent when: the kill comes after about 2 s of streaming.
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::uintmax_t>> samples;
    const auto sentSize = [&] {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(sent, error);
        return error ? 0 : size;
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            samples.emplace_back(std::chrono::steady_clock::now(), sentSize());
            return samples.back().second >= 2'000'000;
        },
        20s));
    ::kill(program, SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(program, &status, 0);
    simulator.Stop();
    std::uintmax_t sentSecondBefore = 0;
    for (const auto& [when, size] : samples)
        if (when <= killed - 1s) sentSecondBefore = size;

    std::vector<std::filesystem::path> journals;
    for (const auto& entry : std::filesystem::directory_iterator(Folder() + "/quendal"))
        if (entry.path().extension() == ".txt") journals.push_back(entry.path());
    ASSERT_EQ(journals.size(), 1u);
    const std::string journal = ReadFile(journals[0]), all = ReadFile(sent);
    EXPECT_EQ(journal, all.substr(0, journal.size())) << "what was sent, byte for byte";
    EXPECT_GE(journal.size(), sentSecondBefore) << "everything sent a second before the kill";
    EXPECT_TRUE(std::filesystem::exists(journals[0].string() + ".open")) << "not ended cleanly";

    TForm1 form;
    QString question;
    test::TModalDriver driver(test::Once([&](QWidget* AModal) {
        auto* box = qobject_cast<QMessageBox*>(AModal);
        ASSERT_NE(box, nullptr);
        question = box->text();
        box->button(QMessageBox::Yes)->click();
    }));
    form.OfferRecovery();
    ASSERT_TRUE(WaitFor([&] { return driver.Done() && !form.Busy(); }, 30s));
    const std::size_t lines =
        static_cast<std::size_t>(std::count(journal.begin(), journal.end(), '\n')) +
        (journal.ends_with('\n') ? 0 : 1);
    EXPECT_TRUE(
        question.contains(QStringLiteral("%1 lines (%2 bytes)").arg(lines).arg(journal.size())))
        << question.toStdString();
    EXPECT_EQ(form.Log().Store().Read(0, journal.size() + 1), journal) << "restored";
    EXPECT_EQ(form.Log().Store().Journal().Path(), journals[0].string()) << "and goes on in it";
}

} // namespace
} // namespace quendal
