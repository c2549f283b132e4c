// The setup dialog: edits a port's name, baud rate, data bits, stop bits, parity and flow
// control with six selectors, and applies the choices only on OK, inside one update bracket.
#pragma once

#include "CPortCtl.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

namespace cport {

class TComSetupFrm : public QDialog {
    Q_OBJECT

public:
    // The dialog's results: OK, and Cancel (also given by the close box and Escape).
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    // Builds the form with its selectors, each listing its setting's values and showing its
    // first entry; Combo1 reads the system's port list, whose EComPort code 23 passes out.
    explicit TComSetupFrm(QWidget* AParent = nullptr);

    void reject() override;

    QPushButton* Button1;
    QPushButton* Button2;
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    TComComboBox* Combo2;
    TComComboBox* Combo3;
    TComComboBox* Combo4;
    TComComboBox* Combo5;
    TComComboBox* Combo6;
    TComComboBox* Combo1;
};

// Shows the setup dialog for APort modally. On OK the six choices are written into the port
// inside one update bracket (port name first, so a renamed open port is reopened at once and
// the other settings reach the device together when the bracket closes); any other result
// changes nothing. Errors of the port list or of the port's setters pass out; the bracket is
// closed and the form freed before they do.
void RunSetupDialog(TCustomComPort& APort);

} // namespace cport
