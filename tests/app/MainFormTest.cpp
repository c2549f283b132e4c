// The logger's main window driven as a user drives it, against a device on a pseudo-terminal:
// the simulated RQ-71 or a device played by the test.
#include "MainFormFixture.h"

#include "CPortSetup.h"
#include "ComMainForm.h"
#include "LogView.h"
#include "PtyPair.h"
#include "QtMainThread.h"
#include "QtTestSupport.h"
#include "Simulator.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quendal {
namespace {

using namespace cport;
using namespace std::chrono_literals;
using test::TModalDriver;
using test::WaitFor;

// A device played by the test: it records what it receives and answers each CR LF with a
// numbered reading.
class TAnsweringDevice {
public:
    explicit TAnsweringDevice(TPtyPair& APty)
        : FPty(APty)
        , FThread([this] { Run(); }) {}
    ~TAnsweringDevice() {
        FStop = true;
        FThread.join();
    }
    std::string Received() const {
        std::lock_guard lock(FLock);
        return FReceived;
    }
    int Answers() const { return FAnswers; }

private:
    void Run() {
        while (!FStop) {
            pollfd readable{FPty.Master(), POLLIN, 0};
            if (::poll(&readable, 1, 20) <= 0) continue;
            const std::string data = FPty.ReadAvailable();
            std::lock_guard lock(FLock);
            FReceived += data;
            for (char c : data) {
                if (FAfterCR && c == '\n') FPty.WriteAll("R" + std::to_string(++FAnswers) + "\r\n");
                FAfterCR = c == '\r';
            }
        }
    }
    TPtyPair& FPty;
    mutable std::mutex FLock;
    std::string FReceived;
    bool FAfterCR = false;
    std::atomic<int> FAnswers{0};
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

TEST_F(MainForm, FirstStartHasAnEmptyPortAndTheLoggersSettings) {
    TForm1 form;
    EXPECT_EQ(form.ComPort->Port(), "") << "nothing stored yet";
    EXPECT_EQ(form.ComPort->BaudRate(), br9600);
    EXPECT_TRUE(form.ComPort->DiscardNull());
    EXPECT_EQ(form.ComPort->FlowControl().ControlDTR(), dtrEnable);
    EXPECT_FALSE(form.ComPort->Connected());
    EXPECT_EQ(form.Button_Open->text(), "&Open");
    EXPECT_TRUE(form.Button_Send->isHidden());
    EXPECT_TRUE(form.Edit_Data->isHidden());
    EXPECT_TRUE(form.NewLine_CB->isHidden());
    EXPECT_EQ(form.windowTitle(), "Tessivo RQ-71 Logger Ver.: 1.0.2");
    EXPECT_EQ(form.size(), QSize(232, 290));
    EXPECT_EQ(form.Timer1->interval(), 350);
    EXPECT_FALSE(form.Timer1->isActive());
}

TEST_F(MainForm, TheWindowGrowsAroundItsPaneAndQuitKeepsHowItWasLeft) {
    {
        TForm1 form;
        EXPECT_EQ(form.minimumSize(), QSize(232, 290));
        form.show();
        form.resize(500, 400);
        QCoreApplication::processEvents();
        EXPECT_EQ(form.Memo->geometry(), QRect(0, 0, 413, 367));
        EXPECT_EQ(form.Button1->geometry(), QRect(420, 240, 75, 25))
            << "the column stays at the top right";
        EXPECT_EQ(form.Label1->geometry().top(), 382) << "the bottom line stays at the bottom";
        // The pane's menu, by the Menu key: time stamps on.
        QStringList entries;
        QTimer pick;
        QObject::connect(&pick, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) return;
            for (QAction* action : menu->actions())
                if (!action->isSeparator()) entries << action->text();
            for (QAction* action : menu->actions())
                if (action->text() == "&Time stamps") action->trigger();
            menu->close();
        });
        pick.start(10);
        form.Memo->setFocus();
        QTest::keyClick(form.Memo, Qt::Key_Menu);
        ASSERT_TRUE(WaitFor([&] { return !entries.isEmpty(); }));
        EXPECT_EQ(entries, (QStringList{"&Copy", "Select &All", "&Find...", "Find &Next",
                                        "Find &Previous", "&Time stamps", "&Hex view", "C&hart",
                                        "Save &As...", "&Open log folder"}));
        EXPECT_TRUE(form.Memo->ShowStamps());
        form.Button1->click();
    }
    TForm1 form;
    EXPECT_TRUE(form.Memo->ShowStamps());
    EXPECT_FALSE(form.Memo->HexView());
    EXPECT_EQ(form.size(), QSize(500, 400));
}

