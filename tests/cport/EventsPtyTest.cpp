// The event thread on a real device: a pseudo-terminal whose master side plays the device while
// the test's thread plays the GUI thread.
#include "CPort.h"
#include "CPortList.h"
#include "GuiThread.h"
#include "ProcessCounts.h"
#include "PtyPair.h"
#include "Simulator.h"
#include "TestWatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace cport {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::OpenDescriptors;
using test::Threads;

// A device that writes a counting pattern until told to stop, and remembers how much it sent.
class TFlood {
public:
    explicit TFlood(TPtyPair& APty)
        : FPty(APty)
        , FThread([this] { Run(); }) {}
    ~TFlood() { Stop(); }
    void Stop() {
        FStop = true;
        if (FThread.joinable()) FThread.join();
    }
    std::uint64_t Sent() const { return FSent; }
    static char ByteAt(std::uint64_t AIndex) {
        return static_cast<char>((AIndex * 31 + AIndex / 251) & 0xFF);
    }

private:
    void Run() {
        char chunk[4096];
        while (!FStop) {
            for (std::size_t i = 0; i < sizeof chunk; ++i)
                chunk[i] = ByteAt(FSent + i);
            // A full terminal refuses more; the bytes it took are counted.
            const std::string data(chunk, sizeof chunk);
            std::size_t offset = 0;
            while (offset < data.size() && !FStop) {
                const ssize_t n =
                    ::write(FPty.Master(), data.data() + offset, data.size() - offset);
                if (n > 0) {
                    offset += static_cast<std::size_t>(n);
                    FSent += static_cast<std::uint64_t>(n);
                } else {
                    pollfd writable{FPty.Master(), POLLOUT, 0};
                    ::poll(&writable, 1, 10);
                }
            }
        }
    }
    TPtyPair& FPty;
    std::atomic<bool> FStop{false};
    std::atomic<std::uint64_t> FSent{0};
    std::thread FThread;
};

class EventsPty : public ::testing::Test {
protected:
    EventsPty() { Port.SetPort(Pty.SlavePath()); }

    TPtyPair Pty;
    TComPort Port{nullptr};
};

TEST_F(EventsPty, RxCharDeliversEveryByteInOrderWhileTheDeviceFloods) {
    const double seconds = std::getenv("QUENDAL_FLOOD_SECONDS")
                               ? std::atof(std::getenv("QUENDAL_FLOOD_SECONDS"))
                               : 10.0;
    std::uint64_t received = 0;
    std::uint64_t wrong = 0;
    std::string chunk;
    Port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
        EXPECT_TRUE(TMainThread::IsCurrent());
        Port.ReadStr(chunk, ACount);
        for (char c : chunk)
            wrong += c != TFlood::ByteAt(received++) ? 1 : 0;
    });
    Port.Open();
    TFlood flood(Pty);
    test::ServeUntil([] { return false; },
                     std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    flood.Stop();
    ASSERT_TRUE(test::ServeUntil([&] { return received == flood.Sent(); }, 10s))
        << received << " of " << flood.Sent() << " bytes arrived";
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(received, 0u);
}

TEST_F(EventsPty, RxBufHandsOverAllBytesWhenThePortReads) {
    Port.SetTriggersOnRxChar(false);
    std::string received;
    Port.SetOnRxBuf([&](TObject*, const char* ABuffer, std::int32_t ACount) {
        received.append(ABuffer, static_cast<std::size_t>(ACount));
    });
    Port.Open();
    ASSERT_TRUE(Pty.WriteAll("reading 1\r\n"));
    ASSERT_TRUE(test::ServeUntil([&] { return received.size() == 11; }));
    EXPECT_EQ(received, "reading 1\r\n");
}

TEST_F(EventsPty, TxEmptyFollowsAWrite) {
    std::atomic<int> empties{0};
    Port.SetOnTxEmpty([&](TObject*) { ++empties; });
    Port.Open();
    Port.WriteStr("\r\n");
    EXPECT_TRUE(test::ServeUntil([&] { return empties > 0; }));
    EXPECT_EQ(Pty.ReadExactly(2), "\r\n");
}

TEST_F(EventsPty, AReplyThatTheTerminalTakesSlowlyEndsInTxEmptyWithoutMoreInput) {
    // More than the terminal holds: the write still runs after the handler, and only a wait
    // that watches for room as well as for input sees it through, since no more input comes.
    const std::string reply(1 << 18, 'r');
    std::atomic<int> empties{0};
    PCPortAsync record = nullptr;
    EnsureAsync(record);
    Port.SetOnTxEmpty([&](TObject*) { ++empties; });
    Port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
        std::string request;
        Port.ReadStr(request, ACount);
        Port.WriteStrAsync(reply, record);
    });
    Port.Open();
    std::string taken;
    std::thread reader([&] { taken = Pty.ReadExactly(reply.size(), 10s); });
    ASSERT_TRUE(Pty.WriteAll("?"));
    EXPECT_TRUE(test::ServeUntil([&] { return empties > 0; }));
    reader.join();
    EXPECT_EQ(taken.size(), reply.size());
    Port.Close();
    FreeAsync(record);
}

