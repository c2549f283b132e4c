#include "Unit9.h"

#include "Resources.h"

#include <ole2.h>
#include <olectl.h>

#include <cstring>

namespace quendal {

namespace {

constexpr const wchar_t* ClassName = L"Quendal.About";
constexpr int ClientWidth = 218;
constexpr int ClientHeight = 194;

} // namespace

HBITMAP DecodeJpeg(const void* AData, std::size_t ASize, SIZE& ASizeOut) {
    // The stream takes the memory and frees it with itself.
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, ASize);
    if (memory == nullptr) return nullptr;
    std::memcpy(GlobalLock(memory), AData, ASize);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    IPicture* picture = nullptr;
    const HRESULT loaded = OleLoadPicture(stream, static_cast<LONG>(ASize), FALSE, IID_IPicture,
                                          reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(loaded) || picture == nullptr) return nullptr;
    OLE_HANDLE handle = 0;
    short type = PICTYPE_UNINITIALIZED;
    HBITMAP result = nullptr;
    if (SUCCEEDED(picture->get_Type(&type)) && type == PICTYPE_BITMAP &&
        SUCCEEDED(picture->get_Handle(&handle))) {
        // A copy of our own: the picture's bitmap goes with the picture.
        result =
            static_cast<HBITMAP>(CopyImage(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)),
                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        BITMAP info{};
        if (result != nullptr && GetObjectW(result, sizeof info, &info) != 0)
            ASizeOut = SIZE{info.bmWidth, info.bmHeight};
    }
    picture->Release();
    return result;
}

TForm9::TForm9() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (const HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDR_ABOUT_PICTURE),
                                          MAKEINTRESOURCEW(10)); // RT_RCDATA
        found != nullptr) {
        const HGLOBAL bytes = LoadResource(instance, found);
        FPicture = DecodeJpeg(LockResource(bytes), SizeofResource(instance, found), FPictureSize);
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_CAPTIONTEXT + 1);
    windowClass.lpszClassName = ClassName;
    RegisterClassW(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_TOOLWINDOW;
    RECT frame{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    FHandle =
        CreateWindowExW(exStyle, ClassName, L"   About", style, 389, 287, frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, instance, this);
}

TForm9::~TForm9() {
    if (FHandle != nullptr) DestroyWindow(FHandle);
    if (FPicture != nullptr) DeleteObject(FPicture);
}

void TForm9::Show() {
    ShowWindow(FHandle, SW_SHOWNORMAL);
    SetForegroundWindow(FHandle);
}

void TForm9::Image1Click() {
    // Not the main window: closing only hides it.
    ShowWindow(FHandle, SW_HIDE);
}

void TForm9::Paint() {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(FHandle, &paint);
    if (FPicture != nullptr) {
        const HDC memory = CreateCompatibleDC(dc);
        const HGDIOBJ old = SelectObject(memory, FPicture);
        // The picture is two pixels wider than the window, which cuts off its right edge.
        BitBlt(dc, 0, 0, FPictureSize.cx, FPictureSize.cy, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    EndPaint(FHandle, &paint);
}

LRESULT CALLBACK TForm9::WindowProc(HWND AWindow, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    if (AMsg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(ALParam);
        SetWindowLongPtrW(AWindow, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TForm9*>(GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcW(AWindow, AMsg, AWParam, ALParam);
    switch (AMsg) {
    case WM_PAINT:
        form->Paint();
        return 0;
    case WM_LBUTTONUP: {
        const POINT at{static_cast<short>(LOWORD(ALParam)), static_cast<short>(HIWORD(ALParam))};
        if (at.x < form->FPictureSize.cx && at.y < form->FPictureSize.cy) form->Image1Click();
        return 0;
    }
    case WM_CLOSE:
        form->Image1Click();
        return 0;
    case WM_DESTROY:
        form->FHandle = nullptr;
        return 0;
    default:
        return DefWindowProcW(AWindow, AMsg, AWParam, ALParam);
    }
}

} // namespace quendal
