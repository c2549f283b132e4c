#include "CPort.h"

namespace cport {

TCustomComPort::TCustomComPort(TComponent* AOwner)
    : TComponent(AOwner) {
    FParity = std::make_unique<TComParity>();
    FParity->AttachPort(this);
    FFlowControl = std::make_unique<TComFlowControl>();
    FFlowControl->AttachPort(this);
    FTimeouts = std::make_unique<TComTimeouts>();
    FTimeouts->AttachPort(this);
    FBuffer = std::make_unique<TComBuffer>();
    FBuffer->AttachPort(this);
}

TCustomComPort::~TCustomComPort() {
    FBuffer.reset();
    FFlowControl.reset();
    FTimeouts.reset();
    FParity.reset();
}

bool TCustomComPort::CanApply() const {
    return FConnected && FUpdateCount == 0 && !Designing() && !Loading();
}

// The device work of the three steps comes with opening the device; until a port can be open,
// the guard always holds them back.
void TCustomComPort::ApplyControlBlock() {
    if (!CanApply()) return;
}

void TCustomComPort::ApplyTimeoutSettings() {
    if (!CanApply()) return;
}

void TCustomComPort::ApplyBufferSettings() {
    if (!CanApply()) return;
}

void TCustomComPort::BeginUpdate() {
    ++FUpdateCount;
}

void TCustomComPort::EndUpdate() {
    if (FUpdateCount <= 0) return;
    --FUpdateCount;
    if (FUpdateCount == 0) {
        ApplyBufferSettings();
        ApplyControlBlock();
        ApplyTimeoutSettings();
    }
}

void TCustomComPort::SetPort(const std::string& AValue) {
    if (FPort == AValue) return;
    FPort = AValue;
}

template <typename T>
void TCustomComPort::SetControlSetting(T& AField, T AValue) {
    if (AField == AValue) return;
    AField = AValue;
    ApplyControlBlock();
}

void TCustomComPort::SetBaudRate(TBaudRate AValue) {
    SetControlSetting(FBaudRate, AValue);
}
void TCustomComPort::SetCustomBaudRate(std::int32_t AValue) {
    SetControlSetting(FCustomBaudRate, AValue);
}
void TCustomComPort::SetStopBits(TStopBits AValue) {
    SetControlSetting(FStopBits, AValue);
}
void TCustomComPort::SetDataBits(TDataBits AValue) {
    SetControlSetting(FDataBits, AValue);
}
void TCustomComPort::SetDiscardNull(bool AValue) {
    SetControlSetting(FDiscardNull, AValue);
}
void TCustomComPort::SetEventChar(char AValue) {
    SetControlSetting(FEventChar, AValue);
}

void TCustomComPort::SetParity(const TComParity& AValue) {
    FParity->Assign(AValue);
    ApplyControlBlock();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& AValue) {
    FFlowControl->Assign(AValue);
    ApplyControlBlock();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& AValue) {
    FTimeouts->Assign(AValue);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& AValue) {
    FBuffer->Assign(AValue);
    ApplyBufferSettings();
}

} // namespace cport
