#include "Readings.h"

#include "CodePage.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace quendal {

namespace {

// "2026-12-08 14:03:07.412": the shape of StampText's time, a digit wherever a 0 stands.
constexpr std::string_view StampShape = "0000-00-00 00:00:00.000";

bool IsDigit(unsigned char AByte) {
    return AByte >= '0' && AByte <= '9';
}

// Letters of the code page: ASCII's and the accented ones (not × and ÷).
bool IsLetter(unsigned char AByte) {
    return (AByte >= 'a' && AByte <= 'z') || (AByte >= 'A' && AByte <= 'Z') ||
           (AByte >= 0xC0 && AByte != 0xD7 && AByte != 0xF7);
}

// A number right after one of these belongs to a word ("CH1", "x2").
bool IsWordByte(unsigned char AByte) {
    return IsLetter(AByte) || IsDigit(AByte) || AByte == '_';
}

// A unit begins with a letter, %, ° (0xB0), µ (0xB5) or ‰ (0x89), and may go on with digits
// and / ² ³ · ^ ("m/s²", "m3/h").
bool IsUnitStart(unsigned char AByte) {
    return IsLetter(AByte) || AByte == '%' || AByte == 0xB0 || AByte == 0xB5 || AByte == 0x89;
}

bool IsUnitByte(unsigned char AByte) {
    return IsUnitStart(AByte) || IsDigit(AByte) || AByte == '/' || AByte == 0xB2 || AByte == 0xB3 ||
           AByte == 0xB7 || AByte == '^';
}

bool HasStampShape(std::string_view AText) {
    if (AText.size() != StampShape.size()) return false;
    for (std::size_t i = 0; i < AText.size(); ++i) {
        const bool fits = StampShape[i] == '0' ? IsDigit(static_cast<unsigned char>(AText[i]))
                                               : AText[i] == StampShape[i];
        if (!fits) return false;
    }
    return true;
}

int Field(std::string_view AText, std::size_t AAt, std::size_t ADigits) {
    int value = 0;
    for (std::size_t i = AAt; i < AAt + ADigits; ++i)
        value = value * 10 + (AText[i] - '0');
    return value;
}

// The number that starts at AText[AAt] (a sign, digits or a point before a digit), its end in
// AEnd; false when it is none (out of a double's range).
bool ParseNumber(const char* AText, std::size_t ALength, std::size_t AAt, double& AValue,
                 std::size_t& AEnd) {
    bool negative = false;
    if (AText[AAt] == '+' || AText[AAt] == '-') negative = AText[AAt++] == '-';
    // from_chars wants a point, and no sign; the digits go into a copy of their own.
    char number[ReadingScanBytes + 2];
    std::size_t count = 0;
    std::size_t at = AAt;
    auto digits = [&](std::size_t AFrom) {
        std::size_t end = AFrom;
        while (end < ALength && IsDigit(static_cast<unsigned char>(AText[end])))
            number[count++] = AText[end++];
        return end;
    };
    auto digitAt = [&](std::size_t AIndex) {
        return AIndex < ALength && IsDigit(static_cast<unsigned char>(AText[AIndex]));
    };
    at = digits(at);
    const bool whole = at > AAt;
    if (at < ALength && AText[at] == '.' && digitAt(at + 1)) {
        number[count++] = '.';
        at = digits(at + 1);
    } else if (whole && at < ALength && AText[at] == ',' && digitAt(at + 1)) {
        // A comma is a decimal comma only where it cannot be a separator: "23,5" and
        // "23,500 °C", not "1,234,567", "1,234.5" or a list "1,2,3".
        std::size_t end = at + 1;
        while (digitAt(end))
            ++end;
        const bool separates =
            end < ALength && (AText[end] == ',' || AText[end] == '.') && digitAt(end + 1);
        if (!separates) {
            number[count++] = '.';
            at = digits(at + 1);
        }
    }
    if (at < ALength && (AText[at] == 'e' || AText[at] == 'E')) {
        std::size_t end = at + 1;
        const bool exponentSign = end < ALength && (AText[end] == '+' || AText[end] == '-');
        if (exponentSign) ++end;
        if (digitAt(end)) {
            number[count++] = 'e';
            if (exponentSign) number[count++] = AText[at + 1];
            at = digits(end);
        }
    }
    const auto result = std::from_chars(number, number + count, AValue);
    if (result.ec != std::errc() || result.ptr != number + count) return false;
    if (negative) AValue = -AValue;
    AEnd = at;
    return true;
}

// The start of the local hour of a time a saved log wrote, in seconds since the epoch. Local
// offsets change on the hour, so one conversion serves every line of the same hour.
std::int64_t LocalHourStart(int AYear, int AMonth, int ADay, int AHour) {
    thread_local std::int64_t lastKey = -1;
    thread_local std::int64_t lastStart = 0;
    const std::int64_t key = ((std::int64_t{AYear} * 13 + AMonth) * 32 + ADay) * 24 + AHour;
    if (key == lastKey) return lastStart;
    std::tm local{};
    local.tm_year = AYear - 1900;
    local.tm_mon = AMonth - 1;
    local.tm_mday = ADay;
    local.tm_hour = AHour;
    local.tm_isdst = -1;
    const std::time_t start = std::mktime(&local);
    if (start == static_cast<std::time_t>(-1)) return -1;
    lastKey = key;
    lastStart = static_cast<std::int64_t>(start);
    return lastStart;
}

std::int64_t FloorDiv(std::int64_t A, std::int64_t B) {
    return A / B - (A % B != 0 && (A < 0) != (B < 0) ? 1 : 0);
}

void PutCsvField(std::string_view AField, std::string& AOut) {
    if (AField.find_first_of(",\"\r\n") == std::string_view::npos) {
        AOut += AField;
        return;
    }
    AOut += '"';
    for (char c : AField) {
        if (c == '"') AOut += '"';
        AOut += c;
    }
    AOut += '"';
}

} // namespace

