// The handlers of a port's events, and the links through which other components listen to a
// port.
#pragma once

#include "CPortTypes.h"
#include "Component.h"

#include <cstdint>
#include <functional>

namespace cport {

using TNotifyEvent = std::function<void(TObject* ASender)>;
using TRxCharEvent = std::function<void(TObject* ASender, std::int32_t ACount)>;
// ABuffer points at ACount raw bytes, not terminated.
using TRxBufEvent = std::function<void(TObject* ASender, const char* ABuffer, std::int32_t ACount)>;
using TComSignalEvent = std::function<void(TObject* ASender, bool AOnOff)>;
using TComErrorEvent = std::function<void(TObject* ASender, TComErrors AErrors)>;

// What a link hears about.
enum TLinkNotice : std::uint8_t {
    lnConn,
    lnCTS,
    lnDSR,
    lnRLSD,
    lnRing,
    lnRx,
    lnTx,
    lnTxEmpty,
    lnRxFlag
};

// An observer through which another component listens to a port. Whoever creates a link owns
// it and unregisters it before freeing it. A link that wants received buffers should assign
// OnRxBuf before it registers. The sender of every handler is the port.
class TComLink : public TObject {
public:
    const TComSignalEvent& OnConn() const { return FOnConn; }
    void SetOnConn(TComSignalEvent AValue) { FOnConn = std::move(AValue); }
    const TRxBufEvent& OnRxBuf() const { return FOnRxBuf; }
    void SetOnRxBuf(TRxBufEvent AValue) { FOnRxBuf = std::move(AValue); }
    const TRxBufEvent& OnTxBuf() const { return FOnTxBuf; }
    void SetOnTxBuf(TRxBufEvent AValue) { FOnTxBuf = std::move(AValue); }
    const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
    void SetOnTxEmpty(TNotifyEvent AValue) { FOnTxEmpty = std::move(AValue); }
    const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
    void SetOnRxFlag(TNotifyEvent AValue) { FOnRxFlag = std::move(AValue); }
    const TComSignalEvent& OnCTSChange() const { return FOnCTSChange; }
    void SetOnCTSChange(TComSignalEvent AValue) { FOnCTSChange = std::move(AValue); }
    const TComSignalEvent& OnDSRChange() const { return FOnDSRChange; }
    void SetOnDSRChange(TComSignalEvent AValue) { FOnDSRChange = std::move(AValue); }
    const TComSignalEvent& OnRLSDChange() const { return FOnRLSDChange; }
    void SetOnRLSDChange(TComSignalEvent AValue) { FOnRLSDChange = std::move(AValue); }
    const TNotifyEvent& OnRing() const { return FOnRing; }
    void SetOnRing(TNotifyEvent AValue) { FOnRing = std::move(AValue); }
    const TComSignalEvent& OnTx() const { return FOnTx; }
    void SetOnTx(TComSignalEvent AValue) { FOnTx = std::move(AValue); }
    const TComSignalEvent& OnRx() const { return FOnRx; }
    void SetOnRx(TComSignalEvent AValue) { FOnRx = std::move(AValue); }

private:
    TComSignalEvent FOnConn;
    TRxBufEvent FOnRxBuf;
    TRxBufEvent FOnTxBuf;
    TNotifyEvent FOnTxEmpty;
    TNotifyEvent FOnRxFlag;
    TComSignalEvent FOnCTSChange;
    TComSignalEvent FOnDSRChange;
    TComSignalEvent FOnRLSDChange;
    TNotifyEvent FOnRing;
    TComSignalEvent FOnTx;
    TComSignalEvent FOnRx;
};

} // namespace cport
