// The setup dialog: its layout, what it shows, and what OK, Cancel and the close box do to the
// port, on a closed port and on an open one (the recording fake plays the device).
#include "CPortSetup.h"

#include "PortListFake.h"
#include "QtTestSupport.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace cport {
namespace {

using test::Once;
using test::OnceActive;
using test::PickEntry;
using test::TModalDriver;
using namespace std::chrono_literals;

TComSetupFrm* Form(QWidget* AModal) {
    auto* form = qobject_cast<TComSetupFrm*>(AModal);
    EXPECT_NE(form, nullptr) << "the modal window is not the setup dialog";
    return form;
}

// The port's six settings that the dialog edits, for comparisons.
struct TSix {
    std::string Port;
    TBaudRate BaudRate;
    TDataBits DataBits;
    TStopBits StopBits;
    TParityBits Parity;
    TFlowControl FlowControl;
    bool operator==(const TSix&) const = default;
};

TSix SixOf(const TCustomComPort& APort) {
    return {APort.Port(),     APort.BaudRate(),      APort.DataBits(),
            APort.StopBits(), APort.Parity().Bits(), APort.FlowControl().FlowControl()};
}

class SetupDialog : public ::testing::Test {
protected:
    SetupDialog() {
        Fake.SetPorts({"COM2", "COM1", "COM3"});
        Port.SetPort("COM1");
    }

    // Runs the dialog on Port; AStep drives it.
    void Run(TModalDriver::TStep AStep) {
        TModalDriver driver(std::move(AStep));
        RunSetupDialog(Port);
        EXPECT_TRUE(driver.Done()) << "the dialog was not driven to its end";
    }

    // Picks a new value in every selector.
    static void PickEverything(TComSetupFrm& AForm) {
        EXPECT_TRUE(PickEntry(*AForm.Combo1, "COM3"));
        EXPECT_TRUE(PickEntry(*AForm.Combo2, "57600"));
        EXPECT_TRUE(PickEntry(*AForm.Combo3, "7"));
        EXPECT_TRUE(PickEntry(*AForm.Combo4, "2"));
        EXPECT_TRUE(PickEntry(*AForm.Combo5, "Mark"));
        EXPECT_TRUE(PickEntry(*AForm.Combo6, "Hardware"));
    }

