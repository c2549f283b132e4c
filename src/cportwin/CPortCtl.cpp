#include "CPortCtl.h"

#include "MainThread.h"
#include "RemovalWatch.h"
#include "WinText.h"

namespace cport {

HFONT DialogFont() {
    // Made once and kept until the program ends, as stock objects are.
    static const HFONT font = CreateFontW(
        -11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
    return font;
}

// The combo box's own item list, as the selector sees it.
class TComComboBox::TItems : public TComItems {
public:
    explicit TItems(TComComboBox& ACombo)
        : FCombo(ACombo) {}

    void Clear() override { Send(CB_RESETCONTENT, 0, 0); }
    void Add(const std::string& AText) override {
        const std::wstring text = Utf8ToWide(AText);
        Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    int Count() const override { return FCombo.Count(); }
    std::string Strings(int AIndex) const override { return FCombo.Items(AIndex); }
    // The list's own search is exact and ignores letter case, as the selectors' rule says.
    int IndexOf(const std::string& AText) const override {
        if (FCombo.FHandle == nullptr || Count() == 0) return -1;
        const std::wstring text = Utf8ToWide(AText);
        const LRESULT found =
            SendMessageW(FCombo.FHandle, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(text.c_str()));
        return found == CB_ERR ? -1 : static_cast<int>(found);
    }

private:
    void Send(UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
        if (FCombo.FHandle != nullptr) SendMessageW(FCombo.FHandle, AMsg, AWParam, ALParam);
    }

    TComComboBox& FCombo;
};

TComComboBox::TComComboBox(HWND AParent, int AId, int ALeft, int ATop, int AWidth, int AHeight)
    : FParent(AParent)
    , FId(AId)
    , FPlace{ALeft, ATop, ALeft + AWidth, ATop + AHeight}
    , FComSelect(std::make_unique<TComSelect>())
    , FItems(std::make_unique<TItems>(*this))
    , FRemovalWatch(std::make_unique<TRemovalWatch>([this] { PortRemoved(); })) {
    FComSelect->SetItems(FItems.get());
    CreateBox(false);
}

TComComboBox::~TComComboBox() {
    if (FHandle != nullptr) DestroyWindow(FHandle);
}

void TComComboBox::Detach() {
    FHandle = nullptr;
    FTyped = false;
}

void TComComboBox::CreateBox(bool ATypable) {
    HWND previous = FHandle;
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL |
                        (ATypable ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST);
    FHandle = CreateWindowExW(0, L"COMBOBOX", L"", style, FPlace.left, FPlace.top,
                              FPlace.right - FPlace.left, FPlace.bottom - FPlace.top, FParent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(FId)),
                              GetModuleHandleW(nullptr), nullptr);
    FTypable = ATypable;
    if (FHandle == nullptr) return;
    SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    // Keeps its place in the tab order.
    if (previous != nullptr) {
        SetWindowPos(FHandle, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        DestroyWindow(previous);
    }
}

void TComComboBox::Command(int ANotifyCode) {
    switch (ANotifyCode) {
    case CBN_SELCHANGE: {
        // Only the user's picks notify: selecting by program sends nothing. The edit field of
        // a typable box still shows the old text here, so the entry's own text is taken.
        const int index = ItemIndex();
        if (index >= 0) Change(Items(index));
        break;
    }
    case CBN_EDITCHANGE:
        FTyped = true;
        break;
    case CBN_KILLFOCUS:
        TakeTypedText();
        break;
    default:
        break;
    }
}

void TComComboBox::Change(const std::string& AText) {
    FTyped = false;
    FComSelect->Change(AText);
    if (FOnChange) FOnChange();
}

bool TComComboBox::TakeTypedText() {
    if (!FTyped || FHandle == nullptr) return false;
    Change(Text());
    return true;
}

void TComComboBox::ApplySettings() {
    TakeTypedText();
    FComSelect->ApplySettings();
}

void TComComboBox::UpdateSettings() {
    int index = ItemIndex();
    FComSelect->UpdateSettings(index);
    SetItemIndex(index);
    FTyped = false;
}

void TComComboBox::SetComPort(TCustomComPort* AValue) {
    if (AValue == FComSelect->ComPort()) return;
    FComSelect->SetComPort(AValue);
    FRemovalWatch->Watch(AValue);
    if (AValue != nullptr) UpdateSettings();
}

void TComComboBox::SetComProperty(TComProperty AValue) {
    const bool typable = AValue == cpPort || AValue == cpBaudRate;
    if (typable != FTypable && FHandle != nullptr) CreateBox(typable);
    if (FHandle != nullptr && typable) {
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        if (GetComboBoxInfo(FHandle, &info) && info.hwndItem != nullptr) {
            const LONG_PTR style = GetWindowLongPtrW(info.hwndItem, GWL_STYLE);
            SetWindowLongPtrW(info.hwndItem, GWL_STYLE,
                              AValue == cpBaudRate ? style | ES_NUMBER : style & ~ES_NUMBER);
        }
    }
    FComSelect->SetComProperty(AValue);
    FTyped = false;
    if (Count() == 0) return;
    if (FComSelect->ComPort() == nullptr)
        SetItemIndex(0);
    else
        UpdateSettings();
}

int TComComboBox::ItemIndex() const {
    if (FHandle == nullptr) return -1;
    const LRESULT index = SendMessageW(FHandle, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void TComComboBox::SetItemIndex(int AIndex) {
    if (FHandle != nullptr) SendMessageW(FHandle, CB_SETCURSEL, static_cast<WPARAM>(AIndex), 0);
}

int TComComboBox::Count() const {
    if (FHandle == nullptr) return 0;
    const LRESULT count = SendMessageW(FHandle, CB_GETCOUNT, 0, 0);
    return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::string TComComboBox::Items(int AIndex) const {
    if (FHandle == nullptr) return {};
    const LRESULT length = SendMessageW(FHandle, CB_GETLBTEXTLEN, static_cast<WPARAM>(AIndex), 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(FHandle, CB_GETLBTEXT, static_cast<WPARAM>(AIndex),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return WideToUtf8(text);
}

std::string TComComboBox::Text() const {
    if (FHandle == nullptr) return {};
    if (!FTypable) return Items(ItemIndex());
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(FHandle)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(FHandle, text.data(), static_cast<int>(text.size()))));
    return WideToUtf8(text);
}

void TComComboBox::SetText(const std::string& AValue) {
    const int index = FItems->IndexOf(AValue);
    if (index >= 0) SetItemIndex(index);
}

void TComComboBox::PortRemoved() {
    FComSelect->SetComPort(nullptr);
    if (Count() > 0) SetItemIndex(0);
}

} // namespace cport
