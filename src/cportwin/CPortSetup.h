// The setup dialog for the Windows API: a modal dialog with six selectors that edits the port
// name, baud rate, data bits, stop bits, parity and flow control of one port, and applies the
// choices only when the user confirms, inside one update bracket.
#pragma once

#include "CPortCtl.h"

#include <memory>

namespace cport {

// The dialog's controls while it is shown; made by RunSetupDialog.
class TComSetupFrm {
public:
    enum : int {
        mrOk = IDOK,
        mrCancel = IDCANCEL
    };

    // Makes the controls inside the dialog window ADialog, in the dialog's pixel layout: the
    // selectors get their lists (Combo1 reads the port list, passing on EComPort code 23).
    explicit TComSetupFrm(HWND ADialog);
    // The dialog's window is being destroyed: the selectors keep only their choices.
    void Detach();
    // A WM_COMMAND of one of the dialog's controls.
    void Command(int AId, int ANotifyCode);

    HWND Handle;
    HWND Button1, Button2; // OK, Cancel
    HWND GroupBox1;
    HWND Label1, Label2, Label3, Label4, Label5, Label6;
    std::unique_ptr<TComComboBox> Combo2, Combo3, Combo4, Combo5, Combo6, Combo1;
};

// Runs the dialog on APort: the selectors show its settings; OK applies all six in the order
// port, baud rate, data bits, stop bits, parity, flow control inside one update bracket, which
// is closed again also when applying fails; Cancel or the close box changes nothing. Errors in
// making the dialog (the port list) and in applying pass out; the dialog is gone by then.
void RunSetupDialog(TCustomComPort& APort);

} // namespace cport
