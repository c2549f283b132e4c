#include "CPort_p.h"
#include "FakeComPlatform.h"
#include "StoreFakePlatform.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace cport {
namespace {

constexpr const char* Location = "HKEY_CURRENT_USER\\Software\\Test";
constexpr const char* KeyPath = "HKEY_CURRENT_USER\\Software\\Test\\ComPort";
constexpr const char* IniFile = "settings.ini";

class Storage : public ::testing::Test {
protected:
    TStoreFakePlatform Fake;
    test::TFakeComPlatform Device{&Fake};
    TScopedComPlatform Scope{Device};

    static std::unique_ptr<TComPort> MakePort(const std::string& AName = "ComPort") {
        auto port = std::make_unique<TComPort>(nullptr);
        port->SetName(AName);
        return port;
    }

    // Raises the code of the EComPort that AAction raises, or fails the test.
    template <typename TAction>
    static std::int32_t CodeOf(TAction AAction) {
        try {
            AAction();
        } catch (const EComPort& e) {
            EXPECT_EQ(e.WinCode(), -1);
            return e.Code();
        }
        ADD_FAILURE() << "no EComPort raised";
        return 0;
    }
};

// An open port (on the fake device) whose apply steps count what reaches the device.
class TOpenCountingPort : public TComPort {
public:
    TOpenCountingPort()
        : TComPort(nullptr) {
        SetName("ComPort");
        SetEvents({});
        Open();
        ControlBlock = TimeoutSets = Buffers = 0;
    }
    int ControlBlock = 0;
    int TimeoutSets = 0;
    int Buffers = 0;

protected:
    void ApplyControlBlock() override { ControlBlock += CanApply() ? 1 : 0; }
    void ApplyTimeoutSettings() override { TimeoutSets += CanApply() ? 1 : 0; }
    void ApplyBufferSettings() override { Buffers += CanApply() ? 1 : 0; }
};

// Changes every setting of every group away from the defaults.
void ChangeEverything(TCustomComPort& APort) {
    APort.SetPort("COM7");
    APort.SetBaudRate(br57600);
    APort.SetCustomBaudRate(12345);
    APort.SetStopBits(sbTwoStopBits);
    APort.SetDataBits(dbSeven);
    APort.SetEventChar('\r');
    APort.SetDiscardNull(true);
    APort.Parity().SetBits(prMark);
    APort.Parity().SetCheck(true);
    APort.Parity().SetReplace(true);
    APort.Parity().SetReplaceChar(' ');
    APort.Buffer().SetInputSize(4096);
    APort.Buffer().SetOutputSize(2048);
    APort.Timeouts().SetReadInterval(5);
    APort.Timeouts().SetReadTotalConstant(6);
    APort.Timeouts().SetReadTotalMultiplier(7);
    APort.Timeouts().SetWriteTotalConstant(8);
    APort.Timeouts().SetWriteTotalMultiplier(9);
    TComFlowControl& f = APort.FlowControl();
    f.SetControlRTS(rtsToggle);
    f.SetControlDTR(dtrHandshake);
    f.SetDSRSensitivity(true);
    f.SetOutCTSFlow(true);
    f.SetOutDSRFlow(true);
    f.SetTxContinueOnXoff(true);
    f.SetXonXoffIn(true);
    f.SetXonXoffOut(true);
    f.SetXonChar('\xC8');
    f.SetXoffChar('~');
}

void ExpectDefaults(const TCustomComPort& APort, TStoredProps AGroups) {
    const TComPort fresh(nullptr);
    if (AGroups.Contains(spBasic)) {
        EXPECT_EQ(APort.Port(), fresh.Port());
        EXPECT_EQ(APort.BaudRate(), fresh.BaudRate());
        EXPECT_EQ(APort.StopBits(), fresh.StopBits());
        EXPECT_EQ(APort.DataBits(), fresh.DataBits());
        EXPECT_EQ(APort.Parity().Bits(), fresh.Parity().Bits());
    }
    if (AGroups.Contains(spOthers)) {
        EXPECT_EQ(APort.EventChar(), fresh.EventChar());
        EXPECT_EQ(APort.DiscardNull(), fresh.DiscardNull());
    }
    if (AGroups.Contains(spParity)) {
        EXPECT_EQ(APort.Parity().Check(), fresh.Parity().Check());
        EXPECT_EQ(APort.Parity().Replace(), fresh.Parity().Replace());
        EXPECT_EQ(APort.Parity().ReplaceChar(), fresh.Parity().ReplaceChar());
    }
    if (AGroups.Contains(spBuffer)) {
        EXPECT_EQ(APort.Buffer().InputSize(), fresh.Buffer().InputSize());
        EXPECT_EQ(APort.Buffer().OutputSize(), fresh.Buffer().OutputSize());
    }
    if (AGroups.Contains(spTimeouts)) {
        EXPECT_EQ(APort.Timeouts().ReadInterval(), fresh.Timeouts().ReadInterval());
        EXPECT_EQ(APort.Timeouts().ReadTotalConstant(), fresh.Timeouts().ReadTotalConstant());
        EXPECT_EQ(APort.Timeouts().ReadTotalMultiplier(), fresh.Timeouts().ReadTotalMultiplier());
        EXPECT_EQ(APort.Timeouts().WriteTotalConstant(), fresh.Timeouts().WriteTotalConstant());
        EXPECT_EQ(APort.Timeouts().WriteTotalMultiplier(), fresh.Timeouts().WriteTotalMultiplier());
    }
    if (AGroups.Contains(spFlowControl)) {
        const TComFlowControl& f = APort.FlowControl();
        const TComFlowControl& d = fresh.FlowControl();
        EXPECT_EQ(f.ControlRTS(), d.ControlRTS());
        EXPECT_EQ(f.ControlDTR(), d.ControlDTR());
        EXPECT_EQ(f.DSRSensitivity(), d.DSRSensitivity());
        EXPECT_EQ(f.OutCTSFlow(), d.OutCTSFlow());
        EXPECT_EQ(f.OutDSRFlow(), d.OutDSRFlow());
        EXPECT_EQ(f.TxContinueOnXoff(), d.TxContinueOnXoff());
        EXPECT_EQ(f.XonXoffIn(), d.XonXoffIn());
        EXPECT_EQ(f.XonXoffOut(), d.XonXoffOut());
        EXPECT_EQ(f.XonChar(), d.XonChar());
        EXPECT_EQ(f.XoffChar(), d.XoffChar());
    }
}

// --- Registry layout --------------------------------------------------------------------------

TEST_F(Storage, BasicGroupWritesExactlySixStringValues) {
    auto port = MakePort();
    port->StoreSettings(stRegistry, Location);
    const auto* key = Fake.Key(KeyPath);
    ASSERT_NE(key, nullptr);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Port", "COM1"},  {"BaudRate", "9600"}, {"StopBits", "1"},
        {"DataBits", "8"}, {"Parity", "None"},   {"FlowControl", "None"}};
    ASSERT_EQ(key->Values.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(key->Values[i].first, expected[i].first);
        EXPECT_EQ(key->Values[i].second.Type, RegType::Sz) << expected[i].first;
        EXPECT_EQ(key->Values[i].second.Data, expected[i].second);
    }
    EXPECT_EQ(Fake.OpenKeys, 0) << "the key must be closed";
}

