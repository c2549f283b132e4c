// The chart: a window of its own that plots the readings of the log (the first number of each
// line) over time, with their unit on the value axis, and follows the log as readings arrive.
//
// The wheel zooms the time axis around the pointer, a drag pans it, and Home or "Show all"
// shows every reading again; the value axis fits what is visible. Shown whole or with its
// right edge at the newest reading, the chart moves on with the readings. The plot gets only
// a few points per pixel column, so a day of readings costs it what a minute does, and a large
// log is read a slice per turn of the event loop. The readings can be exported as CSV.
#pragma once

#include "Readings.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class QChart;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace quendal {

class TChartView;

class TChartWindow : public QWidget {
    Q_OBJECT

public:
    // Plots ALog, which must outlive the window; a window of its own, also with a parent.
    explicit TChartWindow(const TLog& ALog, QWidget* AParent = nullptr);
    ~TChartWindow() override;

    // Tells the window that the log changed; it catches up at the screen's pace.
    void LogChanged();

    // Shows every reading, and follows new ones.
    void ShowAll();
    // Zooms the time axis by AFactor (below 1: in) around AAt, a fraction of the plot's width.
    void ZoomTime(double AFactor, double AAt = 0.5);
    // Moves the time axis by AFraction of the shown span (positive: later).
    void PanTime(double AFraction);
    // Writes the readings read so far to APath as CSV; tells the user when it cannot. The
    // window's button offers it once the log has been read.
    bool ExportCsv(const QString& APath);

    const TReadingSeries& Series() const { return FSeries; }
    // Whether every complete line of the log has been read.
    bool CaughtUp() const { return FCaughtUp; }
    // The shown time range, in milliseconds since the epoch.
    std::int64_t ShownFrom() const { return FFrom; }
    std::int64_t ShownTo() const { return FTo; }
    QChart* Chart() const { return FChart; }
    QLineSeries* Line() const { return FLine; }
    QValueAxis* ValueAxis() const { return FValueAxis; }
    QString StatusText() const;

protected:
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    // Reads on in the log for a slice of time, then draws.
    void CatchUp();
    void Draw();
    void ExportClicked();
    // After the user moved the time axis: it follows new readings only if it shows the newest.
    void Moved();
    double PlotWidth() const;

    const TLog& FLog;
    TReadingSeries FSeries;
    std::uint64_t FRestarts = 0;
    bool FCaughtUp = false;
    QTimer FTimer;
    QElapsedTimer FDrawn;
    // The shown range: everything, or a range that moves on with new readings while its end
    // is at the newest one.
    bool FAll = true;
    bool FFollowEnd = false;
    std::int64_t FFrom = 0;
    std::int64_t FTo = 0;

    QChart* FChart;
    QLineSeries* FLine;
    QDateTimeAxis* FTimeAxis;
    QValueAxis* FValueAxis;
    TChartView* FView;
    QPushButton* FShowAllButton;
    QPushButton* FExportButton;
    QLabel* FStatus;
};

} // namespace quendal