TEST_F(MainForm, TheSimulatorIsChosenInTheSetupDialog) {
    test::TSimulatorProcess simulator;
    TForm1 form;
    TModalDriver driver(test::Once([&](QWidget* AModal) {
        auto* setup = qobject_cast<TComSetupFrm*>(AModal);
        ASSERT_NE(setup, nullptr);
        ASSERT_TRUE(test::PickEntry(*setup->Combo1, QString::fromStdString(simulator.Path())));
        setup->Button1->click();
    }));
    form.Button_Settings->click();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(form.ComPort->Port(), simulator.Path());
    form.Button_Open->click();
    EXPECT_EQ(form.Button_Open->text(), "Close");
    form.Button_Open->click();
    EXPECT_EQ(form.Button_Open->text(), "Open");
}

TEST_F(MainForm, PollingSendsCrLfAndLogsEveryAnswer) {
    TPtyPair pty;
    TAnsweringDevice device(pty);
    auto form = OpenForm(pty.SlavePath());
    form->CheckBox1->click();
    EXPECT_TRUE(form->Timer1->isActive());
    ASSERT_TRUE(WaitFor([&] { return form->Memo->Lines().contains("R3"); }, 10s));
    form->CheckBox1->click();
    EXPECT_FALSE(form->Timer1->isActive());
    const std::string received = device.Received();
    ASSERT_GE(received.size(), 6u);
    EXPECT_EQ(received, [&] {
        std::string polls;
        while (polls.size() < received.size())
            polls += "\r\n";
        return polls;
    }()) << "every poll is exactly CR LF";
    ASSERT_TRUE(WaitFor(
        [&] { return form->Memo->Lines().size() == static_cast<qsizetype>(received.size()); }));
    // Each poll adds a line feed of its own, before its answer arrives.
    QStringList expected;
    for (std::size_t i = 1; i <= received.size() / 2; ++i)
        expected << "" << QString("R%1").arg(i);
    EXPECT_EQ(form->Memo->Lines(), expected);
}

TEST_F(MainForm, ChunksFollowEachOtherWithNothingBetween) {
    TPtyPair pty;
    auto form = OpenForm(pty.SlavePath());
    ASSERT_TRUE(pty.WriteAll("+23.4"));
    ASSERT_TRUE(WaitFor([&] { return form->Memo->Lines() == QStringList{"+23.4"}; }));
    ASSERT_TRUE(pty.WriteAll("56 \xB0"
                             "C\r"));
    ASSERT_TRUE(WaitFor([&] { return form->Memo->Lines().size() == 1; }));
    ASSERT_TRUE(pty.WriteAll("\n+23.457 \xB0"
                             "C\r\n"));
    ASSERT_TRUE(WaitFor([&] { return form->Memo->Lines().size() == 2; }));
    EXPECT_EQ(form->Memo->Lines(),
              (QStringList{QString::fromUtf8("+23.456 °C"), QString::fromUtf8("+23.457 °C")}))
        << "a CR LF split between chunks is one line break";
}

TEST_F(MainForm, APollNeverSplitsAReadingThatTricklesIn) {
    TPtyPair pty;
    auto form = OpenForm(pty.SlavePath());
    // The device answers each poll with a reading, one byte every 15 ms, while the window polls
    // every 50 ms: most polls come while a reading is half-way.
    std::atomic<bool> stop{false};
    std::thread device([&] {
        std::string pending;
        int answers = 0;
        bool afterCR = false;
        while (!stop) {
            for (char c : pty.ReadExactly(64, 15ms)) {
                if (afterCR && c == '\n')
                    pending += "+23." + std::to_string(100 + answers++ % 900) + " C\r\n";
                afterCR = c == '\r';
            }
            if (!pending.empty()) {
                pty.WriteAll(pending.substr(0, 1));
                pending.erase(0, 1);
            }
        }
    });
    form->Timer1->setInterval(50);
    form->CheckBox1->click();
    WaitFor([&] { return form->Memo->Lines().size() > 40; }, 10s);
    form->CheckBox1->click();
    stop = true;
    device.join();
    const QStringList lines = form->Memo->Lines();
    ASSERT_GT(lines.size(), 40);
    const QRegularExpression reading(QStringLiteral("^\\+23\\.\\d{3} C$"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) // the last one may still be on its way
        EXPECT_TRUE(lines[i].isEmpty() || reading.match(lines[i]).hasMatch())
            << "line " << i << ": " << lines[i].toStdString();
}

TEST_F(MainForm, ABigLoadShowsProgressAndCancelKeepsTheLog) {
    TForm1 form;
    form.Log().Received("kept\r\n");
    const std::string fifo = Folder() + "/slow.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A source that delivers the first part and then waits, as a slow disk or share does.
    std::atomic<bool> release{false};
    std::thread source([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        const std::string part(32 * 1024, 'x');
        EXPECT_EQ(::write(fd, part.data(), part.size()), static_cast<ssize_t>(part.size()));
        while (!release)
            std::this_thread::sleep_for(5ms);
        ::close(fd);
    });
    TMessageBoxes boxes;
    ChooseFile(form.Button3, fifo, false);
    QProgressDialog* progress = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QProgressDialog*>(window);
                dialog && dialog->isVisible())
                progress = dialog;
        return progress != nullptr;
    }));
    EXPECT_TRUE(form.Busy());
    progress->findChild<QPushButton*>()->click();
    release = true;
    source.join();
    ASSERT_TRUE(WaitFor([&] { return !form.Busy(); }));
    EXPECT_EQ(form.Memo->Lines(), QStringList{"kept"});
    EXPECT_TRUE(boxes.Texts().isEmpty()) << "a cancelled load shows nothing";
}

