// quendal: the RQ-71 data logger.
#include "ComMainForm.h"
#include "QtMainThread.h"
#include "Unit9.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {
const char* const Version = "1.0.2";

void PrintHelp() {
    std::printf("Usage: quendal [--help] [--version]\n"
                "Logs the readings of a Tessivo RQ-71 that is connected to a serial port.\n"
                "Choose the port in Settings, then Open; tick Poll to ask the device for a\n"
                "reading every 350 ms. The settings are kept in the current user's store\n"
                "(~/.config/cport/HKEY_CURRENT_USER.reg) when you click Quit.\n");
}
} // namespace

int main(int argc, char** argv) {
    // Answered before the GUI starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quendal %s\n", Version);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quendal"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quendal"));
    QApplication::setApplicationVersion(QString::fromLatin1(Version));
    // The installed desktop entry's name, by which desktops find the entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quendal.Quendal"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/quendal/icon-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    cport::InstallQtMainThread();

    quendal::TForm1 form;
    quendal::TForm9 about;
    form.SetAboutWindow(&about);
    form.show();
    return QApplication::exec();
}
