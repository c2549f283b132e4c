// The log's text and rows without a GUI: line breaks across received pieces, the sparse index
// against a plain model of rows, and the code page.
#include "LogStore.h"

#include "CodePage.h"
#include "LogTasks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace quendal {
namespace {

class LogStore : public ::testing::Test {
protected:
    LogStore() {
        char folder[] = "/tmp/quendal-store-XXXXXX";
        FFolder = ::mkdtemp(folder);
    }
    ~LogStore() override { std::filesystem::remove_all(FFolder); }

    std::unique_ptr<TLogStore> NewStore() {
        return std::make_unique<TLogStore>(std::make_unique<TJournal>(FFolder + "/log.txt"));
    }

    std::string FFolder;
};

struct TModelRow {
    std::string Text;
    std::uint64_t Line;
    bool FirstOfLine;
};

// The rows of ALog as a plain scan sees them: a row ends at CR LF (or a lone LF or CR) or after
// MaxRowBytes bytes of text; each row's text and line, in order.
std::vector<TModelRow> ModelRows(const std::string& ALog) {
    std::vector<TModelRow> rows{{"", 0, true}};
    for (std::size_t i = 0; i < ALog.size(); ++i) {
        const char c = ALog[i];
        if (c == '\r' && (i + 1 == ALog.size() || ALog[i + 1] == '\n')) continue;
        if (c == '\n') {
            rows.push_back({"", rows.back().Line + 1, true});
            continue;
        }
        if (rows.back().Text.size() == TLogIndex::MaxRowBytes)
            rows.push_back({"", rows.back().Line, false});
        rows.back().Text += c;
    }
    return rows;
}

TEST_F(LogStore, LineBreaksOfEveryKindBecomeCrLfAlsoAcrossPieces) {
    auto store = NewStore();
    for (const char* piece : {"a\r", "\nb\n", "c\r", "d\r\r", "\n", "\r"})
        store->Append(piece, 0);
    const std::string expected = "a\r\nb\r\nc\r\nd\r\n\r\n\r\n";
    EXPECT_EQ(store->Read(0, 100), expected);
    EXPECT_EQ(store->LineCount(), 6u);
    EXPECT_TRUE(store->AtLineStart());
    EXPECT_EQ(store->SavedEnding(), "");
    store->Append("\n+23.0", 0); // the LF of the last CR
    EXPECT_EQ(store->Read(0, 100), expected + "+23.0");
    EXPECT_FALSE(store->AtLineStart());
    EXPECT_EQ(store->SavedEnding(), "\r\n") << "the unfinished line is ended when saved";
    EXPECT_EQ(store->Journal().Written(), store->Size()) << "journaled as it arrives";
}

TEST_F(LogStore, RowsMatchAPlainScanWhateverThePiecesAndLengths) {
    std::mt19937 random(71);
    std::string log;
    while (log.size() < 5 * TLogIndex::BlockBytes) {
        const auto length = random() % 4 == 0 ? random() % 3000 : random() % 40;
        log.append(length, static_cast<char>('a' + random() % 26));
        log += "\r\n";
    }
    log.append(2 * TLogIndex::MaxRowBytes + 5, 'z'); // an unfinished line of three rows
    for (int round = 0; round < 3; ++round) {
        auto store = NewStore();
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t piece = std::min<std::size_t>(log.size() - at, 1 + random() % 700);
            store->Append(std::string_view(log).substr(at, piece), 0);
            at += piece;
        }
        ASSERT_EQ(store->Read(0, log.size() + 1), log);
        const std::vector<TModelRow> rows = ModelRows(log);
        ASSERT_EQ(store->RowCount(), rows.size());
        for (std::uint64_t r = 0; r < rows.size(); ++r) {
            const TRowSpan span = store->Row(r);
            ASSERT_EQ(store->Read(span.Offset, span.Length), rows[r].Text) << "row " << r;
            ASSERT_EQ(span.Line, rows[r].Line) << "row " << r;
            ASSERT_EQ(span.FirstOfLine, rows[r].FirstOfLine) << "row " << r;
            ASSERT_EQ(store->RowOf(span.Offset), r);
            if (span.Length > 0) {
                ASSERT_EQ(store->RowOf(span.Offset + span.Length - 1), r);
            }
        }
        EXPECT_LT(store->MemoryBytes(), 2u << 20) << "nothing kept per row";
    }
}

