// W5, the log: memory while logging, the cost of one received piece at an empty and at a 1 GB
// log, loading and saving large logs while the window is meant to stay responsive. The log and
// its pane are the program's own (TLog, TLogView on the offscreen platform); the event loop
// runs as in the program, and a 10 ms timer on it tells how long it was held up. Last, the
// chart window over a day of readings.
#include "LogBench.h"

#include "ChartWindow.h"
#include "Log.h"
#include "LogView.h"
#include "TaskProgress.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineSeries>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double ResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// A log and its pane, in a folder of their own.
struct TBench {
    explicit TBench(const std::string& AFolder)
        : Log(quendal::TJournalFolder(AFolder), UINT64_MAX)
        , View(Log) {
        Log.SetOnChanged([this] { View.LogChanged(); });
        View.resize(145, 257);
        View.show();
        QCoreApplication::processEvents();
    }
    quendal::TLog Log;
    quendal::TLogView View;
};

// How late a 10 ms timer on the event loop ran at most while something went on.
class TLateness {
public:
    TLateness() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const qint64 now = FClock.elapsed();
            if (FLast >= 0) FWorst = std::max(FWorst, now - FLast - 10);
            FLast = now;
        });
        FTimer.setTimerType(Qt::PreciseTimer);
        FClock.start();
        FTimer.start(10);
    }
    qint64 WorstMs() const { return FWorst; }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLast = -1;
    qint64 FWorst = 0;
};

void RunFor(std::chrono::milliseconds ATime) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ATime.count())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// Feeds APiece every AEveryMs on the event loop until ABytes more were logged; returns the RSS
// growth in MiB. A few seconds of the same before the measure let the program settle.
double LogAtRate(TBench& ABench, const std::string& APiece, int AEveryMs, std::uint64_t ABytes) {
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feed, &QTimer::timeout, [&] { ABench.Log.Received(APiece); });
    feed.start(AEveryMs);
    RunFor(std::chrono::seconds(3));
    const double before = ResidentMiB();
    const std::uint64_t until = ABench.Log.Store().Size() + ABytes;
    while (ABench.Log.Store().Size() < until)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    feed.stop();
    RunFor(std::chrono::milliseconds(100));
    return ResidentMiB() - before;
}

// Microseconds per received 100-byte piece, each followed by a turn of the event loop, the
// pane's repaints included.
double AppendCost(TBench& ABench) {
    std::string piece(98, 'x');
    piece += "\r\n";
    RunFor(std::chrono::milliseconds(50));
    std::vector<double> runs;
    for (int run = 0; run < 6; ++run) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 1000; ++i) {
            ABench.Log.Received(piece);
            QCoreApplication::processEvents();
        }
        if (run > 0) runs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1000.0 / 1000.0);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

void WriteLogFile(const std::string& APath, std::uint64_t ABytes) {
    std::ofstream file(APath, std::ios::binary);
    std::string line(98, 'x');
    line[0] = '\xB0';
    line += "\r\n";
    std::string block;
    while (block.size() < (1u << 20))
        block += line;
    for (std::uint64_t written = 0; written < ABytes; written += block.size())
        file.write(block.data(), static_cast<std::streamsize>(block.size()));
}

struct TTaskRun {
    double Seconds = 0;
    qint64 WorstLateMs = 0;
    bool Succeeded = false;
    bool Cancelled = false; // Cancel was pressed
};

// Runs a task the way the window does (a progress dialog after 200 ms), waiting for it on the
// event loop; with ACancel, presses the dialog's Cancel as soon as it shows.
template <class TStart, class TFinish>
TTaskRun RunTask(TBench& ABench, TStart&& AStart, TFinish&& AFinish, bool ACancel = false) {
    TLateness lateness;
    RunFor(std::chrono::milliseconds(30));
    QElapsedTimer clock;
    clock.start();
    auto task = AStart();
    bool done = false;
    quendal::RunWithProgress(&ABench.View, *task, QStringLiteral("Working..."),
                             [&] { done = true; });
    bool pressed = false;
    while (!done) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QProgressDialog*>(window);
            if (ACancel && !pressed && dialog != nullptr && dialog->isVisible()) {
                if (auto* button = dialog->findChild<QPushButton*>()) {
                    button->click();
                    pressed = true;
                }
            }
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    TTaskRun run;
    run.Cancelled = pressed;
    run.Succeeded = AFinish(*task);
    QCoreApplication::processEvents(); // the first paint of what was loaded
    run.Seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    run.WorstLateMs = lateness.WorstMs();
    return run;
}

TTaskRun Load(TBench& ABench, const std::string& APath, bool ACancel = false) {
    return RunTask(
        ABench, [&] { return ABench.Log.StartLoad(APath); },
        [&](quendal::TLoadTask& ATask) { return ABench.Log.FinishLoad(ATask); }, ACancel);
}

TTaskRun Save(TBench& ABench, const std::string& APath) {
    return RunTask(
        ABench, [&] { return ABench.Log.StartSave(APath); },
        [](quendal::TSaveTask& ATask) { return ATask.Succeeded(); });
}

