#pragma once

#include "CPort.h"

namespace cport {

// Opens the port's update bracket and makes sure it is closed again, also when an error leaves:
// a bracket left open would keep every later setting from reaching the device. For the setup
// dialogs of both toolkits.
class TUpdateBracket {
public:
    explicit TUpdateBracket(TCustomComPort& APort)
        : FPort(APort) {
        FPort.BeginUpdate();
    }
    ~TUpdateBracket() {
        if (!FOpen) return;
        // Only reached while an error leaves; that error is the one to report, so a second
        // one from applying the settings here is dropped.
        try {
            FPort.EndUpdate();
        } catch (...) {
        }
    }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;

    // Closes the bracket; the port's errors in applying the settings pass out.
    void Close() {
        FOpen = false;
        FPort.EndUpdate();
    }

private:
    TCustomComPort& FPort;
    bool FOpen = true;
};

} // namespace cport