TEST_F(MainForm, PollCannotBeTickedWhileClosed) {
    TPtyPair pty;
    TForm1 form;
    form.ComPort->SetPort(pty.SlavePath());
    form.CheckBox1->click();
    EXPECT_FALSE(form.CheckBox1->isChecked());
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(pty.ReadExactly(1, 500ms), "");
}

TEST_F(MainForm, ClosingWhilePollingStopsThePollFirst) {
    TPtyPair pty;
    auto form = OpenForm(pty.SlavePath());
    form->CheckBox1->click();
    bool timerActive = true, pollTicked = true;
    form->ComPort->SetOnBeforeClose([&](TObject*) {
        timerActive = form->Timer1->isActive();
        pollTicked = form->CheckBox1->isChecked();
    });
    form->Button_Open->click();
    EXPECT_FALSE(form->ComPort->Connected());
    EXPECT_FALSE(timerActive);
    EXPECT_FALSE(pollTicked);
    EXPECT_EQ(form->Button_Open->text(), "Open");
}

TEST_F(MainForm, SavedLogHoldsWhatTheDeviceSentAndThePollLineFeeds) {
    const std::string record = Folder() + "/sent.bin";
    test::TSimulatorProcess simulator({"--no-publish", "--seed", "11", "--record", record});
    auto form = OpenForm(simulator.Path());
    for (int i = 1; i <= 3; ++i) {
        form->Button_SendClick();
        // The whole reading: a poll in the middle of one adds no line.
        ASSERT_TRUE(WaitFor([&] {
            return form->Memo->Lines().size() == 2 * i && form->Log().Store().AtLineStart();
        }));
    }
    const std::string sent = ReadFile(record);
    ASSERT_EQ(sent.size(), 36u) << "three readings";
    const std::string file = Folder() + "/log.txt";
    WriteFile(file, "an older log");
    ChooseFile(form->Button4, file);
    std::string expected;
    for (int i = 0; i < 3; ++i)
        expected += "\r\n" + sent.substr(static_cast<std::size_t>(i) * 12, 12);
    EXPECT_EQ(ReadFile(file), expected) << "bytes saved back unchanged, each line with CR LF";
}

TEST_F(MainForm, LoadHonoursByteOrderMarks) {
    TForm1 form;
    const std::string file = Folder() + "/in.txt";
    const QStringList expected{QString::fromUtf8("ä€"), "b"};
    WriteFile(file, "\xEF\xBB\xBF\xC3\xA4\xE2\x82\xAC\r\nb\r\n");
    ChooseFile(form.Button3, file);
    EXPECT_EQ(form.Memo->Lines(), expected);
    WriteFile(file, std::string("\xFF\xFE\xE4\x00\xAC\x20\n\x00"
                                "b\x00",
                                10));
    ChooseFile(form.Button3, file);
    EXPECT_EQ(form.Memo->Lines(), expected);
    WriteFile(file, std::string("\xFE\xFF\x00\xE4\x20\xAC\x00\r\x00"
                                "b",
                                10));
    ChooseFile(form.Button3, file);
    EXPECT_EQ(form.Memo->Lines(), expected);
    WriteFile(file, "\xE4\xB0\rb");
    ChooseFile(form.Button3, file);
    EXPECT_EQ(form.Memo->Lines(), (QStringList{QString::fromUtf8("ä°"), "b"}))
        << "without a mark the bytes are the code page's";
}