TEST_F(EventsPty, InputThatAnotherThreadTookFromTheDeviceStillBringsRxChar) {
    std::string received;
    Port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
        std::string chunk;
        Port.ReadStr(chunk, ACount);
        received += chunk;
    });
    Port.Open();
    // After a first delivery the wait is armed again and watched.
    ASSERT_TRUE(Pty.WriteAll("1\r\n"));
    ASSERT_TRUE(test::ServeUntil([&] { return received.size() >= 3; }));
    ASSERT_TRUE(Pty.WriteAll("pumped\r\n"));
    // Off the terminal before the GUI thread looks: its descriptor stays quiet, and only the
    // wait's wake-up can tell the GUI thread's watch.
    std::thread([&] {
        const auto until = Clock::now() + 5s;
        while (Port.InputCount() < 8 && Clock::now() < until)
            std::this_thread::yield();
    }).join();
    ASSERT_TRUE(test::ServeUntil([&] { return received.size() >= 11; }));
    EXPECT_EQ(received, "1\r\npumped\r\n");
}

TEST_F(EventsPty, CloseDiscardsUnreadInputAndUnsentOutput) {
    Port.FlowControl().SetXonXoffOut(true);
    Port.Open();
    ASSERT_TRUE(Pty.WriteAll("unread"));
    ASSERT_TRUE(test::ServeUntil([&] { return Port.InputCount() == 6; }));
    // The device says XOFF: what the port writes now stays queued in it.
    ASSERT_TRUE(Pty.WriteAll("\x13"));
    PCPortAsync record = nullptr;
    EnsureAsync(record);
    ASSERT_TRUE(test::ServeUntil([&] {
        // Until the XOFF has arrived, a write goes out; the device reads and forgets it.
        Pty.ReadAvailable();
        if (Port.IsAsyncCompleted(record)) Port.WriteStrAsync("unsent", record);
        return Port.OutputCount() > 0;
    }));
    Port.Close();
    FreeAsync(record);
    Port.Open();
    EXPECT_EQ(Port.InputCount(), 0) << "input was discarded";
    ASSERT_TRUE(Pty.WriteAll("\x11"));
    EXPECT_EQ(Pty.ReadExactly(6, 300ms), "") << "output was discarded";
}

TEST_F(EventsPty, ManyOpenCloseCyclesWhileTheDeviceFloodsLeaveNothingBehind) {
    // A first port reads once: the driver keeps a few descriptors for the process and for
    // each thread that waits in it, which must not count.
    std::string chunk;
    Port.Open();
    Port.ReadStr(chunk, 1);
    Port.Close();
    const std::size_t descriptors = OpenDescriptors();
    {
        TComPort port(nullptr);
        port.SetPort(Pty.SlavePath());
        for (TSyncMethod method : {smThreadSync, smWindowSync}) {
            SCOPED_TRACE(static_cast<int>(method));
            port.SetSyncMethod(method);
            std::uint64_t handled = 0;
            port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
                port.ReadStr(chunk, ACount);
                handled += chunk.size();
            });
            TFlood flood(Pty);
            port.Open();
            ASSERT_TRUE(test::ServeUntil([&] { return handled > 0; })) << "the flood arrives";
            port.Close();
            for (int i = 0; i < 500; ++i) {
                port.Open();
                // The GUI thread is busy with other things half of the time, so some closes
                // meet a hand-over that waits for it.
                if (i % 2 == 0) TMainThread::ProcessMessages();
                port.Close();
            }
            flood.Stop();
        }
    }
    TMainThread::ProcessMessages();
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the port's threads, events and records are gone";
}

// With a watcher of the GUI thread's event loop, handlers that run on the GUI thread need no
// event thread in between; a port whose handlers run elsewhere keeps its thread.
TEST_F(EventsPty, WithAWaitWatcherOnlyHandlersOffTheGuiThreadHaveAThread) {
    const TMainThread::TWaitWatcher previous = TMainThread::SetWaitWatcher(nullptr);
    ASSERT_TRUE(test::InstallTestWatcher());
    // A thread sanitizer starts a thread of its own with the first thread made: not counted.
    std::thread([] {}).join();
    const std::size_t threads = Threads();
    std::mutex lock; // smNone's handler runs on the event thread
    std::string received;
    const auto got = [&] {
        std::lock_guard guard(lock);
        return received;
    };
    for (const TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
        SCOPED_TRACE(method);
        Port.SetSyncMethod(method);
        Port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
            EXPECT_EQ(TMainThread::IsCurrent(), method != smNone);
            std::string chunk;
            Port.ReadStr(chunk, ACount);
            std::lock_guard guard(lock);
            received += chunk;
        });
        received.clear();
        Port.Open();
        EXPECT_EQ(Threads(), threads + (method == smNone ? 1 : 0));
        ASSERT_TRUE(Pty.WriteAll("one hop\r\n"));
        EXPECT_TRUE(test::ServeUntil([&] { return got().size() == 9; }));
        Port.Close();
    }
    EXPECT_EQ(got(), "one hop\r\n");
    TMainThread::SetWaitWatcher(previous);
}

