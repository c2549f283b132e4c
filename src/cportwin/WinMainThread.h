// The Windows side of the component's GUI hand-over: connects TMainThread to the thread's
// message queue, shows the application's exception report in a message box and installs the
// setup dialog.
#pragma once

#include "Component.h"
#include "ReportText.h"

#include <exception>

namespace cport {

// Call once, on the GUI thread. Makes that thread the component's GUI thread and lets a call
// queued for it post a message to a hidden window whose procedure serves the queue: every
// message loop dispatches it, the ones of dialogs and message boxes included, so thread sync
// and window sync deliver events while they run. Ports opened on that thread with either sync
// method then need no event thread: the system's wait threads watch their event waits and post
// to the same window. Installs WinExceptionReport as the application's exception report and
// RunSetupDialog as the ports' setup dialog. Calling it again has no further effect. Raises
// std::system_error when the window cannot be made.
void InstallWinMainThread();
// Undoes InstallWinMainThread (for tests): the wake-up and the hidden window go; queued calls
// wait until someone serves the queue.
void UninstallWinMainThread();

// The application's exception report for Windows programs: a message box with the exception's
// message (ReportText) and an OK button, owned by the active window, shown on the GUI thread
// (from another thread the report is handed to the GUI thread and shown there later).
void WinExceptionReport(std::exception_ptr AError, TObject* ASender);

} // namespace cport