TEST_F(Storage, EveryGroupIsWrittenInTheTableOrderWithItsKinds) {
    auto port = MakePort();
    port->SetStoredProps(TStoredProps::FromBits(0x3F));
    port->SetBaudRate(brCustom);
    port->StoreSettings(stRegistry, Location);
    const std::vector<std::string> names = {"Port",
                                            "BaudRate",
                                            "CustomBaudRate",
                                            "StopBits",
                                            "DataBits",
                                            "Parity",
                                            "FlowControl",
                                            "EventChar",
                                            "DiscardNull",
                                            "Parity.Check",
                                            "Parity.Replace",
                                            "Parity.ReplaceChar",
                                            "Buffer.OutputSize",
                                            "Buffer.InputSize",
                                            "Timeouts.ReadInterval",
                                            "Timeouts.ReadTotalConstant",
                                            "Timeouts.ReadTotalMultiplier",
                                            "Timeouts.WriteTotalConstant",
                                            "Timeouts.WriteTotalMultiplier",
                                            "FlowControl.ControlRTS",
                                            "FlowControl.ControlDTR",
                                            "FlowControl.DSRSensitivity",
                                            "FlowControl.OutCTSFlow",
                                            "FlowControl.OutDSRFlow",
                                            "FlowControl.TxContinueOnXoff",
                                            "FlowControl.XonXoffIn",
                                            "FlowControl.XonXoffOut",
                                            "FlowControl.XoffChar",
                                            "FlowControl.XonChar"};
    const auto* key = Fake.Key(KeyPath);
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->Values.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(key->Values[i].first, names[i]);
        const bool integer = names[i] == "CustomBaudRate" || names[i].starts_with("Buffer.") ||
                             names[i].starts_with("Timeouts.");
        EXPECT_EQ(key->Values[i].second.Type, integer ? RegType::DWord : RegType::Sz) << names[i];
    }
    // The MAXDWORD read interval is stored as the 32-bit pattern of -1; characters as text.
    EXPECT_EQ(Fake.Value(KeyPath, "Timeouts.ReadInterval")->Data,
              TStoreFakePlatform::DWord(~0u).Data);
    EXPECT_EQ(Fake.Value(KeyPath, "FlowControl.XonChar")->Data, "#17");
    EXPECT_EQ(Fake.Value(KeyPath, "DiscardNull")->Data, "No");
}

