#include "ComMainForm.h"

#include "CPortCtl.h"
#include "CodePage.h"
#include "MainThread.h"
#include "PortDesign.h"
#include "Prompts.h"
#include "TaskProgress.h"
#include "Unit9.h"
#include "WinText.h"

#include <commdlg.h>

#include <optional>
#include <system_error>

namespace quendal {

using namespace cport;

namespace {

constexpr const wchar_t* ClassName = L"Quendal.Main";
constexpr const wchar_t* Title = L"Tessivo RQ-71 Logger Ver.: 1.0.2";
constexpr const wchar_t* MessageTitle = L"Quendal";
constexpr int ClientWidth = 232;
constexpr int ClientHeight = 290;
constexpr COLORREF Silver = RGB(192, 192, 192);

// Control ids; 1 and 2 stay free, since a dialog-style window sends them for Enter and Esc.
enum : int {
    IdMemo = 1000,
    IdSettings,
    IdOpen,
    IdPoll,
    IdClear,
    IdSave,
    IdLoad,
    IdAbout,
    IdQuit,
    IdData,
    IdSend,
    IdNewLine,
    IdLabel
};
enum : UINT_PTR {
    TimerPoll = 1,
    TimerReconnect,
    TimerJournal
};
constexpr UINT ShowPendingMessage = WM_APP + 10;
constexpr UINT OfferRecoveryMessage = WM_APP + 11;

HBRUSH SilverBrush() {
    static const HBRUSH brush = CreateSolidBrush(Silver);
    return brush;
}

} // namespace

TForm1::TForm1() {
    CreateControls();
    LoadPortDesign();
    FormCreate();
}

TForm1::~TForm1() {
    if (FHandle != nullptr) DestroyWindow(FHandle);
    Guarded([this] { ComPort->Close(); });
    ComPort->SetOnAfterOpen(nullptr);
    ComPort->SetOnAfterClose(nullptr);
    ComPort->SetOnRxChar(nullptr);
}

void TForm1::CreateControls() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = SilverBrush();
    windowClass.lpszClassName = ClassName;
    RegisterClassW(&windowClass);
    // A tool window: small caption with a close box, not resizable.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    FHandle = CreateWindowExW(exStyle, ClassName, Title, style, 191, 107, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance, this);
    if (FHandle == nullptr)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateWindowExW");

