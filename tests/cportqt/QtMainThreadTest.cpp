// The Qt side of the hand-over: port events reach the GUI thread through Qt's event loop, also
// while a modal dialog or message box runs its own; the exception report is a message box; the
// ports' setup dialog is the Qt one.
#include "QtMainThread.h"

#include "CPortSetup.h"
#include "MainThread.h"
#include "Pattern.h"
#include "PortListFake.h"
#include "ProcessCounts.h"
#include "PtyPair.h"
#include "QtTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace cport {
namespace {

using test::Once;
using test::TModalDriver;
using namespace std::chrono_literals;
using test::WaitFor;

class QtMainThread : public ::testing::Test {
protected:
    // The Qt report shows message boxes, which only these tests drive: other tests get the
    // report back that they had.
    QtMainThread()
        : FPrevious(TMainThread::SetExceptionReport(QtExceptionReport)) {
        InstallQtMainThreadAndSetupDialog();
    }
    ~QtMainThread() override { TMainThread::SetExceptionReport(FPrevious); }

private:
    TMainThread::TExceptionReport FPrevious;
};

// What a port's OnRxChar saw.
struct TRxSeen {
    std::mutex Lock;
    int Calls = 0;
    std::int32_t Count = 0;
    bool OnGuiThread = false;
    bool InsideModal = false;

    int CallCount() {
        std::lock_guard lock(Lock);
        return Calls;
    }
};

class HandOver : public QtMainThread {
protected:
    HandOver() {
        Port.SetPort("COM4");
        Port.SetOnRxChar([this](TObject*, std::int32_t ACount) {
            std::lock_guard lock(Seen.Lock);
            ++Seen.Calls;
            Seen.Count = ACount;
            Seen.OnGuiThread = QThread::currentThread() == qApp->thread();
            Seen.InsideModal = QApplication::activeModalWidget() != nullptr;
        });
    }
    ~HandOver() override { Port.Close(); }

    void OpenPort(TSyncMethod ASyncMethod) {
        Port.SetSyncMethod(ASyncMethod);
        Port.Open();
        ASSERT_TRUE(Fake.WaitUntilCommWaitPending(5s));
    }

    // A driver step: once the modal window is up, the device receives three bytes; when the
    // handler has run, the window is closed with Enter (through its default button) or Escape.
    TModalDriver::TStep ReceiveThenClose(Qt::Key AKey) {
        return [this, AKey, sent = false](QWidget* AModal) mutable {
            if (!sent) {
                Fake.Receive("abc");
                Fake.SignalCommEvent(EvMask::RxChar);
                sent = true;
            }
            if (Seen.CallCount() == 0) return false;
            QTest::keyClick(AModal, AKey);
            return true;
        };
    }

    void ExpectDeliveredInsideTheModal() {
        std::lock_guard lock(Seen.Lock);
        EXPECT_EQ(Seen.Calls, 1);
        EXPECT_EQ(Seen.Count, 3);
        EXPECT_TRUE(Seen.OnGuiThread);
        EXPECT_TRUE(Seen.InsideModal);
    }