TEST_F(Storage, CustomRateRoundTripsThroughBothStores) {
    for (const TStoreType type : {stRegistry, stIniFile}) {
        const std::string where = type == stRegistry ? Location : IniFile;
        auto port = MakePort();
        port->SetBaudRate(brCustom);
        port->SetCustomBaudRate(250000);
        port->StoreSettings(type, where);
        auto loaded = MakePort();
        loaded->LoadSettings(type, where);
        EXPECT_EQ(loaded->BaudRate(), brCustom);
        EXPECT_EQ(loaded->CustomBaudRate(), 250000);
    }
    EXPECT_EQ(Fake.Value(KeyPath, "BaudRate")->Data, "Custom");
    EXPECT_EQ(Fake.Value(KeyPath, "CustomBaudRate")->Data, TStoreFakePlatform::DWord(250000).Data);
    EXPECT_EQ(Fake.IniValue(IniFile, "ComPort", "CustomBaudRate"), "250000");
}

TEST_F(Storage, AnEarlierCustomRateStaysWhenTheRateIsNoLongerCustom) {
    Fake.SetValue(KeyPath, "CustomBaudRate", TStoreFakePlatform::DWord(777));
    auto port = MakePort();
    port->StoreSettings(stRegistry, Location);
    EXPECT_EQ(Fake.Value(KeyPath, "CustomBaudRate")->Data, TStoreFakePlatform::DWord(777).Data);
}

TEST_F(Storage, FirstLoadCreatesTheKeyAndEmptiesThePort) {
    auto port = MakePort();
    ChangeEverything(*port);
    port->FlowControl().SetFlowControl(fcHardware);
    port->LoadSettings(stRegistry, Location);
    EXPECT_NE(Fake.Key(KeyPath), nullptr);
    EXPECT_EQ(port->Port(), "");
    EXPECT_EQ(port->BaudRate(), br9600);
    EXPECT_EQ(port->StopBits(), sbOneStopBit);
    EXPECT_EQ(port->DataBits(), dbEight);
    EXPECT_EQ(port->Parity().Bits(), prNone);
    EXPECT_EQ(port->FlowControl().FlowControl(), fcHardware) << "fcCustom changes no flag";
    EXPECT_EQ(port->Buffer().InputSize(), 4096) << "groups outside StoredProps stay";
    EXPECT_EQ(Fake.OpenKeys, 0);
}

// --- Key selection ----------------------------------------------------------------------------

