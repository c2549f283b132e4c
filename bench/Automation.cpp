#include "Automation.h"

#include "ComMainForm.h"

#include "MainThread.h"
#include "QtMainThread.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace quendal {

namespace {

constexpr int TickMs = 10;
// After Poll is unticked, the answer to the last poll is still on its way; it is given this
// long to arrive before the port closes, so that the log holds everything that was asked for.
constexpr int LastAnswerMs = 200;

bool ParsePositive(const char* AText, double& AValue) {
    char* end = nullptr;
    AValue = std::strtod(AText, &end);
    return end != AText && *end == '\0' && std::isfinite(AValue) && AValue > 0;
}

} // namespace

bool ParseAutomation(int argc, char** argv, TAutomationOptions& AOptions, std::string& AError) {
    if (argc < 4) {
        AError = "needs PORT SECONDS LOGFILE";
        return false;
    }
    AOptions.Port = QString::fromLocal8Bit(argv[1]);
    if (!ParsePositive(argv[2], AOptions.Seconds)) {
        AError = std::string("SECONDS is not a positive number: ") + argv[2];
        return false;
    }
    AOptions.LogFile = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-poll") == 0) {
            AOptions.Poll = false;
        } else if (std::strcmp(argv[i], "--rss-every") == 0 && i + 1 < argc) {
            if (!ParsePositive(argv[++i], AOptions.RssEvery)) {
                AError = std::string("--rss-every: not a positive number: ") + argv[i];
                return false;
            }
        } else {
            AError = std::string("unknown argument ") + argv[i];
            return false;
        }
    }
    return true;
}

TLatenessHistogram::TLatenessHistogram()
    : FCounts(static_cast<std::size_t>(Low + High + 1), 0) {}

void TLatenessHistogram::Add(std::int64_t ALatenessMicroseconds) {
    ++FSamples;
    if (FSamples == 1 || ALatenessMicroseconds > FMax) FMax = ALatenessMicroseconds;
    if (ALatenessMicroseconds < -Low || ALatenessMicroseconds > High)
        FOutliers.push_back(ALatenessMicroseconds);
    else
        ++FCounts[static_cast<std::size_t>(ALatenessMicroseconds + Low)];
}

