#include "CPort.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

// Counts the apply requests that reach the port.
class TRecordingPort : public TCustomComPort {
public:
    TRecordingPort()
        : TCustomComPort(nullptr) {}
    int ControlBlock = 0;
    int TimeoutSets = 0;
    int Buffers = 0;
    int Total() const { return ControlBlock + TimeoutSets + Buffers; }

protected:
    void ApplyControlBlock() override { ++ControlBlock; }
    void ApplyTimeoutSettings() override { ++TimeoutSets; }
    void ApplyBufferSettings() override { ++Buffers; }
};

TEST(Settings, NewPortHasTheDocumentedDefaults) {
    TComPort port(nullptr);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_FALSE(port.Parity().Check());
    EXPECT_FALSE(port.Parity().Replace());
    EXPECT_EQ(port.Parity().ReplaceChar(), '\0');
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
    EXPECT_EQ(port.FlowControl().XonChar(), '\x11');
    EXPECT_EQ(port.FlowControl().XoffChar(), '\x13');
    EXPECT_EQ(port.Events(), AllComEvents);
    EXPECT_EQ(port.Events().Bits(), 0x03FF);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.StoredProps(), TStoredProps{spBasic});
    EXPECT_EQ(port.StoredProps().Bits(), 0x01);
    EXPECT_TRUE(port.Overlapped());
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_FALSE(port.DiscardNull());
    EXPECT_EQ(port.EventChar(), '\0');
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.EventThreadPriority(), tpNormal);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), InvalidHandle);
    // Each settings object knows its port.
    EXPECT_EQ(port.Buffer().ComPort(), &port);
    EXPECT_EQ(port.Parity().ComPort(), &port);
    EXPECT_EQ(port.Timeouts().ComPort(), &port);
    EXPECT_EQ(port.FlowControl().ComPort(), &port);
}

TEST(Settings, SetBitsFollowTheirLayout) {
    TComEvents events{evRxChar, evRx80Full};
    EXPECT_EQ(events.Bits(), 0x0201);
    EXPECT_TRUE(events.Contains(evRx80Full));
    EXPECT_FALSE(events.Contains(evTxEmpty));
    events.Exclude(evRxChar).Include(evError);
    EXPECT_EQ(events.Bits(), 0x0280);
    EXPECT_EQ((TStoredProps{spBasic, spOthers}).Bits(), 0x21);
    EXPECT_EQ((TComSignals{csCTS, csRLSD}).Bits(), 0x09);
    EXPECT_EQ((TComErrors{ceFrame, ceTxFull}).Bits(), 0x81);
    EXPECT_TRUE(TComEvents{}.Empty());
}

TEST(Settings, EachGroupAsksForItsOwnApplyStep) {
    TRecordingPort port;
    port.Buffer().SetInputSize(2048);
    port.Buffer().SetOutputSize(512);
    EXPECT_EQ(port.Buffers, 2);
    port.Timeouts().SetReadInterval(10);
    port.Timeouts().SetReadTotalMultiplier(1);
    port.Timeouts().SetReadTotalConstant(2);
    port.Timeouts().SetWriteTotalMultiplier(3);
    port.Timeouts().SetWriteTotalConstant(4);
    EXPECT_EQ(port.TimeoutSets, 5);
    port.Parity().SetBits(prOdd);
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    EXPECT_EQ(port.ControlBlock, 4);
    TComFlowControl& flow = port.FlowControl();
    flow.SetOutCTSFlow(true);
    flow.SetOutDSRFlow(true);
    flow.SetControlDTR(dtrEnable);
    flow.SetControlRTS(rtsEnable);
    flow.SetXonXoffOut(true);
    flow.SetXonXoffIn(true);
    flow.SetDSRSensitivity(true);
    flow.SetTxContinueOnXoff(true);
    flow.SetXonChar('a');
    flow.SetXoffChar('b');
    EXPECT_EQ(port.ControlBlock, 14);
    EXPECT_EQ(port.Buffers, 2);
    EXPECT_EQ(port.TimeoutSets, 5);
}

TEST(Settings, AnEqualValueAppliesNothing) {
    TRecordingPort port;
    port.Buffer().SetInputSize(1024);
    port.Timeouts().SetReadInterval(-1);
    port.Parity().SetBits(prNone);
    port.Parity().SetReplaceChar('\0');
    port.FlowControl().SetXonChar('\x11');
    port.FlowControl().SetControlRTS(rtsDisable);
    EXPECT_EQ(port.Total(), 0);
}

