// The readings in a log: the first number of a line and the unit printed after it, as a
// measuring device writes them ("+23.001 °C"), and the series of a log's readings over time,
// kept up to date as the log grows. Without a toolkit; the chart window draws them.
#pragma once

#include "Log.h"
#include "System.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quendal {

// A line's reading: its value, its unit in the code page's bytes (empty when the number
// stands alone), and the time a saved log wrote before the line (TStamps::None if none).
struct TLineReading {
    double Value = 0;
    std::string Unit;
    std::int64_t Time = TStamps::None;
};

// Only this much of a line is looked at, so that a line of any length costs the same.
constexpr std::size_t ReadingScanBytes = 256;
// A word after the number longer than this is text, not a unit.
constexpr std::size_t MaxUnitBytes = 16;

// The reading of a line (without its line break), if it has one: the first number that is not
// part of a word ("CH1" is a name), with its sign, its decimal point or a decimal comma
// ("23,5"; not in "1,234,567" or "1,2,3", where the comma separates) and its exponent
// ("1.5e-3"), then the word right after it as the unit. NUL bytes count as absent. A line that
// begins with a saved log's time and a tab gives that time and the reading after the tab.
// A number that is too large to be a double, or that runs past the scanned part, is none.
std::optional<TLineReading> ParseReading(std::string_view ALine);

// The time a saved log writes before a line (see StampText: "2026-12-08 14:03:07.412",
// local time), in milliseconds since the epoch; TStamps::None when AText is not one.
std::int64_t ParseStampText(std::string_view AText);

// A reading on the time axis: milliseconds since the epoch, and the value.
struct TReading {
    std::int64_t Time = 0;
    double Value = 0;
};

// The readings of a log with their times, read incrementally: each call reads on from where
// the last one stopped, complete lines only, and starts over when the log was replaced. A
// line's time is its stamp, else the time a saved log wrote before it; a reading without
// either is counted but kept out. Units are kept once per change, not per reading.
class TReadingSeries {
public:
    // The bytes read from the log at a time.
    static constexpr std::size_t BlockBytes = 64 * 1024;
    // Distinct units kept at most; readings with further units are kept without one.
    static constexpr std::size_t MaxUnits = 256;

    // Reads up to ABudget more bytes of ALog; first starts over if ALog was replaced since the
    // last call. Returns whether every complete line of the log has been read.
    bool Follow(const TLog& ALog, std::uint64_t ABudget);

    const std::vector<TReading>& Readings() const { return FReadings; }
    // The unit of reading AIndex, in the code page's bytes.
    const std::string& UnitOf(std::size_t AIndex) const;
    // The distinct units of the readings from AFirst up to ALast (excluded), in order of
    // their first appearance.
    std::vector<std::string> UnitsBetween(std::size_t AFirst, std::size_t ALast) const;
    // Readings left out for want of a time.
    std::uint64_t Untimed() const { return FUntimed; }
    // Whether the readings' times never go back, so that a time range can be bisected.
    bool Ordered() const { return FOrdered; }
    // The earliest and latest time; only with readings.
    std::int64_t FirstTime() const { return FFirstTime; }
    std::int64_t LastTime() const { return FLastTime; }
    // Bytes of the log read so far.
    std::uint64_t Position() const { return FPosition; }
    // Counts the times the series started over: what was drawn from it is gone.
    std::uint64_t Restarts() const { return FRestarts; }
    // Memory held, in bytes.
    std::size_t MemoryBytes() const;

private:
    struct TUnitRun {
        std::size_t First; // the first reading with this unit
        std::size_t Unit;  // into FUnits
    };

    void Reset();
    void Take(std::string_view ABytes, const TLogStore& AStore);
    void EndLine(const TLogStore& AStore);
    void Add(std::int64_t ATime, double AValue, const std::string& AUnit);

    std::uint64_t FGeneration = UINT64_MAX;
    std::uint64_t FRestarts = 0;
    std::uint64_t FPosition = 0;
    std::uint64_t FLine = 0;
    // The start of the line being read, as much of it as the parser looks at.
    std::string FHead;
    std::vector<char> FBlock;
    std::vector<TReading> FReadings;
    std::vector<std::string> FUnits;
    std::vector<TUnitRun> FUnitRuns;
    std::uint64_t FUntimed = 0;
    bool FOrdered = true;
    std::int64_t FFirstTime = 0;
    std::int64_t FLastTime = 0;
};

// What a plot AColumns pixels wide shows of a series between two times: per column the first,
// lowest, highest and last reading in their order, which draws the very line that all of them
// draw, so the plot costs the same for a minute and for a day. The readings just outside the
// range come along, so that the line runs on to the edges.
struct TDecimation {
    std::vector<TReading> Points;
    // Readings inside the range, their values' extremes, and the readings' index range
    // (the whole series when its times are not ordered).
    std::size_t Inside = 0;
    double Low = 0;
    double High = 0;
    std::size_t First = 0;
    std::size_t Last = 0;
};
TDecimation Decimate(const TReadingSeries& ASeries, std::int64_t AFrom, std::int64_t ATo,
                     int AColumns);

// A time as ISO 8601 with milliseconds and the local offset: "2026-12-08T14:03:07.412+01:00".
std::string IsoTimeText(std::int64_t AEpochMs);
// The code page's bytes as UTF-8.
std::string CodePageToUtf8(std::string_view ABytes);

// Writes the readings to APath as CSV: a header line, then per reading its time (IsoTimeText),
// value and unit (UTF-8). The file is replaced only once all of it is written; false, with
// AError, when it could not be.
bool ExportReadingsCsv(const TReadingSeries& ASeries, const std::string& APath, TFileError& AError);

} // namespace quendal
