#include "QtMainThread.h"

#include "CPort.h"
#include "CPortSetup.h"
#include "MainThread.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>

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