std::int64_t ParseStampText(std::string_view AText) {
    if (!HasStampShape(AText)) return TStamps::None;
    const int year = Field(AText, 0, 4), month = Field(AText, 5, 2), day = Field(AText, 8, 2);
    const int hour = Field(AText, 11, 2), minute = Field(AText, 14, 2);
    const int second = Field(AText, 17, 2), milli = Field(AText, 20, 3);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return TStamps::None;
    const std::int64_t start = LocalHourStart(year, month, day, hour);
    if (start < 0) return TStamps::None;
    return (start + minute * 60 + second) * 1000 + milli;
}

std::optional<TLineReading> ParseReading(std::string_view ALine) {
    TLineReading reading;
    const bool cut = ALine.size() > ReadingScanBytes;
    std::size_t from = 0;
    if (ALine.size() > StampShape.size() && ALine[StampShape.size()] == '\t' &&
        HasStampShape(ALine.substr(0, StampShape.size()))) {
        reading.Time = ParseStampText(ALine.substr(0, StampShape.size()));
        from = StampShape.size() + 1;
    }
    // NUL bytes are a serial line's padding, even inside a reading ("+\0" "23.001"): they go
    // before anything is looked at.
    char text[ReadingScanBytes];
    std::size_t length = 0;
    for (std::size_t i = from; i < std::min(ALine.size(), ReadingScanBytes); ++i)
        if (ALine[i] != '\0') text[length++] = ALine[i];

    auto at = [&](std::size_t AIndex) -> unsigned char {
        return AIndex < length ? static_cast<unsigned char>(text[AIndex]) : 0;
    };
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = at(i);
        const bool sign = c == '+' || c == '-';
        const std::size_t first = sign ? i + 1 : i; // the first digit, or a point before one
        const bool starts = IsDigit(at(first)) ||
                            (at(first) == '.' && first + 1 < length && IsDigit(at(first + 1)));
        if (!starts) continue;
        if (i > 0 && IsWordByte(at(i - 1))) {
            // Part of a word: the rest of the word is no reading either.
            while (i + 1 < length &&
                   (IsWordByte(at(i + 1)) ||
                    ((at(i + 1) == '.' || at(i + 1) == ',') && IsDigit(at(i + 2)))))
                ++i;
            continue;
        }
        std::size_t end = 0;
        if (!ParseNumber(text, length, i, reading.Value, end)) return std::nullopt;
        // A number at the end of what was scanned may go on in what was not.
        if (cut && end + 1 >= length) return std::nullopt;
        std::size_t unit = end;
        while (unit < length && (at(unit) == ' ' || at(unit) == 0xA0))
            ++unit;
        if (unit < length && IsUnitStart(at(unit))) {
            std::size_t unitEnd = unit + 1;
            while (unitEnd < length && IsUnitByte(at(unitEnd)))
                ++unitEnd;
            if (unitEnd - unit <= MaxUnitBytes && !(cut && unitEnd >= length))
                reading.Unit.assign(text + unit, unitEnd - unit);
        }
        return reading;
    }
    return std::nullopt;
}