// A log saved as a file: each line followed by CR LF, whatever ended it in the text.
std::string SavedForm(const std::string& AText) {
    std::string saved, line;
    bool open = false;
    for (std::size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] == '\r' || AText[i] == '\n') {
            if (AText[i] == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
            saved += line + "\r\n";
            line.clear();
            open = false;
        } else {
            line += AText[i];
            open = true;
        }
    }
    return open ? saved + line + "\r\n" : saved;
}

TEST_F(LogStore, AJournalCutAnywhereRestoresToExactlyItsBytes) {
    const std::string whole = "12.5 C\r\n\r\n13.0 C\r\nx";
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        const std::string text = whole.substr(0, cut);
        std::ofstream(FFolder + "/cut.txt", std::ios::binary) << text;
        TRestoreTask restore(FFolder + "/cut.txt");
        restore.Wait();
        ASSERT_TRUE(restore.Succeeded());
        EXPECT_EQ(restore.Bytes(), text.size());
        std::unique_ptr<TLogStore> store = restore.TakeLog();
        EXPECT_EQ(store->Read(0, 100), text);
        EXPECT_EQ(text + std::string(store->SavedEnding()), SavedForm(text)) << "cut at " << cut;
        store->Append("\nnext", 0); // an LF after a cut CR completes that break
        EXPECT_EQ(SavedForm(store->Read(0, 100)), SavedForm(text + "\nnext")) << "cut at " << cut;
        store.reset();
        std::filesystem::remove(FFolder + "/cut.txt");
        std::filesystem::remove(FFolder + "/cut.txt.open");
    }
}

TEST(CodePage, EveryByteIsACharacterAndBackAndTheEuroIsWindows1252) {
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(UnicodeToCodePage(CodePageToUnicode(static_cast<unsigned char>(b))),
                  static_cast<char>(b));
    EXPECT_EQ(CodePageToUnicode(0x80), u'\u20AC');
    EXPECT_EQ(CodePageToUnicode(0x93), u'\u201C');
    EXPECT_EQ(CodePageToUnicode(0x8D), u'\u008D') << "unassigned: the control of that value";
    EXPECT_EQ(CodePageToUnicode(0xE4), u'\u00E4') << "as before outside 0x80-0x9F";
    EXPECT_EQ(UnicodeToCodePage(U'\u4E2D'), '?');
    EXPECT_EQ(UnicodeToCodePage(0x85), '?') << "a control the code page does not have";
}

std::string Decode(const std::string& AFile, std::size_t APiece) {
    TLogFileDecoder decoder;
    std::string out;
    for (std::size_t at = 0; at < AFile.size(); at += APiece)
        decoder.Feed(std::string_view(AFile).substr(at, APiece), out);
    decoder.Finish(out);
    return out;
}

TEST(CodePage, FilesAreDecodedByTheirMarkInPiecesOfAnySize) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xEF\xBB\xBF\xC3\xA4\xE2\x82\xAC\r\n", "\xE4\x80\r\n"},
        {std::string("\xFF\xFE\xE4\x00\xAC\x20\x3D\xD8\x00\xDE", 10), "\xE4\x80?"},
        {std::string("\xFE\xFF\x20\xAC\xDC\x00\x00", 7), "\x80?"}, // lone low half, odd byte
        {"\xEF\xBB\xBF"
         "a\xC3(\xED\xA0\x80\xEF\xBB\xBF",
         "a?(????"}, // invalid pieces, and a second mark is text
        {"\xE4\xB0\x80\xEF\xBB", "\xE4\xB0\x80\xEF\xBB"}, // no mark: the bytes as they are
        {"\xEF\xBB\xBF\xE2\x82", "?"},                    // cut inside a character
    };
    for (const auto& [file, expected] : cases)
        for (std::size_t piece : {1u, 2u, 3u, 1000u})
            EXPECT_EQ(Decode(file, piece), expected) << "piece " << piece;
}

} // namespace
} // namespace quendal
