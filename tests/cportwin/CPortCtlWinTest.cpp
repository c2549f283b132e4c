// The Windows selectors: the lists they offer, binding to a port, the user's picks and typed
// text, applying, and the removal notice of the bound port.
#include "CPortCtl.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace cport {
namespace {

// A hidden parent window for the boxes; controls need one.
class TParent {
public:
    TParent()
        : FHandle(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr)) {}
    ~TParent() { DestroyWindow(FHandle); }
    TParent(const TParent&) = delete;
    TParent& operator=(const TParent&) = delete;
    HWND Handle() const { return FHandle; }

private:
    HWND FHandle;
};

std::vector<std::string> Entries(const TComComboBox& ACombo) {
    std::vector<std::string> entries;
    for (int i = 0; i < ACombo.Count(); ++i)
        entries.push_back(ACombo.Items(i));
    return entries;
}

// Picks an entry as the user does: the box selects it and tells its parent, which passes the
// notification on.
void Pick(TComComboBox& ACombo, const std::string& AText) {
    const std::vector<std::string> entries = Entries(ACombo);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] != AText) continue;
        ACombo.SetItemIndex(static_cast<int>(i));
        ACombo.Command(CBN_SELCHANGE);
        return;
    }
    FAIL() << AText << " is not listed";
}

// Types AText into a typable box and leaves it, as the user does.
void Type(TComComboBox& ACombo, const std::string& AText) {
    SetWindowTextA(ACombo.Handle(), AText.c_str());
    ACombo.Command(CBN_EDITCHANGE);
}

class CPortCtlWin : public ::testing::Test {
protected:
    TParent FParent;
    TComponent FOwner{nullptr};
    TComPort* FPort = new TComPort(&FOwner);
    TComComboBox FCombo{FParent.Handle(), 10, 0, 0, 120, 200};
};

TEST_F(CPortCtlWin, AnUnboundParitySelectorListsEveryParityAndSelectsTheFirst) {
    FCombo.SetComProperty(cpParity);
    EXPECT_EQ(Entries(FCombo), (std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(FCombo.Text(), "None");
    EXPECT_FALSE(FCombo.Typable());
}

TEST_F(CPortCtlWin, BindingShowsThePortsValueAndAPickWaitsForApplyWithoutAutoApply) {
    FPort->Parity().SetBits(prEven);
    FCombo.SetComProperty(cpParity);
    FCombo.SetComPort(FPort);
    EXPECT_EQ(FCombo.Text(), "Even");
    Pick(FCombo, "Odd");
    EXPECT_EQ(FPort->Parity().Bits(), prEven);
    FCombo.ApplySettings();
    EXPECT_EQ(FPort->Parity().Bits(), prOdd);
}

TEST_F(CPortCtlWin, AutoApplyWritesAPickAtOnceAndTellsTheOwner) {
    int changes = 0;
    FCombo.SetOnChange([&changes] { ++changes; });
    FCombo.SetComProperty(cpStopBits);
    FCombo.SetComPort(FPort);
    FCombo.SetAutoApply(true);
    Pick(FCombo, "2");
    EXPECT_EQ(FPort->StopBits(), sbTwoStopBits);
    EXPECT_EQ(changes, 1);
}

TEST_F(CPortCtlWin, SelectingByProgramNeverReachesThePort) {
    FCombo.SetComProperty(cpDataBits);
    FCombo.SetComPort(FPort);
    FCombo.SetAutoApply(true);
    FCombo.SetText("5");
    EXPECT_EQ(FCombo.Text(), "5");
    EXPECT_EQ(FPort->DataBits(), dbEight);
}

TEST_F(CPortCtlWin, SetTextIgnoresLetterCaseAndKeepsTheSelectionForUnlistedText) {
    FCombo.SetComProperty(cpParity);
    FCombo.SetText("sPaCe");
    EXPECT_EQ(FCombo.Text(), "Space");
    FCombo.SetText("Sideways");
    EXPECT_EQ(FCombo.Text(), "Space");
}

TEST_F(CPortCtlWin, APortNameNotInThePortListIsListedSoThatApplyingKeepsIt) {
    FPort->SetPort("COM42");
    FCombo.SetComProperty(cpPort);
    EXPECT_TRUE(FCombo.Typable());
    FCombo.SetComPort(FPort);
    EXPECT_EQ(FCombo.Text(), "COM42");
    FCombo.ApplySettings();
    EXPECT_EQ(FPort->Port(), "COM42");
}

TEST_F(CPortCtlWin, TypedTextIsTakenWhenTheBoxLosesTheFocusOrAtTheLatestByApply) {
    FCombo.SetComProperty(cpPort);
    FCombo.SetComPort(FPort);
    const std::string before = FPort->Port();
    Type(FCombo, "COM7");
    EXPECT_EQ(FPort->Port(), before);
    FCombo.ApplySettings();
    EXPECT_EQ(FPort->Port(), "COM7");

    FCombo.SetAutoApply(true);
    Type(FCombo, "COM8");
    FCombo.Command(CBN_KILLFOCUS);
    EXPECT_EQ(FPort->Port(), "COM8");
}

TEST_F(CPortCtlWin, ATypedRateOutsideTheListBecomesACustomRate) {
    FCombo.SetComProperty(cpBaudRate);
    FCombo.SetComPort(FPort);
    Type(FCombo, "250000");
    FCombo.ApplySettings();
    EXPECT_EQ(FPort->BaudRate(), brCustom);
    EXPECT_EQ(FPort->CustomBaudRate(), 250000);
}

TEST_F(CPortCtlWin, ChangingBetweenTypableAndPickOnlyKeepsTheBoxsPlace) {
    FCombo.SetComProperty(cpPort);
    const HWND before = FCombo.Handle();
    FCombo.SetComProperty(cpParity);
    EXPECT_FALSE(FCombo.Typable());
    EXPECT_NE(FCombo.Handle(), before);
    EXPECT_FALSE(IsWindow(before));
    EXPECT_EQ(GetParent(FCombo.Handle()), FParent.Handle());
    EXPECT_EQ(GetDlgCtrlID(FCombo.Handle()), 10);
    EXPECT_EQ(FCombo.Count(), 5);
}

TEST_F(CPortCtlWin, FreeingTheBoundPortUnbindsAndSelectsTheFirstEntry) {
    FPort->Parity().SetBits(prMark);
    FCombo.SetComProperty(cpParity);
    FCombo.SetComPort(FPort);
    delete FPort;
    EXPECT_EQ(FCombo.ComPort(), nullptr);
    EXPECT_EQ(FCombo.Text(), "None");
    Pick(FCombo, "Odd");
    FCombo.ApplySettings(); // nothing bound: nothing happens
}

TEST_F(CPortCtlWin, RebindingThenFreeingTheFirstPortKeepsTheSecondBinding) {
    TComPort* second = new TComPort(&FOwner);
    FCombo.SetComProperty(cpParity);
    FCombo.SetComPort(FPort);
    FCombo.SetComPort(second);
    delete FPort;
    EXPECT_EQ(FCombo.ComPort(), second);
}

TEST_F(CPortCtlWin, ADetachedBoxStillAppliesWhatWasPicked) {
    FCombo.SetComProperty(cpParity);
    FCombo.SetComPort(FPort);
    Pick(FCombo, "Space");
    DestroyWindow(FCombo.Handle());
    FCombo.Detach();
    FCombo.ApplySettings();
    EXPECT_EQ(FPort->Parity().Bits(), prSpace);
    EXPECT_EQ(FCombo.Text(), "");
}

} // namespace
} // namespace cport