TEST_F(Storage, KeyPathFollowsTheRootAndBackslashRules) {
    struct TCase {
        const char* Path;
        THKey Root;
        const char* Key;
    };
    const TCase cases[] = {
        {"hkey_local_machine\\Soft", HKey::LocalMachine, "Soft\\ComPort"},
        {"HKEY_CURRENT_USER\\Soft\\App", HKey::CurrentUser, "Soft\\App\\ComPort"},
        {"HKEY_CLASSES_ROOT\\Soft", HKey::CurrentUser, "Soft\\ComPort"},
        {"HKEY_LOCAL_MACHIN\\Soft", HKey::CurrentUser, "Soft\\ComPort"},
        {"\\Soft\\App", HKey::CurrentUser, "Soft\\App\\ComPort"},
        {"HKEY_CURRENT_USER\\Soft\\", HKey::CurrentUser, "Soft\\ComPort"},
        {"HKEY_LOCAL_MACHINE\\", HKey::LocalMachine, "ComPort"},
    };
    for (const TCase& c : cases) {
        Fake.CreatedKeys.clear();
        TRegistryAccess access;
        OpenSettingsKey(access, c.Path, "ComPort");
        ASSERT_EQ(Fake.CreatedKeys.size(), 1u) << c.Path;
        EXPECT_EQ(Fake.CreatedKeys[0].first, c.Root) << c.Path;
        EXPECT_EQ(Fake.CreatedKeys[0].second, c.Key) << c.Path;
        EXPECT_TRUE(access.HasKey());
    }
    TRegistryAccess access;
    Fake.CreatedKeys.clear();
    OpenSettingsKey(access, "Software", "ComPort");
    EXPECT_TRUE(Fake.CreatedKeys.empty()) << "no backslash opens nothing";
    EXPECT_FALSE(access.HasKey());
}

TEST_F(Storage, WithoutAKeyStoringFailsAndLoadingFailsOnlyAtTheFirstInteger) {
    auto port = MakePort();
    EXPECT_EQ(CodeOf([&] { port->StoreSettings(stRegistry, "Software"); }), cpeStoreSettings);
    port->LoadSettings(stRegistry, "Software");
    EXPECT_EQ(port->Port(), "") << "text values read as empty";
    port->SetStoredProps({spBasic, spTimeouts});
    port->SetPort("COM2");
    EXPECT_EQ(CodeOf([&] { port->LoadSettings(stRegistry, "Software"); }), cpeLoadSettings);
    EXPECT_EQ(port->Port(), "") << "values before the failure stay applied";
    // A key that cannot be created behaves the same way.
    Fake.Fail("RegCreateKeyExW", WinError::AccessDenied);
    EXPECT_EQ(CodeOf([&] { port->StoreSettings(stRegistry, Location); }), cpeStoreSettings);
}

TEST_F(Storage, TwoComponentsShareALocationWithoutTouchingEachOther) {
    for (const TStoreType type : {stRegistry, stIniFile}) {
        const std::string where = type == stRegistry ? Location : IniFile;
        auto a = MakePort("PortA");
        auto b = MakePort("PortB");
        a->SetPort("COM3");
        b->SetPort("COM4");
        a->StoreSettings(type, where);
        b->StoreSettings(type, where);
        a->SetPort("X");
        b->SetPort("Y");
        a->LoadSettings(type, where);
        b->LoadSettings(type, where);
        EXPECT_EQ(a->Port(), "COM3");
        EXPECT_EQ(b->Port(), "COM4");
    }
    EXPECT_EQ(Fake.Value("HKEY_CURRENT_USER\\Software\\Test\\PortA", "Port")->Data, "COM3");
    EXPECT_EQ(Fake.Value("HKEY_CURRENT_USER\\Software\\Test\\PortB", "Port")->Data, "COM4");
    EXPECT_EQ(Fake.IniValue(IniFile, "PortA", "Port"), "COM3");
    EXPECT_EQ(Fake.IniValue(IniFile, "PortB", "Port"), "COM4");
}

// --- Reading rules ----------------------------------------------------------------------------

TEST_F(Storage, IniWithoutTheSectionChangesNothing) {
    auto port = MakePort();
    port->SetStoredProps(TStoredProps::FromBits(0x3F));
    ChangeEverything(*port);
    Fake.Ini[IniFile]["Other"]["Port"] = "COM9";
    port->LoadSettings(stIniFile, IniFile);
    EXPECT_EQ(port->Port(), "COM7");
    EXPECT_EQ(port->BaudRate(), br57600);
    EXPECT_EQ(port->CustomBaudRate(), 12345);
    EXPECT_EQ(port->EventChar(), '\r');
    EXPECT_EQ(port->Parity().ReplaceChar(), ' ');
    EXPECT_EQ(port->Buffer().InputSize(), 4096);
    EXPECT_EQ(port->Timeouts().ReadInterval(), 5);
    EXPECT_EQ(port->FlowControl().XonChar(), '\xC8');
    EXPECT_EQ(port->FlowControl().ControlRTS(), rtsToggle);
}