TEST(Settings, OddPositiveBufferSizesAreRoundedDown) {
    TRecordingPort port;
    port.Buffer().SetInputSize(4097);
    EXPECT_EQ(port.Buffer().InputSize(), 4096);
    EXPECT_EQ(port.Buffers, 1);
    port.Buffer().SetInputSize(4096);
    EXPECT_EQ(port.Buffers, 1) << "equal value must not apply";
    // Compared before rounding: 4097 differs from the stored 4096, so it applies again.
    port.Buffer().SetInputSize(4097);
    EXPECT_EQ(port.Buffer().InputSize(), 4096);
    EXPECT_EQ(port.Buffers, 2);
    port.Buffer().SetOutputSize(1);
    EXPECT_EQ(port.Buffer().OutputSize(), 0);
    port.Buffer().SetOutputSize(-3);
    EXPECT_EQ(port.Buffer().OutputSize(), -3);
    port.Buffer().SetOutputSize(0);
    EXPECT_EQ(port.Buffer().OutputSize(), 0);
}

TEST(Settings, ObjectsWithoutAPortChangeFreely) {
    TComBuffer buffer;
    buffer.SetInputSize(1025);
    EXPECT_EQ(buffer.InputSize(), 1024);
    TComTimeouts timeouts;
    timeouts.SetWriteTotalConstant(5);
    EXPECT_EQ(timeouts.WriteTotalConstant(), 5);
    TComParity parity;
    parity.SetBits(prMark);
    EXPECT_EQ(parity.Bits(), prMark);
    TComFlowControl flow;
    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    EXPECT_EQ(flow.ComPort(), nullptr);
}

TEST(Settings, CompositeFlowControlReadsFourFieldsOnly) {
    TComFlowControl flow;
    EXPECT_EQ(flow.FlowControl(), fcNone);
    flow.SetControlRTS(rtsHandshake);
    flow.SetOutCTSFlow(true);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    // The other six fields do not influence the reading.
    flow.SetControlDTR(dtrHandshake);
    flow.SetOutDSRFlow(true);
    flow.SetDSRSensitivity(true);
    flow.SetTxContinueOnXoff(true);
    flow.SetXonChar('x');
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    flow.SetXonXoffIn(true);
    EXPECT_EQ(flow.FlowControl(), fcCustom);

    TComFlowControl soft;
    soft.SetXonXoffIn(true);
    EXPECT_EQ(soft.FlowControl(), fcCustom) << "one direction alone is no named mode";
    soft.SetXonXoffOut(true);
    EXPECT_EQ(soft.FlowControl(), fcSoftware);
    soft.SetOutCTSFlow(true);
    EXPECT_EQ(soft.FlowControl(), fcCustom);

    TComFlowControl toggle;
    toggle.SetControlRTS(rtsToggle);
    EXPECT_EQ(toggle.FlowControl(), fcCustom);
    toggle.SetControlRTS(rtsEnable);
    EXPECT_EQ(toggle.FlowControl(), fcCustom);
    toggle.SetControlRTS(rtsHandshake);
    EXPECT_EQ(toggle.FlowControl(), fcCustom) << "handshake without CTS flow is custom";
}

TEST(Settings, WritingANamedModeClearsTheOthersAndKeepsTheRest) {
    TRecordingPort port;
    TComFlowControl& flow = port.FlowControl();
    flow.SetControlDTR(dtrHandshake);
    flow.SetXonXoffIn(true);
    flow.SetOutDSRFlow(true);
    flow.SetXoffChar('z');
    const int before = port.ControlBlock;

    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    EXPECT_EQ(flow.ControlDTR(), dtrHandshake);
    EXPECT_FALSE(flow.XonXoffIn());
    EXPECT_TRUE(flow.OutDSRFlow());
    EXPECT_EQ(flow.XoffChar(), 'z');
    EXPECT_EQ(port.ControlBlock, before + 1) << "fields are written directly, applied once";

    flow.SetFlowControl(fcSoftware);
    EXPECT_EQ(flow.ControlRTS(), rtsDisable);
    EXPECT_FALSE(flow.OutCTSFlow());
    EXPECT_TRUE(flow.XonXoffIn());
    EXPECT_TRUE(flow.XonXoffOut());

    flow.SetFlowControl(fcNone);
    EXPECT_EQ(flow.FlowControl(), fcNone);
    EXPECT_FALSE(flow.XonXoffIn());
    EXPECT_EQ(port.ControlBlock, before + 3);
}

