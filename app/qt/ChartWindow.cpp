#include "ChartWindow.h"

#include "CodePage.h"

#include <QApplication>
#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace quendal {

namespace {

// Changes reach the screen at most this often.
constexpr int RefreshMs = 16;
// Reading a large log: this much at a time, for up to this long per turn of the event loop,
// drawn this often meanwhile.
constexpr std::uint64_t StepBytes = 32 * 1024;
constexpr qint64 SliceMs = 8;
constexpr qint64 CatchUpDrawMs = 250;
// The time axis spans at least a second and at most a century.
constexpr std::int64_t MinSpanMs = 1000;
constexpr std::int64_t MaxSpanMs = std::int64_t{100} * 365 * 24 * 3600 * 1000;
// One notch of the wheel zooms by this factor.
constexpr double WheelZoom = 0.8;

// A round step for about six ticks over ASpan: 1, 2, 2.5 or 5 times a power of ten.
double TickStep(double ASpan) {
    const double raw = ASpan / 6;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 2.5, 5.0})
        if (raw <= factor * magnitude) return factor * magnitude;
    return 10 * magnitude;
}

// The labels for ticks AStep apart: as many decimals as the step has.
QString TickFormat(double AStep) {
    if (AStep < 1e-9 || AStep >= 1e9) return QStringLiteral("%.4g");
    const double power = std::floor(std::log10(AStep));
    const bool half = AStep / std::pow(10.0, power) == 2.5;
    const int decimals = std::max(0, static_cast<int>(-power) + (half ? 1 : 0));
    return QStringLiteral("%.%1f").arg(decimals);
}

QString UnitText(const std::string& AUnit) {
    QString text;
    for (char byte : AUnit)
        text += QChar(CodePageToUnicode(static_cast<unsigned char>(byte)));
    return text;
}

} // namespace

// The plot: the wheel zooms, a drag pans, keys do either and Home shows everything.
class TChartView : public QChartView {
public:
    TChartView(QChart* AChart, TChartWindow& AWindow)
        : QChartView(AChart)
        , FWindow(AWindow) {
        setRenderHint(QPainter::Antialiasing);
        setFocusPolicy(Qt::StrongFocus);
        viewport()->setCursor(Qt::OpenHandCursor);
    }

protected:
    void wheelEvent(QWheelEvent* AEvent) override {
        const QRectF plot = chart()->plotArea();
        const double steps = AEvent->angleDelta().y() / 120.0;
        if (steps == 0 || plot.width() <= 0) return;
        const double at = (AEvent->position().x() - plot.left()) / plot.width();
        FWindow.ZoomTime(std::pow(WheelZoom, steps), std::clamp(at, 0.0, 1.0));
        AEvent->accept();
    }
    void mousePressEvent(QMouseEvent* AEvent) override {
        if (AEvent->button() != Qt::LeftButton) return QChartView::mousePressEvent(AEvent);
        FDragX = AEvent->position().x();
        FDragging = true;
        viewport()->setCursor(Qt::ClosedHandCursor);
    }
    void mouseMoveEvent(QMouseEvent* AEvent) override {
        const double width = chart()->plotArea().width();
        if (!FDragging || width <= 0) return QChartView::mouseMoveEvent(AEvent);
        const double x = AEvent->position().x();
        FWindow.PanTime(-(x - FDragX) / width);
        FDragX = x;
    }
    void mouseReleaseEvent(QMouseEvent* AEvent) override {
        if (AEvent->button() != Qt::LeftButton) return QChartView::mouseReleaseEvent(AEvent);
        FDragging = false;
        viewport()->setCursor(Qt::OpenHandCursor);
    }
    void keyPressEvent(QKeyEvent* AEvent) override {
        switch (AEvent->key()) {
        case Qt::Key_Home:
            FWindow.ShowAll();
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            FWindow.ZoomTime(WheelZoom);
            break;
        case Qt::Key_Minus:
            FWindow.ZoomTime(1 / WheelZoom);
            break;
        case Qt::Key_Left:
            FWindow.PanTime(-0.1);
            break;
        case Qt::Key_Right:
            FWindow.PanTime(0.1);
            break;
        default:
            QChartView::keyPressEvent(AEvent);
        }
    }

private:
    TChartWindow& FWindow;
    bool FDragging = false;
    double FDragX = 0;
};