TEST_F(Storage, IniSectionWithOnlyACustomRateFallsBackTo9600) {
    auto port = MakePort();
    port->SetCustomBaudRate(250000);
    port->SetPort("COM5");
    Fake.Ini[IniFile]["comport"]["baudrate"] = "cUSTOM";
    port->LoadSettings(stIniFile, IniFile);
    EXPECT_EQ(port->BaudRate(), brCustom);
    EXPECT_EQ(port->CustomBaudRate(), 9600);
    EXPECT_EQ(port->Port(), "COM5") << "a missing line keeps the current value";
}

TEST_F(Storage, IniIntegersAcceptHexAndFallBackOnGarbage) {
    auto port = MakePort();
    port->SetStoredProps({spBuffer, spTimeouts});
    port->Timeouts().SetReadInterval(77);
    auto& section = Fake.Ini[IniFile]["ComPort"];
    section["Buffer.InputSize"] = "0x800";
    section["Buffer.OutputSize"] = "$400";
    section["Timeouts.ReadInterval"] = "12abc";
    section["Timeouts.WriteTotalConstant"] = "-1";
    port->LoadSettings(stIniFile, IniFile);
    EXPECT_EQ(port->Buffer().InputSize(), 2048);
    EXPECT_EQ(port->Buffer().OutputSize(), 1024);
    EXPECT_EQ(port->Timeouts().ReadInterval(), 77);
    EXPECT_EQ(port->Timeouts().WriteTotalConstant(), -1);
    EXPECT_EQ(port->Timeouts().WriteTotalMultiplier(), 100) << "missing line keeps the value";
}

TEST_F(Storage, IniTextIsReadUpTo2047Characters) {
    auto port = MakePort();
    Fake.Ini[IniFile]["ComPort"]["Port"] = std::string(3000, 'p');
    port->LoadSettings(stIniFile, IniFile);
    EXPECT_EQ(port->Port().size(), 2047u);
}

TEST_F(Storage, StoredTextsAreMatchedIgnoringCase) {
    auto port = MakePort();
    port->SetStoredProps({spBasic, spOthers});
    Fake.SetValue(KeyPath, "BaudRate", TStoreFakePlatform::Text("cUsToM"));
    Fake.SetValue(KeyPath, "CustomBaudRate", TStoreFakePlatform::DWord(300));
    Fake.SetValue(KeyPath, "DiscardNull", TStoreFakePlatform::Text("yEs"));
    Fake.SetValue(KeyPath, "EventChar", TStoreFakePlatform::Text("#13"));
    port->LoadSettings(stRegistry, Location);
    EXPECT_EQ(port->BaudRate(), brCustom);
    EXPECT_EQ(port->CustomBaudRate(), 300);
    EXPECT_TRUE(port->DiscardNull());
    EXPECT_EQ(port->EventChar(), '\r');
    for (const char* other : {"True", "Y", "1", ""}) {
        Fake.SetValue(KeyPath, "DiscardNull", TStoreFakePlatform::Text(other));
        port->SetDiscardNull(true);
        port->LoadSettings(stRegistry, Location);
        EXPECT_FALSE(port->DiscardNull()) << other;
    }
}

TEST_F(Storage, ExpandableStringsReadAsText) {
    auto port = MakePort();
    Fake.SetValue(KeyPath, "Port", TRegValue{RegType::ExpandSz, "COM8"});
    port->LoadSettings(stRegistry, Location);
    EXPECT_EQ(port->Port(), "COM8");
}

class StorageRoundTrip : public Storage, public ::testing::WithParamInterface<TStoreType> {};

