// The log pane on Windows: a read-only multi-line edit control that shows the log's text. The
// log keeps its text in its journal, not in memory; the control holds the one copy that is
// shown, and takes only what was added since it last looked.
#pragma once

#include "Log.h"

#include <windows.h>

#include <cstdint>

namespace quendal {

class TLogPane {
public:
    TLogPane(HWND AParent, int AId, TLog& ALog, int ALeft, int ATop, int AWidth, int AHeight);
    HWND Handle() const { return FHandle; }
    // Shows what the log gained since the last call, or all of it anew when the log was
    // replaced (cleared, loaded, restored).
    void LogChanged();

private:
    void Append(std::uint64_t AFrom, std::uint64_t ATo);

    TLog& FLog;
    HWND FHandle;
    std::uint64_t FGeneration;
    std::uint64_t FShown = 0;
};

} // namespace quendal
