// When each line of a log arrived, kept in a file beside the log's journal ("<journal>.stamps"),
// not in memory: a header (a mark, the time everything counts from, the first line with a
// time) and five bytes per line, the milliseconds since that time. Lines before the first one
// (a loaded file's) have no time. Written and made durable as the journal is.
// A record holds signed milliseconds, so a clock set back still gives times.
#pragma once

#include "Journal.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace quendal {

class TStamps {
public:
    static constexpr std::int64_t None = -1;
    static constexpr const char* Suffix = ".stamps";
    static constexpr std::size_t HeaderBytes = 24;
    static constexpr std::size_t RecordBytes = 5;

    // The stamps of the journal at AJournalPath, created with the first stamp.
    explicit TStamps(const std::string& AJournalPath);
    // Goes on with the stamps of a restored journal of ALines lines, if it has any: stamps of
    // lines the journal lost are dropped.
    static std::unique_ptr<TStamps> Restore(const std::string& AJournalPath, std::uint64_t ALines);

    // Line ALine (lines without a time before it are padded) began at AEpochMs.
    void Stamp(std::uint64_t ALine, std::int64_t AEpochMs);
    // When line ALine began, in milliseconds since the epoch, or None.
    std::int64_t Of(std::uint64_t ALine) const;

    TJournal& File() { return *FFile; }
    const TJournal& File() const { return *FFile; }
    // The first line with a time, and how many lines have one place each.
    std::uint64_t FirstLine() const { return FFirstLine; }
    std::uint64_t Records() const { return FRecords; }

private:
    TStamps() = default;

    static constexpr std::uint64_t CachedRecords = 4096;

    std::unique_ptr<TJournal> FFile;
    mutable std::string FCached;
    mutable std::uint64_t FCachedFrom = 0;
    bool FStarted = false;
    std::int64_t FBase = 0;
    std::uint64_t FFirstLine = 0;
    std::uint64_t FRecords = 0;
};

// Milliseconds since the epoch from a monotonic clock, anchored to the wall clock when made and
// again by Anchor (a port's Open), so that the times of lines move on evenly whatever happens
// to the wall clock meanwhile.
class TAnchoredClock {
public:
    TAnchoredClock() { Anchor(); }
    void Anchor();
    std::int64_t Now() const;

private:
    std::chrono::steady_clock::time_point FSteady;
    std::int64_t FWall = 0;
};

// The text of a stamp as the pane and saved logs show it: "2026-12-08 14:03:07.412", local time;
// empty for None.
std::string StampText(std::int64_t AEpochMs);

// The stamps file's header and records, for readers of their own (a save on its thread).
struct TStampHeader {
    std::int64_t Base = 0;
    std::uint64_t FirstLine = 0;
};
// False when AHeader (HeaderBytes long) is not a stamps file's.
bool ReadStampHeader(const char* AHeader, TStampHeader& AOut);
std::int64_t StampOfRecord(const TStampHeader& AHeader, const char* ARecord);

} // namespace quendal