TChartWindow::TChartWindow(const TLog& ALog, QWidget* AParent)
    : QWidget(AParent, Qt::Window)
    , FLog(ALog)
    , FChart(new QChart)
    , FLine(new QLineSeries)
    , FTimeAxis(new QDateTimeAxis)
    , FValueAxis(new QValueAxis) {
    setWindowTitle(QStringLiteral("Chart"));
    FChart->legend()->hide();
    FChart->addSeries(FLine);
    FChart->addAxis(FTimeAxis, Qt::AlignBottom);
    FChart->addAxis(FValueAxis, Qt::AlignLeft);
    FLine->attachAxis(FTimeAxis);
    FLine->attachAxis(FValueAxis);
    FLine->setMarkerSize(5);
    FView = new TChartView(FChart, *this);

    FShowAllButton = new QPushButton(QStringLiteral("Show all"), this);
    FExportButton = new QPushButton(QStringLiteral("Export CSV..."), this);
    FStatus = new QLabel(this);
    connect(FShowAllButton, &QPushButton::clicked, this, [this] { ShowAll(); });
    connect(FExportButton, &QPushButton::clicked, this, [this] { ExportClicked(); });
    auto* bar = new QHBoxLayout;
    bar->addWidget(FShowAllButton);
    bar->addWidget(FExportButton);
    bar->addWidget(FStatus, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(FView, 1);

    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, [this] { CatchUp(); });
    resize(640, 400);
    FView->setFocus();
    FTimer.start(0);
}

TChartWindow::~TChartWindow() = default;

void TChartWindow::LogChanged() {
    if (!FTimer.isActive()) FTimer.start(RefreshMs);
}

void TChartWindow::resizeEvent(QResizeEvent* AEvent) {
    QWidget::resizeEvent(AEvent);
    // Another width, other columns.
    LogChanged();
}

void TChartWindow::CatchUp() {
    QElapsedTimer clock;
    clock.start();
    do
        FCaughtUp = FSeries.Follow(FLog, StepBytes);
    while (!FCaughtUp && clock.elapsed() < SliceMs);
    if (FSeries.Restarts() != FRestarts) {
        FRestarts = FSeries.Restarts();
        FAll = true; // a new log
    }
    if (!FCaughtUp) FTimer.start(0);
    if (FCaughtUp || !FDrawn.isValid() || FDrawn.elapsed() >= CatchUpDrawMs) Draw();
}

double TChartWindow::PlotWidth() const {
    const double width = FChart->plotArea().width();
    // Before the first layout the plot has no size yet.
    return width > 0 ? width : FView->width();
}

