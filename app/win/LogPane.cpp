#include "LogPane.h"

#include "CodePage.h"

#include <algorithm>

namespace quendal {

namespace {

// Large logs go to the control in pieces of this many bytes, so the text never exists twice.
constexpr std::uint64_t PieceBytes = 1 << 20;

} // namespace

TLogPane::TLogPane(HWND AParent, int AId, TLog& ALog, int ALeft, int ATop, int AWidth, int AHeight)
    : FLog(ALog)
    , FGeneration(ALog.Generation()) {
    FHandle = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE |
                                  ES_READONLY | ES_AUTOVSCROLL | ES_LEFT,
                              ALeft, ATop, AWidth, AHeight, AParent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(AId)),
                              GetModuleHandleW(nullptr), nullptr);
    // No limit: the window sets none on the size of the log.
    SendMessageW(FHandle, EM_SETLIMITTEXT, 0, 0);
    LogChanged();
}

void TLogPane::LogChanged() {
    const TLogStore& store = FLog.Store();
    if (FLog.Generation() != FGeneration || store.Size() < FShown) {
        FGeneration = FLog.Generation();
        FShown = 0;
        SetWindowTextW(FHandle, L"");
    }
    if (store.Size() > FShown) Append(FShown, store.Size());
}

void TLogPane::Append(std::uint64_t AFrom, std::uint64_t ATo) {
    const TLogStore& store = FLog.Store();
    for (std::uint64_t at = AFrom; at < ATo;) {
        const auto count = static_cast<std::size_t>(std::min(PieceBytes, ATo - at));
        std::u16string text = CodePageToUtf16(store.Read(at, count));
        if (text.empty()) break;
        at += text.size();
        // A NUL would end the text the control takes; the log itself keeps the byte.
        std::replace(text.begin(), text.end(), u'\0', u' ');
        const int end = GetWindowTextLengthW(FHandle);
        SendMessageW(FHandle, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
        SendMessageW(FHandle, EM_REPLACESEL, FALSE,
                     reinterpret_cast<LPARAM>(reinterpret_cast<const wchar_t*>(text.c_str())));
        FShown = at;
    }
    SendMessageW(FHandle, EM_SCROLLCARET, 0, 0);
}

} // namespace quendal