double CopySeconds(const std::string& AFrom, const std::string& ATo) {
    QElapsedTimer clock;
    clock.start();
    std::filesystem::copy_file(AFrom, ATo, std::filesystem::copy_options::overwrite_existing);
    const int file = ::open(ATo.c_str(), O_RDONLY);
    ::fsync(file);
    ::close(file);
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

// Every lateness of a 10 ms timer on the event loop, for percentiles.
class TLatenessSamples {
public:
    TLatenessSamples() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const qint64 now = FClock.nsecsElapsed();
            if (FLast >= 0)
                FSamples.push_back(
                    std::max<double>(0, static_cast<double>(now - FLast) / 1e6 - 10));
            FLast = now;
        });
        FTimer.setTimerType(Qt::PreciseTimer);
        FClock.start();
        FTimer.start(10);
    }
    // The APercent percentile in milliseconds.
    double Percentile(double APercent) {
        if (FSamples.empty()) return 0;
        std::sort(FSamples.begin(), FSamples.end());
        const auto at =
            static_cast<std::size_t>(APercent / 100 * static_cast<double>(FSamples.size() - 1));
        return FSamples[at];
    }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLast = -1;
    std::vector<double> FSamples;
};

// The chart with a day of readings at 3 a second: how long the window takes to read them, and
// how late the event loop runs while readings arrive and the user zooms and pans all the time.
std::string ChartBenchmark(const std::string& AFolder, bool AQuick) {
    constexpr std::int64_t start = 1796734987412;
    const int readings = 3 * 24 * 3600;
    std::int64_t now = start;
    quendal::TLog log(quendal::TJournalFolder(AFolder), UINT64_MAX);
    log.SetClock([&] { return now; });
    char line[32];
    double value = 23;
    std::uint32_t noise = 71;
    auto reading = [&](int AIndex) {
        noise = noise * 1664525u + 1013904223u; // a small fixed walk, the same every run
        value += (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.01 + (23 - value) * 0.001;
        std::snprintf(line, sizeof line,
                      "%+07.3f \xB0"
                      "C\r\n",
                      value);
        now = start + std::int64_t{AIndex} * 1000 / 3;
        log.Received(line);
    };
    for (int i = 0; i < readings; ++i)
        reading(i);

    quendal::TChartWindow window(log);
    log.SetOnChanged([&] { window.LogChanged(); });
    TLatenessSamples catchUpLateness;
    QElapsedTimer clock;
    clock.start();
    window.show();
    while (!window.CaughtUp() ||
           window.Series().Readings().size() < static_cast<std::size_t>(readings))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QCoreApplication::processEvents(); // the first paint of all of it
    const double catchUp = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double catchUpWorst = catchUpLateness.Percentile(100);

    // Readings at 3 a second; every 50 ms a step of the user: zooming in, dragging, zooming
    // out, Home.
    auto* view = window.findChild<QChartView*>();
    QWidget* viewport = view->viewport();
    TLatenessSamples lateness;
    int next = readings;
    QTimer arrive;
    QObject::connect(&arrive, &QTimer::timeout, [&] { reading(next++); });
    arrive.start(333);
    int step = 0;
    double dragX = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        const QRectF plot = window.Chart()->plotArea();
        const QPointF at(plot.left() + plot.width() * (0.2 + 0.6 * ((step * 37) % 100) / 100.0),
                         plot.center().y());
        const int phase = step++ % 20;
        if (phase < 5 || (phase >= 15 && phase < 19)) {
            const QPoint delta(0, phase < 5 ? 120 : -120);
            QWheelEvent wheel(at, viewport->mapToGlobal(at), {}, delta, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &wheel);
        } else if (phase < 15) {
            const QEvent::Type type = phase == 5    ? QEvent::MouseButtonPress
                                      : phase == 14 ? QEvent::MouseButtonRelease
                                                    : QEvent::MouseMove;
            dragX = phase == 5 ? at.x() : dragX + (phase < 10 ? 30 : -20);
            const QPointF point(dragX, at.y());
            QMouseEvent mouse(type, point, viewport->mapToGlobal(point), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(viewport, &mouse);
        } else {
            QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
            QApplication::sendEvent(view, &home);
        }
    });
    user.start(50);
    RunFor(std::chrono::seconds(AQuick ? 3 : 10));
    user.stop();
    arrive.stop();

    char row[512];
    std::snprintf(row, sizeof row,
                  "\n| chart | readings | catch-up s | worst lateness while catching up ms | "
                  "lateness p50 / p99 / max ms, 3 readings/s with zoom and pan every 50 ms | "
                  "points drawn | readings' memory MB |\n|---|---|---|---|---|---|---|\n"
                  "| a day at 3 a second | %d | %.2f | %.0f | %.1f / %.1f / %.1f | %lld | %.1f |\n",
                  readings, catchUp, catchUpWorst, lateness.Percentile(50), lateness.Percentile(99),
                  lateness.Percentile(100), static_cast<long long>(window.Line()->count()),
                  static_cast<double>(window.Series().MemoryBytes()) / (1 << 20));
    return row;
}

} // namespace

