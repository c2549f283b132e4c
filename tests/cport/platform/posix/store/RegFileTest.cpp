#include "platform/posix/store/RegFile.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

constexpr const char* Root = "HKEY_CURRENT_USER";

TRegValue Sz(const std::string& AText) {
    return {RegType::Sz, AText};
}

TEST(RegFile, WritesTheExportFormat) {
    TRegKey root{Root, {}, {}};
    TRegKey& key = root.OpenOrCreate({"Software", "Tessivo", "ComPort"});
    key.SetValue("Port", Sz(R"(C:\dev\"x")"));
    key.SetValue("CustomBaudRate", {RegType::DWord, std::string("\x90\xd0\x03\x00", 4)});
    key.SetValue("", Sz("default"));
    root.OpenOrCreate({"Software", "Empty"});
    EXPECT_EQ(FormatRegFile(root, Root), "Windows Registry Editor Version 5.00\n"
                                         "\n"
                                         "[HKEY_CURRENT_USER\\Software]\n"
                                         "\n"
                                         "[HKEY_CURRENT_USER\\Software\\Tessivo]\n"
                                         "\n"
                                         "[HKEY_CURRENT_USER\\Software\\Tessivo\\ComPort]\n"
                                         "\"Port\"=\"C:\\\\dev\\\\\\\"x\\\"\"\n"
                                         "\"CustomBaudRate\"=dword:0003d090\n"
                                         "@=\"default\"\n"
                                         "\n"
                                         "[HKEY_CURRENT_USER\\Software\\Empty]\n"
                                         "\n");
}

TEST(RegFile, EveryKindRoundTrips) {
    TRegKey root{Root, {}, {}};
    root.SetValue("at root", Sz("r"));
    TRegKey& key = root.OpenOrCreate({"K"});
    const std::vector<TRegNamedValue> values = {
        {"plain", Sz("COM1")},
        {"escapes", Sz("a\\b\"c\\")},
        {"lines", Sz("one\r\ntwo\0three")},
        {"unicode \xC3\xA9", Sz("\xE2\x82\xAC \xF0\x9F\x98\x80")},
        {"empty", Sz("")},
        {"expand", {RegType::ExpandSz, "%HOME%\\x"}},
        {"dword", {RegType::DWord, std::string("\xff\xff\xff\xff", 4)}},
        {"binary", {RegType::Binary, std::string("\0\x01\xfe", 3)}},
        {"multi", {7, std::string("a\0\0\0\0\0", 6)}},
        {"big type", {0x2000, "raw"}},
        {"", Sz("default")},
        {"@", Sz("named at")},
    };
    for (const auto& v : values)
        key.SetValue(v.Name, v.Value);
    const std::string text = FormatRegFile(root, Root);
    const auto parsed = ParseRegFile(text, Root);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(parsed->FindValue("at root")->Value.Data, "r");
    const TRegKey* back = parsed->Find({"k"});
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->Values.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back->Values[i].Name, values[i].Name);
        EXPECT_EQ(back->Values[i].Value.Type, values[i].Value.Type) << values[i].Name;
        EXPECT_EQ(back->Values[i].Value.Data, values[i].Value.Data) << values[i].Name;
    }
    EXPECT_EQ(FormatRegFile(*parsed, Root), text) << "formatting is stable";
}

TEST(RegFile, ReadsWhatWindowsExports) {
    // UTF-16LE with a byte order mark, CR LF, wrapped hex data, comments, mixed-case roots.
    const std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "; exported\r\n"
                             "[hkey_current_user\\Software\\A]\r\n"
                             "\"Bin\"=hex:01,02,\\\r\n"
                             "  03,04\r\n"
                             "\"Name\" = \"x\"\r\n"
                             "[HKEY_CURRENT_USER\\software\\a]\r\n"
                             "\"Name\"=\"y\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (const char c : utf8) {
        utf16 += c;
        utf16 += '\0';
    }
    for (const std::string& text : {utf8, "\xEF\xBB\xBF" + utf8, utf16}) {
        const auto parsed = ParseRegFile(text, Root);
        ASSERT_TRUE(parsed);
        const TRegKey* key = parsed->Find({"SOFTWARE", "a"});
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->Name, "A") << "the first spelling is kept";
        ASSERT_EQ(key->Values.size(), 2u) << "sections and values of equal names merge";
        EXPECT_EQ(key->Values[0].Value.Data, std::string("\x01\x02\x03\x04"));
        EXPECT_EQ(key->FindValue("NAME")->Value.Data, "y");
    }
}

