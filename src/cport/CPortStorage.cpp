#include "CPort_p.h"

#include <optional>
#include <string_view>

namespace cport {

namespace {

constexpr std::size_t IniValueRoom = 2048; // 2047 characters and the terminator

// The table of stored values is walked once for writing and once for reading, whatever the
// store; these adapt it to the two accessors.
class TSettingsWriter {
public:
    virtual ~TSettingsWriter() = default;
    virtual void Text(const std::string& AName, const std::string& AValue) = 0;
    virtual void Integer(const std::string& AName, std::int32_t AValue) = 0;
};

class TSettingsReader {
public:
    virtual ~TSettingsReader() = default;
    // ADefault is what the INI store gives for a missing line; the registry ignores it.
    virtual std::string Text(const std::string& AName, const std::string& ADefault) = 0;
    virtual std::int32_t Integer(const std::string& AName, std::int32_t ADefault) = 0;
};

class TRegistryWriter final : public TSettingsWriter {
public:
    explicit TRegistryWriter(TRegistryAccess& AAccess)
        : FAccess(AAccess) {}
    void Text(const std::string& AName, const std::string& AValue) override {
        FAccess.WriteString(AName, AValue);
    }
    void Integer(const std::string& AName, std::int32_t AValue) override {
        FAccess.WriteInteger(AName, AValue);
    }

private:
    TRegistryAccess& FAccess;
};

class TRegistryReader final : public TSettingsReader {
public:
    explicit TRegistryReader(TRegistryAccess& AAccess)
        : FAccess(AAccess) {}
    std::string Text(const std::string& AName, const std::string&) override {
        return FAccess.ReadString(AName);
    }
    std::int32_t Integer(const std::string& AName, std::int32_t) override {
        return FAccess.ReadInteger(AName);
    }

private:
    TRegistryAccess& FAccess;
};

class TIniWriter final : public TSettingsWriter {
public:
    TIniWriter(TIniAccess& AAccess, const std::string& ASection)
        : FAccess(AAccess)
        , FSection(ASection) {}
    void Text(const std::string& AName, const std::string& AValue) override {
        FAccess.WriteString(FSection, AName, AValue);
    }
    void Integer(const std::string& AName, std::int32_t AValue) override {
        FAccess.WriteInteger(FSection, AName, AValue);
    }

private:
    TIniAccess& FAccess;
    const std::string& FSection;
};

class TIniReader final : public TSettingsReader {
public:
    TIniReader(TIniAccess& AAccess, const std::string& ASection)
        : FAccess(AAccess)
        , FSection(ASection) {}
    std::string Text(const std::string& AName, const std::string& ADefault) override {
        return FAccess.ReadString(FSection, AName, ADefault);
    }
    std::int32_t Integer(const std::string& AName, std::int32_t ADefault) override {
        return FAccess.ReadInteger(FSection, AName, ADefault);
    }

private:
    TIniAccess& FAccess;
    const std::string& FSection;
};

// One stored value: its name, the group of StoredProps it belongs to, and how it is read from
// the port and applied to it. A value is text (the text forms of CPortTypes.h) or an integer.
struct TStoredValue {
    const char* Name;
    TStoredProp Group;
    std::string (*Text)(const TCustomComPort&) = nullptr;
    void (*SetText)(TCustomComPort&, const std::string&) = nullptr;
    std::int32_t (*Integer)(const TCustomComPort&) = nullptr;
    void (*SetInteger)(TCustomComPort&, std::int32_t) = nullptr;
    // Stored and loaded only while this holds (null: always).
    bool (*Applies)(const TCustomComPort&) = nullptr;
    // What a missing INI line gives; unset: the port's current value.
    std::optional<std::int32_t> MissingInteger = std::nullopt;
};

using TPort = TCustomComPort;

// Stored and loaded in this order. The custom rate follows the rate, whose loaded value decides
// whether it is read; it is neither written nor removed for a named rate, so an earlier custom
// rate stays in the store.
const TStoredValue StoredValues[] = {
    {.Name = "Port",
     .Group = spBasic,
     .Text = [](const TPort& P) { return P.Port(); },
     .SetText = [](TPort& P, const std::string& T) { P.SetPort(T); }},
    {.Name = "BaudRate",
     .Group = spBasic,
     .Text = [](const TPort& P) { return BaudRateToText(P.BaudRate()); },
     .SetText = [](TPort& P, const std::string& T) { P.SetBaudRate(TextToBaudRate(T)); }},
    {.Name = "CustomBaudRate",
     .Group = spBasic,
     .Integer = [](const TPort& P) { return P.CustomBaudRate(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.SetCustomBaudRate(V); },
     .Applies = [](const TPort& P) { return P.BaudRate() == brCustom; },
     .MissingInteger = 9600},
    {.Name = "StopBits",
     .Group = spBasic,
     .Text = [](const TPort& P) { return StopBitsToText(P.StopBits()); },
     .SetText = [](TPort& P, const std::string& T) { P.SetStopBits(TextToStopBits(T)); }},
    {.Name = "DataBits",
     .Group = spBasic,
     .Text = [](const TPort& P) { return DataBitsToText(P.DataBits()); },
     .SetText = [](TPort& P, const std::string& T) { P.SetDataBits(TextToDataBits(T)); }},
    {.Name = "Parity",
     .Group = spBasic,
     .Text = [](const TPort& P) { return ParityToText(P.Parity().Bits()); },
     .SetText = [](TPort& P, const std::string& T) { P.Parity().SetBits(TextToParity(T)); }},
    {.Name = "FlowControl",
     .Group = spBasic,
     .Text = [](const TPort& P) { return FlowControlToText(P.FlowControl().FlowControl()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetFlowControl(TextToFlowControl(T)); }},
    {.Name = "EventChar",
     .Group = spOthers,
     .Text = [](const TPort& P) { return CharToText(P.EventChar()); },
     .SetText = [](TPort& P, const std::string& T) { P.SetEventChar(TextToChar(T)); }},
    {.Name = "DiscardNull",
     .Group = spOthers,
     .Text = [](const TPort& P) { return BoolToYesNo(P.DiscardNull()); },
     .SetText = [](TPort& P, const std::string& T) { P.SetDiscardNull(YesNoToBool(T)); }},
    {.Name = "Parity.Check",
     .Group = spParity,
     .Text = [](const TPort& P) { return BoolToYesNo(P.Parity().Check()); },
     .SetText = [](TPort& P, const std::string& T) { P.Parity().SetCheck(YesNoToBool(T)); }},
    {.Name = "Parity.Replace",
     .Group = spParity,
     .Text = [](const TPort& P) { return BoolToYesNo(P.Parity().Replace()); },
     .SetText = [](TPort& P, const std::string& T) { P.Parity().SetReplace(YesNoToBool(T)); }},
    {.Name = "Parity.ReplaceChar",
     .Group = spParity,
     .Text = [](const TPort& P) { return CharToText(P.Parity().ReplaceChar()); },
     .SetText = [](TPort& P, const std::string& T) { P.Parity().SetReplaceChar(TextToChar(T)); }},
    {.Name = "Buffer.OutputSize",
     .Group = spBuffer,
     .Integer = [](const TPort& P) { return P.Buffer().OutputSize(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.Buffer().SetOutputSize(V); }},
    {.Name = "Buffer.InputSize",
     .Group = spBuffer,
     .Integer = [](const TPort& P) { return P.Buffer().InputSize(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.Buffer().SetInputSize(V); }},
    {.Name = "Timeouts.ReadInterval",
     .Group = spTimeouts,
     .Integer = [](const TPort& P) { return P.Timeouts().ReadInterval(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.Timeouts().SetReadInterval(V); }},
    {.Name = "Timeouts.ReadTotalConstant",
     .Group = spTimeouts,
     .Integer = [](const TPort& P) { return P.Timeouts().ReadTotalConstant(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.Timeouts().SetReadTotalConstant(V); }},
    {.Name = "Timeouts.ReadTotalMultiplier",
     .Group = spTimeouts,
     .Integer = [](const TPort& P) { return P.Timeouts().ReadTotalMultiplier(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.Timeouts().SetReadTotalMultiplier(V); }},
    {.Name = "Timeouts.WriteTotalConstant",
     .Group = spTimeouts,
     .Integer = [](const TPort& P) { return P.Timeouts().WriteTotalConstant(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.Timeouts().SetWriteTotalConstant(V); }},
    {.Name = "Timeouts.WriteTotalMultiplier",
     .Group = spTimeouts,
     .Integer = [](const TPort& P) { return P.Timeouts().WriteTotalMultiplier(); },
     .SetInteger = [](TPort& P, std::int32_t V) { P.Timeouts().SetWriteTotalMultiplier(V); }},
    {.Name = "FlowControl.ControlRTS",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return RTSControlToText(P.FlowControl().ControlRTS()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetControlRTS(TextToRTSControl(T)); }},
    {.Name = "FlowControl.ControlDTR",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return DTRControlToText(P.FlowControl().ControlDTR()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetControlDTR(TextToDTRControl(T)); }},
    {.Name = "FlowControl.DSRSensitivity",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return BoolToYesNo(P.FlowControl().DSRSensitivity()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetDSRSensitivity(YesNoToBool(T)); }},
    {.Name = "FlowControl.OutCTSFlow",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return BoolToYesNo(P.FlowControl().OutCTSFlow()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetOutCTSFlow(YesNoToBool(T)); }},
    {.Name = "FlowControl.OutDSRFlow",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return BoolToYesNo(P.FlowControl().OutDSRFlow()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetOutDSRFlow(YesNoToBool(T)); }},
    {.Name = "FlowControl.TxContinueOnXoff",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return BoolToYesNo(P.FlowControl().TxContinueOnXoff()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetTxContinueOnXoff(YesNoToBool(T)); }},
    {.Name = "FlowControl.XonXoffIn",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return BoolToYesNo(P.FlowControl().XonXoffIn()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetXonXoffIn(YesNoToBool(T)); }},
    {.Name = "FlowControl.XonXoffOut",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return BoolToYesNo(P.FlowControl().XonXoffOut()); },
     .SetText = [](TPort& P,
                   const std::string& T) { P.FlowControl().SetXonXoffOut(YesNoToBool(T)); }},
    {.Name = "FlowControl.XoffChar",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return CharToText(P.FlowControl().XoffChar()); },
     .SetText = [](TPort& P, const std::string& T) { P.FlowControl().SetXoffChar(TextToChar(T)); }},
    {.Name = "FlowControl.XonChar",
     .Group = spFlowControl,
     .Text = [](const TPort& P) { return CharToText(P.FlowControl().XonChar()); },
     .SetText = [](TPort& P, const std::string& T) { P.FlowControl().SetXonChar(TextToChar(T)); }},
};

void WriteSettings(const TCustomComPort& APort, TSettingsWriter& AOut) {
    const TStoredProps props = APort.StoredProps();
    for (const TStoredValue& value : StoredValues) {
        if (!props.Contains(value.Group) || (value.Applies && !value.Applies(APort))) continue;
        if (value.Text)
            AOut.Text(value.Name, value.Text(APort));
        else
            AOut.Integer(value.Name, value.Integer(APort));
    }
}

// Each value goes to its setter as soon as it is read, so the values before a failure stay
// applied.
void ReadSettings(TCustomComPort& APort, TSettingsReader& AIn) {
    const TStoredProps props = APort.StoredProps();
    for (const TStoredValue& value : StoredValues) {
        if (!props.Contains(value.Group) || (value.Applies && !value.Applies(APort))) continue;
        if (value.Text)
            value.SetText(APort, AIn.Text(value.Name, value.Text(APort)));
        else
            value.SetInteger(APort, AIn.Integer(value.Name, value.MissingInteger.value_or(
                                                                value.Integer(APort))));
    }
}

bool SameAsciiIgnoringCase(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) return false;
    for (std::size_t i = 0; i < A.size(); ++i) {
        const char a = (A[i] >= 'a' && A[i] <= 'z') ? static_cast<char>(A[i] - 32) : A[i];
        const char b = (B[i] >= 'a' && B[i] <= 'z') ? static_cast<char>(B[i] - 32) : B[i];
        if (a != b) return false;
    }
    return true;
}

std::string QuotedName(const std::string& AName) {
    return "\"" + AName + "\"";
}

} // namespace

// --- Accessors ------------------------------------------------------------------------------

EStoreAccess::EStoreAccess(const std::string& AMessage, TOsError AOsError)
    : std::runtime_error(AMessage)
    , FOsError(AOsError) {}

TRegistryAccess::~TRegistryAccess() {
    if (FHasKey) TComPlatform::Current().RegCloseKey(FKey);
}

bool TRegistryAccess::OpenKey(const std::string& AKey) {
    if (FHasKey) {
        FHasKey = false;
        TComPlatform::Current().RegCloseKey(FKey);
    }
    THKey key = 0;
    if (TComPlatform::Current().RegCreateKeyExW(FRootKey, AKey, key) != 0) return false;
    FKey = key;
    FHasKey = true;
    return true;
}

void TRegistryAccess::WriteString(const std::string& AName, const std::string& AValue) {
    if (!FHasKey) throw EStoreAccess("No registry key to write " + QuotedName(AName) + " to", 0);
    const TOsError error =
        TComPlatform::Current().RegSetValueExW(FKey, AName, TRegValue{RegType::Sz, AValue});
    if (error != 0) throw EStoreAccess("Cannot write registry value " + QuotedName(AName), error);
}

void TRegistryAccess::WriteInteger(const std::string& AName, std::int32_t AValue) {
    if (!FHasKey) throw EStoreAccess("No registry key to write " + QuotedName(AName) + " to", 0);
    const auto bits = static_cast<std::uint32_t>(AValue);
    TRegValue value{RegType::DWord, std::string(4, '\0')};
    for (std::size_t i = 0; i < 4; ++i)
        value.Data[i] = static_cast<char>((bits >> (8 * i)) & 0xFFu);
    const TOsError error = TComPlatform::Current().RegSetValueExW(FKey, AName, value);
    if (error != 0) throw EStoreAccess("Cannot write registry value " + QuotedName(AName), error);
}

std::string TRegistryAccess::ReadString(const std::string& AName) {
    if (!FHasKey) return {};
    TRegValue value;
    const TOsError error = TComPlatform::Current().RegQueryValueExW(FKey, AName, value);
    if (error == WinError::FileNotFound) return {};
    if (error != 0) throw EStoreAccess("Cannot read registry value " + QuotedName(AName), error);
    if (value.Type != RegType::Sz && value.Type != RegType::ExpandSz)
        throw EStoreAccess("Registry value " + QuotedName(AName) + " is not text", 0);
    return value.Data;
}

std::int32_t TRegistryAccess::ReadInteger(const std::string& AName) {
    if (!FHasKey) throw EStoreAccess("No registry key to read " + QuotedName(AName) + " from", 0);
    TRegValue value;
    const TOsError error = TComPlatform::Current().RegQueryValueExW(FKey, AName, value);
    if (error != 0) throw EStoreAccess("Cannot read registry value " + QuotedName(AName), error);
    if (value.Type != RegType::DWord || value.Data.size() != 4)
        throw EStoreAccess("Registry value " + QuotedName(AName) + " is not an integer", 0);
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(value.Data[i])) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

void TRegistryAccess::Release() {
    if (!FHasKey) return;
    FHasKey = false;
    const TOsError error = TComPlatform::Current().RegCloseKey(FKey);
    if (error != 0) throw EStoreAccess("Cannot close the registry key", error);
}

TIniAccess::~TIniAccess() {
    if (!FReleased)
        TComPlatform::Current().WritePrivateProfileStringW(std::nullopt, std::nullopt, std::nullopt,
                                                           FFileName);
}

std::string TIniAccess::ReadString(const std::string& ASection, const std::string& AName,
                                   const std::string& ADefault) {
    return TComPlatform::Current().GetPrivateProfileStringW(ASection, AName, ADefault, IniValueRoom,
                                                            FFileName);
}

void TIniAccess::WriteString(const std::string& ASection, const std::string& AName,
                             const std::string& AValue) {
    const TOsError error =
        TComPlatform::Current().WritePrivateProfileStringW(ASection, AName, AValue, FFileName);
    if (error != 0)
        throw EStoreAccess("Cannot write " + QuotedName(AName) + " to " + FFileName, error);
}

std::int32_t TIniAccess::ReadInteger(const std::string& ASection, const std::string& AName,
                                     std::int32_t ADefault) {
    const std::string text = ReadString(ASection, AName, "");
    if (text.empty()) return ADefault;
    return StrToInt(text).value_or(ADefault);
}

void TIniAccess::WriteInteger(const std::string& ASection, const std::string& AName,
                              std::int32_t AValue) {
    WriteString(ASection, AName, std::to_string(AValue));
}

void TIniAccess::Release() {
    FReleased = true;
    const TOsError error = TComPlatform::Current().WritePrivateProfileStringW(
        std::nullopt, std::nullopt, std::nullopt, FFileName);
    if (error != 0) throw EStoreAccess("Cannot write " + FFileName + " out", error);
}

void OpenSettingsKey(TRegistryAccess& AAccess, const std::string& APath, const std::string& AName) {
    const auto slash = APath.find('\\');
    if (slash == std::string::npos) return;
    const std::string_view root = std::string_view(APath).substr(0, slash);
    if (SameAsciiIgnoringCase(root, "HKEY_LOCAL_MACHINE"))
        AAccess.SetRootKey(HKey::LocalMachine);
    else if (SameAsciiIgnoringCase(root, "HKEY_CURRENT_USER"))
        AAccess.SetRootKey(HKey::CurrentUser);
    std::string key = APath.substr(slash + 1);
    // Nothing after the root: the component's key sits directly below it.
    if (!key.empty() && key.back() != '\\') key += '\\';
    key += AName;
    AAccess.OpenKey(key);
}

// --- The port's operations ------------------------------------------------------------------

void TCustomComPort::StoreSettings(TStoreType AStoreType, const std::string& AStoreTo) {
    try {
        if (AStoreType == stRegistry) {
            TRegistryAccess access;
            OpenSettingsKey(access, AStoreTo, Name());
            StoreToRegistry(access);
            access.Release();
        } else {
            TIniAccess access(AStoreTo);
            StoreToIniFile(access);
            access.Release();
        }
    } catch (...) {
        // The accessor went with the block above, before this is raised.
        throw EComPort::CreateNoWinCode(cpeStoreSettings);
    }
}

void TCustomComPort::LoadSettings(TStoreType AStoreType, const std::string& ALoadFrom) {
    BeginUpdate();
    try {
        try {
            if (AStoreType == stRegistry) {
                TRegistryAccess access;
                OpenSettingsKey(access, ALoadFrom, Name());
                LoadFromRegistry(access);
                access.Release();
            } else {
                TIniAccess access(ALoadFrom);
                LoadFromIniFile(access);
                access.Release();
            }
        } catch (...) {
            // The bracket closes before the error leaves, so what was applied reaches an open
            // port.
            EndUpdate();
            throw;
        }
        EndUpdate();
    } catch (...) {
        throw EComPort::CreateNoWinCode(cpeLoadSettings);
    }
}

void TCustomComPort::StoreToRegistry(TRegistryAccess& AAccess) {
    TRegistryWriter writer(AAccess);
    WriteSettings(*this, writer);
}

void TCustomComPort::StoreToIniFile(TIniAccess& AAccess) {
    TIniWriter writer(AAccess, Name());
    WriteSettings(*this, writer);
}

void TCustomComPort::LoadFromRegistry(TRegistryAccess& AAccess) {
    TRegistryReader reader(AAccess);
    ReadSettings(*this, reader);
}

void TCustomComPort::LoadFromIniFile(TIniAccess& AAccess) {
    TIniReader reader(AAccess, Name());
    ReadSettings(*this, reader);
}

} // namespace cport
