#include "CPortSetup.h"

#include "UpdateBracket.h"

#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace cport {

TComSetupFrm::TComSetupFrm(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ComSetupFrm"));
    setWindowTitle(QStringLiteral("Setup"));
    // Where this face is missing Qt picks its nearest match.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);
    setFixedSize(231, 216);

    GroupBox1 = new QGroupBox(QStringLiteral(" Settings "), this);
    GroupBox1->setGeometry(8, 8, 217, 169);

    auto label = [this](const char* AText, int ATop) {
        auto* result = new QLabel(QString::fromLatin1(AText), GroupBox1);
        result->setGeometry(8, ATop, result->fontMetrics().horizontalAdvance(result->text()), 13);
        return result;
    };
    Label1 = label("Port", 24);
    Label2 = label("Baud rate", 48);
    Label3 = label("Data bits", 72);
    Label4 = label("Stop bits", 96);
    Label5 = label("Parity", 120);
    Label6 = label("Flow control", 144);

    auto combo = [this](TComProperty AProperty, int ATop) {
        auto* result = new TComComboBox(GroupBox1);
        result->setGeometry(80, ATop, 129, 21);
        result->SetComProperty(AProperty);
        return result;
    };
    Combo1 = combo(cpPort, 16);
    Combo2 = combo(cpBaudRate, 40);
    Combo3 = combo(cpDataBits, 64);
    Combo4 = combo(cpStopBits, 88);
    Combo5 = combo(cpParity, 112);
    Combo6 = combo(cpFlowControl, 136);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(70, 184, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { done(mrOk); });
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setGeometry(150, 184, 75, 25);
    connect(Button2, &QPushButton::clicked, this, [this] { done(mrCancel); });

    setTabOrder(Combo1, Combo2);
    setTabOrder(Combo2, Combo3);
    setTabOrder(Combo3, Combo4);
    setTabOrder(Combo4, Combo5);
    setTabOrder(Combo5, Combo6);
    setTabOrder(Combo6, Button1);
    setTabOrder(Button1, Button2);
}

void TComSetupFrm::reject() {
    done(mrCancel);
}

void RunSetupDialog(TCustomComPort& APort) {
    TComSetupFrm form;
    TComComboBox* const combos[] = {form.Combo1, form.Combo2, form.Combo3,
                                    form.Combo4, form.Combo5, form.Combo6};
    for (TComComboBox* combo : combos)
        combo->SetComPort(&APort);
    for (TComComboBox* combo : combos)
        combo->UpdateSettings();
    if (form.exec() != TComSetupFrm::mrOk) return;
    // A handler run while the dialog was open may have freed the port; the selectors heard
    // about it and are unbound.
    if (form.Combo1->ComPort() == nullptr) return;
    TUpdateBracket bracket(APort);
    for (TComComboBox* combo : combos)
        combo->ApplySettings();
    bracket.Close();
}

} // namespace cport
