#include "QtMainThread.h"

#include "CPort.h"
#include "CPortSetup.h"
#include "MainThread.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace cport {

namespace {

QEvent::Type ServeEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Shared by the wake-up, which runs on any thread, and the object that serves the queue on the
// GUI thread: a wake-up racing with the end of the QApplication must not post to a freed object.
struct TWakeTarget {
    std::mutex Lock;
    QObject* Receiver = nullptr; // guarded by Lock
    // One posted event serves every call queued before it runs, so wake-ups coalesce: a burst
    // of hand-overs costs one event, not one each.
    std::atomic<bool> Posted{false};
};

void Wake(TWakeTarget& ATarget) {
    if (ATarget.Posted.exchange(true)) return;
    std::lock_guard lock(ATarget.Lock);
    if (ATarget.Receiver != nullptr)
        QCoreApplication::postEvent(ATarget.Receiver, new QEvent(ServeEventType()));
}

// Lives on the GUI thread as a child of the application object and serves the component's
// queue whenever its event arrives. Posted events are delivered by every event loop, nested
// ones included, so modal dialogs do not hold up a hand-over.
class TQueueServer : public QObject {
public:
    explicit TQueueServer(std::shared_ptr<TWakeTarget> ATarget)
        : QObject(QCoreApplication::instance())
        , FTarget(std::move(ATarget)) {
        std::lock_guard lock(FTarget->Lock);
        FTarget->Receiver = this;
    }
    ~TQueueServer() override {
        TMainThread::SetWakeUp(nullptr);
        TMainThread::SetWaitWatcher(nullptr);
        std::lock_guard lock(FTarget->Lock);
        FTarget->Receiver = nullptr;
    }
    TQueueServer(const TQueueServer&) = delete;
    TQueueServer& operator=(const TQueueServer&) = delete;

protected:
    bool event(QEvent* AEvent) override {
        if (AEvent->type() != ServeEventType()) return QObject::event(AEvent);
        // Cleared before serving: a call queued while the queue is served posts a new event
        // rather than waiting for one that has already run.
        FTarget->Posted = false;
        TMainThread::ProcessMessages();
        return true;
    }

private:
    std::shared_ptr<TWakeTarget> FTarget;
};

// A wait watched by Qt's event loop: a socket notifier per descriptor and readiness, kept
// from one watch to the next (a port's wait watches the same few descriptors every time), and
// a timer for the deadline. Whatever fires first ends the watch.
class TQtWaitWatch final : public TWaitWatch {
public:
    explicit TQtWaitWatch(std::function<void()> AFired)
        : FFired(std::move(AFired))
        , FTimer(new QTimer(QCoreApplication::instance())) {
        FTimer->setSingleShot(true);
        FTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(FTimer, &QTimer::timeout, &FContext, [this] { Fire(-1, 0); });
    }
    ~TQtWaitWatch() override {
        Disarm();
        // Inside a callback the one that fired may be handling its event (a notifier) or
        // emitting its signal (the timer) now, and another thread must leave them to theirs:
        // deleted later then.
        // Otherwise at once, since a later deletion asked for outside any event loop waits for
        // one at that level, and until then every turn of the loops within looks at it again.
        const auto remove = [](QObject* AObject) {
            if (Firing > 0 || AObject->thread() != QThread::currentThread())
                AObject->deleteLater();
            else
                delete AObject;
        };
        for (const TNotifier& notifier : FNotifiers) {
            notifier.Notifier->Owner = nullptr;
            remove(notifier.Notifier);
        }
        remove(FTimer);
    }
    TQtWaitWatch(const TQtWaitWatch&) = delete;
    TQtWaitWatch& operator=(const TQtWaitWatch&) = delete;

    void Watch(TWatchSet& AWatch) override {
        FWatch = &AWatch;
        for (TNotifier& notifier : FNotifiers)
            notifier.Wanted = false;
        for (TWatchFd& fd : AWatch.Fds) {
            fd.Seen = 0;
            for (const std::uint8_t kind : {WatchFor::Read, WatchFor::Write})
                if ((fd.Wanted & kind) != 0) Find(fd.Fd, kind).Wanted = true;
        }
        for (TNotifier& notifier : FNotifiers)
            if (notifier.Notifier->isEnabled() != notifier.Wanted)
                notifier.Notifier->setEnabled(notifier.Wanted);
        if (FPoked) {
            FTimer->start(0);
        } else if (AWatch.Deadline == TWatchSet::TClock::time_point::max()) {
            FTimer->stop();
        } else {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                AWatch.Deadline - TWatchSet::TClock::now());
            FTimer->start(static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 1 << 30)));
        }
    }

    void Poke() override {
        FPoked = true;
        // Pending calls for FContext go with it: the wait that pokes is gone before this.
        QMetaObject::invokeMethod(
            &FContext,
            [this] {
                if (FWatch != nullptr && FPoked) Fire(-1, 0);
            },
            Qt::QueuedConnection);
    }

