// quendal_automate: the main window driven by itself for soak runs and benchmarks (see
// Automation.h). It starts like quendal, minus the offer to restore an unsaved log, which
// would wait for a click.
#include "Automation.h"
#include "ComMainForm.h"
#include "QtMainThread.h"

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {
const char* const Usage =
    "Usage: quendal_automate PORT SECONDS LOGFILE [--no-poll] [--rss-every SECONDS]\n"
    "Opens PORT in quendal's main window, ticks Poll (unless --no-poll), logs for SECONDS,\n"
    "unticks Poll, closes the port, saves the log to LOGFILE and quits. It then prints one line\n"
    "  lateness_ms p50=<ms> p99=<ms> max=<ms> samples=<n> rss_kib=<n>\n"
    "(how late a 10 ms timer ran, and the memory in use at the end). --rss-every also prints\n"
    "\"rss_kib=<n> log_bytes=<n>\" every SECONDS. Errors go to standard error instead of a\n"
    "message box, with exit code 1; wrong arguments give exit code 2.\n";
} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Read after Qt has taken its own arguments (-platform and the like).
    quendal::TAutomationOptions options;
    std::string error;
    if (!quendal::ParseAutomation(argc, argv, options, error)) {
        std::fprintf(stderr, "quendal_automate: %s\n%s", error.c_str(), Usage);
        return 2;
    }
    cport::InstallQtMainThreadAndSetupDialog();

    // Before the window: its start may already report an error.
    quendal::TAutomation automation(options);
    quendal::TForm1 form;
    form.show();
    automation.Start(form);
    return QApplication::exec();
}
