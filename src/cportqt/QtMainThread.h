// The Qt side of the component's GUI hand-over: connects TMainThread to Qt's event loop, shows
// the application's exception report in a message box and installs the setup dialog.
#pragma once

#include "Component.h"
#include "ReportText.h"

#include <exception>
#include <string>

namespace cport {

// Call once, on the GUI thread, after the QApplication exists. Makes that thread the component's
// GUI thread, lets a call queued for it wake the event loop (so thread sync and window sync
// deliver events in any event loop, modal dialogs and message boxes included), lets the event
// loop watch the device waits of ports opened on that thread (socket notifiers and a timer, so
// their handlers run one thread hop from the device, without an event thread), installs
// QtExceptionReport as the application's exception report and RunSetupDialog as the ports'
// setup dialog. Calling it again has no further effect. Raises std::logic_error on another
// thread or without a QApplication.
void InstallQtMainThreadAndSetupDialog();

// The application's exception report for Qt programs: a plain message box with the exception's
// message and an OK button, shown on the GUI thread (from another thread the report is handed
// to the GUI thread and shown there later).
void QtExceptionReport(std::exception_ptr AError, TObject* ASender);

} // namespace cport
