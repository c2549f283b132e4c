// quendal: the RQ-71 data logger.
#include "ComMainForm.h"
#include "QtMainThread.h"
#include "Recorder.h"
#include "Unit9.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <iostream>

namespace {
const char* const Version = "1.0.2";

void PrintHelp() {
    std::printf("Usage: quendal [--help] [--version]\n"
                "       quendal --record PORT [--baud N] [--poll] [--timestamps] [--output FILE]\n"
                "                             [--rotate-size MB | --rotate-daily]\n"
                "Logs the readings of a Tessivo RQ-71 that is connected to a serial port.\n"
                "Choose the port in Settings, then Open; tick Poll to ask the device for a\n"
                "reading every 350 ms. The settings are kept in the current user's store\n"
                "(~/.config/cport/HKEY_CURRENT_USER.reg) when you click Quit.\n"
                "Everything logged is also written as it arrives to a journal file in\n"
                "$XDG_STATE_HOME/quendal (~/.local/state/quendal); a log that was not ended\n"
                "cleanly is offered back at the next start. The journals are kept up to\n"
                "QUENDAL_JOURNAL_LIMIT_MB megabytes together (1024 when unset).\n"
                "\n"
                "--record logs PORT without a display: with the stored port settings (--baud N\n"
                "for another rate), polling with --poll, each line's time and a tab first with\n"
                "--timestamps, to FILE (else to a file of its own in the journal folder), a\n"
                "new file when it reaches MB megabytes or each day (the file names then get\n"
                "the time they began). It reopens the device after it went away, prints a\n"
                "status line a minute to standard error and ends on SIGINT or SIGTERM (exit\n"
                "code 0); a port or file it cannot open gives exit code 1, wrong arguments 2.\n");
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
    // Without a display: no GUI at all.
    if (quendal::WantsRecorder(argc, argv)) {
        quendal::TRecorderOptions options;
        std::string error;
        if (!quendal::ParseRecorder(argc, argv, options, error)) {
            std::fprintf(stderr, "quendal: %s (see --help)\n", error.c_str());
            return 2;
        }
        return quendal::RunRecorder(options, std::cerr);
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
    cport::InstallQtMainThreadAndSetupDialog();

    quendal::TForm1 form;
    quendal::TForm9 about;
    form.SetAboutWindow(&about);
    form.show();
    QTimer::singleShot(0, &form, [&form] { form.OfferRecovery(); });
    return QApplication::exec();
}
