#include "QtTestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QTest>

namespace cport::test {

bool WaitFor(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    // Wakes the loop below for conditions that another thread changes without an event; the
    // loop sleeps in between, so a waiting test costs no CPU (some tests measure that).
    QTimer tick;
    tick.start(5);
    for (;;) {
        if (APredicate()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

TModalDriver::TModalDriver(TStep AStep, std::chrono::milliseconds ATimeout)
    : FStep(std::move(AStep))
    , FDeadline(std::chrono::steady_clock::now() + ATimeout) {
    FTimer.setInterval(5);
    connect(&FTimer, &QTimer::timeout, this, &TModalDriver::Tick);
    FTimer.start();
}

void TModalDriver::Tick() {
    QWidget* modal = QApplication::activeModalWidget();
    if (std::chrono::steady_clock::now() >= FDeadline) {
        FTimer.stop();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(0);
        else if (modal != nullptr)
            modal->close();
        return;
    }
    if (modal == nullptr) return;
    FSeen = true;
    if (FStep(modal)) {
        FDone = true;
        FTimer.stop();
    }
}

TModalDriver::TStep Once(std::function<void(QWidget* AModal)> AAction) {
    return [AAction = std::move(AAction)](QWidget* AModal) {
        AAction(AModal);
        return true;
    };
}

TModalDriver::TStep OnceActive(std::function<void(QWidget* AModal)> AAction) {
    return [AAction = std::move(AAction)](QWidget* AModal) {
        if (QApplication::activeWindow() != AModal || AModal->focusWidget() == nullptr)
            return false;
        AAction(AModal);
        return true;
    };
}

bool PickEntry(QComboBox& ACombo, const QString& AText) {
    const int index = ACombo.findText(AText, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) return false;
    ACombo.showPopup();
    QAbstractItemView* view = ACombo.view();
    // Where the mouse would hover before the click.
    view->setCurrentIndex(
        view->model()->index(index, ACombo.modelColumn(), ACombo.rootModelIndex()));
    QTest::keyClick(view, Qt::Key_Return);
    return true;
}

} // namespace cport::test