// A handler closes its port: the delivery ends there, the port opens again and delivers anew.
TEST_F(EventsPty, AHandlerMayCloseItsPortWithEverySyncMethod) {
    for (const TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
        SCOPED_TRACE(method);
        Port.SetSyncMethod(method);
        std::atomic<int> calls{0};
        Port.SetOnRxChar([&](TObject*, std::int32_t) {
            ++calls;
            Port.Close();
        });
        std::atomic<int> afterCloses{0};
        Port.SetOnAfterClose([&](TObject*) { ++afterCloses; });
        for (int round = 1; round <= 3; ++round) {
            Port.Open();
            ASSERT_TRUE(Pty.WriteAll("x"));
            ASSERT_TRUE(test::ServeUntil([&] { return afterCloses == round; }));
            EXPECT_EQ(calls, round);
            EXPECT_FALSE(Port.Connected());
        }
        Port.SetOnAfterClose(nullptr);
    }
}

// The device goes away while the port only waits: with every sync method the port closes
// itself on the GUI thread, already gone for its close handlers, and says so once.
TEST_F(EventsPty, AHangUpClosesThePortAndIsReportedOnceWithEverySyncMethod) {
    test::TReportRecorder reports;
    for (const TSyncMethod method : {smThreadSync, smWindowSync, smNone, smDisableEvents}) {
        SCOPED_TRACE(method);
        TPtyPair pty;
        TComPort port(nullptr);
        port.SetPort(pty.SlavePath());
        port.SetSyncMethod(method);
        std::vector<std::string> heard;
        auto note = [&](const std::string& AWhat) {
            return [&, AWhat](TObject*) {
                heard.push_back(AWhat + (port.DeviceGone() ? " gone" : "") +
                                (TMainThread::IsCurrent() ? "" : " off the GUI thread"));
            };
        };
        port.SetOnBeforeClose(note("before"));
        port.SetOnAfterClose(note("after"));
        port.Open();
        const std::size_t before = reports.Count();
        pty.CloseMaster();
        ASSERT_TRUE(test::ServeUntil([&] { return reports.Count() > before; }));
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(heard, (std::vector<std::string>{"before gone", "after gone"}));
        try {
            std::rethrow_exception(reports.Last());
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), cpeReadFile);
            EXPECT_EQ(e.WinCode(), EIO);
            EXPECT_EQ(e.Reason(), "the device has gone away (Input/output error)");
        }
        // Close waited for the thread that saw it: nothing else can come.
        TMainThread::ProcessMessages();
        EXPECT_EQ(reports.Count(), before + 1);
        TPtyPair next;
        port.SetPort(next.SlavePath());
        port.Open();
        EXPECT_FALSE(port.DeviceGone());
        port.Close();
        EXPECT_FALSE(port.DeviceGone()) << "the owner's close";
    }
}

TEST_F(EventsPty, AHangUpThatATransferRaisedFirstIsNotReportedAgain) {
    test::TReportRecorder reports;
    Port.Open();
    Pty.CloseMaster();
    // On a thread of the program's own, which must not touch the GUI thread's watch.
    std::thread([&] { EXPECT_THROW(Port.WriteStr("\r\n"), EComPort); }).join();
    ASSERT_TRUE(test::ServeUntil([&] { return !Port.Connected(); }));
    EXPECT_TRUE(Port.DeviceGone());
    EXPECT_EQ(reports.Count(), 0u);
}

// The simulated device is pulled and plugged in again: the port closes itself, and the device
// is found again by its identity under its new name.
TEST(SimulatedDevice, ComesBackUnderItsIdentityAfterAHangUp) {
    char folder[] = "/tmp/cport-hangup-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    ::setenv("CPORT_REGISTRY_DIR", folder, 1); // the simulator's port list and ours
    {
        test::TReportRecorder reports;
        test::TSimulatorProcess device(
            {"--name", "RQ-71 on the bench", "--hang-up-every", "1", "--down-for", "0.2"});
        EXPECT_EQ(ComPortIdentity(device.Path()), "RQ-71 on the bench");
        TComPort port(nullptr);
        port.SetPort(device.Path());
        port.Open();
        std::string line;
        ASSERT_TRUE(device.NextLine(line, 10s));
        EXPECT_EQ(line, "hung up");
        ASSERT_TRUE(test::ServeUntil([&] { return port.DeviceGone(); }));
        ASSERT_TRUE(device.NextLine(line, 10s));
        EXPECT_EQ(FindComPortByIdentity("RQ-71 on the bench"), line);
        port.SetPort(line);
        port.Open();
        EXPECT_TRUE(port.Connected());
        port.Close();
    }
    ::unsetenv("CPORT_REGISTRY_DIR");
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace cport
