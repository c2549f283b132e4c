#include "LogIndex.h"

#include <algorithm>
#include <cstring>

namespace quendal {

template <class TNewRow>
void TLogIndex::TScanner::Scan(const char* AData, std::size_t ACount, std::uint64_t AOffset,
                               TNewRow&& ANewRow) {
    std::size_t pos = 0;
    while (pos < ACount) {
        const std::uint64_t at = AOffset + pos;
        const std::uint64_t limit = RowStart + MaxRowBytes;
        if (at < limit) {
            const auto span =
                static_cast<std::size_t>(std::min<std::uint64_t>(ACount - pos, limit - at));
            const auto* found = static_cast<const char*>(std::memchr(AData + pos, '\n', span));
            if (found == nullptr) {
                pos += span;
                continue;
            }
            const auto index = static_cast<std::size_t>(found - AData);
            const bool crBefore = index > 0 ? AData[index - 1] == '\r' : Last == '\r';
            const std::uint64_t next = AOffset + index + 1;
            std::uint64_t end = next - 1;
            if (crBefore && end > RowStart) --end;
            ANewRow(end, next);
            ++Breaks;
            ++Row;
            RowStart = next;
            FirstOfLine = true;
            pos = index + 1;
            continue;
        }
        // A row that has reached its length: a break that follows still ends it, anything
        // else starts the next row here.
        const char c = AData[pos];
        if (c == '\n') {
            const bool crBefore = pos > 0 ? AData[pos - 1] == '\r' : Last == '\r';
            ANewRow(crBefore ? at - 1 : at, at + 1);
            ++Breaks;
            ++Row;
            RowStart = at + 1;
            FirstOfLine = true;
            ++pos;
        } else if (c == '\r') {
            ++pos;
        } else {
            ANewRow(at, at);
            ++Row;
            RowStart = at;
            FirstOfLine = false;
        }
    }
    if (ACount > 0) Last = AData[ACount - 1];
}

void TLogIndex::Feed(const char* AData, std::size_t ACount) {
    FScanner.Scan(AData, ACount, FSize,
                  [this](std::uint64_t, std::uint64_t ANext) { RecordBlocksBelow(ANext); });
    FSize += ACount;
    RecordBlocksBelow(FSize);
}

void TLogIndex::Reset() {
    FBlocks.clear();
    FBlocks.shrink_to_fit();
    FScanner = TScanner{};
    FSize = 0;
}

void TLogIndex::RecordBlocksBelow(std::uint64_t AEnd) {
    while (FBlocks.size() * BlockBytes < AEnd)
        FBlocks.push_back({FScanner.Row, FScanner.RowStart, FScanner.Breaks, FScanner.FirstOfLine});
}

std::uint64_t TLogIndex::LineCount() const {
    return FScanner.Breaks + (FSize > 0 && FScanner.Last != '\n' ? 1 : 0);
}

TLogIndex::TScanner TLogIndex::ScannerAt(std::size_t ABlock) const {
    TScanner scanner;
    if (ABlock < FBlocks.size()) {
        scanner.Row = FBlocks[ABlock].Row;
        scanner.RowStart = FBlocks[ABlock].RowStart;
        scanner.Breaks = FBlocks[ABlock].Line;
        scanner.FirstOfLine = FBlocks[ABlock].FirstOfLine;
    }
    return scanner;
}

template <class TNewRow, class TDone>
void TLogIndex::ScanLog(TScanner& AScanner, std::uint64_t AEnd, const TReader& AReader,
                        TNewRow&& ANewRow, TDone&& ADone) const {
    // One byte before the row: whether it was a CR decides where a break at the row's start
    // ends the text.
    std::uint64_t offset = AScanner.RowStart;
    char buffer[BlockBytes];
    if (offset > 0 && AReader(offset - 1, buffer, 1) == 1) AScanner.Last = buffer[0];
    while (offset < AEnd && !ADone()) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, AEnd - offset));
        const std::size_t got = AReader(offset, buffer, want);
        if (got == 0) break;
        AScanner.Scan(buffer, got, offset, ANewRow);
        offset += got;
    }
}

TRowSpan TLogIndex::Row(std::uint64_t ARow, const TReader& AReader) const {
    const auto after = std::upper_bound(
        FBlocks.begin(), FBlocks.end(), ARow,
        [](std::uint64_t ARowNumber, const TEntry& AEntry) { return ARowNumber < AEntry.Row; });
    const std::size_t block = after == FBlocks.begin()
                                  ? FBlocks.size()
                                  : static_cast<std::size_t>(after - FBlocks.begin()) - 1;
    TScanner scanner = ScannerAt(block);
    TRowSpan span;
    bool started = scanner.Row == ARow, ended = false;
    span.Offset = scanner.RowStart;
    span.Line = scanner.Breaks;
    span.FirstOfLine = scanner.FirstOfLine;
    ScanLog(
        scanner, FSize, AReader,
        [&](std::uint64_t AEnd, std::uint64_t ANext) {
            if (ended) return;
            if (scanner.Row == ARow) {
                span.Length = AEnd - span.Offset;
                ended = true;
            } else if (scanner.Row + 1 == ARow) {
                // Called before the scanner moves on: a break ends the row when the next one
                // starts after it.
                const bool afterBreak = ANext != AEnd;
                span.Offset = ANext;
                span.Line = scanner.Breaks + (afterBreak ? 1 : 0);
                span.FirstOfLine = afterBreak;
                started = true;
            }
        },
        [&] { return ended; });
    if (!ended && started) {
        // The last row: its text runs to the end, but for the CR of a break not yet complete.
        std::uint64_t end = FSize;
        if (FScanner.Last == '\r' && end > span.Offset) --end;
        span.Length = end - std::min(end, span.Offset);
    }
    return span;
}

std::uint64_t TLogIndex::RowOf(std::uint64_t AOffset, const TReader& AReader) const {
    if (AOffset >= FSize) return RowCount() - 1;
    TScanner scanner = ScannerAt(static_cast<std::size_t>(AOffset / BlockBytes));
    std::uint64_t row = scanner.Row;
    ScanLog(
        scanner, AOffset + 1, AReader,
        [&](std::uint64_t, std::uint64_t ANext) {
            if (ANext <= AOffset) row = scanner.Row + 1;
        },
        [] { return false; });
    return row;
}

} // namespace quendal