    test::TPortListFake Fake;
    TScopedComPlatform Scope{Fake};
    TComPort Port{nullptr};
};

TEST_F(SetupDialog, LayoutIsFixed) {
    TComSetupFrm form;
    EXPECT_EQ(form.objectName(), "ComSetupFrm");
    EXPECT_EQ(form.windowTitle(), "Setup");
    EXPECT_EQ(form.size(), QSize(231, 216));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "resizable";
    EXPECT_FALSE(form.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.font().pointSize(), 8);

    EXPECT_EQ(form.GroupBox1->geometry(), QRect(8, 8, 217, 169));
    EXPECT_EQ(form.GroupBox1->title(), " Settings ");

    const QLabel* labels[] = {form.Label1, form.Label2, form.Label3,
                              form.Label4, form.Label5, form.Label6};
    const char* texts[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
    const TComComboBox* combos[] = {form.Combo1, form.Combo2, form.Combo3,
                                    form.Combo4, form.Combo5, form.Combo6};
    const TComProperty properties[] = {cpPort,     cpBaudRate, cpDataBits,
                                       cpStopBits, cpParity,   cpFlowControl};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(labels[i]->parentWidget(), form.GroupBox1);
        EXPECT_EQ(labels[i]->text(), texts[i]);
        EXPECT_EQ(labels[i]->geometry().topLeft(), QPoint(8, 24 + 24 * i)) << texts[i];
        EXPECT_EQ(labels[i]->height(), 13);
        EXPECT_EQ(labels[i]->width(), labels[i]->fontMetrics().horizontalAdvance(texts[i]));
        EXPECT_EQ(combos[i]->parentWidget(), form.GroupBox1);
        EXPECT_EQ(combos[i]->geometry(), QRect(80, 16 + 24 * i, 129, 21)) << texts[i];
        EXPECT_EQ(combos[i]->ComProperty(), properties[i]);
        EXPECT_FALSE(combos[i]->AutoApply());
        EXPECT_EQ(combos[i]->currentIndex(), 0) << texts[i];
    }

    EXPECT_EQ(form.Button1->geometry(), QRect(70, 184, 75, 25));
    EXPECT_EQ(form.Button1->text(), "OK");
    EXPECT_TRUE(form.Button1->isDefault());
    EXPECT_EQ(form.Button2->geometry(), QRect(150, 184, 75, 25));
    EXPECT_EQ(form.Button2->text(), "Cancel");

    // Tab order: the six selectors from the top, then OK, then Cancel.
    std::vector<QWidget*> order;
    QWidget* widget = form.Combo1;
    do {
        // The line of a box that takes typing is part of its box.
        if ((widget->focusPolicy() & Qt::TabFocus) &&
            qobject_cast<TComComboBox*>(widget->parentWidget()) == nullptr)
            order.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != form.Combo1);
    EXPECT_EQ(order, (std::vector<QWidget*>{form.Combo1, form.Combo2, form.Combo3, form.Combo4,
                                            form.Combo5, form.Combo6, form.Button1, form.Button2}));
}

TEST_F(SetupDialog, OpensShowingThePortsSettings) {
    Port.SetPort("COM2");
    Port.SetBaudRate(br19200);
    Port.SetDataBits(dbSeven);
    Port.SetStopBits(sbTwoStopBits);
    Port.Parity().SetBits(prOdd);
    Port.FlowControl().SetFlowControl(fcSoftware);
    QStringList shown;
    Run(OnceActive([&](QWidget* AModal) {
        TComSetupFrm* form = Form(AModal);
        if (form == nullptr) return;
        for (const TComComboBox* combo :
             {form->Combo1, form->Combo2, form->Combo3, form->Combo4, form->Combo5, form->Combo6})
            shown << combo->Text();
        EXPECT_EQ(form->focusWidget(), form->Combo1);
        form->Button2->click();
    }));
    EXPECT_EQ(shown, (QStringList{"COM2", "19200", "7", "2", "Odd", "Software"}));
}

TEST_F(SetupDialog, CustomBaudRateAndUnnamedFlowControlShowCustom) {
    Port.SetBaudRate(brCustom);
    Port.SetCustomBaudRate(250000);
    Port.FlowControl().SetOutCTSFlow(true);
    QStringList shown;
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            shown << form->Combo2->Text() << form->Combo6->Text();
            form->Button1->click();
        }
    }));
    EXPECT_EQ(shown, (QStringList{"250000", "Custom"}));
    // OK kept both as they were.
    EXPECT_EQ(Port.BaudRate(), brCustom);
    EXPECT_EQ(Port.CustomBaudRate(), 250000);
    EXPECT_TRUE(Port.FlowControl().OutCTSFlow());
}

TEST_F(SetupDialog, CancelAndTheCloseBoxChangeNothing) {
    const TSix before = SixOf(Port);
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            PickEverything(*form);
            QTest::mouseClick(form->Button2, Qt::LeftButton);
        }
    }));
    EXPECT_EQ(SixOf(Port), before);

    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            PickEverything(*form);
            form->close();
            EXPECT_EQ(form->result(), TComSetupFrm::mrCancel);
        }
    }));
    EXPECT_EQ(SixOf(Port), before);

    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            PickEverything(*form);
            QTest::keyClick(form, Qt::Key_Escape);
        }
    }));
    EXPECT_EQ(SixOf(Port), before);
}

TEST_F(SetupDialog, OkAppliesEveryPick) {
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            PickEverything(*form);
            QTest::mouseClick(form->Button1, Qt::LeftButton);
        }
    }));
    EXPECT_EQ(SixOf(Port), (TSix{"COM3", br57600, dbSeven, sbTwoStopBits, prMark, fcHardware}));
}

TEST_F(SetupDialog, EnterMeansOk) {
    Run(OnceActive([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            EXPECT_TRUE(PickEntry(*form->Combo5, "Space"));
            QTest::keyClick(form->focusWidget(), Qt::Key_Return);
        }
    }));
    EXPECT_EQ(Port.Parity().Bits(), prSpace);
}

TEST_F(SetupDialog, OkWithoutChangesKeepsTheSettings) {
    Port.SetBaudRate(br115200);
    const TSix before = SixOf(Port);
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) form->Button1->click();
    }));
    EXPECT_EQ(SixOf(Port), before);
}

TEST_F(SetupDialog, OkKeepsAPortThatIsNotListed) {
    Fake.SetPorts({});
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            EXPECT_EQ(form->Combo1->Text(), "COM1");
            form->Button1->click();
        }
    }));
    EXPECT_EQ(Port.Port(), "COM1");
}

