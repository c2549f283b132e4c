// The logger's connection to its device, without a toolkit: the user opens and closes it; when
// the device goes away without the user asking (an adapter pulled, a simulator that hung up),
// it is looked for once a second and reopened, by its stable identity where it has one (an
// adapter that comes back under another name is found) or else by its name, and polling goes
// on if it was on. The user's Open/Close ends the search. A one-line status says which it is.
#pragma once

#include "CPort.h"

#include <functional>
#include <string>

namespace quendal {

class TConnection {
public:
    enum class TState {
        Closed,
        Open,
        Reconnecting
    };

    // How devices are found again: the component's port list, unless a test says otherwise.
    struct TDevices {
        // The stable identity of a present port ("" when it has none).
        std::function<std::string(const std::string& APort)> IdentityOf;
        // The current name of the port with an identity ("" when it is absent).
        std::function<std::string(const std::string& AIdentity)> FindByIdentity;
        // Whether a port of that name is there.
        std::function<bool(const std::string& APort)> Present;
    };
    static TDevices SystemDevices();

    explicit TConnection(cport::TCustomComPort& APort, TDevices ADevices = SystemDevices());

    // Called whenever State() or StatusText() may have changed.
    void SetOnChanged(std::function<void()> AChanged) { FOnChanged = std::move(AChanged); }
    // Called to tick (true) or untick (false) the Poll box.
    void SetOnPoll(std::function<void(bool)> APoll) { FOnPoll = std::move(APoll); }
    // Called when the device came back and is open again.
    void SetOnReconnected(std::function<void()> AReconnected) {
        FOnReconnected = std::move(AReconnected);
    }

    TState State() const { return FState; }
    // "closed", the port and its line settings ("ttyUSB0 9600 8N1"), or "device gone,
    // reconnecting".
    std::string StatusText() const;

    // The Open/Close button: opens the port (raising what Open raises), closes it, or stops
    // looking for a device that went away.
    void Toggle();
    // The port's OnAfterOpen and OnAfterClose; APollTicked: the Poll box as the close found it.
    void AfterOpen();
    void AfterClose(bool APollTicked);
    // Once a second while State() is Reconnecting: looks for the device and reopens it.
    void Tick();
    // Tells the views that the port's settings changed (the status shows them).
    void SettingsChanged() { Changed(); }

private:
    void Changed();

    cport::TCustomComPort& FPort;
    TDevices FDevices;
    TState FState = TState::Closed;
    // What the last opening opened: looked for again after a hang-up.
    std::string FOpenedName;
    std::string FIdentity;
    bool FPollAgain = false;
    bool FClosing = false; // the user's Close is under way
    std::function<void()> FOnChanged;
    std::function<void(bool)> FOnPoll;
    std::function<void()> FOnReconnected;
};

} // namespace quendal
