// How the user left the logger's window: shown with time stamps or in hex, the chart open,
// where the window was and how large. Kept in the settings store beside the port's settings,
// below the key "Software\Tessivo\Quendal\View", and written by Quit with the rest.
#pragma once

#include <cstdint>

namespace quendal {

struct TViewSettings {
    static constexpr const char* Key = "Software\\Tessivo\\Quendal\\View";

    bool TimeStamps = false;
    bool HexView = false;
    bool Chart = false;
    // The window's place and size; a size of 0 means the window's own.
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;

    // Reads what is stored; what is missing or unreadable keeps its value here.
    void Load();
    // Writes everything; raises cport::EComPort code 16 when the store cannot be written.
    void Store() const;
};

} // namespace quendal