void TChartWindow::Draw() {
    FDrawn.start();
    FStatus->setText(StatusText());
    // An export while the log is still being read would miss its end.
    FExportButton->setEnabled(FCaughtUp);
    if (FSeries.Readings().empty()) {
        FLine->clear();
        FValueAxis->setTitleText(QString());
        return;
    }
    if (FAll) {
        FFrom = FSeries.FirstTime();
        FTo = FSeries.LastTime();
    } else if (FFollowEnd && FTo < FSeries.LastTime()) {
        FFrom += FSeries.LastTime() - FTo;
        FTo = FSeries.LastTime();
    }
    if (FTo - FFrom < MinSpanMs) {
        const std::int64_t middle = FFrom + (FTo - FFrom) / 2;
        FFrom = middle - MinSpanMs / 2;
        FTo = FFrom + MinSpanMs;
    }
    const int columns = std::max(1, static_cast<int>(PlotWidth()));
    const TDecimation shown = Decimate(FSeries, FFrom, FTo, columns);
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(shown.Points.size()));
    for (const TReading& reading : shown.Points)
        points.append(QPointF(static_cast<qreal>(reading.Time), reading.Value));
    FLine->replace(points);
    // A few readings are drawn as dots too: one alone makes no line.
    FLine->setPointsVisible(shown.Inside * 8 <= static_cast<std::size_t>(columns));

    FTimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(FFrom), QDateTime::fromMSecsSinceEpoch(FTo));
    const std::int64_t span = FTo - FFrom;
    FTimeAxis->setFormat(span < 120'000          ? QStringLiteral("HH:mm:ss.zzz")
                         : span < 2 * 86'400'000 ? QStringLiteral("HH:mm:ss")
                                                 : QStringLiteral("yyyy-MM-dd HH:mm"));
    if (shown.Inside > 0) {
        // A level line gets a margin of its own size, so that 0.0015 V does not look like 0.
        const double margin = shown.High > shown.Low ? (shown.High - shown.Low) * 0.05
                              : shown.High != 0      ? std::abs(shown.High) * 0.01
                                                     : 0.5;
        // Ticks on round values: the range widened to whole steps.
        const double step = TickStep(shown.High - shown.Low + 2 * margin);
        const double low = std::floor((shown.Low - margin) / step) * step;
        const double high = std::ceil((shown.High + margin) / step) * step;
        FValueAxis->setRange(low, high);
        FValueAxis->setTickCount(
            std::clamp(static_cast<int>(std::lround((high - low) / step)) + 1, 2, 13));
        FValueAxis->setLabelFormat(TickFormat(step));
    }
    QStringList units;
    for (const std::string& unit : FSeries.UnitsBetween(shown.First, shown.Last))
        units << UnitText(unit);
    FValueAxis->setTitleText(units.join(QStringLiteral(", ")));
}

QString TChartWindow::StatusText() const {
    QString text = FSeries.Readings().empty() && FSeries.Untimed() == 0
                       ? QStringLiteral("No readings yet")
                       : QStringLiteral("%L1 readings").arg(FSeries.Readings().size());
    if (FSeries.Untimed() > 0)
        text += QStringLiteral(", %L1 without a time (not drawn)").arg(FSeries.Untimed());
    const std::uint64_t size = FLog.Store().Size();
    if (!FCaughtUp && size > 0)
        text += QStringLiteral(", reading the log: %1%").arg(FSeries.Position() * 100 / size);
    return text;
}

void TChartWindow::ShowAll() {
    FAll = true;
    Draw();
}

void TChartWindow::ZoomTime(double AFactor, double AAt) {
    if (FSeries.Readings().empty()) return;
    const double span = static_cast<double>(FTo - FFrom);
    const double wanted =
        std::clamp(span * AFactor, static_cast<double>(MinSpanMs), static_cast<double>(MaxSpanMs));
    const double at = static_cast<double>(FFrom) + span * AAt;
    FFrom = static_cast<std::int64_t>(std::llround(at - wanted * AAt));
    FTo = FFrom + static_cast<std::int64_t>(std::llround(wanted));
    Moved();
}

void TChartWindow::PanTime(double AFraction) {
    if (FSeries.Readings().empty()) return;
    const auto shift =
        static_cast<std::int64_t>(std::llround(static_cast<double>(FTo - FFrom) * AFraction));
    FFrom += shift;
    FTo += shift;
    Moved();
}

void TChartWindow::Moved() {
    FAll = false;
    FFollowEnd = FTo >= FSeries.LastTime();
    Draw();
}

void TChartWindow::ExportClicked() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export the readings"), QStringLiteral("readings.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty()) ExportCsv(path);
}

bool TChartWindow::ExportCsv(const QString& APath) {
    TFileError error;
    if (ExportReadingsCsv(FSeries, QFile::encodeName(APath).toStdString(), error)) return true;
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(),
                    QStringLiteral("The readings cannot be exported.\n%1: %2")
                        .arg(APath, QString::fromStdString(error.Text)),
                    QMessageBox::Ok, this);
    box.exec();
    return false;
}

} // namespace quendal