    auto control = [this, instance](const wchar_t* AClass, const wchar_t* AText, DWORD AStyle,
                                    int AId, int ALeft, int ATop, int AWidth, int AHeight) {
        const HWND result = CreateWindowExW(
            0, AClass, AText, WS_CHILD | WS_VISIBLE | AStyle, ALeft, ATop, AWidth, AHeight, FHandle,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(AId)), instance, nullptr);
        SendMessageW(result, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
        return result;
    };
    auto button = [&control](const wchar_t* ACaption, int AId, int ATop) {
        return control(L"BUTTON", ACaption, BS_PUSHBUTTON | WS_TABSTOP, AId, 152, ATop, 75, 25);
    };
    // Made in tab order.
    Memo = std::make_unique<TLogPane>(FHandle, IdMemo, FLog, 0, 0, 145, 257);
    SendMessageW(Memo->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    Button_Settings = button(L"S&ettings", IdSettings, 8);
    Button_Open = button(L"&Open", IdOpen, 40);
    CheckBox1 = control(L"BUTTON", L"Poll", BS_AUTOCHECKBOX | WS_TABSTOP, IdPoll, 152, 80, 57, 17);
    Button2 = button(L"&Clear", IdClear, 112);
    Button4 = button(L"S&ave", IdSave, 144);
    Button3 = button(L"&Load", IdLoad, 176);
    Button5 = button(L"A&bout", IdAbout, 208);
    Button1 = button(L"&Quit", IdQuit, 240);
    Edit_Data =
        control(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | WS_BORDER, IdData, 72, 256, 81, 21);
    Button_Send =
        control(L"BUTTON", L"&Send", BS_DEFPUSHBUTTON | WS_TABSTOP, IdSend, 152, 264, 75, 25);
    NewLine_CB = control(L"BUTTON", L"Send new line", BS_AUTOCHECKBOX | WS_TABSTOP, IdNewLine, 8,
                         264, 89, 17);
    SendMessageW(NewLine_CB, BM_SETCHECK, BST_CHECKED, 0);
    Label1 = control(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_NOPREFIX, IdLabel, 40, 272, 152, 13);
}

void TForm1::LoadPortDesign() {
    // As a form loader sets a component's stored properties: while it is being loaded, then
    // Loaded, so that nothing reaches a device before every value is in place.
    ComPort = new TComPort(&FComponents);
    ComPort->SetLoading();
    SetDesignValues(*ComPort);
    ComPort->SetOnAfterOpen([this](TObject*) { ComPortOpen(); });
    ComPort->SetOnAfterClose([this](TObject*) { ComPortClose(); });
    ComPort->SetOnRxChar([this](TObject*, std::int32_t ACount) { ComPortRxChar(ACount); });
    ComPort->Loaded();
    FConnection = std::make_unique<TConnection>(*ComPort);
    FConnection->SetOnChanged([this] { ConnectionChanged(); });
    FConnection->SetOnReconnected([this] { FLog.EndLine(); });
    FConnection->SetOnPoll([this](bool ATicked) {
        if (!ATicked) StopTimer1();
        SetPoll(ATicked); // its handler starts the timer on an open port
    });
    ConnectionChanged();
}

void TForm1::Show() {
    ShowWindow(FHandle, SW_SHOWNORMAL);
    UpdateWindow(FHandle);
    SetFocus(Memo->Handle());
    PostMessageW(FHandle, OfferRecoveryMessage, 0, 0);
}

void TForm1::Guarded(const std::function<void()>& AHandler) {
    try {
        AHandler();
    } catch (...) {
        TMainThread::ShowException(std::current_exception(), ComPort);
    }
}

void TForm1::ShowMessage(const std::string& AText) {
    MessageBoxW(FHandle, Utf8ToWide(AText).c_str(), MessageTitle, MB_OK);
}

void TForm1::ShowFailure(const char* AMessage, const TLogTask& ATask) {
    ShowMessage(FailureText(AMessage, ATask));
}

bool TForm1::Ticked(HWND ABox) const {
    return SendMessageW(ABox, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm1::SetPoll(bool ATicked) {
    if (Ticked(CheckBox1) == ATicked) return;
    SendMessageW(CheckBox1, BM_SETCHECK, ATicked ? BST_CHECKED : BST_UNCHECKED, 0);
    CheckBox1Click();
}

void TForm1::StartTimer1() {
    if (FHandle != nullptr) SetTimer(FHandle, TimerPoll, 350, nullptr);
    FTimer1 = true;
}

void TForm1::StopTimer1() {
    if (FHandle != nullptr) KillTimer(FHandle, TimerPoll);
    FTimer1 = false;
}

void TForm1::FormCreate() {
    ShowWindow(Button_Send, SW_HIDE);
    ShowWindow(Edit_Data, SW_HIDE);
    ShowWindow(NewLine_CB, SW_HIDE);
    FLog.SetOnChanged([this] { LogChanged(); });
    FLog.SetOnJournalFailed([this](const std::string& AMessage) {
        FPendingMessages.push_back(AMessage);
        PostMessageW(FHandle, ShowPendingMessage, 0, 0);
    });
    Guarded([this] { ComPort->LoadSettings(stRegistry, SettingsKey); });
}

void TForm1::LogChanged() {
    Memo->LogChanged();
    if (FLog.NeedsService() && !FJournalTimer && FHandle != nullptr) {
        SetTimer(FHandle, TimerJournal, 1000, nullptr);
        FJournalTimer = true;
    }
}

void TForm1::OfferRecovery() {
    const std::optional<TFileInfo> unended = FLog.UnendedJournal();
    if (!unended || Busy()) {
        FLog.TrimJournals();
        return;
    }
    FRestore = FLog.StartRestore(unended->Path);
    RunWithProgress(FHandle, *FRestore, L"Reading the last log...", [this, unended] {
        if (FRestore->Succeeded()) {
            const std::wstring question = Utf8ToWide(RecoveryQuestion(*unended, *FRestore));
            if (MessageBoxW(FHandle, question.c_str(), MessageTitle, MB_YESNO | MB_ICONQUESTION) ==
                IDYES) {
                if (!FLog.FinishRestore(*FRestore))
                    ShowFailure("The log could not be restored.", *FRestore);
            } else {
                FLog.Forget(unended->Path);
            }
        }
        FRestore.reset();
        FLog.TrimJournals();
    });
}

void TForm1::Button_OpenClick() {
    // Opens, closes (the poll stopping first), or stops looking for a device that went away.
    FConnection->Toggle();
}

void TForm1::Button_SettingsClick() {
    ComPort->ShowSetupDialog();
    FConnection->SettingsChanged();
}

void TForm1::Button_SendClick() {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Edit_Data)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(Edit_Data, text.data(), static_cast<int>(text.size()))));
    if (Ticked(NewLine_CB)) text += L"\r\n";
    try {
        ComPort->WriteStr(Utf16ToCodePage(
            std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size())));
    } catch (const EComPort& e) {
        StopTimer1();
        if (!PollSurvivesWriteError(e)) SetPoll(false);
        throw;
    }
    FLog.PollLineFeed();
}

