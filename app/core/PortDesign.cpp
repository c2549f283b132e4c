#include "PortDesign.h"

namespace quendal {

using namespace cport;

void SetDesignValues(TCustomComPort& APort) {
    APort.SetName("ComPort");
    APort.SetPort("COM2");
    APort.SetBaudRate(br9600);
    APort.SetDataBits(dbEight);
    APort.Parity().SetBits(prNone);
    APort.SetStopBits(sbOneStopBit);
    APort.SetDiscardNull(true);
    APort.SetEvents(AllComEvents);
    TComFlowControl& flow = APort.FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(dtrEnable);
    flow.SetControlRTS(rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
}

} // namespace quendal
