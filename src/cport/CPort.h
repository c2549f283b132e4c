// The serial-port component: settings model, errors, and the port itself.
#pragma once

#include "CPortTypes.h"
#include "Component.h"
#include "platform/ComPlatform.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cport {

class TCustomComPort;

// --- Errors ---------------------------------------------------------------------------------

inline constexpr std::int32_t cpeCannotOpen = 1;
inline constexpr std::int32_t cpeWriteFile = 2;
inline constexpr std::int32_t cpeReadFile = 3;
inline constexpr std::int32_t cpeBadAsyncParam = 4;
inline constexpr std::int32_t cpePurgeComm = 5;
inline constexpr std::int32_t cpeAsyncStatus = 6;
inline constexpr std::int32_t cpeSetCommState = 7;
inline constexpr std::int32_t cpeSetCommTimeouts = 8;
inline constexpr std::int32_t cpeSetupComm = 9;
inline constexpr std::int32_t cpeClearCommError = 10;
inline constexpr std::int32_t cpeGetModemStatus = 11;
inline constexpr std::int32_t cpeEscapeFunction = 12;
inline constexpr std::int32_t cpeTransmitChar = 13;
inline constexpr std::int32_t cpePropertyWhileOpen = 14;
inline constexpr std::int32_t cpeEnumPorts = 15;
inline constexpr std::int32_t cpeStoreSettings = 16;
inline constexpr std::int32_t cpeLoadSettings = 17;
inline constexpr std::int32_t cpeLinkRegistration = 18;
inline constexpr std::int32_t cpeLedState = 19;
inline constexpr std::int32_t cpeWaitWithThread = 20;
inline constexpr std::int32_t cpeWaitForEvent = 21;
inline constexpr std::int32_t cpeRxBufLinked = 22;
inline constexpr std::int32_t cpeRegistry = 23;

// The text of a component error code; "Unknown Error #" and the code outside 1 to 23.
std::string ComErrorText(std::int32_t ACode);

// The one exception of the component. The message is "COM Port Error: " and the code's text,
// followed by " on " and the port for failures of an operating-system call.
class EComPort : public std::runtime_error {
public:
    // A failed operating-system call: AWinCode is its error code, APort the context (the
    // port's name, or "registry read" for the port list).
    EComPort(std::int32_t ACode, std::int32_t AWinCode, const std::string& APort);
    // A misuse, a wrong state or a failure of another component: WinCode is -1.
    static EComPort CreateNoWinCode(std::int32_t ACode);

    std::int32_t WinCode() const { return FWinCode; }
    void SetWinCode(std::int32_t AValue) { FWinCode = AValue; }
    std::int32_t Code() const { return FCode; }
    void SetCode(std::int32_t AValue) { FCode = AValue; }

private:
    explicit EComPort(std::int32_t ACode);

    std::int32_t FWinCode;
    std::int32_t FCode;
};

// --- Settings objects -----------------------------------------------------------------------
// Passive holders owned by a port. A setter that changes a value asks the owning port to apply
// the value's group; whether anything reaches the device is the port's decision. Assign copies
// the fields only: no setter runs and nothing is applied.

class TComSettings {
public:
    TComSettings() = default;
    TComSettings(const TComSettings&) = delete;
    TComSettings& operator=(const TComSettings&) = delete;
    virtual ~TComSettings() = default;

    TCustomComPort* ComPort() const { return FComPort; }
    void AttachPort(TCustomComPort* AComPort) { FComPort = AComPort; }

protected:
    TCustomComPort* FComPort = nullptr;
};

// Sizes of the driver's input and output queues in bytes.
class TComBuffer : public TComSettings {
public:
    void Assign(const TComBuffer& ASource);

    std::int32_t InputSize() const { return FInputSize; }
    std::int32_t OutputSize() const { return FOutputSize; }
    // Odd positive sizes are rounded down to even; the port applies the buffer group.
    void SetInputSize(std::int32_t AValue);
    void SetOutputSize(std::int32_t AValue);

private:
    void SetSize(std::int32_t& AField, std::int32_t AValue);

    std::int32_t FInputSize = 1024;
    std::int32_t FOutputSize = 1024;
};

// The five communication timeouts in milliseconds; -1 stands for MAXDWORD.
class TComTimeouts : public TComSettings {
public:
    void Assign(const TComTimeouts& ASource);

    std::int32_t ReadInterval() const { return FReadInterval; }
    std::int32_t ReadTotalMultiplier() const { return FReadTotalM; }
    std::int32_t ReadTotalConstant() const { return FReadTotalC; }
    std::int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
    std::int32_t WriteTotalConstant() const { return FWriteTotalC; }
    void SetReadInterval(std::int32_t AValue);
    void SetReadTotalMultiplier(std::int32_t AValue);
    void SetReadTotalConstant(std::int32_t AValue);
    void SetWriteTotalMultiplier(std::int32_t AValue);
    void SetWriteTotalConstant(std::int32_t AValue);

private:
    void SetTimeout(std::int32_t& AField, std::int32_t AValue);

