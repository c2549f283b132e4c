#include "PortFixture.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <termios.h>

namespace cport {
namespace {

class TLineSettingsTest : public TPortTest {
protected:
    void SetUp() override { ASSERT_EQ(Open(), 0u); }
    TPtyLine Apply(const TDCB& ADcb) {
        EXPECT_EQ(Platform.SetCommState(Port, ADcb), 0u);
        return Pty.SlaveLine();
    }
};

TEST_F(TLineSettingsTest, StandardAndCustomRatesReachTheDevice) {
    // A rate with a code of its own is set through it, so that tools reading the old termios
    // (stty) see it; any other needs BOTHER (CBAUDEX with no other rate bit).
    const std::pair<std::uint32_t, tcflag_t> rates[] = {
        {9600, B9600}, {250000, CBAUDEX}, {1234567, CBAUDEX}, {115200, B115200}, {921600, B921600}};
    for (const auto& [rate, code] : rates) {
        TDCB dcb = Line8N1();
        dcb.BaudRate = rate;
        const TPtyLine line = Apply(dcb);
        EXPECT_EQ(line.OSpeed, rate);
        EXPECT_EQ(line.ISpeed, rate);
        EXPECT_EQ(line.CFlag & CBAUD, code) << rate;
    }
}

TEST_F(TLineSettingsTest, FlowControlStopBitsAndParityMapToTermios) {
    TDCB dcb = Line8N1(DcbFlag::Binary | DcbFlag::OutxCtsFlow);
    TPtyLine line = Apply(dcb);
    EXPECT_NE(line.CFlag & CRTSCTS, 0u);
    EXPECT_EQ(line.CFlag & CSTOPB, 0u);

    dcb = Line8N1(DcbFlag::Binary | (2u << DcbFlag::RtsControlShift));
    EXPECT_NE(Apply(dcb).CFlag & CRTSCTS, 0u);

    dcb = Line8N1(DcbFlag::Binary | DcbFlag::OutX | DcbFlag::InX);
    dcb.XonChar = 'Q';
    dcb.XoffChar = 'S';
    line = Apply(dcb);
    EXPECT_EQ(line.CFlag & CRTSCTS, 0u);
    EXPECT_NE(line.IFlag & IXON, 0u);
    EXPECT_NE(line.IFlag & IXOFF, 0u);
    EXPECT_EQ(line.Cc[VSTART], 'Q');
    EXPECT_EQ(line.Cc[VSTOP], 'S');

    dcb = Line8N1(DcbFlag::Binary | DcbFlag::OutX);
    line = Apply(dcb);
    EXPECT_NE(line.IFlag & IXON, 0u);
    EXPECT_EQ(line.IFlag & IXOFF, 0u);

    for (const std::uint8_t stop : {DcbStopBits::One5, DcbStopBits::Two}) {
        dcb = Line8N1();
        dcb.StopBits = stop;
        EXPECT_NE(Apply(dcb).CFlag & CSTOPB, 0u) << int{stop};
    }

    // A pty clears PARENB on read-back but keeps PARODD and CMSPAR.
    struct TParityCase {
        std::uint8_t Parity;
        tcflag_t Expected;
    };
    for (const TParityCase c :
         {TParityCase{DcbParity::Odd, PARODD}, TParityCase{DcbParity::Even, 0},
          TParityCase{DcbParity::Mark, PARODD | CMSPAR}, TParityCase{DcbParity::Space, CMSPAR}}) {
        dcb = Line8N1(DcbFlag::Binary | DcbFlag::Parity);
        dcb.Parity = c.Parity;
        line = Apply(dcb);
        EXPECT_EQ(line.CFlag & (PARODD | CMSPAR), c.Expected) << int{c.Parity};
        EXPECT_EQ(line.IFlag & (INPCK | PARMRK | IGNBRK), INPCK | PARMRK);
    }
    // Without parity checking nothing is marked, and a break leaves no NUL byte.
    EXPECT_EQ(Apply(Line8N1()).IFlag & (INPCK | PARMRK | IGNBRK), IGNBRK);
}

TEST_F(TLineSettingsTest, InvalidValuesAreRefusedAndLeaveTheStateAlone) {
    TDCB good = Line8N1();
    good.BaudRate = 19200;
    ASSERT_EQ(Platform.SetCommState(Port, good), 0u);
    std::vector<TDCB> bad(7, good);
    bad[0].ByteSize = 4;
    bad[1].ByteSize = 9;
    bad[2].Parity = 5;
    bad[3].StopBits = 3;
    bad[4].BaudRate = 0;
    bad[5].Flags |= DcbFlag::OutX;
    bad[5].XoffChar = bad[5].XonChar;
    bad[6].Flags |= DcbFlag::InX;
    bad[6].XoffChar = bad[6].XonChar;
    for (const TDCB& dcb : bad)
        EXPECT_EQ(Platform.SetCommState(Port, dcb), static_cast<TOsError>(EINVAL));
    TDCB read;
    ASSERT_EQ(Platform.GetCommState(Port, read), 0u);
    EXPECT_EQ(read.BaudRate, 19200u);
    EXPECT_EQ(read.ByteSize, 8u);
    EXPECT_EQ(Pty.SlaveLine().OSpeed, 19200u);
}

TEST_F(TLineSettingsTest, StateReadsBackAsSetIncludingWhatLinuxCannotExpress) {
    TDCB dcb = Line8N1(DcbFlag::Binary | DcbFlag::DsrSensitivity | DcbFlag::TXContinueOnXoff |
                       DcbFlag::OutxDsrFlow | (2u << DcbFlag::DtrControlShift) |
                       (3u << DcbFlag::RtsControlShift) | DcbFlag::Null);
    dcb.BaudRate = 57600;
    dcb.ByteSize = 7;
    dcb.XonLim = 256;
    dcb.XoffLim = 256;
    dcb.EvtChar = '\n';
    dcb.ErrorChar = '#';
    ASSERT_EQ(Platform.SetCommState(Port, dcb), 0u);
    TDCB read;
    ASSERT_EQ(Platform.GetCommState(Port, read), 0u);
    EXPECT_EQ(std::memcmp(&read, &dcb, sizeof dcb), 0);
}

TEST_F(TLineSettingsTest, DtrAndRtsLevelsOnAPtyAreKeptWithoutError) {
    for (const std::uint32_t control : {0u, 1u}) {
        const TDCB dcb = Line8N1(DcbFlag::Binary | (control << DcbFlag::DtrControlShift) |
                                 (control << DcbFlag::RtsControlShift));
        EXPECT_EQ(Platform.SetCommState(Port, dcb), 0u);
    }
    for (const std::uint32_t function : {Esc::SetDtr, Esc::ClrDtr, Esc::SetRts, Esc::ClrRts})
        EXPECT_EQ(Platform.EscapeCommFunction(Port, function), 0u) << function;
    std::uint32_t status = 0xFF;
    EXPECT_EQ(Platform.GetCommModemStatus(Port, status), 0u);
    EXPECT_EQ(status, 0u);
}

TEST_F(TLineSettingsTest, TimeoutsAndQueueSizesAreCheckedAndKept) {
    const TCommTimeouts timeouts{MaxDword, 0, 0, 100, 1000};
    ASSERT_EQ(Platform.SetCommTimeouts(Port, timeouts), 0u);
    TCommTimeouts read;
    ASSERT_EQ(Platform.GetCommTimeouts(Port, read), 0u);
    EXPECT_EQ(std::memcmp(&read, &timeouts, sizeof read), 0);
    EXPECT_EQ(Platform.SetCommTimeouts(Port, {MaxDword, MaxDword, MaxDword, 0, 0}),
              static_cast<TOsError>(EINVAL));

    EXPECT_EQ(Platform.SetupComm(Port, 0, 1024), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.SetupComm(Port, (64u << 20) + 1, 1024), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.SetupComm(Port, 1024, (64u << 20) + 1), static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.SetupComm(Port, 64u << 20, 0), 0u);
    EXPECT_EQ(Platform.SetupComm(Port, 1, 1), 0u);
}

} // namespace
} // namespace cport
