// quendal.exe: the RQ-71 data logger for Windows.
#include "ComMainForm.h"
#include "Unit9.h"
#include "WinMainThread.h"

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

namespace {

// Tab, arrow keys and the buttons' accelerators, as in a dialog; every other message goes to
// its window.
void RunMessageLoop(const quendal::TForm1& AForm, const quendal::TForm9& AAbout) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (AForm.Handle() != nullptr && IsDialogMessageW(AForm.Handle(), &message)) continue;
        if (AAbout.Handle() != nullptr && IsDialogMessageW(AAbout.Handle(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE /*AInstance*/, HINSTANCE /*APrevious*/, LPSTR /*ACommandLine*/,
                   int /*AShow*/) {
    // OLE decodes the about picture and serves the file dialogs.
    if (FAILED(OleInitialize(nullptr))) return 1;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    int result = 0;
    try {
        cport::InstallWinMainThread();
        quendal::TForm1 form;
        quendal::TForm9 about;
        form.SetAboutWindow(&about);
        form.Show();
        RunMessageLoop(form, about);
    } catch (...) {
        cport::WinExceptionReport(std::current_exception(), nullptr);
        result = 1;
    }
    cport::UninstallWinMainThread();
    OleUninitialize();
    return result;
}
