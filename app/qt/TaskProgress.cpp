#include "TaskProgress.h"

#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTimer>

namespace quendal {

namespace {

using namespace std::chrono_literals;

// Work that ends within this time costs no dialog and no round through the event loop.
constexpr auto AtOnce = 20ms;
constexpr int DialogAfterMs = 200;
constexpr int CheckMs = 30;

class TProgressWatch : public QObject {
public:
    TProgressWatch(QWidget* AParent, TLogTask& ATask, QString ALabel,
                   std::function<void()> AFinished)
        : QObject(AParent)
        , FParent(AParent)
        , FTask(ATask)
        , FLabel(std::move(ALabel))
        , FFinished(std::move(AFinished)) {
        FClock.start();
        connect(&FTimer, &QTimer::timeout, this, [this] { Check(); });
        FTimer.start(CheckMs);
    }

private:
    void Check() {
        if (FTask.Done()) {
            FTimer.stop();
            delete FDialog;
            FDialog = nullptr;
            deleteLater();
            FFinished();
            return;
        }
        if (FDialog == nullptr && FClock.elapsed() >= DialogAfterMs) {
            FDialog = new QProgressDialog(FLabel, QStringLiteral("Cancel"), 0, 1000, FParent);
            FDialog->setWindowModality(Qt::WindowModal);
            FDialog->setMinimumDuration(0);
            FDialog->setAutoClose(false);
            FDialog->setAutoReset(false);
            connect(FDialog, &QProgressDialog::canceled, this, [this] { FTask.Cancel(); });
            FDialog->show();
        }
        if (FDialog != nullptr) {
            const std::uint64_t total = FTask.Total();
            if (total == 0) {
                FDialog->setRange(0, 0); // a source of unknown size
            } else {
                FDialog->setValue(
                    static_cast<int>(static_cast<double>(std::min(FTask.Progress(), total)) *
                                     1000.0 / static_cast<double>(total)));
            }
        }
    }

    QWidget* FParent;
    TLogTask& FTask;
    QString FLabel;
    std::function<void()> FFinished;
    QElapsedTimer FClock;
    QTimer FTimer;
    QProgressDialog* FDialog = nullptr;
};

} // namespace

void RunWithProgress(QWidget* AParent, TLogTask& ATask, const QString& ALabel,
                     std::function<void()> AFinished) {
    if (ATask.WaitFor(AtOnce)) {
        AFinished();
        return;
    }
    new TProgressWatch(AParent, ATask, ALabel, std::move(AFinished));
}

} // namespace quendal