    std::int32_t FReadInterval = -1;
    std::int32_t FReadTotalM = 0;
    std::int32_t FReadTotalC = 0;
    std::int32_t FWriteTotalM = 100;
    std::int32_t FWriteTotalC = 1000;
};

class TComParity : public TComSettings {
public:
    void Assign(const TComParity& ASource);

    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    char ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits AValue);
    void SetCheck(bool AValue);
    void SetReplace(bool AValue);
    void SetReplaceChar(char AValue);

private:
    template <typename T>
    void SetField(T& AField, T AValue);

    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComFlowControl : public TComSettings {
public:
    void Assign(const TComFlowControl& ASource);

    // The composite view on ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut. Writing a named
    // mode sets those four fields directly (so the device is reconfigured once); fcCustom
    // changes nothing. Either way the port applies the control block once.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl AValue);

    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    void SetOutCTSFlow(bool AValue);
    void SetOutDSRFlow(bool AValue);
    void SetControlDTR(TDTRFlowControl AValue);
    void SetControlRTS(TRTSFlowControl AValue);
    void SetXonXoffOut(bool AValue);
    void SetXonXoffIn(bool AValue);
    void SetDSRSensitivity(bool AValue);
    void SetTxContinueOnXoff(bool AValue);
    void SetXonChar(char AValue);
    void SetXoffChar(char AValue);

private:
    template <typename T>
    void SetField(T& AField, T AValue);
    void ApplyToPort();

    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
};

// --- Stored settings and the port list ------------------------------------------------------
// The two store accessors of StoreSettings and LoadSettings: each is made for one call and
// released at its end; both work through TComPlatform::Current().

// A failed read or write of a store accessor. StoreSettings and LoadSettings replace it (like
// every other failure) by their own error.
class EStoreAccess : public std::runtime_error {
public:
    EStoreAccess(const std::string& AMessage, TOsError AOsError);
    // The platform's error code, or 0 when no platform call failed (no key open, a value of
    // another kind).
    TOsError OsError() const { return FOsError; }

private:
    TOsError FOsError;
};

// Registry values of one key.
class TRegistryAccess {
public:
    TRegistryAccess() = default;
    TRegistryAccess(const TRegistryAccess&) = delete;
    TRegistryAccess& operator=(const TRegistryAccess&) = delete;
    // Closes the key, ignoring a failure: it runs while an error is already on its way.
    ~TRegistryAccess();

    // The root that OpenKey starts from; the current user's root until set.
    THKey RootKey() const { return FRootKey; }
    void SetRootKey(THKey AValue) { FRootKey = AValue; }
    // Opens AKey below the root with full access, creating it and missing parents; closes a
    // key opened before. False, and no key open, when that fails.
    bool OpenKey(const std::string& AKey);
    bool HasKey() const { return FHasKey; }
    THKey CurrentKey() const { return FKey; }

    // Raise EStoreAccess when no key is open or the platform fails.
    void WriteString(const std::string& AName, const std::string& AValue);
    void WriteInteger(const std::string& AName, std::int32_t AValue);
    // A missing value (or no key open) reads as the empty text; a value of another kind than
    // a plain or expandable string raises EStoreAccess, as does any other failure.
    std::string ReadString(const std::string& AName);
    // A missing value, one of another kind than a 32-bit integer, or no key open raises
    // EStoreAccess.
    std::int32_t ReadInteger(const std::string& AName);

    // Closes the key; raises EStoreAccess when the platform fails.
    void Release();

private:
    THKey FRootKey = HKey::CurrentUser;
    THKey FKey = 0;
    bool FHasKey = false;
};

// Values of one profile (INI) file.
class TIniAccess {
public:
    explicit TIniAccess(std::string AFileName)
        : FFileName(std::move(AFileName)) {}
    TIniAccess(const TIniAccess&) = delete;
    TIniAccess& operator=(const TIniAccess&) = delete;
    // Writes cached changes out if Release did not, ignoring a failure: it runs while an error
    // is already on its way.
    ~TIniAccess();

    const std::string& FileName() const { return FFileName; }
    // ADefault when the file, the section or the line is missing; at most 2047 characters.
    std::string ReadString(const std::string& ASection, const std::string& AName,
                           const std::string& ADefault);
    // Creates the file, section or line as needed, or replaces the line's value; raises
    // EStoreAccess when the file cannot be written.
    void WriteString(const std::string& ASection, const std::string& AName,
                     const std::string& AValue);
    // ADefault when the text is missing or no number (decimal, or hexadecimal after "0x" or
    // "$").
    std::int32_t ReadInteger(const std::string& ASection, const std::string& AName,
                             std::int32_t ADefault);
    // As decimal text.
    void WriteInteger(const std::string& ASection, const std::string& AName, std::int32_t AValue);

    // Has the profile functions write cached changes of the file out; raises EStoreAccess on
    // failure.
    void Release();

private:
    std::string FFileName;
    bool FReleased = false;
};