private:
    // Calls its watch straight from its event: the activated signals, which nobody else
    // listens to, would cost two signal emissions per delivery.
    class TFdNotifier final : public QSocketNotifier {
    public:
        TFdNotifier(TQtWaitWatch* AOwner, int AFd, std::uint8_t AKind)
            : QSocketNotifier(AFd, AKind == WatchFor::Read ? Read : Write,
                              QCoreApplication::instance())
            , Owner(AOwner)
            , FFd(AFd)
            , FKind(AKind) {}

        // Cleared when the watch goes; the notifier may outlive it a little (deleteLater).
        std::atomic<TQtWaitWatch*> Owner;

    protected:
        bool event(QEvent* AEvent) override {
            if (AEvent->type() != QEvent::SockAct && AEvent->type() != QEvent::SockClose)
                return QSocketNotifier::event(AEvent);
            if (TQtWaitWatch* owner = Owner.load(std::memory_order_acquire))
                owner->Fire(FFd, FKind);
            return true;
        }

    private:
        const int FFd;
        const std::uint8_t FKind;
    };

    struct TNotifier {
        int Fd;
        std::uint8_t Kind;
        TFdNotifier* Notifier;
        bool Wanted;
    };

    TNotifier& Find(int AFd, std::uint8_t AKind) {
        for (TNotifier& notifier : FNotifiers)
            if (notifier.Fd == AFd && notifier.Kind == AKind) return notifier;
        auto* notifier = new TFdNotifier(this, AFd, AKind);
        notifier->setEnabled(false);
        FNotifiers.push_back({AFd, AKind, notifier, false});
        return FNotifiers.back();
    }

    void Disarm() {
        for (const TNotifier& notifier : FNotifiers)
            if (notifier.Notifier->isEnabled()) notifier.Notifier->setEnabled(false);
        FTimer->stop();
    }

    void Fire(int AFd, std::uint8_t AKind) {
        if (FWatch == nullptr) {
            // Left enabled when the watch fired, since the next watch mostly wants the same
            // descriptors again; one that fires in between (a nested event loop of a handler)
            // is turned off now.
            Disarm();
            return;
        }
        for (TWatchFd& fd : FWatch->Fds)
            if (fd.Fd == AFd) fd.Seen |= AKind;
        FWatch = nullptr;
        FPoked = false;
        FTimer->stop();
        // This object may be gone when the callback returns (a handler closed the port).
        ++Firing;
        FFired();
        --Firing;
    }

    // Callbacks of watches running on the GUI thread now.
    static inline int Firing = 0;

    std::function<void()> FFired;
    // The receiver of the timer's signal and of pokes: the timer outlives this object a
    // little (deleteLater), its connection does not.
    QObject FContext;
    QTimer* FTimer;
    std::vector<TNotifier> FNotifiers;
    TWatchSet* FWatch = nullptr;
    std::atomic<bool> FPoked{false};
};

QPointer<TQueueServer>& Server() {
    static QPointer<TQueueServer> server;
    return server;
}

} // namespace

void InstallQtMainThreadAndSetupDialog() {
    QCoreApplication* app = QCoreApplication::instance();
    if (qobject_cast<QApplication*>(app) == nullptr)
        throw std::logic_error("InstallQtMainThreadAndSetupDialog needs a QApplication");
    if (QThread::currentThread() != app->thread())
        throw std::logic_error("InstallQtMainThreadAndSetupDialog must run on the GUI thread");
    if (!Server().isNull()) return;

    TMainThread::SetId(std::this_thread::get_id());
    auto target = std::make_shared<TWakeTarget>();
    Server() = new TQueueServer(target);
    TMainThread::SetWakeUp([target] { Wake(*target); });
    TMainThread::SetWaitWatcher([](std::function<void()> AFired) -> std::unique_ptr<TWaitWatch> {
        return std::make_unique<TQtWaitWatch>(std::move(AFired));
    });
    TMainThread::SetExceptionReport(QtExceptionReport);
    SetSetupDialog(RunSetupDialog);
    // Calls queued before the wake-up existed are served as soon as the event loop runs.
    Wake(*target);
}

void QtExceptionReport(std::exception_ptr AError, TObject* /*ASender*/) {
    if (!TMainThread::IsCurrent()) {
        // Only the GUI thread may show a window.
        TMainThread::QueueException(AError);
        return;
    }
    const std::string message = ReportText(AError);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return;
    }
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    QString::fromStdString(message), QMessageBox::Ok, QApplication::activeWindow());
    // A message is text, never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace cport