TEST_F(MainForm, FailedSaveAndLoadShowTheirMessagesAndKeepWhatWasThere) {
    TForm1 form;
    form.Log().Received("kept\r\n");
    TMessageBoxes boxes;
    const std::string folder = Folder() + "/no/such/folder/log.txt";
    ChooseFile(form.Button4, folder);
    ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() == 1; }));
    EXPECT_EQ(boxes.Texts()[0], QString::fromStdString("Fehler beim Speichern der Datei!\n" +
                                                       folder + ": No such file or directory"));
    const std::string missing = Folder() + "/missing.txt";
    ChooseFile(form.Button3, missing);
    ASSERT_TRUE(WaitFor([&] { return boxes.Texts().size() == 2; }));
    EXPECT_EQ(boxes.Texts()[1], QString::fromStdString("Fehler beim Laden der Datei!\n" + missing +
                                                       ": No such file or directory"));
    EXPECT_EQ(form.Memo->Lines(), QStringList{"kept"});
}

TEST_F(MainForm, QuitStoresTheSettingsAndTheCloseBoxDoesNot) {
    {
        TForm1 form;
        form.ComPort->SetPort("/dev/quendal-test");
        form.ComPort->SetBaudRate(br57600);
        form.show();
        form.Button1->click();
        EXPECT_FALSE(form.isVisible()) << "Quit closes the window";
    }
    {
        TForm1 form;
        EXPECT_EQ(form.ComPort->Port(), "/dev/quendal-test");
        EXPECT_EQ(form.ComPort->BaudRate(), br57600);
        form.ComPort->SetPort("/dev/not-stored");
        form.show();
        form.close();
    }
    TForm1 form;
    EXPECT_EQ(form.ComPort->Port(), "/dev/quendal-test");
}

TEST_F(MainForm, AnUnplugedDeviceIsToldOnceAndLookedForUntilTheUserStops) {
    auto simulator = std::make_unique<test::TSimulatorProcess>(
        std::vector<std::string>{"--no-publish", "--hang-up-after", "1.2"});
    // Opened through a name that is gone once the port is open: the terminal's own name is
    // reused by the next terminal made, which may be another test's device.
    const std::string name = Folder() + "/rq71";
    std::filesystem::create_symlink(simulator->Path(), name);
    auto form = OpenForm(name);
    std::filesystem::remove(name);
    EXPECT_EQ(form->Label1->text().toStdString(), "rq71 9600 8N1");
    TMessageBoxes boxes;
    form->CheckBox1->click();
    ASSERT_TRUE(WaitFor([&] { return !boxes.Texts().isEmpty(); }, 10s));
    const qsizetype lines = form->Memo->Lines().size();
    EXPECT_GT(lines, 0) << "readings arrived before the hang-up";
    const QStringList message = boxes.Texts()[0].split('\n');
    EXPECT_EQ(message.value(0).toStdString(),
              "COM Port Error: ReadFile function failed on " + name);
    EXPECT_FALSE(message.value(1).isEmpty()) << "the reason, in the user's words";
    // The port closed itself; Poll waits for the device to come back.
    EXPECT_FALSE(form->ComPort->Connected());
    EXPECT_EQ(form->Button_Open->text(), "Open");
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Label1->text(), "device gone, reconnecting");
    // Looking for it costs nothing to speak of and tells nothing more.
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    WaitFor([] { return false; }, 1500ms);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const rusage& AUsage) {
        return AUsage.ru_utime.tv_sec * 1000000L + AUsage.ru_utime.tv_usec +
               AUsage.ru_stime.tv_sec * 1000000L + AUsage.ru_stime.tv_usec;
    };
    EXPECT_LT(cpu(after) - cpu(before), 200000L) << "something spins";
    EXPECT_EQ(boxes.Texts().size(), 1);
    EXPECT_EQ(form->Memo->Lines().size(), lines) << "the log is kept";

    form->Button_Open->click();
    EXPECT_EQ(form->Label1->text(), "closed") << "the user's Open/Close ends the search";
    simulator = std::make_unique<test::TSimulatorProcess>(std::vector<std::string>{"--no-publish"});
    form->ComPort->SetPort(simulator->Path());
    form->Button_Open->click();
    EXPECT_TRUE(form->ComPort->Connected());
    form->Button_SendClick();
    EXPECT_TRUE(WaitFor([&] { return form->Memo->Lines().size() > lines + 1; }));
}

TEST_F(MainForm, ScreenshotWithReadings) {
    test::TSimulatorProcess simulator({"--no-publish", "--seed", "71"});
    auto form = OpenForm(simulator.Path());
    form->show();
    for (int i = 1; i <= 8; ++i) {
        form->Button_SendClick();
        // The whole reading: a poll in the middle of one adds no line.
        ASSERT_TRUE(WaitFor([&] {
            return form->Memo->Lines().size() == 2 * i && form->Log().Store().AtLineStart();
        }));
    }
    const QPixmap shot = form->grab();
    EXPECT_EQ(shot.size(), QSize(232, 290));
    EXPECT_TRUE(shot.save(QStringLiteral(QUENDAL_SCREENSHOT_DIR "/MainWindow.png")));
}

} // namespace
} // namespace quendal
