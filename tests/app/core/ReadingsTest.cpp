// The readings of a log: the number and unit of a line, real and hostile; the series that
// follows a log across reads and replacements; what a plot gets of it; the CSV export.
#include "Readings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quendal {
namespace {

using namespace std::string_literals;

// The degree sign is the code page's byte 0xB0.
const std::string DegreesC = "\xB0"
                             "C";

TEST(ParseReading, TakesTheFirstNumberOfALineAndTheUnitAfterIt) {
    const struct {
        std::string Line;
        double Value;
        std::string Unit;
    } cases[] = {
        {"+23.001 " + DegreesC, 23.001, DegreesC},
        {"-0.500 V", -0.5, "V"},
        {"1.5e-3 V", 0.0015, "V"},
        {"2E+2mbar", 200, "mbar"},
        {"3eV", 3, "eV"},
        {".5 A", 0.5, "A"},
        {"23,5 " + DegreesC, 23.5, DegreesC},
        {"23,500;24,100", 23.5, ""},
        {"1,234,567 counts", 1, ""},
        {"1,234.5 counts", 1, ""},
        {"1,2,3", 1, ""},
        {"12 V 3 A", 12, "V"},
        {"CH1: 23.5 %", 23.5, "%"},
        {"T-1 -4.25 m/s\xB2", -4.25, "m/s\xB2"},
        {"-\0"
         "1.5 \xB5m"s,
         -1.5, "\xB5m"},
        {"\0\0+\0"
         "23.456 "s +
             DegreesC + "\0"s,
         23.456, DegreesC},
        {"7 averyveryverylongword", 7, ""},
        {"42", 42, ""},
    };
    for (const auto& c : cases) {
        const auto reading = ParseReading(c.Line);
        ASSERT_TRUE(reading.has_value()) << c.Line;
        EXPECT_DOUBLE_EQ(reading->Value, c.Value) << c.Line;
        EXPECT_EQ(reading->Unit, c.Unit) << c.Line;
        EXPECT_EQ(reading->Time, TStamps::None) << c.Line;
    }
}

TEST(ParseReading, FindsNoneInTextHostileBytesOrANumberItCannotHold) {
    const std::string lines[] = {
        "",
        "no number here",
        "+ - . e , ",
        "CH1 ready",
        "1e999 V",
        "\xFF\xFE\x80\x00\x01\x9D\r"s,
        std::string(1 << 20, '\0'),
        std::string(ReadingScanBytes - 1, ' ') + "55", // the number may go on unseen
        std::string(1 << 20, '7'),
        std::string(300, 'x') + " 23.5 V",
    };
    for (const std::string& line : lines)
        EXPECT_FALSE(ParseReading(line).has_value()) << line.substr(0, 40);
    // A megabyte after a reading costs nothing and changes nothing.
    const auto reading = ParseReading("+23.001 " + DegreesC + " " + std::string(1 << 20, '9'));
    ASSERT_TRUE(reading.has_value());
    EXPECT_DOUBLE_EQ(reading->Value, 23.001);
}

TEST(ParseReading, ASavedLogsTimeComesWithTheReadingAfterItsTab) {
    const std::int64_t time = 1796734987412;
    EXPECT_EQ(ParseStampText(StampText(time)), time);
    const auto stamped = ParseReading(StampText(time) + "\t+23.001 " + DegreesC);
    ASSERT_TRUE(stamped.has_value());
    EXPECT_EQ(stamped->Time, time);
    EXPECT_DOUBLE_EQ(stamped->Value, 23.001);
    EXPECT_EQ(stamped->Unit, DegreesC);
    // A saved line without a time, and a time that cannot be, still give their reading.
    for (const char* line : {"\t-1.5 V", "2026-13-45 25:00:00.000\t-1.5 V"}) {
        const auto reading = ParseReading(line);
        ASSERT_TRUE(reading.has_value()) << line;
        EXPECT_EQ(reading->Time, TStamps::None) << line;
        EXPECT_DOUBLE_EQ(reading->Value, -1.5) << line;
    }
}

class Readings : public ::testing::Test {
protected:
    Readings() {
        char folder[] = "/tmp/quendal-readings-XXXXXX";
        FFolder = ::mkdtemp(folder);
        FLog = std::make_unique<TLog>(TJournalFolder(FFolder + "/journals"));
        FLog->SetClock([this] { return FNow; });
    }
    ~Readings() override {
        FLog.reset();
        std::filesystem::remove_all(FFolder);
    }
    // Receives AText at ATime.
    void Receive(const std::string& AText, std::int64_t ATime) {
        FNow = ATime;
        FLog->Received(AText);
    }
    TReadingSeries FollowAll() {
        TReadingSeries series;
        EXPECT_TRUE(series.Follow(*FLog, UINT64_MAX));
        return series;
    }

