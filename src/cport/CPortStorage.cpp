#include "CPort_p.h"

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

void WriteSettings(const TCustomComPort& APort, TSettingsWriter& AOut) {
    const TStoredProps props = APort.StoredProps();
    if (props.Contains(spBasic)) {
        AOut.Text("Port", APort.Port());
        AOut.Text("BaudRate", BaudRateToText(APort.BaudRate()));
        // Neither written nor removed otherwise: an earlier custom rate stays in the store.
        if (APort.BaudRate() == brCustom) AOut.Integer("CustomBaudRate", APort.CustomBaudRate());
        AOut.Text("StopBits", StopBitsToText(APort.StopBits()));
        AOut.Text("DataBits", DataBitsToText(APort.DataBits()));
        AOut.Text("Parity", ParityToText(APort.Parity().Bits()));
        AOut.Text("FlowControl", FlowControlToText(APort.FlowControl().FlowControl()));
    }
    if (props.Contains(spOthers)) {
        AOut.Text("EventChar", CharToText(APort.EventChar()));
        AOut.Text("DiscardNull", BoolToYesNo(APort.DiscardNull()));
    }
    if (props.Contains(spParity)) {
        const TComParity& parity = APort.Parity();
        AOut.Text("Parity.Check", BoolToYesNo(parity.Check()));
        AOut.Text("Parity.Replace", BoolToYesNo(parity.Replace()));
        AOut.Text("Parity.ReplaceChar", CharToText(parity.ReplaceChar()));
    }
    if (props.Contains(spBuffer)) {
        AOut.Integer("Buffer.OutputSize", APort.Buffer().OutputSize());
        AOut.Integer("Buffer.InputSize", APort.Buffer().InputSize());
    }
    if (props.Contains(spTimeouts)) {
        const TComTimeouts& timeouts = APort.Timeouts();
        AOut.Integer("Timeouts.ReadInterval", timeouts.ReadInterval());
        AOut.Integer("Timeouts.ReadTotalConstant", timeouts.ReadTotalConstant());
        AOut.Integer("Timeouts.ReadTotalMultiplier", timeouts.ReadTotalMultiplier());
        AOut.Integer("Timeouts.WriteTotalConstant", timeouts.WriteTotalConstant());
        AOut.Integer("Timeouts.WriteTotalMultiplier", timeouts.WriteTotalMultiplier());
    }
    if (props.Contains(spFlowControl)) {
        const TComFlowControl& flow = APort.FlowControl();
        AOut.Text("FlowControl.ControlRTS", RTSControlToText(flow.ControlRTS()));
        AOut.Text("FlowControl.ControlDTR", DTRControlToText(flow.ControlDTR()));
        AOut.Text("FlowControl.DSRSensitivity", BoolToYesNo(flow.DSRSensitivity()));
        AOut.Text("FlowControl.OutCTSFlow", BoolToYesNo(flow.OutCTSFlow()));
        AOut.Text("FlowControl.OutDSRFlow", BoolToYesNo(flow.OutDSRFlow()));
        AOut.Text("FlowControl.TxContinueOnXoff", BoolToYesNo(flow.TxContinueOnXoff()));
        AOut.Text("FlowControl.XonXoffIn", BoolToYesNo(flow.XonXoffIn()));
        AOut.Text("FlowControl.XonXoffOut", BoolToYesNo(flow.XonXoffOut()));
        AOut.Text("FlowControl.XoffChar", CharToText(flow.XoffChar()));
        AOut.Text("FlowControl.XonChar", CharToText(flow.XonChar()));
    }
}

