// Long work on the log (saving, loading, restoring) while the window stays responsive: short
// work finishes at once; longer work shows a progress dialog with Cancel after about 200 ms,
// and the window goes on repainting and logging meanwhile.
#pragma once

#include "LogTasks.h"

#include <QString>

#include <functional>

class QWidget;

namespace quendal {

// Runs AFinished on the GUI thread once ATask is done (cancelled or not). ATask must live until
// then; a parent that goes away first takes the dialog with it, and AFinished is not called.
void RunWithProgress(QWidget* AParent, TLogTask& ATask, const QString& ALabel,
                     std::function<void()> AFinished);

} // namespace quendal