TEST(RegFile, RejectsWhatItCannotRepresentFaithfully) {
    const std::string head = "Windows Registry Editor Version 5.00\n";
    const char* broken[] = {
        "garbage",
        "\"v\"=\"value before any key\"\n",
        "[HKEY_LOCAL_MACHINE\\A]\n",
        "[HKEY_CURRENT_USERX\\A]\n",
        "[-HKEY_CURRENT_USER\\A]\n",
        "[HKEY_CURRENT_USER\\A\n",
        "[HKEY_CURRENT_USER\\A\\\\B]\n",
        "[HKEY_CURRENT_USER\\]\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=-\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=\"open\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=\"x\" trailing\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:123456789\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:12g4\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:1,02\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"=hex(zz):01\n",
        "[HKEY_CURRENT_USER\\A]\nv=\"unquoted name\"\n",
        "[HKEY_CURRENT_USER\\A]\n\"v\"\n",
    };
    for (const char* body : broken)
        EXPECT_FALSE(ParseRegFile(head + body, Root)) << body;
    EXPECT_FALSE(ParseRegFile("[HKEY_CURRENT_USER\\A]\n", Root)) << "no header";
    EXPECT_FALSE(ParseRegFile("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", Root));
    EXPECT_TRUE(ParseRegFile("", Root)) << "an empty file is an empty store";
    EXPECT_TRUE(ParseRegFile(head, Root));
    EXPECT_TRUE(ParseRegFile(head + "[HKEY_CURRENT_USER]\n@=\"root default\"\n", Root));
}

// Values read from a hand-edited file read the same after the store is written back.
TEST(RegFile, ValuesReadFromHandEditedFilesSurviveWritingBack) {
    const std::string text = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_CURRENT_USER\\K]\n"
                             "\"latin1\"=\"caf\xE9\"\n"
                             "\"control\"=\"\xD8I\x03\"\n"
                             "\"short dword\"=hex(4):01,02\n"
                             "\"long dword\"=hex(4):01,02,03,04,05\n";
    const auto parsed = ParseRegFile(text, Root);
    ASSERT_TRUE(parsed);
    const TRegKey* key = parsed->Find({"K"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->FindValue("latin1")->Value.Data, "caf\xC3\xA9") << "stray bytes are Latin-1";
    EXPECT_EQ(key->FindValue("control")->Value.Data, "\xC3\x98I\x03");
    EXPECT_EQ(key->FindValue("short dword")->Value.Data, std::string("\x01\x02", 2));
    const std::string written = FormatRegFile(*parsed, Root);
    EXPECT_NE(written.find("\"short dword\"=hex(4):01,02\n"), std::string::npos) << written;
    const auto reread = ParseRegFile(written, Root);
    ASSERT_TRUE(reread);
    const TRegKey* back = reread->Find({"K"});
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->Values.size(), key->Values.size());
    for (std::size_t i = 0; i < key->Values.size(); ++i) {
        EXPECT_EQ(back->Values[i].Value.Type, key->Values[i].Value.Type) << key->Values[i].Name;
        EXPECT_EQ(back->Values[i].Value.Data, key->Values[i].Value.Data) << key->Values[i].Name;
    }
}

// A 40 KB store file of 20000 nested keys overflowed the stack when it was written back.
TEST(RegFile, KeysNestAtMostMaxKeyDepthDeep) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER";
    std::string path;
    for (std::size_t i = 0; i < MaxKeyDepth; ++i)
        path += "\\k";
    const auto deepest = ParseRegFile(head + path + "]\n\"v\"=\"x\"\n", Root);
    ASSERT_TRUE(deepest);
    EXPECT_TRUE(ParseRegFile(FormatRegFile(*deepest, Root), Root));
    EXPECT_FALSE(ParseRegFile(head + path + "\\k]\n", Root));
    std::string deeper;
    for (int i = 0; i < 20000; ++i)
        deeper += "\\a";
    EXPECT_FALSE(ParseRegFile(head + deeper + "]\n", Root));
}

TEST(RegFile, KeyPathsSplitAtBackslashes) {
    using TPath = std::vector<std::string>;
    EXPECT_EQ(SplitKeyPath(""), TPath{});
    EXPECT_EQ(SplitKeyPath("A"), TPath{"A"});
    EXPECT_EQ(SplitKeyPath("A\\B c\\"), (TPath{"A", "B c"}));
    EXPECT_FALSE(SplitKeyPath("\\A"));
    EXPECT_FALSE(SplitKeyPath("\\"));
    EXPECT_FALSE(SplitKeyPath("A\\\\B"));
    EXPECT_FALSE(SplitKeyPath("A\\\\"));
    EXPECT_FALSE(SplitKeyPath("A\nB"));
    EXPECT_FALSE(SplitKeyPath("bad \xFF utf8"));
    EXPECT_TRUE(SplitKeyPath(std::string(255, 'k')));
    EXPECT_FALSE(SplitKeyPath(std::string(256, 'k')));
}

TEST(RegFile, ValuesAreCheckedAndSizedAsWindowsStoresThem) {
    EXPECT_TRUE(IsStorableValue("n", Sz("text")));
    EXPECT_FALSE(IsStorableValue("n\n", Sz("text")));
    EXPECT_FALSE(IsStorableValue("n", Sz("\xC3")));
    EXPECT_FALSE(IsStorableValue("n", {RegType::DWord, "123"}));
    EXPECT_TRUE(IsStorableValue("n", {RegType::Binary, "\xC3"}));
    EXPECT_EQ(StoredDataSize(Sz(std::string(127, 'c'))), 256u);
    EXPECT_EQ(StoredDataSize(Sz(std::string(130, 'c'))), 262u);
    EXPECT_EQ(StoredDataSize(Sz("\xF0\x9F\x98\x80")), 6u) << "a surrogate pair and terminator";
    EXPECT_EQ(StoredDataSize({RegType::Binary, "abc"}), 3u);
}

} // namespace
} // namespace cport