// Each value goes to its setter as soon as it is read, so the values before a failure stay
// applied.
void ReadSettings(TCustomComPort& APort, TSettingsReader& AIn) {
    const TStoredProps props = APort.StoredProps();
    if (props.Contains(spBasic)) {
        APort.SetPort(AIn.Text("Port", APort.Port()));
        APort.SetBaudRate(TextToBaudRate(AIn.Text("BaudRate", BaudRateToText(APort.BaudRate()))));
        if (APort.BaudRate() == brCustom)
            APort.SetCustomBaudRate(AIn.Integer("CustomBaudRate", 9600));
        APort.SetStopBits(TextToStopBits(AIn.Text("StopBits", StopBitsToText(APort.StopBits()))));
        APort.SetDataBits(TextToDataBits(AIn.Text("DataBits", DataBitsToText(APort.DataBits()))));
        APort.Parity().SetBits(
            TextToParity(AIn.Text("Parity", ParityToText(APort.Parity().Bits()))));
        APort.FlowControl().SetFlowControl(TextToFlowControl(
            AIn.Text("FlowControl", FlowControlToText(APort.FlowControl().FlowControl()))));
    }
    if (props.Contains(spOthers)) {
        APort.SetEventChar(TextToChar(AIn.Text("EventChar", CharToText(APort.EventChar()))));
        APort.SetDiscardNull(
            YesNoToBool(AIn.Text("DiscardNull", BoolToYesNo(APort.DiscardNull()))));
    }
    if (props.Contains(spParity)) {
        TComParity& parity = APort.Parity();
        parity.SetCheck(YesNoToBool(AIn.Text("Parity.Check", BoolToYesNo(parity.Check()))));
        parity.SetReplace(YesNoToBool(AIn.Text("Parity.Replace", BoolToYesNo(parity.Replace()))));
        parity.SetReplaceChar(
            TextToChar(AIn.Text("Parity.ReplaceChar", CharToText(parity.ReplaceChar()))));
    }
    if (props.Contains(spBuffer)) {
        TComBuffer& buffer = APort.Buffer();
        buffer.SetOutputSize(AIn.Integer("Buffer.OutputSize", buffer.OutputSize()));
        buffer.SetInputSize(AIn.Integer("Buffer.InputSize", buffer.InputSize()));
    }
    if (props.Contains(spTimeouts)) {
        TComTimeouts& t = APort.Timeouts();
        t.SetReadInterval(AIn.Integer("Timeouts.ReadInterval", t.ReadInterval()));
        t.SetReadTotalConstant(AIn.Integer("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
        t.SetReadTotalMultiplier(
            AIn.Integer("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
        t.SetWriteTotalConstant(AIn.Integer("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
        t.SetWriteTotalMultiplier(
            AIn.Integer("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
    }
    if (props.Contains(spFlowControl)) {
        TComFlowControl& f = APort.FlowControl();
        f.SetControlRTS(
            TextToRTSControl(AIn.Text("FlowControl.ControlRTS", RTSControlToText(f.ControlRTS()))));
        f.SetControlDTR(
            TextToDTRControl(AIn.Text("FlowControl.ControlDTR", DTRControlToText(f.ControlDTR()))));
        f.SetDSRSensitivity(
            YesNoToBool(AIn.Text("FlowControl.DSRSensitivity", BoolToYesNo(f.DSRSensitivity()))));
        f.SetOutCTSFlow(
            YesNoToBool(AIn.Text("FlowControl.OutCTSFlow", BoolToYesNo(f.OutCTSFlow()))));
        f.SetOutDSRFlow(
            YesNoToBool(AIn.Text("FlowControl.OutDSRFlow", BoolToYesNo(f.OutDSRFlow()))));
        f.SetTxContinueOnXoff(YesNoToBool(
            AIn.Text("FlowControl.TxContinueOnXoff", BoolToYesNo(f.TxContinueOnXoff()))));
        f.SetXonXoffIn(YesNoToBool(AIn.Text("FlowControl.XonXoffIn", BoolToYesNo(f.XonXoffIn()))));
        f.SetXonXoffOut(
            YesNoToBool(AIn.Text("FlowControl.XonXoffOut", BoolToYesNo(f.XonXoffOut()))));
        f.SetXoffChar(TextToChar(AIn.Text("FlowControl.XoffChar", CharToText(f.XoffChar()))));
        f.SetXonChar(TextToChar(AIn.Text("FlowControl.XonChar", CharToText(f.XonChar()))));
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