bool TReadingSeries::Follow(const TLog& ALog, std::uint64_t ABudget) {
    const TLogStore& store = ALog.Store();
    if (ALog.Generation() != FGeneration || store.Size() < FPosition) {
        Reset();
        FGeneration = ALog.Generation();
    }
    const std::uint64_t end = store.Size();
    FBlock.resize(BlockBytes);
    while (FPosition < end && ABudget > 0) {
        const auto want = static_cast<std::size_t>(
            std::min<std::uint64_t>({BlockBytes, end - FPosition, ABudget}));
        const std::size_t got = store.ReadAt(FPosition, FBlock.data(), want);
        // A journal that cannot be read now is tried again at the log's next change.
        if (got == 0) return true;
        Take(std::string_view(FBlock.data(), got), store);
        FPosition += got;
        ABudget -= std::min<std::uint64_t>(ABudget, got);
    }
    return FPosition >= end;
}

void TReadingSeries::Reset() {
    ++FRestarts;
    FPosition = 0;
    FLine = 0;
    FHead.clear();
    FReadings = {};
    // Unit 0 is no unit.
    FUnits.assign(1, std::string());
    FUnitRuns = {};
    FUntimed = 0;
    FOrdered = true;
    FFirstTime = FLastTime = 0;
}

void TReadingSeries::Take(std::string_view ABytes, const TLogStore& AStore) {
    // One past what the parser looks at tells it that the line goes on.
    constexpr std::size_t headBytes = ReadingScanBytes + 1;
    std::size_t at = 0;
    while (at < ABytes.size()) {
        const auto* feed =
            static_cast<const char*>(std::memchr(ABytes.data() + at, '\n', ABytes.size() - at));
        const std::size_t end =
            feed != nullptr ? static_cast<std::size_t>(feed - ABytes.data()) : ABytes.size();
        if (FHead.size() < headBytes)
            FHead.append(ABytes.substr(at, std::min(end - at, headBytes - FHead.size())));
        if (feed == nullptr) return;
        EndLine(AStore);
        at = end + 1;
    }
}

void TReadingSeries::EndLine(const TLogStore& AStore) {
    // The log's lines end with CR LF, and a CR inside a line is a line break of its own: a CR
    // at the end of the head is the line's.
    std::string_view line(FHead);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (const auto reading = ParseReading(line)) {
        std::int64_t time = AStore.StampOf(FLine);
        if (time == TStamps::None) time = reading->Time;
        if (time == TStamps::None)
            ++FUntimed;
        else
            Add(time, reading->Value, reading->Unit);
    }
    FHead.clear();
    ++FLine;
}

