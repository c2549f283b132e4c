#include "CPort.h"
#include "FakeComPlatform.h"

#include <gtest/gtest.h>

#include <string>

namespace cport {
namespace {

TEST(Errors, EveryCodeHasItsExactText) {
    const char* const texts[] = {
        "Unable to open com port",
        "WriteFile function failed",
        "ReadFile function failed",
        "Invalid Async parameter",
        "PurgeComm function failed",
        "Unable to get async status",
        "SetCommState function failed",
        "SetCommTimeouts failed",
        "SetupComm function failed",
        "ClearCommError function failed",
        "GetCommModemStatus function failed",
        "EscapeCommFunction function failed",
        "TransmitCommChar function failed",
        "Cannot set property while connected",
        "EnumPorts function failed",
        "Failed to store settings",
        "Failed to load settings",
        "Link (un)registration failed",
        "Cannot change led state if ComPort is selected",
        "Cannot wait for event if event thread is created",
        "WaitForEvent method failed",
        "A component is linked to OnRxBuf event",
        "Registry error",
    };
    for (int code = 1; code <= 23; ++code)
        EXPECT_EQ(ComErrorText(code), texts[code - 1]) << code;
    EXPECT_EQ(cpeCannotOpen, 1);
    EXPECT_EQ(cpeRxBufLinked, 22);
    EXPECT_EQ(cpeRegistry, 23);
}

TEST(Errors, CodesOutsideTheTableAreUnknown) {
    EXPECT_EQ(ComErrorText(0), "Unknown Error #0");
    EXPECT_EQ(ComErrorText(24), "Unknown Error #24");
    EXPECT_EQ(ComErrorText(-5), "Unknown Error #-5");
    EXPECT_EQ(ComErrorText(INT32_MIN), "Unknown Error #-2147483648");
}

TEST(Errors, OsFailureNamesThePortAndKeepsTheOsCodeOutOfTheMessage) {
    const EComPort e(cpeCannotOpen, 2, "COM1");
    EXPECT_STREQ(e.what(), "COM Port Error: Unable to open com port on COM1");
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 2);

    EXPECT_STREQ(EComPort(10, 31, "COM2").what(),
                 "COM Port Error: ClearCommError function failed on COM2");
    EXPECT_STREQ(EComPort(cpeRegistry, 2, "registry read").what(),
                 "COM Port Error: Registry error on registry read");
    EXPECT_STREQ(EComPort(0, 5, "COM3").what(), "COM Port Error: Unknown Error #0 on COM3");
    EXPECT_STREQ(EComPort(cpeSetupComm, 87, "").what(),
                 "COM Port Error: SetupComm function failed on ");
}

TEST(Errors, FailureWithoutOsCauseHasNoContext) {
    const EComPort e = EComPort::CreateNoWinCode(cpeWaitWithThread);
    EXPECT_STREQ(e.what(), "COM Port Error: Cannot wait for event if event thread is created");
    EXPECT_EQ(e.Code(), 20);
    EXPECT_EQ(e.WinCode(), -1);
    EXPECT_STREQ(EComPort::CreateNoWinCode(4).what(), "COM Port Error: Invalid Async parameter");
    EXPECT_STREQ(EComPort::CreateNoWinCode(-5).what(), "COM Port Error: Unknown Error #-5");
}

TEST(Errors, FieldsAreWritableAndTheTypeIsARuntimeError) {
    EComPort e = EComPort::CreateNoWinCode(cpeStoreSettings);
    e.SetCode(17);
    e.SetWinCode(42);
    EXPECT_EQ(e.Code(), 17);
    EXPECT_EQ(e.WinCode(), 42);
    try {
        throw EComPort(cpeReadFile, 995, "COM4");
    } catch (const std::runtime_error& caught) {
        EXPECT_STREQ(caught.what(), "COM Port Error: ReadFile function failed on COM4");
    }
}

TEST(Errors, ReasonIsWhatThePlatformSaidAtTheFailureElseTheSystemsText) {
    // The system's words differ by system (and Wine's from Windows'): the platform tests
    // pin them down.
    const std::string missing = OsErrorText(2);
    EXPECT_FALSE(missing.empty());
    EXPECT_NE(missing.back(), '.');
    EXPECT_EQ(EComPort::CreateNoWinCode(cpeWaitWithThread).Reason(), "");
    EXPECT_EQ(EComPort(cpeCannotOpen, 2, "COM1").Reason(), missing);

    test::TFakeComPlatform fake;
    TScopedComPlatform scope(fake);
    TComPort port(nullptr);
    // As the platform leaves it in the failing call; the raise takes it with the code.
    SetErrorReason(16, "in use by socat (PID 1234)");
    fake.Fail("CreateFileW", 16);
    try {
        port.Open();
        ADD_FAILURE() << "opened";
    } catch (const EComPort& e) {
        const EComPort copy = e;
        EXPECT_EQ(copy.Reason(), "in use by socat (PID 1234)");
    }
    // A reason is taken once, and only with its own code.
    SetErrorReason(16, "stale");
    fake.Fail("CreateFileW", 2);
    try {
        port.Open();
        ADD_FAILURE() << "opened";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Reason(), missing);
    }
}

} // namespace
} // namespace cport
