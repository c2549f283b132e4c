#include "platform/posix/store/IniText.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

using std::nullopt;

TEST(IniText, ReadsByTheProfileRules) {
    const std::string text = "top=outside any section\n"
                             "[ Port A ]\n"
                             "; Baud=comment\n"
                             "  Baud = 9600  \n"
                             "Quoted=\"  spaced  \"\n"
                             "Single='x'\n"
                             "Half=\"x\n"
                             "Empty=\n"
                             "baud=second\n"
                             "[port a]\n"
                             "Other=from the second section\n"
                             "[B]\r\n"
                             "Key=crlf\r\n"
                             "Last=no newline";
    EXPECT_EQ(IniReadValue(text, "PORT A", "BAUD"), "9600");
    EXPECT_EQ(IniReadValue(text, "Port A", "Quoted"), "  spaced  ");
    EXPECT_EQ(IniReadValue(text, "Port A", "Single"), "x");
    EXPECT_EQ(IniReadValue(text, "Port A", "Half"), "\"x");
    EXPECT_EQ(IniReadValue(text, "Port A", "Empty"), "");
    EXPECT_EQ(IniReadValue(text, "Port A", "Other"), nullopt) << "the first section counts";
    EXPECT_EQ(IniReadValue(text, "Port A", "; Baud"), nullopt) << "comments are no lines";
    EXPECT_EQ(IniReadValue(text, "Port A", "top"), nullopt);
    EXPECT_EQ(IniReadValue(text, "b", "key"), "crlf");
    EXPECT_EQ(IniReadValue(text, "B", "Last"), "no newline");
    EXPECT_EQ(IniReadValue(text, "Missing", "Baud"), nullopt);
    EXPECT_EQ(IniReadValue("", "A", "B"), nullopt);
}

TEST(IniText, ReplacingAValueKeepsEverythingElse) {
    const std::string text =
        "; header comment\n[A]\n  port = COM1\n; note\nx=1\n\n[B]\nport=COM2\n";
    EXPECT_EQ(IniWriteValue(text, "a", std::string("PORT"), std::string("COM5")),
              "; header comment\n[A]\nport=COM5\n; note\nx=1\n\n[B]\nport=COM2\n");
}

TEST(IniText, NewLinesGoToTheEndOfTheirSection) {
    const std::string text = "[A]\nx=1\n\n; about B\n[B]\ny=2";
    EXPECT_EQ(IniWriteValue(text, "A", std::string("z"), std::string("3")),
              "[A]\nx=1\nz=3\n\n; about B\n[B]\ny=2");
    EXPECT_EQ(IniWriteValue(text, "B", std::string("z"), std::string("3")),
              "[A]\nx=1\n\n; about B\n[B]\ny=2\nz=3\n");
    EXPECT_EQ(IniWriteValue("[A]\n", "A", std::string("z"), std::string("3")), "[A]\nz=3\n");
}

TEST(IniText, MissingSectionsAreAppendedInTheFilesLineEnds) {
    EXPECT_EQ(IniWriteValue("", "S", std::string("k"), std::string("v")), "[S]\nk=v\n");
    EXPECT_EQ(IniWriteValue("[A]\r\nx=1", "S", std::string("k"), std::string("v")),
              "[A]\r\nx=1\r\n\r\n[S]\r\nk=v\r\n");
    EXPECT_EQ(IniWriteValue("[A]\nx=1\n\n", "S", std::string("k"), std::string("v")),
              "[A]\nx=1\n\n[S]\nk=v\n");
}

// Names lose their blanks both when added and when replaced, so that writing the same value
// twice leaves the file as the first write did.
TEST(IniText, NamesAreWrittenWithoutTheirBlanks) {
    const std::string once = IniWriteValue("", " S ", std::string("k\t "), std::string("v"));
    EXPECT_EQ(once, "[S]\nk=v\n");
    EXPECT_EQ(IniWriteValue(once, " S ", std::string("k\t "), std::string("v")), once);
    const std::string added =
        IniWriteValue("[S]\nx=1\n", "S", std::string(" k "), std::string("v"));
    EXPECT_EQ(added, "[S]\nx=1\nk=v\n");
    EXPECT_EQ(IniWriteValue(added, "S", std::string(" k "), std::string("v")), added);
}

// A last line ending in a lone CR keeps it as its line end when a line is added after it, rather
// than the CR becoming the start of a CR LF and the value losing it.
TEST(IniText, ACarriageReturnEndingTheFileEndsTheLastLine) {
    EXPECT_EQ(IniReadValue("[S]\nk=v\r", "S", "k"), "v");
    const std::string added = IniWriteValue("[S]\nk=v\r", "S", std::string("n"), std::string("1"));
    EXPECT_EQ(added, "[S]\nk=v\r\nn=1\n");
    EXPECT_EQ(IniReadValue(added, "S", "k"), "v");
    EXPECT_EQ(IniWriteValue("[S]\r", "T", std::string("n"), std::string("1")),
              "[S]\r\n\n[T]\nn=1\n");
}

TEST(IniText, RemovingLinesAndSections) {
    const std::string text = "[A]\nx=1\ny=2\n[B]\nz=3\n";
    EXPECT_EQ(IniWriteValue(text, "A", std::string("X"), nullopt), "[A]\ny=2\n[B]\nz=3\n");
    EXPECT_EQ(IniWriteValue(text, "a", nullopt, nullopt), "[B]\nz=3\n");
    EXPECT_EQ(IniWriteValue(text, "C", nullopt, nullopt), text);
    EXPECT_EQ(IniWriteValue(text, "A", std::string("w"), nullopt), text);
}

TEST(IniText, OnlyTextThatKeepsTheStructureIsWritable) {
    EXPECT_TRUE(IsWritableIniSection("Com Port"));
    EXPECT_FALSE(IsWritableIniSection("a]b"));
    EXPECT_FALSE(IsWritableIniSection("a\nb"));
    EXPECT_FALSE(IsWritableIniSection("  "));
    EXPECT_TRUE(IsWritableIniKey("Parity.Check"));
    EXPECT_FALSE(IsWritableIniKey("a=b"));
    EXPECT_FALSE(IsWritableIniKey(";x"));
    EXPECT_FALSE(IsWritableIniKey("[x"));
    EXPECT_TRUE(IsWritableIniValue("a=b ; [c]"));
    EXPECT_FALSE(IsWritableIniValue("a\rb"));
}

} // namespace
} // namespace cport