TEST(Settings, WritingCustomChangesNoFieldButStillApplies) {
    TRecordingPort port;
    TComFlowControl& flow = port.FlowControl();
    flow.SetControlRTS(rtsToggle);
    flow.SetXonXoffOut(true);
    const int before = port.ControlBlock;
    flow.SetFlowControl(fcCustom);
    EXPECT_EQ(flow.ControlRTS(), rtsToggle);
    EXPECT_TRUE(flow.XonXoffOut());
    EXPECT_EQ(port.ControlBlock, before + 1);
    // An unchanged named mode applies too.
    flow.SetFlowControl(fcNone);
    flow.SetFlowControl(fcNone);
    EXPECT_EQ(port.ControlBlock, before + 3);
}

TEST(Settings, AssignCopiesFieldsOnlyAndAppliesNothing) {
    TRecordingPort port;
    TComBuffer buffer;
    buffer.SetInputSize(-7);
    buffer.SetOutputSize(4096);
    port.Buffer().Assign(buffer);
    EXPECT_EQ(port.Buffer().InputSize(), -7);
    EXPECT_EQ(port.Buffer().OutputSize(), 4096);
    EXPECT_EQ(port.Buffer().ComPort(), &port) << "the port is not copied";

    TComTimeouts timeouts;
    timeouts.SetReadInterval(1);
    timeouts.SetReadTotalMultiplier(2);
    timeouts.SetReadTotalConstant(3);
    timeouts.SetWriteTotalMultiplier(4);
    timeouts.SetWriteTotalConstant(5);
    port.Timeouts().Assign(timeouts);
    EXPECT_EQ(port.Timeouts().ReadInterval(), 1);
    EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 2);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 3);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 4);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 5);

    TComParity parity;
    parity.SetBits(prSpace);
    parity.SetCheck(true);
    parity.SetReplace(true);
    parity.SetReplaceChar('\xFF');
    port.Parity().Assign(parity);
    EXPECT_EQ(port.Parity().Bits(), prSpace);
    EXPECT_TRUE(port.Parity().Check());
    EXPECT_TRUE(port.Parity().Replace());
    EXPECT_EQ(port.Parity().ReplaceChar(), '\xFF');

    TComFlowControl flow;
    flow.SetOutCTSFlow(true);
    flow.SetOutDSRFlow(true);
    flow.SetControlDTR(dtrHandshake);
    flow.SetControlRTS(rtsToggle);
    flow.SetXonXoffOut(true);
    flow.SetXonXoffIn(true);
    flow.SetDSRSensitivity(true);
    flow.SetTxContinueOnXoff(true);
    flow.SetXonChar('1');
    flow.SetXoffChar('2');
    port.FlowControl().Assign(flow);
    const TComFlowControl& copy = port.FlowControl();
    EXPECT_TRUE(copy.OutCTSFlow());
    EXPECT_TRUE(copy.OutDSRFlow());
    EXPECT_EQ(copy.ControlDTR(), dtrHandshake);
    EXPECT_EQ(copy.ControlRTS(), rtsToggle);
    EXPECT_TRUE(copy.XonXoffOut());
    EXPECT_TRUE(copy.XonXoffIn());
    EXPECT_TRUE(copy.DSRSensitivity());
    EXPECT_TRUE(copy.TxContinueOnXoff());
    EXPECT_EQ(copy.XonChar(), '1');
    EXPECT_EQ(copy.XoffChar(), '2');

    EXPECT_EQ(port.Total(), 0);
}

TEST(Settings, PortSettersOfObjectsCopyThenApplyOnce) {
    TRecordingPort port;
    TComParity parity;
    port.SetParity(parity); // equal content: no equality test, applies anyway
    EXPECT_EQ(port.ControlBlock, 1);
    TComFlowControl flow;
    flow.SetFlowControl(fcSoftware);
    port.SetFlowControl(flow);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
    EXPECT_EQ(port.ControlBlock, 2);
    TComTimeouts timeouts;
    port.SetTimeouts(timeouts);
    EXPECT_EQ(port.TimeoutSets, 1);
    TComBuffer buffer;
    buffer.SetInputSize(7);
    port.SetBuffer(buffer);
    EXPECT_EQ(port.Buffer().InputSize(), 6);
    EXPECT_EQ(port.Buffers, 1);
}

} // namespace
} // namespace cport
