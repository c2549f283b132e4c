#include "CPort.h"

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
    SetTimeout(FReadInterval, AValue);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t AValue) {
    SetTimeout(FReadTotalM, AValue);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t AValue) {
    SetTimeout(FReadTotalC, AValue);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t AValue) {
    SetTimeout(FWriteTotalM, AValue);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t AValue) {
    SetTimeout(FWriteTotalC, AValue);
}

void TComTimeouts::SetTimeout(std::int32_t& AField, std::int32_t AValue) {
    if (AField == AValue) return;
    AField = AValue;
    if (FComPort != nullptr) FComPort->ApplyTimeoutSettings();
}

// --- TComParity -----------------------------------------------------------------------------

void TComParity::Assign(const TComParity& ASource) {
    FBits = ASource.FBits;
    FCheck = ASource.FCheck;
    FReplace = ASource.FReplace;
    FReplaceChar = ASource.FReplaceChar;
}

template <typename T>
void TComParity::SetField(T& AField, T AValue) {
    if (AField == AValue) return;
    AField = AValue;
    if (FComPort != nullptr) FComPort->ApplyControlBlock();
}

void TComParity::SetBits(TParityBits AValue) {
    SetField(FBits, AValue);
}
void TComParity::SetCheck(bool AValue) {
    SetField(FCheck, AValue);
}
void TComParity::SetReplace(bool AValue) {
    SetField(FReplace, AValue);
}
void TComParity::SetReplaceChar(char AValue) {
    SetField(FReplaceChar, AValue);
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

template <typename T>
void TComFlowControl::SetField(T& AField, T AValue) {
    if (AField == AValue) return;
    AField = AValue;
    ApplyToPort();
}

void TComFlowControl::ApplyToPort() {
    if (FComPort != nullptr) FComPort->ApplyControlBlock();
}

void TComFlowControl::SetOutCTSFlow(bool AValue) {
    SetField(FOutCTSFlow, AValue);
}
void TComFlowControl::SetOutDSRFlow(bool AValue) {
    SetField(FOutDSRFlow, AValue);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl AValue) {
    SetField(FControlDTR, AValue);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl AValue) {
    SetField(FControlRTS, AValue);
}
void TComFlowControl::SetXonXoffOut(bool AValue) {
    SetField(FXonXoffOut, AValue);
}
void TComFlowControl::SetXonXoffIn(bool AValue) {
    SetField(FXonXoffIn, AValue);
}
void TComFlowControl::SetDSRSensitivity(bool AValue) {
    SetField(FDSRSensitivity, AValue);
}
void TComFlowControl::SetTxContinueOnXoff(bool AValue) {
    SetField(FTxContinueOnXoff, AValue);
}
void TComFlowControl::SetXonChar(char AValue) {
    SetField(FXonChar, AValue);
}
void TComFlowControl::SetXoffChar(char AValue) {
    SetField(FXoffChar, AValue);
}

} // namespace cport
