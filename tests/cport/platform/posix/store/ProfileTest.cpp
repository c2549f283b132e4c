#include "TempStore.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace cport {
namespace {

std::string ReadFile(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& APath, const std::string& AText) {
    std::ofstream(APath, std::ios::binary) << AText;
}

using Profile = TempStore;

TEST_F(Profile, AMissingFileSectionOrLineGivesTheDefault) {
    const std::string file = Folder + "/none.ini";
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "dflt", 2048, file), "dflt");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "trailing  ", 2048, file), "trailing")
        << "trailing blanks of the default are dropped";
    EXPECT_FALSE(std::filesystem::exists(file)) << "reading creates nothing";
    WriteFile(file, "[S]\nOther=1\n");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "dflt", 2048, file), "dflt");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("T", "Other", "dflt", 2048, file), "dflt");
}

TEST_F(Profile, LongValuesAreReadTruncatedWithoutSplittingCharacters) {
    const std::string file = Folder + "/long.ini";
    WriteFile(file, "[S]\nK=" + std::string(2046, 'a') + "\xE2\x82\xAC\xE2\x82\xAC\n");
    const std::string value = Platform.GetPrivateProfileStringW("S", "K", "", 2048, file);
    EXPECT_EQ(value, std::string(2046, 'a') + "\xE2\x82\xAC") << "2047 characters";
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "", 4, file), "aaa");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "", 0, file), "");
    // A character outside the basic plane takes two of the counted units.
    WriteFile(file, "[S]\nK=a\xF0\x9F\x98\x80z\n");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "", 3, file), "a");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "", 4, file), "a\xF0\x9F\x98\x80");
}

TEST_F(Profile, WritingCreatesAndEditsTheFileInPlace) {
    const std::string file = Folder + "/edit.ini";
    EXPECT_EQ(Platform.WritePrivateProfileStringW("Port", "Baud", "9600", file), 0u);
    EXPECT_EQ(ReadFile(file), "[Port]\nBaud=9600\n");
    WriteFile(file, "; mine\r\n[Other]\r\nx=1\r\n\r\n[port]\r\nbaud=1200\r\n");
    chmod(file.c_str(), 0640);
    // Root (as in CI) edits files of other users; they must stay theirs.
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(file.c_str(), 4321, 4321), 0);
    }
    EXPECT_EQ(Platform.WritePrivateProfileStringW("PORT", "BAUD", "19200", file), 0u);
    EXPECT_EQ(Platform.WritePrivateProfileStringW("Port", "Stop", "2", file), 0u);
    EXPECT_EQ(ReadFile(file), "; mine\r\n[Other]\r\nx=1\r\n\r\n[port]\r\nbaud=19200\r\nStop=2\r\n");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the permissions";
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
    }
    EXPECT_EQ(Platform.WritePrivateProfileStringW(std::nullopt, std::nullopt, std::nullopt, file),
              0u)
        << "nothing is cached, so flushing succeeds";
    EXPECT_EQ(Platform.WritePrivateProfileStringW("Port", "Stop", std::nullopt, file), 0u);
    EXPECT_EQ(Platform.GetPrivateProfileStringW("Port", "Stop", "gone", 2048, file), "gone");
}

TEST_F(Profile, NamesWithoutAFolderLiveInTheComponentsFolder) {
    EXPECT_EQ(Platform.WritePrivateProfileStringW("S", "K", "v", "bare.ini"), 0u);
    EXPECT_EQ(ReadFile(Folder + "/bare.ini"), "[S]\nK=v\n");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "", 2048, "bare.ini"), "v");
}

TEST_F(Profile, EncodingsAndLinksAreKept) {
    const std::string bom = Folder + "/bom.ini";
    WriteFile(bom, "\xEF\xBB\xBF[S]\nK=1\n");
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "", 2048, bom), "1");
    EXPECT_EQ(Platform.WritePrivateProfileStringW("S", "K", "2", bom), 0u);
    EXPECT_EQ(ReadFile(bom), "\xEF\xBB\xBF[S]\nK=2\n");

    const std::string wide = Folder + "/wide.ini";
    WriteFile(wide, std::string("\xFF\xFE[\0S\0]\0\n\0K\0=\0\xE9\0\n\0", 18));
    EXPECT_EQ(Platform.GetPrivateProfileStringW("S", "K", "", 2048, wide), "\xC3\xA9");
    EXPECT_EQ(Platform.WritePrivateProfileStringW("S", "K", "x", wide), 0u);
    EXPECT_EQ(ReadFile(wide), std::string("\xFF\xFE[\0S\0]\0\n\0K\0=\0x\0\n\0", 18));

    const std::string target = Folder + "/target.ini";
    const std::string link = Folder + "/link.ini";
    WriteFile(target, "[S]\nK=1\n");
    std::filesystem::create_symlink(target, link);
    EXPECT_EQ(Platform.WritePrivateProfileStringW("S", "K", "3", link), 0u);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[S]\nK=3\n");
}

