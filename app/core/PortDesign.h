// The logger's port as its window's form gives it, before the stored settings are read: both
// programs (the window and the recorder without a display) start from it.
#pragma once

#include "CPort.h"

namespace quendal {

// Where the logger loads the port's settings from at start and stores them on Quit.
inline constexpr const char* SettingsKey = "HKEY_CURRENT_USER\\Software\\Tessivo\\Quendal";

// Names the port "ComPort" and gives it the form's values: COM2 at 9600 8N1, NUL bytes
// discarded, every event, DTR on, no flow control. Call it while the port is being loaded.
void SetDesignValues(cport::TCustomComPort& APort);

} // namespace quendal
