// The soak and benchmark harness: quendal's main window, driven through its own commands as a
// user would drive it, for a fixed time, with the event loop's lateness measured meanwhile. It
// is a program of its own (quendal_automate) that links the window's library, so that the
// shipped program carries none of it.
//
//     quendal_automate PORT SECONDS LOGFILE [--no-poll] [--rss-every SECONDS]
//
// Sets the port, clicks Open, ticks Poll (unless --no-poll), runs the event loop for SECONDS,
// unticks Poll, waits briefly for the answer to the last poll, clicks Open again (closing the
// port), saves the log to LOGFILE with the Save command's code, and quits. Success prints one
// line to standard output:
//
//     lateness_ms p50=<float> p99=<float> max=<float> samples=<int> rss_kib=<int>
//
// and exits 0. Any error the window would show in a message box (the port does not open, the
// device hangs up, the save fails) goes to standard error instead, and the program exits 1.
#pragma once

#include "MainThread.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

namespace quendal {

class TForm1;

struct TAutomationOptions {
    QString Port;
    double Seconds = 0;
    QString LogFile;
    bool Poll = true;
    // 0: no RSS lines; otherwise "rss_kib=<n> log_bytes=<n>" every so many seconds.
    double RssEvery = 0;
};

// Reads the harness's arguments; false with AError set when they are wrong.
bool ParseAutomation(int argc, char** argv, TAutomationOptions& AOptions, std::string& AError);

// The event loop's lateness: a histogram of the intervals of a repeating timer minus the
// interval asked for, at microsecond resolution, so that an hour of samples costs no more
// memory than a second.
class TLatenessHistogram {
public:
    TLatenessHistogram();
    void Add(std::int64_t ALatenessMicroseconds);
    std::int64_t Samples() const { return FSamples; }
    // The smallest lateness that AFraction of the samples do not exceed, in ms (0 without
    // samples).
    double Quantile(double AFraction) const;
    double MaxMs() const { return static_cast<double>(FMax) / 1000.0; }

private:
    // Early ticks (a timer catching up after a late one) down to -Low, late ones up to High;
    // beyond that the exact values are kept aside.
    static constexpr std::int64_t Low = 10'000;
    static constexpr std::int64_t High = 1'000'000;
    std::vector<std::uint32_t> FCounts;
    std::vector<std::int64_t> FOutliers;
    std::int64_t FSamples = 0;
    std::int64_t FMax = 0;
};

// The resident set size of this process in KiB (VmRSS), or -1 when it cannot be read.
long ResidentKiB();
// The size in bytes the log would have when saved now (each line with CR LF).
std::int64_t SavedLogBytes(TForm1& AForm);

class TAutomation {
public:
    // Replaces the application's exception report, so that nothing blocks in a message box;
    // create it before the window, whose start may already report.
    explicit TAutomation(TAutomationOptions AOptions);
    TAutomation(const TAutomation&) = delete;
    TAutomation& operator=(const TAutomation&) = delete;
    ~TAutomation();

    // Starts the run once the event loop runs; the loop's exit code is the program's.
    void Start(TForm1& AForm);

private:
    void Begin();
    void StopPolling();
    void End();
    // Reports an error: to standard error, and the run ends with exit code 1.
    void Fail(const QString& AMessage);
    void Finish(int ACode);
    void Tick();
    void PrintRss();

    TAutomationOptions FOptions;
    cport::TMainThread::TExceptionReport FPreviousReport;
    TForm1* FForm = nullptr;
    bool FFailed = false;
    bool FFinished = false;
    QTimer FLatenessTimer;
    QTimer FRssTimer;
    QElapsedTimer FClock;
    std::int64_t FLastTick = -1;
    TLatenessHistogram FLateness;
};

} // namespace quendal
