#include "LogStore.h"

#include <algorithm>
#include <cstring>

namespace quendal {

void TLineBreaks::Normalize(std::string_view AText, std::string& AOut) {
    AOut.clear();
    AOut.reserve(AText.size() + 16);
    std::size_t i = 0;
    if (FCrPending && !AText.empty() && AText.front() == '\n') i = 1;
    FCrPending = false;
    while (i < AText.size()) {
        // Plain text in one piece, up to the next CR or LF.
        std::size_t end = i;
        while (end < AText.size() && AText[end] != '\r' && AText[end] != '\n')
            ++end;
        AOut.append(AText.substr(i, end - i));
        if (end == AText.size()) break;
        AOut += "\r\n";
        if (AText[end] == '\r') {
            if (end + 1 < AText.size() && AText[end + 1] == '\n')
                ++end;
            else if (end + 1 == AText.size())
                FCrPending = true;
        }
        i = end + 1;
    }
}

TLogStore::TLogStore(std::unique_ptr<TJournal> AJournal)
    : FJournal(std::move(AJournal))
    , FStamps(std::make_unique<TStamps>(FJournal->Path())) {}

TLogStore::TLogStore(std::unique_ptr<TJournal> AJournal, TLogIndex AIndex, TLineBreaks ABreaks,
                     std::unique_ptr<TStamps> AStamps)
    : FJournal(std::move(AJournal))
    , FStamps(AStamps ? std::move(AStamps) : std::make_unique<TStamps>(FJournal->Path()))
    , FIndex(std::move(AIndex))
    , FBreaks(FIndex.EndsWithCr() ? TLineBreaks(true) : ABreaks)
    , FHalfBreak(FIndex.EndsWithCr()) {}

void TLogStore::Put(std::string_view ABytes, std::int64_t AStamp) {
    if (FHalfBreak) {
        // The LF of the break the journal ends with comes first; an LF received now is that one.
        FHalfBreak = false;
        FJournal->Append("\n", 1);
        FIndex.Feed("\n", 1);
    }
    if (ABytes.empty()) return;
    // Each line that these bytes begin gets their time; one that begins with the next bytes
    // gets theirs.
    std::uint64_t line = FIndex.Breaks();
    bool begins = FIndex.AtLineStart();
    for (std::size_t at = 0;;) {
        if (begins) FStamps->Stamp(line, AStamp);
        const std::size_t feed = ABytes.find('\n', at);
        if (feed == std::string_view::npos || feed + 1 == ABytes.size()) break;
        ++line;
        at = feed + 1;
        begins = true;
    }
    FJournal->Append(ABytes.data(), ABytes.size());
    FIndex.Feed(ABytes.data(), ABytes.size());
}

void TLogStore::Append(std::string_view AText, std::int64_t AStamp) {
    if (AText.empty()) return;
    FBreaks.Normalize(AText, FNormalized);
    Put(FNormalized, AStamp);
}

void TLogStore::AppendLineBreak(std::int64_t AStamp) {
    Put("\r\n", AStamp);
}

TRowSpan TLogStore::Row(std::uint64_t ARow) const {
    return FIndex.Row(ARow, [this](std::uint64_t AOffset, char* ABuffer, std::size_t ACount) {
        return ReadAt(AOffset, ABuffer, ACount);
    });
}

std::uint64_t TLogStore::RowOf(std::uint64_t AOffset) const {
    return FIndex.RowOf(AOffset, [this](std::uint64_t AAt, char* ABuffer, std::size_t ACount) {
        return ReadAt(AAt, ABuffer, ACount);
    });
}

const TLogStore::TPage& TLogStore::Page(std::uint64_t ANumber) const {
    const std::uint64_t start = ANumber * PageBytes;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(PageBytes, Size() - start));
    auto found = std::find_if(FPages.begin(), FPages.end(),
                              [&](const TPage& APage) { return APage.Number == ANumber; });
    if (found == FPages.end())
        found = std::min_element(FPages.begin(), FPages.end(),
                                 [](const TPage& A, const TPage& B) { return A.Used < B.Used; });
    TPage& page = *found;
    if (page.Number == ANumber && page.Valid >= want) {
        page.Used = ++FUses;
        return page;
    }
    page.Bytes.resize(PageBytes);
    page.Number = ANumber;
    page.Valid = FJournal->ReadAt(start, page.Bytes.data(), want);
    page.Used = ++FUses;
    return page;
}

std::size_t TLogStore::ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount) const {
    std::size_t done = 0;
    while (done < ACount && AOffset + done < Size()) {
        const std::uint64_t at = AOffset + done;
        const TPage& page = Page(at / PageBytes);
        const auto from = static_cast<std::size_t>(at % PageBytes);
        if (from >= page.Valid) break; // the journal could not be read
        const std::size_t count = std::min(ACount - done, page.Valid - from);
        std::memcpy(ABuffer + done, page.Bytes.data() + from, count);
        done += count;
    }
    return done;
}

std::string TLogStore::Read(std::uint64_t AOffset, std::size_t ACount) const {
    std::string bytes(static_cast<std::size_t>(
                          std::min<std::uint64_t>(ACount, Size() - std::min(AOffset, Size()))),
                      '\0');
    bytes.resize(ReadAt(AOffset, bytes.data(), bytes.size()));
    return bytes;
}

std::string_view TLogStore::SavedEnding() const {
    if (FHalfBreak) return "\n";
    return FIndex.AtLineStart() ? std::string_view() : std::string_view("\r\n");
}

std::size_t TLogStore::MemoryBytes() const {
    std::size_t bytes = FIndex.MemoryBytes() + FNormalized.capacity();
    for (const TPage& page : FPages)
        bytes += page.Bytes.capacity();
    return bytes;
}

} // namespace quendal
