// Loaded log files and the log's rows: a file's bytes decoded by their byte-order mark (UTF-8,
// UTF-16 LE or BE, odd lengths, invalid sequences) or as the code page, given in pieces, then
// broken into lines and rows. Properties: the pieces do not matter; a file without a mark is
// the code page's, byte for byte; a valid UTF-8 file gives one byte per character; every line
// break becomes CR LF; and the index finds exactly the rows a plain scan finds.
#include "CodePage.h"
#include "FuzzCheck.h"
#include "LogIndex.h"
#include "LogStore.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace quendal;

namespace {

bool StartsWithMark(const std::string& ABytes) {
    return ABytes.starts_with("\xEF\xBB\xBF") || ABytes.starts_with("\xFF\xFE") ||
           ABytes.starts_with("\xFE\xFF");
}

// The characters of UTF-8 text: its bytes that are not continuation bytes.
long Utf8Characters(const std::string& ABytes) {
    long count = 0;
    for (const char byte : ABytes)
        count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    return count;
}

// Whether every line break of ALog is CR LF.
bool OnlyCrLf(const std::string& ALog) {
    for (std::size_t i = 0; i < ALog.size(); ++i) {
        if (ALog[i] == '\n') return false;
        if (ALog[i] == '\r' && (i + 1 == ALog.size() || ALog[++i] != '\n')) return false;
    }
    return true;
}

std::string Decode(const std::string& ABytes, std::size_t APiece) {
    TLogFileDecoder decoder;
    std::string out;
    for (std::size_t at = 0; at < ABytes.size(); at += APiece)
        decoder.Feed(std::string_view(ABytes).substr(at, APiece), out);
    decoder.Finish(out);
    return out;
}

std::vector<std::string> ModelRows(const std::string& ALog) {
    std::vector<std::string> rows(1);
    for (std::size_t i = 0; i < ALog.size(); ++i) {
        const char c = ALog[i];
        if (c == '\r' && (i + 1 == ALog.size() || ALog[i + 1] == '\n')) continue;
        if (c == '\n') {
            rows.emplace_back();
            continue;
        }
        if (rows.back().size() == TLogIndex::MaxRowBytes) rows.emplace_back();
        rows.back() += c;
    }
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0) return 0;
    // The first byte chooses the size of the pieces; the rest is the file.
    const std::size_t piece = 1 + AData[0] % 64;
    const std::string file(reinterpret_cast<const char*>(AData + 1), ASize - 1);
    const std::string text = Decode(file, file.size() + 1);
    FUZZ_CHECK(Decode(file, piece) == text);
    if (!StartsWithMark(file)) FUZZ_CHECK(text == file);
    // Without a '?' nothing was invalid or missing from the code page.
    if (file.starts_with("\xEF\xBB\xBF") && text.find('?') == std::string::npos)
        FUZZ_CHECK(static_cast<long>(text.size()) == Utf8Characters(file.substr(3)));

    // The text as received in pieces: line breaks become CR LF, and the rows are the model's.
    TLineBreaks breaks;
    TLogIndex index;
    std::string log, normalized;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        breaks.Normalize(std::string_view(text).substr(at, piece), normalized);
        log += normalized;
        index.Feed(normalized.data(), normalized.size());
    }
    FUZZ_CHECK(OnlyCrLf(log));
    const auto reader = [&](std::uint64_t AOffset, char* ABuffer, std::size_t ACount) {
        const std::size_t count =
            AOffset >= log.size() ? 0 : std::min(ACount, log.size() - AOffset);
        log.copy(ABuffer, count, AOffset);
        return count;
    };
    const std::vector<std::string> rows = ModelRows(log);
    FUZZ_CHECK(index.RowCount() == rows.size());
    for (std::uint64_t r = 0; r < rows.size(); ++r) {
        const TRowSpan span = index.Row(r, reader);
        FUZZ_CHECK(log.substr(span.Offset, span.Length) == rows[r]);
        FUZZ_CHECK(index.RowOf(span.Offset, reader) == r);
    }
    return 0;
}
