// What the logger's window says to the user beyond its fixed messages, and the one decision
// about the Poll box that a failed write makes: the same in every program's view.
#pragma once

#include "CPort.h"
#include "LogTasks.h"
#include "System.h"

#include <string>

namespace quendal {

// The question at start after a restore of the unended journal AJournal read it: how much it
// holds, when its last data arrived (local time), and whether to restore it.
std::string RecoveryQuestion(const TFileInfo& AJournal, const TRestoreTask& ATask);
// One of the window's fixed messages, with the file and the system's reason below it.
std::string FailureText(const char* AMessage, const TLogTask& ATask);
// Whether the Poll box stays ticked after the poll's write failed with AError: it does when the
// device went away, since the port closes next and the poll comes back with the device; any
// other failure would fail every tick, so the poll stops and the error is shown once.
bool PollSurvivesWriteError(const cport::EComPort& AError);

} // namespace quendal