std::string LogBenchmarks(bool AQuick) {
    char folder[] = "/tmp/quendal-logbench-XXXXXX";
    const std::string root = ::mkdtemp(folder);
    char row[256];
    std::string table;

    // Memory while logging, and after Clear.
    table += "| W5 logging | logged MB | RSS growth MB | MB per MB logged |\n|---|---|---|---|\n";
    {
        TBench bench(root + "/rate");
        const double start = ResidentMiB();
        const std::uint64_t bulk = AQuick ? 10u << 20 : 100u << 20;
        const double grown = LogAtRate(bench, std::string(1000, 'r') + "\r\n", 1, bulk);
        std::snprintf(row, sizeof row, "| 1 MB/s | %.0f | %.1f | %.3f |\n",
                      static_cast<double>(bulk) / (1 << 20), grown,
                      grown / (static_cast<double>(bulk) / (1 << 20)));
        table += row;
        bench.Log.Clear();
        const std::uint64_t lines = AQuick ? 10000 : 60000; // 1000 a second
        const double linesGrown = LogAtRate(bench, "+23.456 C\r\n", 1, lines * 12);
        std::snprintf(row, sizeof row, "| 1000 12-byte lines/s | %.2f | %.1f | %.3f |\n",
                      static_cast<double>(lines * 12) / (1 << 20), linesGrown,
                      linesGrown / (static_cast<double>(lines * 12) / (1 << 20)));
        table += row;
        bench.Log.Clear();
        RunFor(std::chrono::milliseconds(200));
        std::snprintf(row, sizeof row, "\nRSS after Clear: %.1f MB above the start\n",
                      ResidentMiB() - start);
        table += row;
    }

    // One piece's cost, at an empty log and at a large one.
    const std::string big = root + "/big.txt";
    const std::uint64_t bigSize = AQuick ? 256u << 20 : 1u << 30;
    WriteLogFile(big, bigSize);
    table += "\n| W5 log holds | time per 100-byte piece, us | ratio to empty |\n|---|---|---|\n";
    double empty = 0;
    {
        TBench bench(root + "/empty");
        AppendCost(bench); // the program's first paints and allocations
        bench.Log.Clear();
        empty = AppendCost(bench);
        std::snprintf(row, sizeof row, "| 0 MB | %.1f | 1.00x |\n", empty);
        table += row;
        const TTaskRun loaded = Load(bench, big);
        const double full = AppendCost(bench);
        std::snprintf(row, sizeof row, "| %.0f MB | %.1f | %.2fx |\n",
                      static_cast<double>(bigSize) / (1 << 20), full, full / empty);
        table += row;

        table +=
            "\n| W5 task | seconds | worst event-loop lateness ms | note |\n|---|---|---|---|\n";
        std::snprintf(row, sizeof row, "| load %.0f MB | %.2f | %lld | %s |\n",
                      static_cast<double>(bigSize) / (1 << 20), loaded.Seconds,
                      static_cast<long long>(loaded.WorstLateMs),
                      loaded.Succeeded ? "loaded" : "FAILED");
        table += row;
        const std::string saved = root + "/saved.txt";
        const TTaskRun save = Save(bench, saved);
        const double copy = CopySeconds(saved, root + "/copied.txt");
        std::snprintf(
            row, sizeof row,
            "| save %.0f MB | %.2f | %lld | %s; the same file copied with fsync: %.2f s |\n",
            static_cast<double>(bigSize) / (1 << 20), save.Seconds,
            static_cast<long long>(save.WorstLateMs), save.Succeeded ? "saved" : "FAILED", copy);
        table += row;
        std::filesystem::remove(root + "/copied.txt");
        std::filesystem::remove(saved);
        const std::uint64_t before = bench.Log.Store().Size();
        const TTaskRun cancelled = Load(bench, big, true);
        std::snprintf(row, sizeof row,
                      "| load %.0f MB, Cancel pressed when the dialog shows | %.2f | %lld | %s |\n",
                      static_cast<double>(bigSize) / (1 << 20), cancelled.Seconds,
                      static_cast<long long>(cancelled.WorstLateMs),
                      !cancelled.Cancelled ? "done before the dialog showed"
                      : !cancelled.Succeeded && bench.Log.Store().Size() == before
                          ? "cancelled, log unchanged"
                          : "Cancel pressed, but NOT cancelled");
        table += row;
    }
    {
        const std::string file50 = root + "/50.txt";
        WriteLogFile(file50, 50u << 20);
        TBench bench(root + "/load50");
        const TTaskRun loaded = Load(bench, file50);
        std::snprintf(row, sizeof row, "| load 50 MB until shown | %.2f | %lld | %s |\n",
                      loaded.Seconds, static_cast<long long>(loaded.WorstLateMs),
                      loaded.Succeeded ? "loaded" : "FAILED");
        table += row;
    }
    table += ChartBenchmark(root + "/chart", AQuick);
    std::filesystem::remove_all(root);
    return table;
}