void TForm1::ComPortOpen() {
    // The times of lines count from here on the monotonic clock.
    FLog.AnchorClock();
    if (Button_Open != nullptr) SetWindowTextW(Button_Open, L"Close");
    FConnection->AfterOpen();
}

void TForm1::ComPortClose() {
    // The port is also closed while the window is being destroyed.
    if (Button_Open != nullptr) SetWindowTextW(Button_Open, L"Open");
    FConnection->AfterClose(CheckBox1 != nullptr && Ticked(CheckBox1));
}

void TForm1::ConnectionChanged() {
    if (Label1 != nullptr) SetWindowTextW(Label1, Utf8ToWide(FConnection->StatusText()).c_str());
    if (FHandle == nullptr) return;
    // Looks for the device a moment after it went (a quick replug), then once a second while
    // it is gone; otherwise the timer sleeps.
    if (FConnection->State() == TConnection::TState::Reconnecting) {
        if (!FReconnecting) SetTimer(FHandle, TimerReconnect, 250, nullptr);
        FReconnecting = true;
    } else if (FReconnecting) {
        KillTimer(FHandle, TimerReconnect);
        FReconnecting = false;
    }
}

void TForm1::ComPortRxChar(std::int32_t ACount) {
    std::string received;
    ComPort->ReadStr(received, ACount);
    FLog.Received(received);
}

void TForm1::CheckBox1Click() {
    if (Ticked(CheckBox1)) {
        if (ComPort->Connected())
            StartTimer1();
        else
            SetPoll(false); // runs this handler again, which stops the timer
    }
    if (!Ticked(CheckBox1)) StopTimer1();
}

void TForm1::Button1Click() {
    ComPort->StoreSettings(stRegistry, SettingsKey);
    DestroyWindow(FHandle);
}

std::string TForm1::PickFile(bool ASave) {
    wchar_t file[MAX_PATH * 4] = L"";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = FHandle;
    dialog.lpstrFilter = L"Text\0*.txt\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = static_cast<DWORD>(std::size(file));
    // No question before replacing a file, no default extension: a name is used as typed.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    const BOOL picked = ASave ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    return picked ? WideToUtf8(file) : std::string();
}

void TForm1::Button4Click() {
    if (Busy()) return;
    const std::string path = PickFile(true);
    if (path.empty()) return;
    FSave = FLog.StartSave(path);
    RunWithProgress(FHandle, *FSave, L"Saving the log...", [this] {
        if (!FSave->Succeeded() && !FSave->Cancelled())
            ShowFailure("Fehler beim Speichern der Datei!", *FSave);
        FSave.reset();
    });
}