// Chooses the registry root from the first element of APath ("HKEY_LOCAL_MACHINE" or
// "HKEY_CURRENT_USER", letter case ignored; anything else keeps the accessor's root) and opens
// the rest of the path, a backslash and AName below it, creating missing keys. A path without
// a backslash opens nothing. A path with nothing after its first backslash (such as
// "HKEY_CURRENT_USER\") opens AName directly below the root. Whether the key could be opened
// is not reported: without one, the accessor's value operations behave as documented above.
void OpenSettingsKey(TRegistryAccess& AAccess, const std::string& APath, const std::string& AName);

// Replaces AList's content with the data of the values of the local machine's registry key
// HARDWARE\DEVICEMAP\SERIALCOMM (the system's serial ports), sorted without regard to letter
// case in the collating order of the user's locale; equal names are kept. Raises EComPort code
// cpeRegistry with the platform's error code and "registry read" when the key cannot be opened
// or a value cannot be read (a name over 255 characters or data over 256 bytes included); the
// list then stays as it was.
void ListComPorts(std::vector<std::string>& AList);

// --- The port -------------------------------------------------------------------------------

class TCustomComPort : public TComponent {
public:
    explicit TCustomComPort(TComponent* AOwner);
    ~TCustomComPort() override;

    // Update bracket: inside it no setting reaches the device; leaving the outermost one
    // applies all settings of an open port once.
    void BeginUpdate();
    void EndUpdate();

    // Settings.
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& AValue);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate AValue);
    std::int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(std::int32_t AValue);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits AValue);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits AValue);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool AValue);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char AValue);
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents AValue) { FEvents = AValue; }
    TStoredProps StoredProps() const { return FStoredProps; }
    void SetStoredProps(TStoredProps AValue) { FStoredProps = AValue; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
    bool TriggersOnRxChar() const { return FTriggersOnRxChar; }
    bool Overlapped() const { return FOverlapped; }
    bool Connected() const { return FConnected; }
    THandle Handle() const { return FHandle; }

    // The owned settings objects. The setters copy the given object's fields and apply the
    // group once.
    TComParity& Parity() const { return *FParity; }
    void SetParity(const TComParity& AValue);
    TComFlowControl& FlowControl() const { return *FFlowControl; }
    void SetFlowControl(const TComFlowControl& AValue);
    TComTimeouts& Timeouts() const { return *FTimeouts; }
    void SetTimeouts(const TComTimeouts& AValue);
    TComBuffer& Buffer() const { return *FBuffer; }
    void SetBuffer(const TComBuffer& AValue);

    // --- Stored settings (CPortStorage.cpp) --------------------------------------------------
    // Writes the groups in StoredProps to the registry key of OpenSettingsKey(AStoreTo, Name())
    // or to the section Name() of the INI file AStoreTo. Raises EComPort cpeStoreSettings on
    // any failure; values written before it stay written.
    void StoreSettings(TStoreType AStoreType, const std::string& AStoreTo);
    // Reads the groups in StoredProps from the same place and applies each value through its
    // setter, inside one update bracket that is closed on every path. Registry: a missing text
    // value reads as empty text (so Port becomes empty and the rest take their parsing
    // defaults), a missing integer fails. INI: a missing file, section or line keeps the
    // current value ("CustomBaudRate" defaults to 9600). Raises EComPort cpeLoadSettings on any
    // failure; values applied before it stay applied.
    void LoadSettings(TStoreType AStoreType, const std::string& ALoadFrom);

protected:
    // The group-by-group work of StoreSettings and LoadSettings, given the opened accessor;
    // a descendant may override them to store more.
    virtual void StoreToRegistry(TRegistryAccess& AAccess);
    virtual void StoreToIniFile(TIniAccess& AAccess);
    virtual void LoadFromRegistry(TRegistryAccess& AAccess);
    virtual void LoadFromIniFile(TIniAccess& AAccess);
    // --- end of stored settings --------------------------------------------------------------

protected:
    friend class TComBuffer;
    friend class TComTimeouts;
    friend class TComParity;
    friend class TComFlowControl;

    // The apply steps: each does nothing unless the port is open, no update bracket is open
    // and the component is neither being designed nor loaded.
    virtual void ApplyControlBlock();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSettings();
    bool CanApply() const;

    template <typename T>
    void SetControlSetting(T& AField, T AValue);

    std::int32_t FUpdateCount = 0;
    bool FTriggersOnRxChar = true;
    TThreadPriority FEventThreadPriority = tpNormal;
    bool FConnected = false;
    THandle FHandle = InvalidHandle;
    TBaudRate FBaudRate = br9600;
    std::int32_t FCustomBaudRate = 9600;
    std::string FPort = "COM1";
    TStopBits FStopBits = sbOneStopBit;
    TDataBits FDataBits = dbEight;
    bool FDiscardNull = false;
    char FEventChar = 0;
    TComEvents FEvents = AllComEvents;
    std::unique_ptr<TComBuffer> FBuffer;
    std::unique_ptr<TComParity> FParity;
    std::unique_ptr<TComTimeouts> FTimeouts;
    std::unique_ptr<TComFlowControl> FFlowControl;
    TSyncMethod FSyncMethod = smThreadSync;
    TStoredProps FStoredProps = {spBasic};
    bool FOverlapped = true;
};

// The port with its settings exposed at design time; it adds no behaviour.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};

} // namespace cport
