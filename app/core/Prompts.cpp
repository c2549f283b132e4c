#include "Prompts.h"

#include "OsTypes.h"

#include <ctime>

namespace quendal {

namespace {

// Only the GUI thread asks, so std::localtime's shared result is safe here.
std::string LocalTime(std::time_t ATime) {
    const std::tm* local = std::localtime(&ATime);
    if (local == nullptr) return "?";
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local));
}

} // namespace

std::string RecoveryQuestion(const TFileInfo& AJournal, const TRestoreTask& ATask) {
    return "The last log was not ended cleanly (the program was killed or crashed, or the power "
           "failed). It holds " +
           std::to_string(ATask.Lines()) + " lines (" + std::to_string(ATask.Bytes()) +
           " bytes); its last data arrived on " + LocalTime(AJournal.Modified) +
           ".\n\nRestore it into the log pane?\n" + AJournal.Path;
}

std::string FailureText(const char* AMessage, const TLogTask& ATask) {
    return std::string(AMessage) + "\n" + ATask.ErrorPath() + ": " + ATask.Error().Text;
}

bool PollSurvivesWriteError(const cport::EComPort& AError) {
    return cport::IsDeviceGoneError(static_cast<cport::TOsError>(AError.WinCode()));
}

} // namespace quendal
