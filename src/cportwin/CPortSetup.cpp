#include "CPortSetup.h"

#include "MainThread.h"
#include "UpdateBracket.h"

#include <cstdint>
#include <cwchar>
#include <exception>
#include <vector>

namespace cport {

namespace {

constexpr int ClientWidth = 231;
constexpr int ClientHeight = 216;
// The group box's origin: the labels and selectors are placed in its coordinates.
constexpr int GroupLeft = 8;
constexpr int GroupTop = 8;
enum : int {
    IdGroup = 100,
    IdLabel = 110,
    IdCombo = 120
};

HWND Control(HWND AParent, const wchar_t* AClass, const wchar_t* AText, DWORD AStyle, int AId,
             int ALeft, int ATop, int AWidth, int AHeight) {
    const HWND control = CreateWindowExW(
        0, AClass, AText, WS_CHILD | WS_VISIBLE | AStyle, ALeft, ATop, AWidth, AHeight, AParent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(AId)), GetModuleHandleW(nullptr), nullptr);
    if (control != nullptr)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    return control;
}

// A label as wide as its text, 13 high.
HWND Label(HWND ADialog, const wchar_t* AText, int AId, int ATop) {
    const HDC dc = GetDC(ADialog);
    const HGDIOBJ old = SelectObject(dc, DialogFont());
    SIZE size{};
    GetTextExtentPoint32W(dc, AText, static_cast<int>(wcslen(AText)), &size);
    SelectObject(dc, old);
    ReleaseDC(ADialog, dc);
    return Control(ADialog, L"STATIC", AText, SS_LEFT | SS_NOPREFIX, AId, GroupLeft + 8,
                   GroupTop + ATop, size.cx, 13);
}

struct TDialogState {
    TCustomComPort* Port;
    std::unique_ptr<TComSetupFrm> Form;
    std::exception_ptr Error;
};

std::vector<TComComboBox*> Combos(TComSetupFrm& AForm) {
    return {AForm.Combo1.get(), AForm.Combo2.get(), AForm.Combo3.get(),
            AForm.Combo4.get(), AForm.Combo5.get(), AForm.Combo6.get()};
}

INT_PTR CALLBACK DialogProc(HWND ADialog, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    auto* state = reinterpret_cast<TDialogState*>(GetWindowLongPtrW(ADialog, DWLP_USER));
    switch (AMsg) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<TDialogState*>(ALParam);
        SetWindowLongPtrW(ADialog, DWLP_USER, ALParam);
        // An error must not unwind through the system's dialog code: it is kept, the dialog
        // ends before it is ever shown, and the error leaves RunSetupDialog.
        try {
            state->Form = std::make_unique<TComSetupFrm>(ADialog);
            for (TComComboBox* combo : Combos(*state->Form))
                combo->SetComPort(state->Port);
            for (TComComboBox* combo : Combos(*state->Form))
                combo->UpdateSettings();
        } catch (...) {
            state->Error = std::current_exception();
            EndDialog(ADialog, -1);
            return TRUE;
        }
        SetFocus(state->Form->Combo1->Handle());
        return FALSE; // the focus is set
    }
    case WM_COMMAND:
        if (state == nullptr || !state->Form) return FALSE;
        if (LOWORD(AWParam) == IDOK) {
            // What is typed but not yet taken is taken while its box still exists.
            for (TComComboBox* combo : Combos(*state->Form))
                combo->TakeTypedText();
            EndDialog(ADialog, IDOK);
            return TRUE;
        }
        if (LOWORD(AWParam) == IDCANCEL) {
            EndDialog(ADialog, IDCANCEL);
            return TRUE;
        }
        state->Form->Command(LOWORD(AWParam), HIWORD(AWParam));
        return TRUE;
    case WM_DESTROY:
        if (state != nullptr && state->Form) state->Form->Detach();
        return FALSE;
    default:
        return FALSE;
    }
}