    std::string FFolder;
    std::int64_t FNow = 0;
    std::unique_ptr<TLog> FLog;
};

TEST_F(Readings, TheSeriesReadsCompleteLinesWhateverItsBudget) {
    const std::int64_t start = 1796734987412;
    Receive("+23.001 " + DegreesC + "\r\n", start);
    Receive("+23.0", start + 333); // trickles in: its time is its first byte's
    Receive("02 " + DegreesC + "\r\nno reading\r\n" +
                std::string(TReadingSeries::BlockBytes * 3, 'x') + "\r\n-1.5e1 V\r\n+9",
            start + 666);
    TReadingSeries small;
    std::uint64_t calls = 0;
    while (!small.Follow(*FLog, 7))
        ++calls;
    EXPECT_GT(calls, 3 * TReadingSeries::BlockBytes / 7);
    TReadingSeries whole = FollowAll();
    for (const TReadingSeries* series : {&small, &whole}) {
        ASSERT_EQ(series->Readings().size(), 3u);
        EXPECT_EQ(series->Readings()[0].Time, start);
        EXPECT_EQ(series->Readings()[1].Time, start + 333);
        EXPECT_DOUBLE_EQ(series->Readings()[1].Value, 23.002);
        EXPECT_EQ(series->Readings()[2].Time, start + 666);
        EXPECT_DOUBLE_EQ(series->Readings()[2].Value, -15);
        EXPECT_EQ(series->UnitOf(1), DegreesC);
        EXPECT_EQ(series->UnitOf(2), "V");
    }
    // The unfinished "+9" counts once its line ends.
    Receive(".5 V\r\n", start + 999);
    EXPECT_TRUE(small.Follow(*FLog, UINT64_MAX));
    ASSERT_EQ(small.Readings().size(), 4u);
    EXPECT_EQ(small.Readings()[3].Time, start + 666);
    EXPECT_DOUBLE_EQ(small.Readings()[3].Value, 9.5);
    EXPECT_EQ(small.UnitsBetween(0, 4), (std::vector<std::string>{DegreesC, "V"}));
}

TEST_F(Readings, TheSeriesStartsOverWhenTheLogIsReplaced) {
    TReadingSeries series;
    Receive("+1.0 V\r\n+2.0 V\r\n", 1000);
    EXPECT_TRUE(series.Follow(*FLog, UINT64_MAX));
    const std::uint64_t restarts = series.Restarts();
    FLog->Clear();
    Receive("+3.0 A\r\n", 2000);
    EXPECT_TRUE(series.Follow(*FLog, UINT64_MAX));
    EXPECT_EQ(series.Restarts(), restarts + 1);
    ASSERT_EQ(series.Readings().size(), 1u);
    EXPECT_DOUBLE_EQ(series.Readings()[0].Value, 3.0);
    EXPECT_EQ(series.UnitsBetween(0, 1), std::vector<std::string>{"A"});
}

TEST_F(Readings, ALoadedLineHasItsSavedTimeOrIsCountedWithoutOne) {
    const std::string file = FFolder + "/saved.txt";
    const std::int64_t saved = 1782900000000;
    std::ofstream(file, std::ios::binary)
        << StampText(saved) + "\t+1.0 V\r\n\t+2.0 V\r\n+3.0 V\r\n";
    auto load = FLog->StartLoad(file);
    load->Wait();
    ASSERT_TRUE(FLog->FinishLoad(*load));
    Receive("+4.0 V\r\n", saved + 5000);
    const TReadingSeries series = FollowAll();
    ASSERT_EQ(series.Readings().size(), 2u);
    EXPECT_EQ(series.Readings()[0].Time, saved);
    EXPECT_EQ(series.Readings()[1].Time, saved + 5000);
    EXPECT_DOUBLE_EQ(series.Readings()[1].Value, 4.0);
    EXPECT_EQ(series.Untimed(), 2u);
}

TEST_F(Readings, DecimationKeepsEachColumnsExtremesInTheirOrder) {
    for (int i = 0; i < 10000; ++i) // one a millisecond
        Receive(std::to_string(i == 5123 ? 500 : i == 7777 ? -500 : i % 100) + " V\r\n", i);
    const TReadingSeries series = FollowAll();
    const TDecimation all = Decimate(series, 0, 9999, 50);
    EXPECT_EQ(all.Inside, 10000u);
    EXPECT_LE(all.Points.size(), 4u * 50);
    EXPECT_EQ(all.Low, -500);
    EXPECT_EQ(all.High, 500);
    auto has = [](const TDecimation& AOf, double AValue) {
        return std::any_of(AOf.Points.begin(), AOf.Points.end(),
                           [&](const TReading& A) { return A.Value == AValue; });
    };
    EXPECT_TRUE(has(all, 500) && has(all, -500) && has(all, 99) && has(all, 0));
    EXPECT_TRUE(
        std::is_sorted(all.Points.begin(), all.Points.end(),
                       [](const TReading& A, const TReading& B) { return A.Time < B.Time; }));
    // A part: the readings on either side come along, the extremes are the part's own.
    const TDecimation part = Decimate(series, 5100, 5199, 200);
    EXPECT_EQ(part.Inside, 100u);
    EXPECT_EQ(part.Points.size(), 102u);
    EXPECT_EQ(part.Points.front().Time, 5099);
    EXPECT_EQ(part.Points.back().Time, 5200);
    EXPECT_EQ(part.High, 500);
    EXPECT_EQ(part.Low, 0);
}

TEST_F(Readings, TheCsvExportHasAHeaderAndATimeValueAndUnitPerReading) {
    const char* zone = std::getenv("TZ");
    const std::string previous = zone != nullptr ? zone : "";
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    Receive("1.5e-3 V\r\n-2,5\r\n", 1782900000000);
    Receive("+23.001 " + DegreesC + "\r\n", 1796734987412);
    const std::string path = FFolder + "/readings.csv";
    std::ofstream(path) << "an older export";
    TFileError error;
    EXPECT_TRUE(ExportReadingsCsv(FollowAll(), path, error)) << error.Text;
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}),
              "time,value,unit\r\n"
              "2026-07-01T12:00:00.000+02:00,0.0015,V\r\n"
              "2026-07-01T12:00:00.000+02:00,-2.5,\r\n"
              "2026-12-08T14:03:07.412+01:00,23.001,\xC2\xB0"
              "C\r\n");
    EXPECT_FALSE(ExportReadingsCsv(FollowAll(), FFolder + "/missing/readings.csv", error));
    EXPECT_EQ(error.Code, ENOENT);
    if (zone != nullptr)
        ::setenv("TZ", previous.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

} // namespace
} // namespace quendal