TEST_F(SetupDialog, OkTakesATypedPathAndRate) {
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            for (const auto& [combo, text] :
                 {std::pair{form->Combo1, "/dev/ttyACM0"}, std::pair{form->Combo2, "1000000"}}) {
                combo->lineEdit()->selectAll();
                QTest::keyClicks(combo->lineEdit(), text);
            }
            form->Button1->click();
        }
    }));
    EXPECT_EQ(Port.Port(), "/dev/ttyACM0");
    EXPECT_EQ(Port.BaudRate(), brCustom);
    EXPECT_EQ(Port.CustomBaudRate(), 1000000);
}

TEST_F(SetupDialog, PortListErrorLeavesBeforeTheDialogShows) {
    Fake.FailPortList(WinError::AccessDenied);
    TModalDriver driver(Once([](QWidget*) {}), 50ms);
    try {
        RunSetupDialog(Port);
        ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeRegistry);
    }
    EXPECT_FALSE(driver.Seen());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(SetupDialog, APortFreedWhileTheDialogIsOpenIsLeftAlone) {
    auto port = std::make_unique<TComPort>(nullptr);
    TModalDriver driver(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            EXPECT_TRUE(PickEntry(*form->Combo2, "300"));
            port.reset();
            form->Button1->click();
        }
    }));
    RunSetupDialog(*port); // the address sanitizer build catches a touch of the freed port
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(port, nullptr);
}

// --- On an open port ---------------------------------------------------------------------------

class SetupDialogOpenPort : public SetupDialog {
protected:
    SetupDialogOpenPort() {
        Port.Open();
        Fake.ClearCalls();
    }
    ~SetupDialogOpenPort() override { Port.Close(); }

    // The device calls that open, configure and close it, in order; the event thread's and
    // the status queries are left out.
    std::vector<std::string> Calls() const {
        std::vector<std::string> names = Fake.DeviceCallNames();
        std::erase_if(names, [](const std::string& AName) {
            return AName != "CreateFileW" && AName != "CloseHandle" && AName != "SetupComm" &&
                   AName != "SetCommState" && AName != "SetCommTimeouts";
        });
        return names;
    }
};

TEST_F(SetupDialogOpenPort, NewBaudRateReconfiguresOnceWhenTheBracketCloses) {
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            EXPECT_TRUE(PickEntry(*form->Combo2, "19200"));
            EXPECT_TRUE(PickEntry(*form->Combo5, "Even"));
            form->Button1->click();
        }
    }));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
    const auto states = Fake.CallsNamed("SetCommState");
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].Dcb.BaudRate, 19200u);
    EXPECT_EQ(states[0].Dcb.Parity, DcbParity::Even);
    EXPECT_TRUE(Port.Connected());
}

TEST_F(SetupDialogOpenPort, NewPortNameReopensThePortBeforeTheOtherSettings) {
    Run(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            EXPECT_TRUE(PickEntry(*form->Combo1, "COM2"));
            EXPECT_TRUE(PickEntry(*form->Combo2, "38400"));
            form->Button1->click();
        }
    }));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"CloseHandle", "CreateFileW", "SetupComm",
                                                 "SetCommState", "SetCommTimeouts"}));
    EXPECT_EQ(Fake.CallsNamed("CreateFileW").at(0).Text, "\\\\.\\COM2");
    EXPECT_EQ(Fake.CallsNamed("SetCommState").at(0).Dcb.BaudRate, 38400u);
    EXPECT_TRUE(Port.Connected());
}

TEST_F(SetupDialogOpenPort, AFailingApplyClosesTheBracketAndSkipsTheRest) {
    Fake.Fail("CreateFileW", WinError::FileNotFound);
    TModalDriver driver(Once([&](QWidget* AModal) {
        if (TComSetupFrm* form = Form(AModal)) {
            EXPECT_TRUE(PickEntry(*form->Combo1, "COM2"));
            EXPECT_TRUE(PickEntry(*form->Combo2, "38400"));
            form->Button1->click();
        }
    }));
    try {
        RunSetupDialog(Port);
        ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeCannotOpen);
        EXPECT_EQ(e.WinCode(), static_cast<std::int32_t>(WinError::FileNotFound));
    }
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the form was not freed";
    EXPECT_FALSE(Port.Connected());
    EXPECT_EQ(Port.BaudRate(), br9600) << "a selector after the failing one was applied";

    // The bracket is closed: opening configures the device, and a later change reaches it.
    Fake.ClearCalls();
    Port.Open();
    EXPECT_EQ(Fake.CountCalls("SetCommState"), 1);
    Port.SetBaudRate(br1200);
    ASSERT_EQ(Fake.CountCalls("SetCommState"), 2);
    EXPECT_EQ(Fake.CallsNamed("SetCommState").back().Dcb.BaudRate, 1200u);
}

} // namespace
} // namespace cport