void TForm1::Button3Click() {
    if (Busy()) return;
    const std::string path = PickFile(false);
    if (path.empty()) return;
    FLoad = FLog.StartLoad(path);
    RunWithProgress(FHandle, *FLoad, L"Loading the log...", [this] {
        if (!FLog.FinishLoad(*FLoad) && !FLoad->Cancelled())
            ShowFailure("Fehler beim Laden der Datei!", *FLoad);
        FLoad.reset();
    });
}

void TForm1::Button5Click() {
    if (FAbout != nullptr) FAbout->Show();
}

void TForm1::Button2Click() {
    FLog.Clear();
}

void TForm1::Command(int AId) {
    switch (AId) {
    case IdOpen:
        Guarded([this] { Button_OpenClick(); });
        break;
    case IdSettings:
        Guarded([this] { Button_SettingsClick(); });
        break;
    case IdSend:
        Guarded([this] { Button_SendClick(); });
        break;
    case IdQuit:
        Guarded([this] { Button1Click(); });
        break;
    case IdClear:
        Guarded([this] { Button2Click(); });
        break;
    case IdLoad:
        Guarded([this] { Button3Click(); });
        break;
    case IdSave:
        Guarded([this] { Button4Click(); });
        break;
    case IdAbout:
        Guarded([this] { Button5Click(); });
        break;
    case IdPoll:
        Guarded([this] { CheckBox1Click(); });
        break;
    default:
        break;
    }
}

void TForm1::Timer(UINT_PTR AId) {
    switch (AId) {
    case TimerPoll:
        Guarded([this] { Button_SendClick(); });
        break;
    case TimerReconnect:
        SetTimer(FHandle, TimerReconnect, 1000, nullptr);
        Guarded([this] { FConnection->Tick(); });
        break;
    case TimerJournal:
        FLog.Service();
        if (!FLog.NeedsService()) {
            KillTimer(FHandle, TimerJournal);
            FJournalTimer = false;
        }
        break;
    default:
        break;
    }
}

LRESULT TForm1::Message(UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    switch (AMsg) {
    case WM_COMMAND:
        // Clicks, and the accelerators that the message loop turns into clicks.
        if (HIWORD(AWParam) == BN_CLICKED) Command(LOWORD(AWParam));
        return 0;
    case WM_TIMER:
        Timer(AWParam);
        return 0;
    case WM_CTLCOLORSTATIC: {
        const auto dc = reinterpret_cast<HDC>(AWParam);
        // The read-only log pane keeps the colour of a window; labels and boxes the form's.
        if (reinterpret_cast<HWND>(ALParam) == Memo->Handle()) {
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        SetBkColor(dc, Silver);
        return reinterpret_cast<LRESULT>(SilverBrush());
    }
    case ShowPendingMessage: {
        std::vector<std::string> messages;
        messages.swap(FPendingMessages);
        for (const std::string& message : messages)
            ShowMessage(message);
        return 0;
    }
    case OfferRecoveryMessage:
        OfferRecovery();
        return 0;
    case WM_CLOSE:
        // The close box ends the program without storing the settings.
        DestroyWindow(FHandle);
        return 0;
    case WM_DESTROY:
        KillTimer(FHandle, TimerPoll);
        KillTimer(FHandle, TimerReconnect);
        KillTimer(FHandle, TimerJournal);
        FHandle = nullptr;
        Button_Open = nullptr;
        Label1 = nullptr;
        CheckBox1 = nullptr;
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(FHandle, AMsg, AWParam, ALParam);
    }
}

LRESULT CALLBACK TForm1::WindowProc(HWND AWindow, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    if (AMsg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(ALParam);
        auto* form = static_cast<TForm1*>(create->lpCreateParams);
        form->FHandle = AWindow;
        SetWindowLongPtrW(AWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    if (form == nullptr || form->FHandle == nullptr)
        return DefWindowProcW(AWindow, AMsg, AWParam, ALParam);
    return form->Message(AMsg, AWParam, ALParam);
}

} // namespace quendal