void TReadingSeries::Add(std::int64_t ATime, double AValue, const std::string& AUnit) {
    if (FReadings.empty()) {
        FFirstTime = FLastTime = ATime;
    } else {
        if (ATime < FReadings.back().Time) FOrdered = false;
        FFirstTime = std::min(FFirstTime, ATime);
        FLastTime = std::max(FLastTime, ATime);
    }
    FReadings.push_back({ATime, AValue});
    if (!FUnitRuns.empty() && FUnits[FUnitRuns.back().Unit] == AUnit) return;
    auto known = std::find(FUnits.begin(), FUnits.end(), AUnit);
    std::size_t unit = static_cast<std::size_t>(known - FUnits.begin());
    if (known == FUnits.end()) {
        if (FUnits.size() < MaxUnits) {
            FUnits.push_back(AUnit);
        } else {
            unit = 0;
        }
    }
    if (FUnitRuns.empty() || FUnitRuns.back().Unit != unit)
        FUnitRuns.push_back({FReadings.size() - 1, unit});
}

const std::string& TReadingSeries::UnitOf(std::size_t AIndex) const {
    auto run = std::upper_bound(FUnitRuns.begin(), FUnitRuns.end(), AIndex,
                                [](std::size_t A, const TUnitRun& B) { return A < B.First; });
    return run == FUnitRuns.begin() ? FUnits.front() : FUnits[std::prev(run)->Unit];
}

std::vector<std::string> TReadingSeries::UnitsBetween(std::size_t AFirst, std::size_t ALast) const {
    std::vector<std::string> units;
    std::vector<bool> seen(FUnits.size());
    auto run = std::upper_bound(FUnitRuns.begin(), FUnitRuns.end(), AFirst,
                                [](std::size_t A, const TUnitRun& B) { return A < B.First; });
    if (run != FUnitRuns.begin()) --run;
    for (; run != FUnitRuns.end() && run->First < ALast; ++run) {
        if (run->Unit == 0 || seen[run->Unit]) continue;
        seen[run->Unit] = true;
        units.push_back(FUnits[run->Unit]);
    }
    return units;
}

std::size_t TReadingSeries::MemoryBytes() const {
    std::size_t bytes = FReadings.capacity() * sizeof(TReading) +
                        FUnitRuns.capacity() * sizeof(TUnitRun) + FBlock.capacity() +
                        FHead.capacity();
    for (const std::string& unit : FUnits)
        bytes += sizeof unit + unit.capacity();
    return bytes;
}

TDecimation Decimate(const TReadingSeries& ASeries, std::int64_t AFrom, std::int64_t ATo,
                     int AColumns) {
    const std::vector<TReading>& readings = ASeries.Readings();
    TDecimation out;
    if (readings.empty() || AColumns <= 0 || ATo < AFrom) return out;
    std::size_t first = 0, last = readings.size();
    if (ASeries.Ordered()) {
        first = static_cast<std::size_t>(
            std::lower_bound(readings.begin(), readings.end(), AFrom,
                             [](const TReading& A, std::int64_t B) { return A.Time < B; }) -
            readings.begin());
        last = static_cast<std::size_t>(
            std::upper_bound(readings.begin() + static_cast<std::ptrdiff_t>(first), readings.end(),
                             ATo, [](std::int64_t A, const TReading& B) { return A < B.Time; }) -
            readings.begin());
    }
    out.First = first;
    out.Last = last;
    constexpr std::size_t none = SIZE_MAX;
    struct TColumn {
        std::size_t First = none, Low = none, High = none, Last = none;
    };
    std::vector<TColumn> columns(static_cast<std::size_t>(AColumns));
    const double scale =
        static_cast<double>(AColumns) / static_cast<double>(std::max<std::int64_t>(1, ATo - AFrom));
    for (std::size_t i = first; i < last; ++i) {
        const TReading& reading = readings[i];
        if (reading.Time < AFrom || reading.Time > ATo) continue;
        const auto x = static_cast<std::size_t>(
            std::min(static_cast<double>(reading.Time - AFrom) * scale, AColumns - 1.0));
        TColumn& column = columns[x];
        if (column.First == none) {
            column.First = column.Low = column.High = i;
        } else {
            if (reading.Value < readings[column.Low].Value) column.Low = i;
            if (reading.Value > readings[column.High].Value) column.High = i;
        }
        column.Last = i;
        out.Low = out.Inside == 0 ? reading.Value : std::min(out.Low, reading.Value);
        out.High = out.Inside == 0 ? reading.Value : std::max(out.High, reading.Value);
        ++out.Inside;
    }
    if (ASeries.Ordered() && first > 0) out.Points.push_back(readings[first - 1]);
    for (const TColumn& column : columns) {
        if (column.First == none) continue;
        std::size_t picked[] = {column.First, column.Low, column.High, column.Last};
        std::sort(std::begin(picked), std::end(picked));
        const auto* end = std::unique(std::begin(picked), std::end(picked));
        for (const auto* index = std::begin(picked); index != end; ++index)
            out.Points.push_back(readings[*index]);
    }
    if (ASeries.Ordered() && last < readings.size()) out.Points.push_back(readings[last]);
    return out;
}