// An empty dialog template: the controls are made in pixels in WM_INITDIALOG, since a
// template's dialog units would scale them with the font. Laid out word by word as the system
// reads it (DLGTEMPLATE, then no menu, the default class and the title), since the structure's
// own size may include padding that the system does not expect.
struct TDialogTemplate {
    alignas(4) WORD Words[18] = {};

    explicit TDialogTemplate(DWORD AStyle) {
        Words[0] = LOWORD(AStyle);
        Words[1] = HIWORD(AStyle);
        // Extended style, no items, place and size 0 (set in pixels later), no menu, the
        // dialog class.
        const wchar_t* title = L"Setup";
        for (std::size_t i = 0; title[i] != 0; ++i)
            Words[11 + i] = static_cast<WORD>(title[i]);
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(Words); }
};

} // namespace

TComSetupFrm::TComSetupFrm(HWND ADialog)
    : Handle(ADialog) {
    RECT frame{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(ADialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(ADialog, GWL_EXSTYLE)));
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    // Centred on the screen.
    SetWindowPos(ADialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(ADialog, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);

    // Made in tab order: the selectors, then OK and Cancel.
    GroupBox1 = Control(ADialog, L"BUTTON", L" Settings ", BS_GROUPBOX, IdGroup, GroupLeft,
                        GroupTop, 217, 169);
    Label1 = Label(ADialog, L"Port", IdLabel + 1, 24);
    Label2 = Label(ADialog, L"Baud rate", IdLabel + 2, 48);
    Label3 = Label(ADialog, L"Data bits", IdLabel + 3, 72);
    Label4 = Label(ADialog, L"Stop bits", IdLabel + 4, 96);
    Label5 = Label(ADialog, L"Parity", IdLabel + 5, 120);
    Label6 = Label(ADialog, L"Flow control", IdLabel + 6, 144);
    auto combo = [ADialog](int ANumber, TComProperty AProperty, int ATop) {
        // The height is the dropped-down list's: room for twelve entries.
        auto result = std::make_unique<TComComboBox>(ADialog, IdCombo + ANumber, GroupLeft + 80,
                                                     GroupTop + ATop, 129, 21 + 12 * 13);
        result->SetComProperty(AProperty);
        return result;
    };
    Combo1 = combo(1, cpPort, 16);
    Combo2 = combo(2, cpBaudRate, 40);
    Combo3 = combo(3, cpDataBits, 64);
    Combo4 = combo(4, cpStopBits, 88);
    Combo5 = combo(5, cpParity, 112);
    Combo6 = combo(6, cpFlowControl, 136);
    Button1 =
        Control(ADialog, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 70, 184, 75, 25);
    Button2 = Control(ADialog, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, 150, 184,
                      75, 25);
}

void TComSetupFrm::Detach() {
    for (TComComboBox* combo : Combos(*this))
        combo->Detach();
}

void TComSetupFrm::Command(int AId, int ANotifyCode) {
    for (TComComboBox* combo : Combos(*this)) {
        if (combo->Id() != AId) continue;
        // An error of a pick (with AutoApply) goes to the application's report, as any
        // failed GUI command does; it must not unwind through the dialog's loop.
        try {
            combo->Command(ANotifyCode);
        } catch (...) {
            TMainThread::ShowException(std::current_exception(), combo->ComPort());
        }
    }
}

void RunSetupDialog(TCustomComPort& APort) {
    const TDialogTemplate dialog(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    TDialogState state{&APort, nullptr, nullptr};
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), GetActiveWindow(),
                                DialogProc, reinterpret_cast<LPARAM>(&state));
    if (state.Error) std::rethrow_exception(state.Error);
    if (result != TComSetupFrm::mrOk || !state.Form) return;
    // A handler run while the dialog was open may have freed the port; the selectors heard
    // about it and are unbound.
    if (state.Form->Combo1->ComPort() == nullptr) return;
    TUpdateBracket bracket(APort);
    for (TComComboBox* combo : Combos(*state.Form))
        combo->ApplySettings();
    bracket.Close();
}

} // namespace cport