TEST_F(Profile, WritesThatCannotSucceedFail) {
    const std::string blocker = Folder + "/file";
    WriteFile(blocker, "");
    EXPECT_EQ(Platform.WritePrivateProfileStringW("S", "K", "v", blocker + "/x.ini"),
              static_cast<TOsError>(ENOTDIR));
    const std::string file = Folder + "/ok.ini";
    EXPECT_EQ(Platform.WritePrivateProfileStringW("S", "K", "two\nlines", file),
              static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.WritePrivateProfileStringW("S]", "K", "v", file),
              static_cast<TOsError>(EINVAL));
    EXPECT_EQ(Platform.WritePrivateProfileStringW(std::nullopt, "K", "v", file),
              static_cast<TOsError>(EINVAL));
    EXPECT_FALSE(std::filesystem::exists(file));

    TScopedComPlatform scope(Platform);
    TComPort port(nullptr);
    port.SetName("ComPort");
    try {
        port.StoreSettings(stIniFile, blocker + "/x.ini");
        FAIL() << "stored below a file";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), cpeStoreSettings);
    }
}

// Replacing a file needs only the folder's permission, and root may write any file: the
// file's own permission decides, and without a write bit it is read-only for root too.
TEST_F(Profile, AFileThatMayNotBeWrittenStaysAsItIs) {
    const std::string file = Folder + "/locked.ini";
    WriteFile(file, "[ComPort]\nPort=COM2\n");
    chmod(file.c_str(), 0444);
    TScopedComPlatform scope(Platform);
    TComPort port(nullptr);
    port.SetName("ComPort");
    EXPECT_THROW(port.StoreSettings(stIniFile, file), EComPort);
    EXPECT_EQ(Platform.WritePrivateProfileStringW("ComPort", "Port", "COM3", file),
              static_cast<TOsError>(EACCES));
    EXPECT_EQ(ReadFile(file), "[ComPort]\nPort=COM2\n");
}

TEST_F(Profile, ComponentSettingsRoundTripThroughAnIniFile) {
    TScopedComPlatform scope(Platform);
    const std::string file = Folder + "/port.ini";
    WriteFile(file, "; settings\n[Unrelated]\nPort=keep\n");
    TComPort port(nullptr);
    port.SetName("ComPort");
    port.SetStoredProps({spBasic, spParity});
    port.SetPort("ttyUSB0");
    port.Parity().SetReplaceChar('#');
    port.StoreSettings(stIniFile, file);
    EXPECT_EQ(ReadFile(file), "; settings\n[Unrelated]\nPort=keep\n\n[ComPort]\nPort=ttyUSB0\n"
                              "BaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
                              "FlowControl=None\nParity.Check=No\nParity.Replace=No\n"
                              "Parity.ReplaceChar=#\n");
    TComPort loaded(nullptr);
    loaded.SetName("ComPort");
    loaded.SetStoredProps({spBasic, spParity});
    loaded.LoadSettings(stIniFile, file);
    EXPECT_EQ(loaded.Port(), "ttyUSB0");
    EXPECT_EQ(loaded.Parity().ReplaceChar(), '#');
}

// Collation runs in the program's locale; the test fixes it to the classic one.
class Collation : public ::testing::Test {
protected:
    void SetUp() override { FSaved = std::setlocale(LC_COLLATE, nullptr); }
    void TearDown() override { std::setlocale(LC_COLLATE, FSaved.c_str()); }
    TPosixComPlatform Platform;

private:
    std::string FSaved;
};

TEST_F(Collation, ComparesTextualNotNumerically) {
    ASSERT_NE(std::setlocale(LC_COLLATE, "C"), nullptr);
    EXPECT_EQ(Platform.CompareStringW("COM10", "COM3", true), CompareResult::LessThan);
    EXPECT_EQ(Platform.CompareStringW("COM3", "COM10", true), CompareResult::GreaterThan);
    EXPECT_EQ(Platform.CompareStringW("com1", "COM1", true), CompareResult::Equal);
    EXPECT_NE(Platform.CompareStringW("com1", "COM1", false), CompareResult::Equal);
    EXPECT_EQ(Platform.CompareStringW("", "", false), CompareResult::Equal);
    EXPECT_EQ(Platform.CompareStringW("", "A", true), CompareResult::LessThan);
    // Code point order puts "B" before "a"; ignoring case puts "a" first.
    EXPECT_EQ(Platform.CompareStringW("a", "B", false), CompareResult::GreaterThan);
    EXPECT_EQ(Platform.CompareStringW("a", "B", true), CompareResult::LessThan);
    // Case is folded beyond ASCII, also in the classic locale.
    EXPECT_EQ(Platform.CompareStringW("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", true),
              CompareResult::Equal);
}

} // namespace
} // namespace cport
