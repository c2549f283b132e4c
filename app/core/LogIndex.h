// The rows of a log, found without keeping anything per row in memory.
//
// A log is held in its saved form: text in the code page, every line ended by CR LF, the last
// line unfinished as it stands. A row of the log view is a line, except that a line longer
// than MaxRowBytes is cut into rows of that length, so that showing any row costs a bounded
// amount of work whatever a device sends. Rows depend on the bytes alone, never on the width
// of a view.
//
// The index keeps one entry per block of BlockBytes bytes: the row that holds the block's first
// byte and where that row starts. A row is found by looking up its block and reading at most a
// block and a row from the log's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quendal {

// Where a row's text lies in the log: Length bytes from Offset, without its line break; the
// line it belongs to, and whether it is that line's first row.
struct TRowSpan {
    std::uint64_t Offset = 0;
    std::uint64_t Length = 0;
    std::uint64_t Line = 0;
    bool FirstOfLine = true;
};

class TLogIndex {
public:
    static constexpr std::uint64_t BlockBytes = 4096;
    static constexpr std::uint64_t MaxRowBytes = 1024;

    // Reads up to ACount bytes of the log at AOffset into ABuffer; returns how many it read.
    using TReader =
        std::function<std::size_t(std::uint64_t AOffset, char* ABuffer, std::size_t ACount)>;

    // Takes the next bytes of the log.
    void Feed(const char* AData, std::size_t ACount);
    // Forgets everything: an empty log.
    void Reset();

    // Bytes of the log taken so far.
    std::uint64_t Size() const { return FSize; }
    // Rows of the log: an empty log has one empty row, and a line break at the very end is
    // followed by an empty row, where the next text will go.
    std::uint64_t RowCount() const { return FScanner.Row + 1; }
    // Lines as a saved log has them: every line break ends one, and an unfinished last line
    // is one more.
    std::uint64_t LineCount() const;
    // Whether the log ends where a line begins: it is empty, or it ends with a line break (or
    // with the CR of one whose LF is still to come).
    bool AtLineStart() const {
        return FSize == 0 || FScanner.Last == '\n' || FScanner.Last == '\r';
    }
    // Line breaks so far: the number of the line that the log's end is in.
    std::uint64_t Breaks() const { return FScanner.Breaks; }
    // Whether the log ends with the CR of a line break whose LF is still to come.
    bool EndsWithCr() const { return FSize > 0 && FScanner.Last == '\r'; }

    // The row ARow (less than RowCount()), read through AReader.
    TRowSpan Row(std::uint64_t ARow, const TReader& AReader) const;
    // The row that holds the byte at AOffset (the last row for the end of the log).
    std::uint64_t RowOf(std::uint64_t AOffset, const TReader& AReader) const;

    // Memory the index holds, in bytes.
    std::size_t MemoryBytes() const { return FBlocks.capacity() * sizeof(TEntry); }

private:
    struct TEntry {
        std::uint64_t Row;
        std::uint64_t RowStart;
        std::uint64_t Line; // of that row
        bool FirstOfLine;
    };

    // The row rule as a machine over bytes, so that feeding and looking up agree exactly.
    struct TScanner {
        std::uint64_t Row = 0;      // the row being scanned
        std::uint64_t RowStart = 0; // where it starts
        std::uint64_t Breaks = 0;   // line breaks seen: the line of the row being scanned
        bool FirstOfLine = true;    // the row being scanned begins its line
        char Last = 0;              // the last byte scanned
        // Scans AData, which starts at AOffset; for every row that ends there, calls
        // ANewRow(end of the row's text, start of the next row) before moving on.
        template <class TNewRow>
        void Scan(const char* AData, std::size_t ACount, std::uint64_t AOffset, TNewRow&& ANewRow);
    };

    void RecordBlocksBelow(std::uint64_t AEnd);
    // A scanner placed at the start of the row that the entry of ABlock names.
    TScanner ScannerAt(std::size_t ABlock) const;
    // Scans the log from AScanner's row up to AEnd, through AReader, until ADone says so.
    template <class TNewRow, class TDone>
    void ScanLog(TScanner& AScanner, std::uint64_t AEnd, const TReader& AReader, TNewRow&& ANewRow,
                 TDone&& ADone) const;

    std::vector<TEntry> FBlocks;
    TScanner FScanner;
    std::uint64_t FSize = 0;
};

} // namespace quendal
