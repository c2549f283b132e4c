// Long work on the log (saving, loading, restoring) while the window stays responsive: short
// work finishes at once; longer work shows a progress window with Cancel after about 200 ms,
// which keeps the owner disabled, and the owner goes on repainting and logging meanwhile.
#pragma once

#include "LogTasks.h"

#include <windows.h>

#include <functional>
#include <string>

namespace quendal {

// Runs AFinished on the GUI thread once ATask is done (cancelled or not). ATask must live until
// then.
void RunWithProgress(HWND AOwner, TLogTask& ATask, const std::wstring& ALabel,
                     std::function<void()> AFinished);

} // namespace quendal