TEST_P(StorageRoundTrip, LoadRestoresTheStoredGroupsOnly) {
    const std::string where = GetParam() == stRegistry ? Location : IniFile;
    auto port = MakePort();
    const TStoredProps stored{spBasic, spOthers, spParity, spBuffer, spTimeouts};
    port->SetStoredProps(stored);
    port->StoreSettings(GetParam(), where);
    ChangeEverything(*port);
    port->LoadSettings(GetParam(), where);
    ExpectDefaults(*port, stored);
    EXPECT_EQ(port->FlowControl().FlowControl(), fcNone) << "the composite is in spBasic";
    // spFlowControl was not stored: its other fields keep their changed values.
    EXPECT_EQ(port->FlowControl().ControlDTR(), dtrHandshake);
    EXPECT_TRUE(port->FlowControl().DSRSensitivity());
    EXPECT_EQ(port->FlowControl().XonChar(), '\xC8');

    // And the other way round: everything changed is stored and comes back.
    port->SetStoredProps(TStoredProps::FromBits(0x3F));
    ChangeEverything(*port);
    port->StoreSettings(GetParam(), where);
    auto loaded = MakePort();
    loaded->SetStoredProps(TStoredProps::FromBits(0x3F));
    loaded->LoadSettings(GetParam(), where);
    EXPECT_EQ(loaded->Port(), "COM7");
    EXPECT_EQ(loaded->BaudRate(), br57600);
    EXPECT_EQ(loaded->CustomBaudRate(), 9600) << "only read for a custom rate";
    EXPECT_EQ(loaded->EventChar(), '\r');
    EXPECT_EQ(loaded->Parity().Bits(), prMark);
    EXPECT_EQ(loaded->Parity().ReplaceChar(), ' ');
    EXPECT_EQ(loaded->Buffer().OutputSize(), 2048);
    EXPECT_EQ(loaded->Timeouts().WriteTotalMultiplier(), 9);
    EXPECT_EQ(loaded->FlowControl().ControlRTS(), rtsToggle);
    EXPECT_EQ(loaded->FlowControl().XonChar(), '\xC8');
    EXPECT_EQ(loaded->FlowControl().XoffChar(), '~');
    EXPECT_TRUE(loaded->FlowControl().TxContinueOnXoff());
}

INSTANTIATE_TEST_SUITE_P(BothStores, StorageRoundTrip, ::testing::Values(stRegistry, stIniFile));

TEST_F(Storage, SingleFlowFlagsWinOverTheComposite) {
    auto port = MakePort();
    port->SetStoredProps({spBasic, spFlowControl});
    port->StoreSettings(stRegistry, Location);
    Fake.SetValue(KeyPath, "FlowControl", TStoreFakePlatform::Text("Hardware"));
    Fake.SetValue(KeyPath, "FlowControl.ControlRTS", TStoreFakePlatform::Text("Enable"));
    port->LoadSettings(stRegistry, Location);
    EXPECT_EQ(port->FlowControl().ControlRTS(), rtsEnable);
    EXPECT_FALSE(port->FlowControl().OutCTSFlow()) << "stored single flag \"No\"";
}

TEST_F(Storage, EmptyStoredPropsCreatesTheKeyAndReappliesOnce) {
    TOpenCountingPort port;
    port.SetStoredProps({});
    port.StoreSettings(stRegistry, Location);
    ASSERT_NE(Fake.Key(KeyPath), nullptr);
    EXPECT_TRUE(Fake.Key(KeyPath)->Values.empty());
    port.LoadSettings(stRegistry, Location);
    EXPECT_EQ(port.ControlBlock, 1);
    EXPECT_EQ(port.TimeoutSets, 1);
    EXPECT_EQ(port.Buffers, 1);
}

// --- Failures ---------------------------------------------------------------------------------

TEST_F(Storage, AValueOfTheWrongKindFailsAfterTheValuesBeforeIt) {
    auto port = MakePort();
    port->SetStoredProps({spBasic, spOthers, spBuffer});
    Fake.SetValue(KeyPath, "Port", TStoreFakePlatform::Text("COM6"));
    Fake.SetValue(KeyPath, "DiscardNull", TStoreFakePlatform::Text("Yes"));
    Fake.SetValue(KeyPath, "Buffer.OutputSize", TStoreFakePlatform::Text("2048"));
    Fake.SetValue(KeyPath, "Buffer.InputSize", TStoreFakePlatform::DWord(4096));
    EXPECT_EQ(CodeOf([&] { port->LoadSettings(stRegistry, Location); }), cpeLoadSettings);
    EXPECT_EQ(port->Port(), "COM6");
    EXPECT_TRUE(port->DiscardNull());
    EXPECT_EQ(port->Buffer().OutputSize(), 1024);
    EXPECT_EQ(port->Buffer().InputSize(), 1024) << "nothing after the failure";

    Fake.SetValue(KeyPath, "Port", TStoreFakePlatform::DWord(1));
    EXPECT_EQ(CodeOf([&] { port->LoadSettings(stRegistry, Location); }), cpeLoadSettings);
    EXPECT_EQ(Fake.OpenKeys, 0);
}

