#include "CPortErrors.h"

#include "OsTypes.h"

#include <array>

namespace cport {

namespace {
constexpr std::array<const char*, 23> ErrorTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

const std::string MessagePrefix = "COM Port Error: ";
} // namespace

std::string ComErrorText(std::int32_t ACode) {
    if (ACode >= 1 && ACode <= static_cast<std::int32_t>(ErrorTexts.size()))
        return ErrorTexts[static_cast<std::size_t>(ACode - 1)];
    return "Unknown Error #" + std::to_string(ACode);
}

EComPort::EComPort(std::int32_t ACode, std::int32_t AWinCode, const std::string& APort,
                   std::string AReason)
    : std::runtime_error(std::string())
    , FWinCode(AWinCode)
    , FCode(ACode)
    , FMessage(MessagePrefix + ComErrorText(ACode) + " on " + APort)
    , FReason(std::move(AReason)) {}

EComPort::EComPort(std::int32_t ACode)
    : std::runtime_error(std::string())
    , FWinCode(-1)
    , FCode(ACode)
    , FMessage(MessagePrefix + ComErrorText(ACode)) {}

EComPort EComPort::CreateNoWinCode(std::int32_t ACode) {
    return EComPort(ACode);
}

std::string EComPort::Reason() const {
    if (FWinCode == -1 || FWinCode == 0) return {};
    if (!FReason.empty()) return FReason;
    return OsErrorText(static_cast<TOsError>(FWinCode));
}

} // namespace cport