    test::TFakeComPlatform Fake;
    TScopedComPlatform Scope{Fake};
    TRxSeen Seen;
    TComPort Port{nullptr};
};

TEST_F(HandOver, ThreadSyncDeliversWhileAModalDialogRuns) {
    OpenPort(smThreadSync);
    QDialog dialog;
    TModalDriver driver(ReceiveThenClose(Qt::Key_Escape));
    dialog.exec();
    EXPECT_TRUE(driver.Done());
    ExpectDeliveredInsideTheModal();
}

TEST_F(HandOver, WindowSyncDeliversWhileAMessageBoxRuns) {
    OpenPort(smWindowSync);
    QMessageBox box(QMessageBox::Information, "Quendal", "Waiting", QMessageBox::Ok);
    TModalDriver driver(ReceiveThenClose(Qt::Key_Return));
    box.exec();
    EXPECT_TRUE(driver.Done());
    ExpectDeliveredInsideTheModal();
}

TEST_F(HandOver, ThreadSyncDeliversInTheMainEventLoopToo) {
    OpenPort(smThreadSync);
    Fake.Receive("abcd");
    Fake.SignalCommEvent(EvMask::RxChar);
    ASSERT_TRUE(WaitFor([&] { return Seen.CallCount() == 1; }));
    std::lock_guard lock(Seen.Lock);
    EXPECT_EQ(Seen.Count, 4);
    EXPECT_TRUE(Seen.OnGuiThread);
}

// Qt's event loop watches a real device's wait itself: no event thread, delivery inside a
// modal dialog's loop too, and a device that floods leaves the loop free for the rest of the
// program (a timer keeps ticking), with every byte delivered in order.
TEST_F(QtMainThread, OneHopDeliversInModalLoopsAndAFloodingDeviceLeavesTheLoopFree) {
    TPtyPair pty;
    TComPort port(nullptr);
    port.SetPort(pty.SlavePath());
    std::string received;
    bool onGuiThread = true;
    port.SetOnRxChar([&](TObject*, std::int32_t ACount) {
        std::string chunk;
        port.ReadStr(chunk, ACount);
        received += chunk;
        onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
    });
    const std::size_t threads = test::Threads();
    port.Open();
    EXPECT_EQ(test::Threads(), threads);

    QDialog dialog;
    TModalDriver driver([&, sent = false](QWidget* AModal) mutable {
        if (!sent) sent = pty.WriteAll("in the dialog");
        if (received.size() < 13) return false;
        QTest::keyClick(AModal, Qt::Key_Escape);
        return true;
    });
    dialog.exec();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(received, "in the dialog");

    // Input that another thread's call took off the terminal leaves the descriptor quiet: the
    // wait's wake-up reaches the watch through the event loop.
    received.clear();
    ASSERT_TRUE(pty.WriteAll("taken"));
    std::thread([&] {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (port.InputCount() < 5 && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }).join();
    EXPECT_TRUE(WaitFor([&] { return received == "taken"; }));

    received.clear();
    std::atomic<bool> stop{false};
    std::atomic<bool> stopped{false};
    std::atomic<std::size_t> sent{0};
    const std::string pattern = test::Pattern(1 << 16);
    std::thread flood([&] {
        while (!stop && pty.WriteAll(pattern))
            sent += pattern.size();
        stopped = true;
    });
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    EXPECT_TRUE(WaitFor([&] { return ticks >= 20 && received.size() > 4 * pattern.size(); }));
    stop = true;
    // The loop keeps reading meanwhile: the device's last write must not wait for it.
    EXPECT_TRUE(WaitFor([&] { return stopped && received.size() >= sent; }));
    flood.join();
    ASSERT_EQ(received.size(), sent.load());
    for (std::size_t at = 0; at < received.size(); at += pattern.size())
        ASSERT_EQ(received.compare(at, pattern.size(), pattern), 0) << "at " << at;
    EXPECT_TRUE(onGuiThread);

    // A handler that closes its port ends the watch from inside the watch's own callback.
    port.SetOnRxChar([&](TObject*, std::int32_t) { port.Close(); });
    ASSERT_TRUE(pty.WriteAll("x"));
    EXPECT_TRUE(WaitFor([&] { return !port.Connected(); }));
}

TEST_F(QtMainThread, CallsQueuedFromAnotherThreadAllRunInOrder) {
    constexpr int Count = 500;
    std::vector<int> order;
    std::atomic<bool> synchronized{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < Count; ++i)
            TMainThread::Queue([&order, i] { order.push_back(i); });
        // Waits for the GUI thread, which also runs everything queued before.
        TMainThread::Synchronize([&] { synchronized = order.size() == Count; });
        finished = true;
    });
    // Serves the GUI thread until the worker is through: joining as soon as the queued calls
    // have run would leave its Synchronize waiting on a GUI thread that waits for it.
    const bool done = WaitFor([&] { return finished.load(); });
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_TRUE(synchronized);
    for (int i = 0; i < Count; ++i)
        ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
}

TEST_F(QtMainThread, InstallingRefusesAnotherThread) {
    bool refused = false;
    std::thread([&] {
        try {
            InstallQtMainThreadAndSetupDialog();
        } catch (const std::logic_error&) {
            refused = true;
        }
    }).join();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(TMainThread::IsCurrent());
}

TEST_F(QtMainThread, ExceptionReportShowsTheMessageOnlyInAMessageBox) {
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    TModalDriver driver(Once([&](QWidget* AModal) {
        auto* box = qobject_cast<QMessageBox*>(AModal);
        ASSERT_NE(box, nullptr);
        text = box->text();
        format = box->textFormat();
        EXPECT_EQ(box->informativeText(), "");
        EXPECT_EQ(box->detailedText(), "");
        QTest::keyClick(box, Qt::Key_Return);
    }));
    TMainThread::ShowException(std::make_exception_ptr(std::runtime_error("Device <b>gone</b>")),
                               nullptr);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(text, "Device <b>gone</b>");
    EXPECT_EQ(format, Qt::PlainText);
}

TEST_F(QtMainThread, ExceptionReportFromAnotherThreadShowsOnTheGuiThread) {
    QString text;
    bool onGuiThread = false;
    TModalDriver driver(Once([&](QWidget* AModal) {
        auto* box = qobject_cast<QMessageBox*>(AModal);
        ASSERT_NE(box, nullptr);
        text = box->text();
        onGuiThread = QThread::currentThread() == qApp->thread();
        QTest::keyClick(box, Qt::Key_Return);
    }));
    std::thread([] {
        TMainThread::ShowException(
            std::make_exception_ptr(EComPort::CreateNoWinCode(cpePropertyWhileOpen)), nullptr);
    }).join();
    EXPECT_TRUE(WaitFor([&] { return driver.Done(); }));
    EXPECT_EQ(text, "COM Port Error: Cannot set property while connected");
    EXPECT_TRUE(onGuiThread);
}

TEST_F(QtMainThread, PortsRunTheQtSetupDialog) {
    test::TPortListFake fake;
    fake.SetPorts({"COM1"});
    TScopedComPlatform scope(fake);
    TComPort port(nullptr);
    bool isSetup = false;
    TModalDriver driver(Once([&](QWidget* AModal) {
        isSetup = qobject_cast<TComSetupFrm*>(AModal) != nullptr;
        QTest::keyClick(AModal, Qt::Key_Escape);
    }));
    port.ShowSetupDialog();
    EXPECT_TRUE(driver.Done());
    EXPECT_TRUE(isSetup);
}

} // namespace
} // namespace cport
