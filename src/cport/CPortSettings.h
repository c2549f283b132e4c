// The settings objects of a port: its queue sizes, timeouts, parity and flow control.
#pragma once

#include "CPortTypes.h"

#include <cstdint>

namespace cport {

class TCustomComPort;

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

} // namespace cport
