// The property selector for the Windows API: a combo box bound to one setting of one port,
// over the toolkit-free TComSelect (ComSelect.h). It shows the port's value when bound, takes
// the user's picks into its selector, and writes them to the port when asked or, with
// AutoApply, at once. When the bound port is destroyed the binding is cleared. For cpPort and
// cpBaudRate the user may also type a value (a port name, a rate in digits); typed text
// reaches the selector like a pick when the box loses the focus, and at the latest when
// ApplySettings runs.
#pragma once

#include "ComSelect.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace cport {

class TRemovalWatch;

class TComComboBox {
public:
    // Creates the box as child AId of AParent at the given place (the height includes the
    // dropped-down list). Its owner passes on the box's WM_COMMAND notifications (Command).
    TComComboBox(HWND AParent, int AId, int ALeft, int ATop, int AWidth, int AHeight);
    // Destroys the box's window unless its parent has done so already (Detach).
    ~TComComboBox();
    TComComboBox(const TComComboBox&) = delete;
    TComComboBox& operator=(const TComComboBox&) = delete;

    HWND Handle() const { return FHandle; }
    int Id() const { return FId; }
    // The window is gone with its parent: from now on only the selector is used.
    void Detach();
    // A WM_COMMAND notification of this box (CBN_SELCHANGE, CBN_EDITCHANGE, CBN_KILLFOCUS).
    void Command(int ANotifyCode);
    // Called after the user picked or typed a value and the selector has taken it.
    void SetOnChange(std::function<void()> AChange) { FOnChange = std::move(AChange); }

    // Hands typed text not yet taken to the selector, then the selector's ApplySettings.
    void ApplySettings();
    // The selector's UpdateSettings, then selects the index it gives back; when it gives none
    // back (no port, cpNone) the current selection stays.
    void UpdateSettings();
    // Passes typed text to the selector as a pick; false when nothing new was typed.
    bool TakeTypedText();

    TCustomComPort* ComPort() const { return FComSelect->ComPort(); }
    // Binding a port asks it for a removal notice and shows its value; binding none only
    // clears the binding.
    void SetComPort(TCustomComPort* AValue);
    TComProperty ComProperty() const { return FComSelect->ComProperty(); }
    // Refills the list (a port name or rate can then be typed, other values only picked);
    // then selects the first entry when no port is bound, or the port's value. Passes on
    // EComPort code 23 from the port list.
    void SetComProperty(TComProperty AValue);
    bool AutoApply() const { return FComSelect->AutoApply(); }
    void SetAutoApply(bool AValue) { FComSelect->SetAutoApply(AValue); }
    int ItemIndex() const;
    void SetItemIndex(int AIndex);
    int Count() const;
    std::string Items(int AIndex) const;
    // The selected entry's text, or what is typed; empty when none is selected.
    std::string Text() const;
    // Selects the entry equal to AValue when letter case is ignored; nothing when none is.
    void SetText(const std::string& AValue);
    // Lets the user type (cpPort, cpBaudRate) or only pick.
    bool Typable() const { return FTypable; }

private:
    class TItems;

    // Makes the box's window, typable or not; a box that changes between the two is made anew,
    // since a combo box cannot change that style.
    void CreateBox(bool ATypable);
    // The user picked or typed AText.
    void Change(const std::string& AText);
    void PortRemoved();

    HWND FParent;
    int FId;
    RECT FPlace;
    HWND FHandle = nullptr;
    bool FTypable = false;
    bool FTyped = false; // the user typed since the selector last took a value
    std::unique_ptr<TComSelect> FComSelect;
    std::unique_ptr<TItems> FItems;
    std::unique_ptr<TRemovalWatch> FRemovalWatch;
    std::function<void()> FOnChange;
};

// The font of the component's dialogs: "MS Sans Serif" at 11 pixels (8 points), or the
// system's nearest match.
HFONT DialogFont();

} // namespace cport
