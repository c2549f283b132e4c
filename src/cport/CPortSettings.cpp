#include "CPort_p.h"

namespace cport {

// --- TComBuffer -----------------------------------------------------------------------------

void TComBuffer::Assign(const TComBuffer& ASource) {
    FInputSize = ASource.FInputSize;
    FOutputSize = ASource.FOutputSize;
}

void TComBuffer::SetInputSize(std::int32_t AValue) {
    SetSize(FInputSize, AValue);
}
void TComBuffer::SetOutputSize(std::int32_t AValue) {
    SetSize(FOutputSize, AValue);
}

void TComBuffer::SetSize(std::int32_t& AField, std::int32_t AValue) {
    // Compared before rounding: 1025 on a buffer of 1024 stores 1024 again and still applies.
    if (AField == AValue) return;
    AField = AValue;
    if (AField > 0 && AField % 2 != 0) --AField;
    if (FComPort != nullptr) FComPort->ApplyBufferSettings();
}

// --- TComTimeouts ---------------------------------------------------------------------------

void TComTimeouts::Assign(const TComTimeouts& ASource) {
    FReadInterval = ASource.FReadInterval;
    FReadTotalM = ASource.FReadTotalM;
    FReadTotalC = ASource.FReadTotalC;
    FWriteTotalM = ASource.FWriteTotalM;
    FWriteTotalC = ASource.FWriteTotalC;
}

void TComTimeouts::SetReadInterval(std::int32_t AValue) {
    ChangeSetting(FReadInterval, AValue, FComPort, &TCustomComPort::ApplyTimeoutSettings);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t AValue) {
    ChangeSetting(FReadTotalM, AValue, FComPort, &TCustomComPort::ApplyTimeoutSettings);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t AValue) {
    ChangeSetting(FReadTotalC, AValue, FComPort, &TCustomComPort::ApplyTimeoutSettings);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t AValue) {
    ChangeSetting(FWriteTotalM, AValue, FComPort, &TCustomComPort::ApplyTimeoutSettings);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t AValue) {
    ChangeSetting(FWriteTotalC, AValue, FComPort, &TCustomComPort::ApplyTimeoutSettings);
}

// --- TComParity -----------------------------------------------------------------------------

void TComParity::Assign(const TComParity& ASource) {
    FBits = ASource.FBits;
    FCheck = ASource.FCheck;
    FReplace = ASource.FReplace;
    FReplaceChar = ASource.FReplaceChar;
}

void TComParity::SetBits(TParityBits AValue) {
    ChangeSetting(FBits, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComParity::SetCheck(bool AValue) {
    ChangeSetting(FCheck, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComParity::SetReplace(bool AValue) {
    ChangeSetting(FReplace, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComParity::SetReplaceChar(char AValue) {
    ChangeSetting(FReplaceChar, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}

// --- TComFlowControl ------------------------------------------------------------------------

void TComFlowControl::Assign(const TComFlowControl& ASource) {
    FOutCTSFlow = ASource.FOutCTSFlow;
    FOutDSRFlow = ASource.FOutDSRFlow;
    FControlDTR = ASource.FControlDTR;
    FControlRTS = ASource.FControlRTS;
    FXonXoffOut = ASource.FXonXoffOut;
    FXonXoffIn = ASource.FXonXoffIn;
    FDSRSensitivity = ASource.FDSRSensitivity;
    FTxContinueOnXoff = ASource.FTxContinueOnXoff;
    FXonChar = ASource.FXonChar;
    FXoffChar = ASource.FXoffChar;
}

TFlowControl TComFlowControl::FlowControl() const {
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut) return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl AValue) {
    if (AValue != fcCustom) {
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
        if (AValue == fcHardware) {
            FControlRTS = rtsHandshake;
            FOutCTSFlow = true;
        } else if (AValue == fcSoftware) {
            FXonXoffIn = true;
            FXonXoffOut = true;
        }
    }
    ApplyToPort();
}

void TComFlowControl::ApplyToPort() {
    if (FComPort != nullptr) FComPort->ApplyControlBlock();
}

void TComFlowControl::SetOutCTSFlow(bool AValue) {
    ChangeSetting(FOutCTSFlow, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetOutDSRFlow(bool AValue) {
    ChangeSetting(FOutDSRFlow, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl AValue) {
    ChangeSetting(FControlDTR, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl AValue) {
    ChangeSetting(FControlRTS, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetXonXoffOut(bool AValue) {
    ChangeSetting(FXonXoffOut, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetXonXoffIn(bool AValue) {
    ChangeSetting(FXonXoffIn, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetDSRSensitivity(bool AValue) {
    ChangeSetting(FDSRSensitivity, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetTxContinueOnXoff(bool AValue) {
    ChangeSetting(FTxContinueOnXoff, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetXonChar(char AValue) {
    ChangeSetting(FXonChar, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}
void TComFlowControl::SetXoffChar(char AValue) {
    ChangeSetting(FXoffChar, AValue, FComPort, &TCustomComPort::ApplyControlBlock);
}

} // namespace cport
