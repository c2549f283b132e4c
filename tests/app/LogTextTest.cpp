#include "LogText.h"

#include <gtest/gtest.h>

#include <QStringView>

namespace quendal {
namespace {

QByteArray Bytes(const char* AData, qsizetype ASize) {
    return QByteArray(AData, ASize);
}

TEST(LogText, FilesWithoutAMarkAreTheCodePageByteForByte) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const QString text = DecodeLogFile(all.mid(1)); // not starting like a mark
    ASSERT_EQ(text.size(), 255);
    EXPECT_EQ(text[0xE4 - 1], QChar(0xE4));
    EXPECT_EQ(LogTextToBytes(text), all.mid(1));
}

TEST(LogText, MarksChooseTheEncodingAndAreNotText) {
    EXPECT_EQ(DecodeLogFile("\xEF\xBB\xBF\xC3\xA4"), QString::fromUtf8("\xC3\xA4"));
    EXPECT_EQ(DecodeLogFile(Bytes("\xFF\xFE\xE4\x00", 4)), QString(QChar(0xE4)));
    EXPECT_EQ(DecodeLogFile(Bytes("\xFE\xFF\x20\xAC", 4)), QString(QChar(0x20AC)));
    EXPECT_EQ(DecodeLogFile(Bytes("\xFF\xFE", 2)), QString());
}

TEST(LogText, BrokenFilesStillGiveValidText) {
    EXPECT_EQ(DecodeLogFile("\xEF\xBB\xBF"
                            "a\xC3(\xED\xA0\x80"),
              QStringLiteral("a\uFFFD(\uFFFD\uFFFD\uFFFD"));
    // An odd last byte of a UTF-16 file makes no character.
    EXPECT_EQ(DecodeLogFile(Bytes("\xFF\xFE"
                                  "a\x00"
                                  "b",
                                  5)),
              QStringLiteral("a"));
    EXPECT_EQ(DecodeLogFile(Bytes("\xFE\xFF\x00"
                                  "a\x00",
                                  5)),
              QStringLiteral("a"));
}

// Found by fuzzing: unpaired surrogates of a UTF-16 file reached the pane as they were.
TEST(LogText, UnpairedSurrogatesOfUtf16FilesBecomeReplacementCharacters) {
    const QString text = DecodeLogFile(Bytes("\xFF\xFE\x3D\xD8\x00\xDE\x00\xD8"
                                             "a\x00\x00\xDC",
                                             12));
    EXPECT_TRUE(QStringView(text).isValidUtf16());
    EXPECT_EQ(text, QString::fromUtf8("\xF0\x9F\x98\x80\xEF\xBF\xBD"
                                      "a\xEF\xBF\xBD"));
    EXPECT_EQ(DecodeLogFile(Bytes("\xFE\xFF\xDC\x00\xD8\x00", 6)), QStringLiteral("\uFFFD\uFFFD"));
}

// Found by fuzzing: a second mark after the first, which is text (U+FEFF), was dropped.
TEST(LogText, OnlyTheFirstMarkIsTakenOff) {
    EXPECT_EQ(DecodeLogFile(Bytes("\xFE\xFF\xFE\xFF\x00"
                                  "a",
                                  6)),
              QStringLiteral("\uFEFFa"));
    EXPECT_EQ(DecodeLogFile(Bytes("\xFF\xFE\xFF\xFE"
                                  "a\x00",
                                  6)),
              QStringLiteral("\uFEFFa"));
    EXPECT_EQ(DecodeLogFile("\xEF\xBB\xBF\xEF\xBB\xBF"
                            "a"),
              QStringLiteral("\uFEFFa"));
}

TEST(LogText, LineBreaksBecomeLineFeeds) {
    EXPECT_EQ(NormalizeLineBreaks("a\r\nb\rc\nd\r\r\n\n\r"), QStringLiteral("a\nb\nc\nd\n\n\n\n"));
    EXPECT_EQ(NormalizeLineBreaks(""), QString());
}

} // namespace
} // namespace quendal
