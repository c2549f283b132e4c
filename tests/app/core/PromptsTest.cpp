// What both programs' windows say and decide the same way: the recovery question, the failure
// text, the Poll box after a failed write, and the window's text in UTF-16.
#include "Prompts.h"

#include "CodePage.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace quendal {
namespace {

class Prompts : public ::testing::Test {
protected:
    Prompts() {
        char folder[] = "/tmp/quendal-prompts-XXXXXX";
        FFolder = ::mkdtemp(folder);
    }
    ~Prompts() override { std::filesystem::remove_all(FFolder); }

    std::string FFolder;
};

TEST_F(Prompts, TheRecoveryQuestionSaysHowMuchTheJournalHoldsAndWhenItsLastDataCame) {
    const std::string journal = FFolder + "/log-2026-01-01-000000-1-0.txt";
    std::ofstream(journal, std::ios::binary) << "+1.000 C\r\n+2.000 C\r\n+3.0";
    TRestoreTask restore(journal);
    restore.Wait();
    ASSERT_TRUE(restore.Succeeded());
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 7;
    when.tm_hour = 13;
    when.tm_min = 5;
    when.tm_sec = 9;
    when.tm_isdst = -1;
    const TFileInfo info{journal, 24, std::mktime(&when)};
    EXPECT_EQ(RecoveryQuestion(info, restore),
              "The last log was not ended cleanly (the program was killed or crashed, or the "
              "power failed). It holds 3 lines (24 bytes); its last data arrived on "
              "2026-03-07 13:05:09.\n\nRestore it into the log pane?\n" +
                  journal);
}

TEST_F(Prompts, AFailureNamesTheFileAndTheSystemsReasonBelowTheFixedMessage) {
    TLog log(TJournalFolder(FFolder + "/journals"));
    auto load = log.StartLoad(FFolder + "/missing.txt");
    load->Wait();
    ASSERT_FALSE(load->Succeeded());
    EXPECT_EQ(FailureText("Fehler beim Laden der Datei!", *load),
              "Fehler beim Laden der Datei!\n" + FFolder + "/missing.txt: " + load->Error().Text);
    EXPECT_FALSE(load->Error().Text.empty());
}

TEST(PollAfterAFailedWrite, SurvivesOnlyADeviceThatWentAway) {
    EXPECT_TRUE(PollSurvivesWriteError(cport::EComPort(8, EIO, "/dev/ttyUSB0")));
    EXPECT_FALSE(PollSurvivesWriteError(cport::EComPort(8, EAGAIN, "/dev/ttyUSB0")));
    EXPECT_FALSE(PollSurvivesWriteError(cport::EComPort::CreateNoWinCode(3)));
}

TEST(CodePageUtf16, EveryByteIsOneCharacterAndBack) {
    std::string bytes;
    for (int byte = 0; byte < 256; ++byte)
        bytes += static_cast<char>(byte);
    const std::u16string text = CodePageToUtf16(bytes);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(text[0x80], u'\u20AC');
    EXPECT_EQ(text[0x81], u'\u0081'); // unassigned: the control character of the same value
    EXPECT_EQ(text[0xB0], u'\u00B0');
    EXPECT_EQ(Utf16ToCodePage(text), bytes);
}

TEST(CodePageUtf16, ASurrogatePairIsOneMissingCharacterAndALoneHalfToo) {
    EXPECT_EQ(Utf16ToCodePage(u"a\U0001F600b"), "a?b");
    EXPECT_EQ(Utf16ToCodePage(std::u16string(u"a\xD83D") + u"b"), "a?b");
    EXPECT_EQ(Utf16ToCodePage(std::u16string(u"\xDE00")), "?");
    EXPECT_EQ(Utf16ToCodePage(std::u16string(u"\xD83D")), "?");
}

} // namespace
} // namespace quendal
