// The chart window over a log of its own: the readings with their unit, following new ones,
// the wheel, a drag and Home, the export through its button, and the README's picture.
#include "ChartWindow.h"

#include "QtTestSupport.h"

#include <QChartView>
#include <QFileDialog>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace quendal {
namespace {

using cport::test::WaitFor;

constexpr std::int64_t Start = 1796734987412;

class ChartWindow : public ::testing::Test {
protected:
    ChartWindow() {
        char folder[] = "/tmp/quendal-chart-XXXXXX";
        FFolder = ::mkdtemp(folder);
        FLog = std::make_unique<TLog>(TJournalFolder(FFolder + "/journals"));
        FLog->SetClock([this] { return FNow; });
        FWindow = std::make_unique<TChartWindow>(*FLog);
        FLog->SetOnChanged([this] { FWindow->LogChanged(); });
        FWindow->show();
    }
    ~ChartWindow() override {
        FWindow.reset();
        FLog.reset();
        std::filesystem::remove_all(FFolder);
    }
    // A reading of AValue degrees at ATime.
    void Reading(double AValue, std::int64_t ATime) {
        char text[32];
        std::snprintf(text, sizeof text,
                      "%+07.3f \xB0"
                      "C\r\n",
                      AValue);
        FNow = ATime;
        FLog->Received(text);
    }
    bool Drawn(std::size_t AReadings) {
        return WaitFor([&] {
            return FWindow->CaughtUp() && FWindow->Series().Readings().size() == AReadings &&
                   FWindow->ShownTo() >= FWindow->Series().LastTime();
        });
    }
    QChartView* View() { return FWindow->findChild<QChartView*>(); }

    std::string FFolder;
    std::int64_t FNow = Start;
    std::unique_ptr<TLog> FLog;
    std::unique_ptr<TChartWindow> FWindow;
};

TEST_F(ChartWindow, PlotsTheReadingsWithTheirUnitAndFollowsNewOnes) {
    for (int i = 0; i < 20000; ++i)
        Reading(20 + i % 7, Start + i * 333);
    ASSERT_TRUE(Drawn(20000));
    EXPECT_EQ(FWindow->windowTitle(), "Chart");
    EXPECT_EQ(FWindow->ValueAxis()->titleText(), QStringLiteral("\u00B0C"));
    EXPECT_LE(FWindow->ValueAxis()->min(), 20);
    EXPECT_GE(FWindow->ValueAxis()->max(), 26);
    const qsizetype points = FWindow->Line()->count();
    EXPECT_GT(points, 100);
    EXPECT_LE(points, 4 * FWindow->width()) << "a few points per column, not every reading";
    EXPECT_EQ(FWindow->ShownFrom(), Start);
    Reading(40, Start + 20000 * 333);
    ASSERT_TRUE(Drawn(20001));
    EXPECT_EQ(FWindow->ShownTo(), Start + 20000 * 333);
    EXPECT_GE(FWindow->ValueAxis()->max(), 40);
    EXPECT_TRUE(
        FWindow->StatusText().remove(QLocale().groupSeparator()).startsWith("20001 readings"))
        << FWindow->StatusText().toStdString();
}

TEST_F(ChartWindow, TheWheelZoomsADragPansHomeShowsAllAndTheValueAxisFitsWhatIsVisible) {
    for (int i = 0; i < 600; ++i)
        Reading(i < 300 ? 10 : 30, Start + i * 1000);
    ASSERT_TRUE(Drawn(600));
    EXPECT_LT(FWindow->ValueAxis()->min(), 10);
    const QRectF plot = FWindow->Chart()->plotArea();
    const QPointF right(plot.right() - 1, plot.center().y());
    QWheelEvent wheel(right, View()->viewport()->mapToGlobal(right), {}, QPoint(0, 5 * 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(View()->viewport(), &wheel);
    const std::int64_t span = FWindow->ShownTo() - FWindow->ShownFrom();
    EXPECT_NEAR(static_cast<double>(span), 599000 * 0.32768, 2000);
    EXPECT_GT(FWindow->ValueAxis()->min(), 20) << "only the later readings are in sight";
    // Dragging across the plot to the right shows the span before.
    const std::int64_t from = FWindow->ShownFrom();
    const int y = static_cast<int>(plot.center().y());
    const QPoint left(static_cast<int>(plot.left()) + 1, y),
        end(static_cast<int>(plot.right()) - 1, y);
    QTest::mousePress(View()->viewport(), Qt::LeftButton, {}, left);
    QTest::mouseMove(View()->viewport(), end);
    QTest::mouseRelease(View()->viewport(), Qt::LeftButton, {}, end);
    EXPECT_NEAR(static_cast<double>(FWindow->ShownFrom() - from), -static_cast<double>(span),
                static_cast<double>(span) / 50);
    EXPECT_LT(FWindow->ValueAxis()->min(), 10);
    // Not at the end any more: a new reading leaves the range where it is.
    const std::int64_t to = FWindow->ShownTo();
    Reading(30, Start + 600 * 1000);
    ASSERT_TRUE(WaitFor([&] { return FWindow->Series().Readings().size() == 601; }));
    EXPECT_EQ(FWindow->ShownTo(), to);
    QTest::keyClick(View(), Qt::Key_Home);
    EXPECT_EQ(FWindow->ShownFrom(), Start);
    EXPECT_EQ(FWindow->ShownTo(), Start + 600 * 1000);
}

TEST_F(ChartWindow, ExportWritesTheReadingsToTheFileChosen) {
    for (int i = 0; i < 100; ++i)
        Reading(23 + i / 1000.0, Start + i * 333);
    ASSERT_TRUE(Drawn(100));
    const std::string path = FFolder + "/readings.csv";
    cport::test::TModalDriver driver(cport::test::OnceActive([&](QWidget* AModal) {
        auto* dialog = qobject_cast<QFileDialog*>(AModal);
        ASSERT_NE(dialog, nullptr);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(path));
        QTest::keyClick(name, Qt::Key_Return);
    }));
    for (QPushButton* button : FWindow->findChildren<QPushButton*>())
        if (button->text().startsWith("Export")) button->click();
    EXPECT_TRUE(driver.Done());
    std::ifstream file(path, std::ios::binary);
    const std::string csv(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 101);
    EXPECT_TRUE(csv.starts_with("time,value,unit\r\n"));
    EXPECT_TRUE(csv.ends_with(",23.099,\xC2\xB0"
                              "C\r\n"));
}

// The picture in the README: an hour of readings of a sensor in a quiet room.
TEST_F(ChartWindow, ScreenshotOfAnHourOfReadings) {
    std::mt19937 random(71);
    std::normal_distribution<double> step(0.0, 0.004);
    double value = 23.2;
    for (int i = 0; i < 3 * 3600; ++i) {
        value += step(random) + (23.0 - value) * 0.001;
        Reading(value, Start + i * 333);
    }
    ASSERT_TRUE(Drawn(3 * 3600));
    // The chart lays its axes out on the next turn of the event loop.
    QCoreApplication::processEvents();
    const QPixmap shot = FWindow->grab();
    EXPECT_EQ(shot.size(), QSize(640, 400));
    EXPECT_TRUE(shot.save(QStringLiteral(QUENDAL_SCREENSHOT_DIR "/Chart.png")));
}

} // namespace
} // namespace quendal