std::string IsoTimeText(std::int64_t AEpochMs) {
    const std::int64_t whole = FloorDiv(AEpochMs, 1000);
    const std::tm local = files::LocalTime(static_cast<std::time_t>(whole));
    // The offset: the local calendar's time read as if it were UTC, less the time itself.
    const std::chrono::sys_days date = std::chrono::year{local.tm_year + 1900} /
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)} /
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)};
    const std::int64_t asUtc = static_cast<std::int64_t>(date.time_since_epoch().count()) * 86400 +
                               local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const std::int64_t offset = (asUtc - whole) / 60;
    const std::int64_t absolute = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(AEpochMs - whole * 1000),
                  offset < 0 ? '-' : '+', static_cast<int>(absolute / 60),
                  static_cast<int>(absolute % 60));
    return text;
}

std::string CodePageToUtf8(std::string_view ABytes) {
    std::string out;
    for (char byte : ABytes) {
        const char16_t c = CodePageToUnicode(static_cast<unsigned char>(byte));
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool ExportReadingsCsv(const TReadingSeries& ASeries, const std::string& APath,
                       TFileError& AError) {
    const std::string target = files::Resolve(APath);
    // A device (/dev/null, a terminal) is written as it is: a replacement would put a file
    // where its node was.
    const bool device = files::IsDevice(target);
    if (!device && files::Exists(target) && !files::MayWrite(target, AError)) return false;
    const std::string temporary = device ? target : files::TemporaryNameFor(target);
    TFile file = TFile::Open(temporary,
                             device ? TFile::TMode::Write : TFile::TMode::CreateTemporary, AError);
    if (!file.IsOpen()) return false;
    if (!device && files::Exists(target)) file.CopyPermissionsFrom(target);

    const std::vector<TReading>& readings = ASeries.Readings();
    std::string text = "time,value,unit\r\n";
    bool written = true;
    auto flush = [&] {
        written = file.Write(text.data(), text.size(), AError) == text.size();
        text.clear();
    };
    // Each distinct unit is one string of the series: the same address, the same unit.
    const std::string* unitBytes = nullptr;
    std::string unit;
    for (std::size_t i = 0; i < readings.size() && written; ++i) {
        if (&ASeries.UnitOf(i) != unitBytes) {
            unitBytes = &ASeries.UnitOf(i);
            unit = CodePageToUtf8(*unitBytes);
        }
        text += IsoTimeText(readings[i].Time);
        text += ',';
        char value[32];
        const auto result = std::to_chars(value, value + sizeof value, readings[i].Value);
        text.append(value, result.ptr);
        text += ',';
        PutCsvField(unit, text);
        text += "\r\n";
        if (text.size() >= (1u << 20)) flush();
    }
    if (written) flush();
    if (written) written = file.Sync(AError);
    file.Close();
    if (device) return written;
    if (written && files::Replace(temporary, target, AError)) {
        files::SyncFolder(files::FolderOf(target));
        return true;
    }
    files::Remove(temporary);
    return false;
}

} // namespace quendal
