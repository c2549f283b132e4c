#include "Connection.h"

#include "CPortList.h"

#include <sys/stat.h>

namespace quendal {

using namespace cport;

namespace {

std::string ShortName(const std::string& APort) {
    const std::size_t slash = APort.rfind('/');
    return slash == std::string::npos ? APort : APort.substr(slash + 1);
}

} // namespace

TConnection::TDevices TConnection::SystemDevices() {
    TDevices devices;
    devices.IdentityOf = [](const std::string& APort) { return ComPortIdentity(APort); };
    devices.FindByIdentity = [](const std::string& AIdentity) {
        return FindComPortByIdentity(AIdentity);
    };
    devices.Present = [](const std::string& APort) {
        for (const TComPortInfo& info : ListComPortInfo())
            if (info.Name == APort) return true;
        struct stat status {};
        return APort.find('/') != std::string::npos && ::stat(APort.c_str(), &status) == 0;
    };
    return devices;
}

TConnection::TConnection(TCustomComPort& APort, TDevices ADevices)
    : FPort(APort)
    , FDevices(std::move(ADevices)) {}

void TConnection::Changed() {
    if (FOnChanged) FOnChanged();
}

std::string TConnection::StatusText() const {
    switch (FState) {
    case TState::Closed:
        return "closed";
    case TState::Reconnecting:
        return "device gone, reconnecting";
    case TState::Open:
        break;
    }
    static constexpr char Parity[] = {'N', 'O', 'E', 'M', 'S'};
    const std::int64_t rate = FPort.BaudRate() == brCustom
                                  ? std::int64_t{FPort.CustomBaudRate()}
                                  : std::int64_t{BaudRateToValue(FPort.BaudRate())};
    return ShortName(FPort.Port()) + " " + std::to_string(rate) + " " +
           DataBitsToText(FPort.DataBits()) + Parity[FPort.Parity().Bits()] +
           StopBitsToText(FPort.StopBits());
}

void TConnection::Toggle() {
    if (FState == TState::Reconnecting) {
        FState = TState::Closed;
        Changed();
        return;
    }
    if (!FPort.Connected()) {
        FPort.Open();
        return;
    }
    FClosing = true;
    if (FOnPoll) FOnPoll(false);
    try {
        FPort.Close();
    } catch (...) {
        FClosing = false;
        throw;
    }
    FClosing = false;
}

void TConnection::AfterOpen() {
    const bool reconnected = FState == TState::Reconnecting;
    FState = TState::Open;
    FOpenedName = FPort.Port();
    FIdentity = FDevices.IdentityOf ? FDevices.IdentityOf(FOpenedName) : std::string();
    if (reconnected && FOnReconnected) FOnReconnected();
    if (FPollAgain) {
        FPollAgain = false;
        if (FOnPoll) FOnPoll(true);
    }
    Changed();
}

void TConnection::AfterClose(bool APollTicked) {
    if (!FClosing && FState == TState::Open && FPort.DeviceGone()) {
        FState = TState::Reconnecting;
        FPollAgain = APollTicked;
        if (APollTicked && FOnPoll) FOnPoll(false);
    } else {
        FState = TState::Closed;
        FPollAgain = false;
    }
    Changed();
}

void TConnection::Tick() {
    if (FState != TState::Reconnecting) return;
    std::string name;
    if (!FIdentity.empty()) {
        if (FDevices.FindByIdentity) name = FDevices.FindByIdentity(FIdentity);
    } else if (FDevices.Present && FDevices.Present(FOpenedName)) {
        name = FOpenedName;
    }
    if (name.empty()) return;
    try {
        if (FPort.Port() != name) FPort.SetPort(name);
        FPort.Open();
    } catch (...) {
        // Not yet: a device that is back may still be settling, or another program has it.
        // The hang-up was reported once; the next second tries again.
    }
}

} // namespace quendal