double TLatenessHistogram::Quantile(double AFraction) const {
    if (FSamples == 0) return 0;
    // Nearest rank: the value of the sample at rank ceil(fraction * samples), counting the
    // early outliers, then the histogram, then the late outliers.
    const auto rank = std::clamp<std::int64_t>(
        static_cast<std::int64_t>(std::ceil(AFraction * static_cast<double>(FSamples))), 1,
        FSamples);
    std::vector<std::int64_t> outliers = FOutliers;
    std::sort(outliers.begin(), outliers.end());
    const auto early = static_cast<std::int64_t>(
        std::partition_point(outliers.begin(), outliers.end(),
                             [](std::int64_t AValue) { return AValue < -Low; }) -
        outliers.begin());
    const auto toMs = [](std::int64_t AMicroseconds) {
        return static_cast<double>(AMicroseconds) / 1000.0;
    };
    if (rank <= early) return toMs(outliers[static_cast<std::size_t>(rank - 1)]);
    std::int64_t seen = early;
    for (std::size_t i = 0; i < FCounts.size(); ++i) {
        seen += FCounts[i];
        if (seen >= rank) return toMs(static_cast<std::int64_t>(i) - Low);
    }
    // Among the late outliers, which follow the early ones in the sorted list.
    return toMs(outliers[static_cast<std::size_t>(early + rank - seen - 1)]);
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::int64_t SavedLogBytes(TForm1& AForm) {
    const TLogStore& store = AForm.Log().Store();
    return static_cast<std::int64_t>(store.Size() + store.SavedEnding().size());
}

TAutomation::TAutomation(TAutomationOptions AOptions)
    : FOptions(std::move(AOptions)) {
    FPreviousReport =
        cport::TMainThread::SetExceptionReport([this](std::exception_ptr AError, cport::TObject*) {
            Fail(QString::fromStdString(cport::ReportText(AError)));
        });
    FLatenessTimer.setTimerType(Qt::PreciseTimer);
    FLatenessTimer.setInterval(TickMs);
    QObject::connect(&FLatenessTimer, &QTimer::timeout, [this] { Tick(); });
    FRssTimer.setInterval(static_cast<int>(std::lround(FOptions.RssEvery * 1000)));
    QObject::connect(&FRssTimer, &QTimer::timeout, [this] { PrintRss(); });
}

TAutomation::~TAutomation() {
    cport::TMainThread::SetExceptionReport(std::move(FPreviousReport));
}

void TAutomation::Start(TForm1& AForm) {
    FForm = &AForm;
    // A report from the window's start (its stored settings) has ended the run already.
    if (!FFinished) QTimer::singleShot(0, [this] { Begin(); });
}

void TAutomation::Begin() {
    FForm->ComPort->SetPort(FOptions.Port.toStdString());
    FForm->Button_Open->click();
    if (FFinished) return;
    if (FOptions.Poll) {
        FForm->CheckBox1->click();
        if (FFinished) return;
    }
    FClock.start();
    FLatenessTimer.start();
    if (FOptions.RssEvery > 0) {
        FRssTimer.start();
        PrintRss(); // a first sample at the start
    }
    QTimer::singleShot(static_cast<int>(std::lround(FOptions.Seconds * 1000)), Qt::PreciseTimer,
                       [this] { StopPolling(); });
}

void TAutomation::StopPolling() {
    if (FFinished) return;
    if (FForm->CheckBox1->isChecked()) FForm->CheckBox1->click();
    QTimer::singleShot(LastAnswerMs, [this] { End(); });
}

void TAutomation::End() {
    if (FFinished) return;
    FLatenessTimer.stop();
    FRssTimer.stop();
    FForm->Button_Open->click(); // the port is open, so this closes it
    if (FFinished) return;
    const auto save = FForm->Log().StartSave(QFile::encodeName(FOptions.LogFile).toStdString());
    save->Wait();
    if (!save->Succeeded()) {
        Fail(QStringLiteral("Fehler beim Speichern der Datei!\n") +
             QString::fromStdString(save->ErrorPath() + ": " + save->Error().Text));
        return;
    }
    std::printf("lateness_ms p50=%.3f p99=%.3f max=%.3f samples=%lld rss_kib=%ld\n",
                FLateness.Quantile(0.50), FLateness.Quantile(0.99), FLateness.MaxMs(),
                static_cast<long long>(FLateness.Samples()), ResidentKiB());
    std::fflush(stdout);
    Finish(0);
}

void TAutomation::Fail(const QString& AMessage) {
    std::fprintf(stderr, "%s\n", AMessage.toLocal8Bit().constData());
    std::fflush(stderr);
    FFailed = true;
    if (!FFinished) Finish(1);
}

void TAutomation::Finish(int ACode) {
    FFinished = true;
    FLatenessTimer.stop();
    FRssTimer.stop();
    // After a failure the port may still be open: it closes the way the window closes it, and
    // whatever that reports goes to standard error as well.
    if (FForm != nullptr && FForm->ComPort->Connected()) FForm->Button_Open->click();
    // Posted rather than called: a failure while the window is created comes before the
    // event loop runs, and exit() before exec() would be lost.
    const int code = FFailed ? 1 : ACode;
    QTimer::singleShot(0, [code] { QCoreApplication::exit(code); });
}

void TAutomation::PrintRss() {
    std::printf("rss_kib=%ld log_bytes=%lld\n", ResidentKiB(),
                static_cast<long long>(SavedLogBytes(*FForm)));
    std::fflush(stdout);
}

void TAutomation::Tick() {
    const std::int64_t now = FClock.nsecsElapsed();
    if (FLastTick >= 0) FLateness.Add((now - FLastTick) / 1000 - TickMs * 1000);
    FLastTick = now;
}

} // namespace quendal