TEST_F(Storage, AMissingCustomRateFailsTheLoad) {
    auto port = MakePort();
    Fake.SetValue(KeyPath, "BaudRate", TStoreFakePlatform::Text("Custom"));
    EXPECT_EQ(CodeOf([&] { port->LoadSettings(stRegistry, Location); }), cpeLoadSettings);
    EXPECT_EQ(port->BaudRate(), brCustom);
}

TEST_F(Storage, LoadBracketIsClosedAfterAFailure) {
    TOpenCountingPort port;
    port.SetStoredProps({spTimeouts});
    Fake.SetValue(KeyPath, "Timeouts.ReadInterval", TStoreFakePlatform::DWord(3));
    Fake.SetValue(KeyPath, "Timeouts.ReadTotalConstant", TStoreFakePlatform::Text("x"));
    EXPECT_EQ(CodeOf([&] { port.LoadSettings(stRegistry, Location); }), cpeLoadSettings);
    EXPECT_EQ(port.Timeouts().ReadInterval(), 3);
    // Closing the bracket applied everything once, the value read before the failure included.
    EXPECT_EQ(port.TimeoutSets, 1);
    EXPECT_EQ(port.ControlBlock, 1);
    // A later change is not held back by a bracket left open.
    port.SetBaudRate(br19200);
    EXPECT_EQ(port.ControlBlock, 2);
}

TEST_F(Storage, PlatformFailuresBecomeTheStoreAndLoadCodes) {
    auto port = MakePort();
    Fake.Fail("RegSetValueExW", WinError::AccessDenied, 1, 2);
    try {
        port->StoreSettings(stRegistry, Location);
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeStoreSettings);
        EXPECT_EQ(e.WinCode(), -1);
        EXPECT_STREQ(e.what(), "COM Port Error: Failed to store settings");
    }
    EXPECT_EQ(Fake.Key(KeyPath)->Values.size(), 2u) << "values before the failure stay";
    EXPECT_EQ(Fake.OpenKeys, 0) << "released before the error leaves";

    Fake.Fail("RegQueryValueExW", WinError::AccessDenied);
    EXPECT_EQ(CodeOf([&] { port->LoadSettings(stRegistry, Location); }), cpeLoadSettings);
    EXPECT_EQ(Fake.OpenKeys, 0);

    const int flushes = Fake.ProfileFlushes;
    Fake.Fail("WritePrivateProfileStringW", 5);
    EXPECT_EQ(CodeOf([&] { port->StoreSettings(stIniFile, IniFile); }), cpeStoreSettings);
    EXPECT_EQ(Fake.ProfileFlushes, flushes + 1) << "the INI accessor is released too";

    // The release of a successful store counts as part of it.
    Fake.Fail("WritePrivateProfileStringW", 5, 1, 6);
    EXPECT_EQ(CodeOf([&] { port->StoreSettings(stIniFile, IniFile); }), cpeStoreSettings);
}

TEST_F(Storage, AnyFailureOfADescendantIsReplacedToo) {
    class TThrowingPort : public TComPort {
    public:
        using TComPort::TComPort;

    protected:
        void StoreToIniFile(TIniAccess&) override { throw std::logic_error("descendant"); }
        void LoadFromIniFile(TIniAccess&) override { throw 42; }
    };
    TThrowingPort port(nullptr);
    EXPECT_EQ(CodeOf([&] { port.StoreSettings(stIniFile, IniFile); }), cpeStoreSettings);
    EXPECT_EQ(CodeOf([&] { port.LoadSettings(stIniFile, IniFile); }), cpeLoadSettings);
}

} // namespace
} // namespace cport
