#include "Stamps.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace quendal {

namespace {

constexpr char Mark[8] = {'Q', 'S', 'T', 'A', 'M', 'P', '1', '\0'};
// Records are signed 40-bit milliseconds from the base (about 17 years either way), so that a
// wall clock set back between two opens still gives times; the least value means none.
constexpr std::int64_t RecordLimit = std::int64_t{1} << 39;
constexpr std::uint64_t Unknown = std::uint64_t{1} << 39;

void PutNumber(char* AOut, std::uint64_t AValue, std::size_t ABytes) {
    for (std::size_t i = 0; i < ABytes; ++i)
        AOut[i] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

std::uint64_t GetNumber(const char* AIn, std::size_t ABytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < ABytes; ++i)
        value |= std::uint64_t{static_cast<unsigned char>(AIn[i])} << (8 * i);
    return value;
}

} // namespace

TStamps::TStamps(const std::string& AJournalPath)
    : FFile(std::make_unique<TJournal>(AJournalPath + Suffix, TJournal::TMarker::None)) {}

std::unique_ptr<TStamps> TStamps::Restore(const std::string& AJournalPath, std::uint64_t ALines) {
    const std::string path = AJournalPath + Suffix;
    TFileError error;
    TFile file = TFile::Open(path, TFile::TMode::Append, error);
    char header[HeaderBytes];
    TStampHeader times;
    if (!file.IsOpen() || file.ReadAt(0, header, HeaderBytes, error) != HeaderBytes ||
        !ReadStampHeader(header, times)) {
        // None, or not ours: the restored lines have no times, and new ones start a new file.
        file.Close();
        files::Remove(path);
        return std::make_unique<TStamps>(AJournalPath);
    }
    auto stamps = std::unique_ptr<TStamps>(new TStamps);
    stamps->FStarted = true;
    stamps->FBase = times.Base;
    stamps->FFirstLine = times.FirstLine;
    const std::uint64_t kept = ALines > stamps->FFirstLine ? ALines - stamps->FFirstLine : 0;
    stamps->FRecords = std::min(kept, (file.Size() - HeaderBytes) / RecordBytes);
    // A cut record, or stamps of lines the journal lost, go.
    file.Truncate(HeaderBytes + stamps->FRecords * RecordBytes);
    stamps->FFile = std::make_unique<TJournal>(path, std::move(file), TJournal::TMarker::None);
    return stamps;
}

void TStamps::Stamp(std::uint64_t ALine, std::int64_t AEpochMs) {
    if (!FStarted) {
        FStarted = true;
        FBase = AEpochMs;
        FFirstLine = ALine;
        char header[HeaderBytes];
        std::memcpy(header, Mark, sizeof Mark);
        PutNumber(header + 8, static_cast<std::uint64_t>(FBase), 8);
        PutNumber(header + 16, FFirstLine, 8);
        FFile->Append(header, HeaderBytes);
    }
    if (ALine < FFirstLine + FRecords) return; // has its time already
    char record[RecordBytes];
    while (FFirstLine + FRecords < ALine) {
        PutNumber(record, Unknown, RecordBytes);
        FFile->Append(record, RecordBytes);
        ++FRecords;
    }
    const std::int64_t since = AEpochMs - FBase;
    PutNumber(record,
              since <= -RecordLimit || since >= RecordLimit
                  ? Unknown
                  : static_cast<std::uint64_t>(since) & ((std::uint64_t{1} << 40) - 1),
              RecordBytes);
    FFile->Append(record, RecordBytes);
    ++FRecords;
}

std::int64_t TStamps::Of(std::uint64_t ALine) const {
    if (!FStarted || ALine < FFirstLine || ALine - FFirstLine >= FRecords) return None;
    const std::uint64_t index = ALine - FFirstLine;
    // Lines are asked for in runs (the pane's rows, a chart reading the log): a block of
    // records is read at a time.
    if (index < FCachedFrom || index >= FCachedFrom + FCached.size() / RecordBytes) {
        FCachedFrom = index - index % CachedRecords;
        FCached.resize(CachedRecords * RecordBytes);
        FCached.resize(
            FFile->ReadAt(HeaderBytes + FCachedFrom * RecordBytes, FCached.data(), FCached.size()) /
            RecordBytes * RecordBytes);
        if (index >= FCachedFrom + FCached.size() / RecordBytes) return None;
    }
    return StampOfRecord({FBase, FFirstLine}, FCached.data() + (index - FCachedFrom) * RecordBytes);
}

void TAnchoredClock::Anchor() {
    FSteady = std::chrono::steady_clock::now();
    FWall = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
}

std::int64_t TAnchoredClock::Now() const {
    return FWall + std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - FSteady)
                       .count();
}

bool ReadStampHeader(const char* AHeader, TStampHeader& AOut) {
    if (std::memcmp(AHeader, Mark, sizeof Mark) != 0) return false;
    AOut.Base = static_cast<std::int64_t>(GetNumber(AHeader + 8, 8));
    AOut.FirstLine = GetNumber(AHeader + 16, 8);
    return true;
}

std::int64_t StampOfRecord(const TStampHeader& AHeader, const char* ARecord) {
    const std::uint64_t bits = GetNumber(ARecord, TStamps::RecordBytes);
    if (bits == Unknown) return TStamps::None;
    // Sign-extended from 40 bits.
    const auto since = static_cast<std::int64_t>(bits << 24) >> 24;
    return AHeader.Base + since;
}

std::string StampText(std::int64_t AEpochMs) {
    if (AEpochMs < 0) return {};
    const std::tm local = files::LocalTime(static_cast<std::time_t>(AEpochMs / 1000));
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(AEpochMs % 1000));
    return text;
}

} // namespace quendal
