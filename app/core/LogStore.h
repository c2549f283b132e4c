// The log: its text kept in its journal, not in memory, and its rows found through a sparse
// index, so that memory does not grow with the log.
#pragma once

#include "Journal.h"
#include "LogIndex.h"
#include "Stamps.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quendal {

// Line breaks of received text in the log's form: CR LF, LF and a lone CR each become CR LF,
// and a CR LF split between two pieces is one line break.
class TLineBreaks {
public:
    explicit TLineBreaks(bool ACrPending = false)
        : FCrPending(ACrPending) {}
    void Normalize(std::string_view AText, std::string& AOut);
    // The last piece ended with a CR: an LF that starts the next piece belongs to it.
    bool CrPending() const { return FCrPending; }

private:
    bool FCrPending = false;
};

class TLogStore {
public:
    // An empty log, journaled by AJournal.
    explicit TLogStore(std::unique_ptr<TJournal> AJournal);
    // A log whose journal holds the text that AIndex has taken already (a loaded file, or a
    // journal restored after a crash with its stamps).
    TLogStore(std::unique_ptr<TJournal> AJournal, TLogIndex AIndex, TLineBreaks ABreaks,
              std::unique_ptr<TStamps> AStamps = nullptr);

    // Appends received text that arrived at AStamp (milliseconds since the epoch); its line
    // breaks become the log's, and each line it begins gets that time.
    void Append(std::string_view AText, std::int64_t AStamp);
    // Appends a line break of the log's own.
    void AppendLineBreak(std::int64_t AStamp);

    std::uint64_t Size() const { return FIndex.Size(); }
    std::uint64_t RowCount() const { return FIndex.RowCount(); }
    std::uint64_t LineCount() const { return FIndex.LineCount(); }
    bool AtLineStart() const { return FIndex.AtLineStart(); }
    TRowSpan Row(std::uint64_t ARow) const;
    std::uint64_t RowOf(std::uint64_t AOffset) const;
    // When line ALine began (milliseconds since the epoch), or TStamps::None.
    std::int64_t StampOf(std::uint64_t ALine) const { return FStamps->Of(ALine); }
    // Up to ACount bytes of the log from AOffset.
    std::string Read(std::uint64_t AOffset, std::size_t ACount) const;
    std::size_t ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount) const;
    // What a saved log has after the log's bytes: the end of an unfinished last line.
    std::string_view SavedEnding() const;

    TJournal& Journal() { return *FJournal; }
    const TJournal& Journal() const { return *FJournal; }
    TStamps& Stamps() { return *FStamps; }
    const TStamps& Stamps() const { return *FStamps; }
    // Memory the log holds beyond what waits for the disk, in bytes.
    std::size_t MemoryBytes() const;

private:
    void Put(std::string_view ABytes, std::int64_t AStamp);

    // A few pages of the journal as last read: painting reads the same rows again and again.
    static constexpr std::size_t PageBytes = 64 * 1024;
    static constexpr std::size_t CachedPages = 8;
    struct TPage {
        std::uint64_t Number = UINT64_MAX;
        std::size_t Valid = 0;
        std::uint64_t Used = 0;
        std::vector<char> Bytes;
    };
    const TPage& Page(std::uint64_t ANumber) const;

    std::unique_ptr<TJournal> FJournal;
    std::unique_ptr<TStamps> FStamps;
    TLogIndex FIndex;
    TLineBreaks FBreaks;
    // The journal ends with the CR of a break whose LF was never written (cut by a crash).
    bool FHalfBreak = false;
    std::string FNormalized;
    mutable std::array<TPage, CachedPages> FPages;
    mutable std::uint64_t FUses = 0;
};

} // namespace quendal
