// The about window on Windows: one picture and nothing else. Made hidden at start; About shows
// it without waiting, a click on the picture or its close box hides it again.
#pragma once

#include <windows.h>

#include <cstddef>

namespace quendal {

class TForm9 {
public:
    TForm9();
    ~TForm9();
    TForm9(const TForm9&) = delete;
    TForm9& operator=(const TForm9&) = delete;

    HWND Handle() const { return FHandle; }
    // Shows the window where it was, or brings it to the front.
    void Show();
    void Image1Click();
    // Whether the picture could be decoded (the window shows its background otherwise).
    bool HasPicture() const { return FPicture != nullptr; }

private:
    static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMsg, WPARAM AWParam, LPARAM ALParam);
    void Paint();

    HWND FHandle = nullptr;
    HBITMAP FPicture = nullptr;
    SIZE FPictureSize{};
};

// Decodes a JPEG with the system's own imaging (OLE's picture loader): no JPEG library is
// linked into the program. Returns a bitmap that the caller owns, or nullptr.
HBITMAP DecodeJpeg(const void* AData, std::size_t ASize, SIZE& ASizeOut);

} // namespace quendal
