// Property selectors: the lists they offer, binding to a port, the user's picks and the
// program's selections, applying, and the removal notice of the bound port.
#include "CPortCtl.h"

#include "GuiThread.h"
#include "PortListFake.h"
#include "QtTestSupport.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace cport {
namespace {

using test::PickEntry;

QStringList Entries(const QComboBox& ACombo) {
    QStringList entries;
    for (int i = 0; i < ACombo.count(); ++i)
        entries << ACombo.itemText(i);
    return entries;
}

// What the list shows beside an entry.
QString Description(const QComboBox& ACombo, int ARow) {
    return ACombo.model()->index(ARow, 1).data().toString();
}

// Types AText over what the box shows, as the user does.
void Type(TComComboBox& ACombo, const QString& AText) {
    ACombo.lineEdit()->selectAll();
    QTest::keyClicks(ACombo.lineEdit(), AText);
}

// A selector list that is not a widget: the selector works on any list.
class TVectorItems : public TComItems {
public:
    void Clear() override { FItems.clear(); }
    void Add(const std::string& AText) override { FItems.push_back(AText); }
    int Count() const override { return static_cast<int>(FItems.size()); }
    std::string Strings(int AIndex) const override {
        return FItems.at(static_cast<std::size_t>(AIndex));
    }
    int IndexOf(const std::string& AText) const override {
        for (std::size_t i = 0; i < FItems.size(); ++i)
            if (QString::fromStdString(FItems[i]).compare(QString::fromStdString(AText),
                                                          Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        return -1;
    }

private:
    std::vector<std::string> FItems;
};

class Selector : public ::testing::Test {
protected:
    Selector() {
        Fake.SetPorts({"COM3", "COM1", "COM2"});
        Window.show();
    }

    // A combo box shown in the test's window, serving AProperty.
    TComComboBox& Combo(TComProperty AProperty) {
        auto* combo = new TComComboBox(&Window);
        combo->SetComProperty(AProperty);
        combo->show();
        return *combo;
    }

    test::TPortListFake Fake;
    TScopedComPlatform Scope{Fake};
    test::TReportRecorder Reports;
    QWidget Window;
    TComPort Port{nullptr};
};

TEST_F(Selector, EachSettingListsItsTextFormsInOrder) {
    struct TCase {
        TComProperty Property;
        QStringList Entries;
    };
    const TCase cases[] = {
        {cpNone, {}},
        {cpPort, {"COM1", "COM2", "COM3"}},
        {cpBaudRate,
         {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
          "57600", "115200", "128000", "230400", "256000", "460800", "921600"}},
        {cpDataBits, {"5", "6", "7", "8"}},
        {cpStopBits, {"1", "1.5", "2"}},
        {cpParity, {"None", "Odd", "Even", "Mark", "Space"}},
        {cpFlowControl, {"Hardware", "Software", "None", "Custom"}},
    };
    for (const TCase& c : cases) {
        TComComboBox& combo = Combo(c.Property);
        EXPECT_EQ(Entries(combo), c.Entries) << int(c.Property);
        EXPECT_EQ(combo.ComProperty(), c.Property);
        EXPECT_EQ(combo.currentIndex(), c.Entries.isEmpty() ? -1 : 0) << int(c.Property);
        EXPECT_EQ(combo.isEditable(), c.Property == cpPort || c.Property == cpBaudRate);
        EXPECT_FALSE(combo.AutoApply());
    }
    // Each port with its description beside it: here the registry's device names.
    EXPECT_EQ(Description(Combo(cpPort), 0), "\\Device\\Serial1");
}

TEST_F(Selector, UnboundParitySelectorSelectsNone) {
    TComComboBox& combo = Combo(cpParity);
    EXPECT_EQ(combo.count(), 5);
    EXPECT_EQ(combo.Text(), "None");
    EXPECT_EQ(combo.ComPort(), nullptr);
}

TEST_F(Selector, BindingShowsThePortsValue) {
    Port.Parity().SetBits(prEven);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(&Port);
    EXPECT_EQ(combo.Text(), "Even");

    // Setting the property of a bound selector shows the port's value at once, too.
    Port.SetBaudRate(br57600);
    combo.SetComProperty(cpBaudRate);
    EXPECT_EQ(combo.Text(), "57600");
}

TEST_F(Selector, WithoutAutoApplyAPickWaitsForApplySettings) {
    Port.Parity().SetBits(prEven);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(&Port);
    QSignalSpy changed(&combo, &TComComboBox::Changed);

    ASSERT_TRUE(PickEntry(combo, "Odd"));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(combo.Text(), "Odd");
    EXPECT_EQ(Port.Parity().Bits(), prEven);
    combo.ApplySettings();
    EXPECT_EQ(Port.Parity().Bits(), prOdd);
}

TEST_F(Selector, WithAutoApplyAPickReachesThePortAtOnce) {
    Port.Parity().SetBits(prEven);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(&Port);
    combo.SetAutoApply(true);
    ASSERT_TRUE(PickEntry(combo, "Odd"));
    EXPECT_EQ(Port.Parity().Bits(), prOdd);
}

TEST_F(Selector, SelectionsByProgramAreNotPicks) {
    Port.Parity().SetBits(prEven);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(&Port);
    combo.SetAutoApply(true);
    QSignalSpy changed(&combo, &TComComboBox::Changed);

    combo.SetText("Odd");
    combo.setCurrentIndex(3);
    Port.Parity().SetBits(prSpace);
    combo.UpdateSettings();
    EXPECT_EQ(combo.Text(), "Space");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(Port.Parity().Bits(), prSpace);

    // The selector holds the port's value from UpdateSettings, not the program's selections.
    combo.SetText("Mark");
    Port.Parity().SetBits(prNone);
    combo.ApplySettings();
    EXPECT_EQ(Port.Parity().Bits(), prSpace);
}

TEST_F(Selector, APortNameNotListedIsListedAsNotPresentAndKept) {
    Port.SetPort("COM9");
    TComComboBox& combo = Combo(cpPort);
    combo.SetComPort(&Port);
    EXPECT_EQ(combo.Text(), "COM9");
    EXPECT_EQ(Description(combo, combo.currentIndex()), "not present");
    Port.SetPort("COM1");
    combo.ApplySettings();
    EXPECT_EQ(Port.Port(), "COM9");

    // Only an empty name stays unlisted, and the name chosen before stays chosen.
    TComPort unnamed(nullptr);
    unnamed.SetPort("");
    combo.SetComPort(&unnamed);
    EXPECT_EQ(combo.currentIndex(), -1);
    combo.ApplySettings();
    EXPECT_EQ(unnamed.Port(), "COM9");
}

TEST_F(Selector, TypedNamesAndRatesReachThePortAsPicksDo) {
    TComComboBox& name = Combo(cpPort);
    name.SetComPort(&Port);
    QSignalSpy changed(&name, &TComComboBox::Changed);
    Type(name, "/dev/pts/7");
    QTest::keyClick(name.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(changed.count(), 1);
    name.ApplySettings();
    EXPECT_EQ(Port.Port(), "/dev/pts/7");

    // A rate without a name of its own is brCustom with that rate; the number of a named rate
    // is that rate; what is typed counts even when editing has not ended.
    TComComboBox& rate = Combo(cpBaudRate);
    rate.SetComPort(&Port);
    Type(rate, "250000");
    rate.ApplySettings();
    EXPECT_EQ(Port.BaudRate(), brCustom);
    EXPECT_EQ(Port.CustomBaudRate(), 250000);
    Type(rate, "57600");
    rate.ApplySettings();
    EXPECT_EQ(Port.BaudRate(), br57600);
    Type(rate, "fast");
    EXPECT_EQ(rate.Text(), "57600") << "only digits can be typed";
}

TEST_F(Selector, PortNameIsFoundIgnoringCaseAndTakenAsListed) {
    Port.SetPort("com2");
    TComComboBox& combo = Combo(cpPort);
    combo.SetComPort(&Port);
    EXPECT_EQ(combo.Text(), "COM2");
    combo.ApplySettings();
    EXPECT_EQ(Port.Port(), "COM2");
}

TEST_F(Selector, UnnamedFlowControlShowsCustomAndApplyingItChangesNoFlag) {
    Port.FlowControl().SetOutCTSFlow(true);
    Port.FlowControl().SetXonXoffIn(true);
    Port.FlowControl().SetControlDTR(dtrHandshake);
    ASSERT_EQ(Port.FlowControl().FlowControl(), fcCustom);

    TComComboBox& combo = Combo(cpFlowControl);
    combo.SetComPort(&Port);
    EXPECT_EQ(combo.Text(), "Custom");
    combo.ApplySettings();
    const TComFlowControl& flow = Port.FlowControl();
    EXPECT_TRUE(flow.OutCTSFlow());
    EXPECT_TRUE(flow.XonXoffIn());
    EXPECT_FALSE(flow.XonXoffOut());
    EXPECT_EQ(flow.ControlRTS(), rtsDisable);
    EXPECT_EQ(flow.ControlDTR(), dtrHandshake);

    // A named mode picked and applied replaces the four flags.
    ASSERT_TRUE(PickEntry(combo, "Software"));
    combo.ApplySettings();
    EXPECT_EQ(flow.FlowControl(), fcSoftware);
}

TEST_F(Selector, FreeingTheBoundPortSelectsTheFirstEntryAndUnbinds) {
    auto port = std::make_unique<TComPort>(nullptr);
    port->Parity().SetBits(prEven);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(port.get());
    ASSERT_EQ(combo.Text(), "Even");

    port.reset();
    EXPECT_EQ(combo.ComPort(), nullptr);
    EXPECT_EQ(combo.Text(), "None");
    // Unbound: nothing to apply to or update from (the address sanitizer build would catch a
    // touch of the freed port).
    combo.ApplySettings();
    combo.SetText("Mark");
    combo.UpdateSettings();
    EXPECT_EQ(combo.Text(), "Mark");
}

TEST_F(Selector, NoneEmptiesTheListAndMakesUpdateAndApplyDoNothing) {
    Port.Parity().SetBits(prEven);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(&Port);
    combo.SetComProperty(cpNone);
    EXPECT_EQ(combo.count(), 0);
    EXPECT_EQ(combo.Text(), "");

    Port.Parity().SetBits(prOdd);
    combo.UpdateSettings();
    EXPECT_EQ(combo.currentIndex(), -1);
    combo.ApplySettings();
    EXPECT_EQ(Port.Parity().Bits(), prOdd);
}

TEST_F(Selector, TextSelectsIgnoringCaseAndKeepsTheSelectionForUnlistedText) {
    TComComboBox& combo = Combo(cpParity);
    combo.SetText("eVEN");
    EXPECT_EQ(combo.Text(), "Even");
    combo.SetText("Evens");
    EXPECT_EQ(combo.Text(), "Even");
    combo.SetText("");
    EXPECT_EQ(combo.Text(), "Even");
}

TEST_F(Selector, UpdateWithoutAPortKeepsTheSelection) {
    TComComboBox& combo = Combo(cpStopBits);
    combo.SetText("2");
    combo.UpdateSettings();
    EXPECT_EQ(combo.Text(), "2");
}

TEST_F(Selector, RebindingIgnoresTheRemovalOfAnEarlierPort) {
    auto first = std::make_unique<TComPort>(nullptr);
    TComPort second(nullptr);
    first->Parity().SetBits(prEven);
    second.Parity().SetBits(prMark);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(first.get());
    combo.SetComPort(&second);
    EXPECT_EQ(combo.Text(), "Mark");

    first.reset();
    EXPECT_EQ(combo.ComPort(), &second);
    EXPECT_EQ(combo.Text(), "Mark");
    ASSERT_TRUE(PickEntry(combo, "Space"));
    combo.ApplySettings();
    EXPECT_EQ(second.Parity().Bits(), prSpace);
}

TEST_F(Selector, UnbindingIgnoresTheLaterRemovalOfThePort) {
    auto port = std::make_unique<TComPort>(nullptr);
    port->Parity().SetBits(prOdd);
    TComComboBox& combo = Combo(cpParity);
    combo.SetComPort(port.get());
    combo.SetComPort(nullptr);
    EXPECT_EQ(combo.ComPort(), nullptr);
    EXPECT_EQ(combo.Text(), "Odd");
    port.reset();
    EXPECT_EQ(combo.Text(), "Odd");
}

TEST_F(Selector, AComboBoxFreedFirstLeavesThePortNoDanglingNotice) {
    auto port = std::make_unique<TComPort>(nullptr);
    auto* combo = &Combo(cpParity);
    combo->SetComPort(port.get());
    delete combo;
    port.reset(); // would reach the freed combo box if it were still registered
    SUCCEED();
}

TEST_F(Selector, PortListErrorPassesOutAndLeavesTheListEmpty) {
    TComComboBox& combo = Combo(cpPort);
    ASSERT_EQ(combo.count(), 3);
    Fake.FailPortList(WinError::AccessDenied);
    try {
        combo.SetComProperty(cpPort);
        ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeRegistry);
        EXPECT_EQ(e.WinCode(), static_cast<std::int32_t>(WinError::AccessDenied));
    }
    EXPECT_EQ(combo.count(), 0);
    EXPECT_EQ(combo.ComProperty(), cpPort);
}

TEST_F(Selector, AFailingPickIsReportedNotThrownThroughQt) {
    Port.SetPort("COM1");
    Port.Open();
    TComComboBox& combo = Combo(cpPort);
    combo.SetComPort(&Port);
    combo.SetAutoApply(true);
    QSignalSpy changed(&combo, &TComComboBox::Changed);
    Fake.Fail("CreateFileW", WinError::FileNotFound);

    ASSERT_TRUE(PickEntry(combo, "COM3"));
    ASSERT_EQ(Reports.Count(), 1u);
    EXPECT_EQ(Reports.Messages().front().rfind("COM Port Error: Unable to open com port", 0), 0u)
        << Reports.Messages().front();
    EXPECT_EQ(changed.count(), 0);
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Port.Port(), "COM3");
}

TEST(PlainSelector, WorksOnAnyListAndReadsTextsByTheirRules) {
    TVectorItems items;
    TComSelect select;
    TComPort port(nullptr);
    select.SetItems(&items);
    select.SetComPort(&port);
    select.SetComProperty(cpDataBits);
    EXPECT_EQ(items.Count(), 4);

    port.SetDataBits(dbSix);
    int index = 0;
    select.UpdateSettings(index);
    EXPECT_EQ(index, 1);

    // Text that is no data bit count gives the default, eight.
    port.SetDataBits(dbFive);
    select.Change("nine");
    select.ApplySettings();
    EXPECT_EQ(port.DataBits(), dbEight);

    // Without a port, nothing is updated or applied.
    select.SetComPort(nullptr);
    index = 42;
    select.UpdateSettings(index);
    EXPECT_EQ(index, 42);
    select.ApplySettings();
    EXPECT_EQ(port.DataBits(), dbEight);
}

} // namespace
} // namespace cport
