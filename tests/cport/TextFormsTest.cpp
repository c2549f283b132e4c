#include "CPortTypes.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

TEST(TextForms, EveryMemberRoundTripsThroughItsText) {
    for (int i = 0; i < BaudRateCount; ++i)
        EXPECT_EQ(TextToBaudRate(BaudRateToText(static_cast<TBaudRate>(i))), i);
    for (int i = 0; i < StopBitsCount; ++i)
        EXPECT_EQ(TextToStopBits(StopBitsToText(static_cast<TStopBits>(i))), i);
    for (int i = 0; i < DataBitsCount; ++i)
        EXPECT_EQ(TextToDataBits(DataBitsToText(static_cast<TDataBits>(i))), i);
    for (int i = 0; i < ParityBitsCount; ++i)
        EXPECT_EQ(TextToParity(ParityToText(static_cast<TParityBits>(i))), i);
    for (int i = 0; i < FlowControlCount; ++i)
        EXPECT_EQ(TextToFlowControl(FlowControlToText(static_cast<TFlowControl>(i))), i);
    for (int i = 0; i < DTRFlowControlCount; ++i)
        EXPECT_EQ(TextToDTRControl(DTRControlToText(static_cast<TDTRFlowControl>(i))), i);
    for (int i = 0; i < RTSFlowControlCount; ++i)
        EXPECT_EQ(TextToRTSControl(RTSControlToText(static_cast<TRTSFlowControl>(i))), i);
}

TEST(TextForms, TextsAreTheStoredVocabulary) {
    EXPECT_EQ(BaudRateToText(brCustom), "Custom");
    EXPECT_EQ(BaudRateToText(br256000), "256000");
    EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
    EXPECT_EQ(DataBitsToText(dbFive), "5");
    EXPECT_EQ(ParityToText(prSpace), "Space");
    EXPECT_EQ(FlowControlToText(fcSoftware), "Software");
    EXPECT_EQ(DTRControlToText(dtrHandshake), "Handshake");
    EXPECT_EQ(RTSControlToText(rtsToggle), "Toggle");
    EXPECT_EQ(BoolToYesNo(true), "Yes");
    EXPECT_EQ(BoolToYesNo(false), "No");
}

TEST(TextForms, RatesAreTheDeviceValuesAndCustomHasNone) {
    EXPECT_EQ(BaudRateToValue(brCustom), 0u);
    EXPECT_EQ(BaudRateToValue(br110), 110u);
    EXPECT_EQ(BaudRateToValue(br14400), 14400u);
    EXPECT_EQ(BaudRateToValue(br56000), 56000u);
    EXPECT_EQ(BaudRateToValue(br256000), 256000u);
}

TEST(TextForms, ParsingIgnoresAsciiCaseButNotBlanks) {
    EXPECT_EQ(TextToBaudRate("57600"), br57600);
    EXPECT_EQ(TextToBaudRate("custom"), brCustom);
    EXPECT_EQ(TextToBaudRate("CUSTOM"), brCustom);
    EXPECT_EQ(TextToBaudRate(" 19200"), br9600);
    EXPECT_EQ(TextToBaudRate("19200 "), br9600);
    EXPECT_EQ(TextToStopBits("1.50"), sbOneStopBit);
    EXPECT_EQ(TextToStopBits("2"), sbTwoStopBits);
    EXPECT_EQ(TextToParity("none"), prNone);
    EXPECT_EQ(TextToParity("eVeN"), prEven);
    EXPECT_EQ(TextToFlowControl("none"), fcNone);
    EXPECT_EQ(TextToRTSControl("toggle"), rtsToggle);
    EXPECT_EQ(TextToDTRControl("HANDSHAKE"), dtrHandshake);
    // Only a to z fold: a dotless capital I or a German sharp s is no "I" or "SS".
    EXPECT_EQ(TextToParity("Ev\xC3\xA9n"), prNone);
    EXPECT_EQ(TextToFlowControl("SOFTWARE\xC2\xA0"), fcCustom);
}

TEST(TextForms, UnknownAndEmptyTextGiveEachDefault) {
    EXPECT_EQ(TextToBaudRate(""), br9600);
    EXPECT_EQ(TextToBaudRate("9600.0"), br9600);
    EXPECT_EQ(TextToBaudRate("250000"), br9600);
    EXPECT_EQ(TextToStopBits(""), sbOneStopBit);
    EXPECT_EQ(TextToDataBits(""), dbEight);
    EXPECT_EQ(TextToDataBits("9"), dbEight);
    EXPECT_EQ(TextToParity(""), prNone);
    EXPECT_EQ(TextToFlowControl(""), fcCustom);
    EXPECT_EQ(TextToFlowControl("XYZ"), fcCustom);
    EXPECT_EQ(TextToDTRControl(""), dtrDisable);
    EXPECT_EQ(TextToRTSControl("x"), rtsDisable);
}

TEST(TextForms, YesNoReadsTrueOnlyForYes) {
    EXPECT_TRUE(YesNoToBool("Yes"));
    EXPECT_TRUE(YesNoToBool("yEs"));
    EXPECT_TRUE(YesNoToBool("YES"));
    EXPECT_FALSE(YesNoToBool("Y"));
    EXPECT_FALSE(YesNoToBool("True"));
    EXPECT_FALSE(YesNoToBool("1"));
    EXPECT_FALSE(YesNoToBool(""));
    EXPECT_FALSE(YesNoToBool(" Yes"));
}

TEST(TextForms, CharToTextShowsPrintablesAndNumbersTheRest) {
    EXPECT_EQ(CharToText('\0'), "#0");
    EXPECT_EQ(CharToText('\r'), "#13");
    EXPECT_EQ(CharToText(' '), "#32");
    EXPECT_EQ(CharToText('!'), "!");
    EXPECT_EQ(CharToText('A'), "A");
    EXPECT_EQ(CharToText('~'), "~");
    EXPECT_EQ(CharToText('\x7F'), "\x7F");
    EXPECT_EQ(CharToText('\x80'), "#128");
    EXPECT_EQ(CharToText('\xFF'), "#255");
    EXPECT_EQ(CharToText('#'), "#");
}

TEST(TextForms, EveryCharacterCodeRoundTrips) {
    for (int code = 0; code < 256; ++code) {
        const char c = static_cast<char>(code);
        EXPECT_EQ(static_cast<unsigned char>(TextToChar(CharToText(c))), code) << code;
    }
}

TEST(TextForms, TextToCharTakesTheLowByteOfNumbers) {
    EXPECT_EQ(TextToChar(""), '\0');
    EXPECT_EQ(TextToChar("#13"), '\r');
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("#300")), 44);
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("#-1")), 255);
    EXPECT_EQ(TextToChar("#$41"), 'A');
    EXPECT_EQ(TextToChar("#0x42"), 'B');
    EXPECT_EQ(TextToChar("# 65"), 'A');
}

TEST(TextForms, TextToCharGivesZeroForMalformedNumbers) {
    EXPECT_EQ(TextToChar("#abc"), '\0');
    EXPECT_EQ(TextToChar("#65 "), '\0');
    EXPECT_EQ(TextToChar("#-"), '\0');
    EXPECT_EQ(TextToChar("#$"), '\0');
    EXPECT_EQ(TextToChar("#99999999999"), '\0');
    EXPECT_EQ(TextToChar("#2147483648"), '\0');
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("#-2147483648")), 0);
}

TEST(TextForms, TextToCharOtherwiseTakesTheFirstCharacter) {
    EXPECT_EQ(TextToChar("A"), 'A');
    EXPECT_EQ(TextToChar("AB"), 'A');
    EXPECT_EQ(TextToChar("#"), '#');
    EXPECT_EQ(TextToChar(" #1"), ' ');
    // A character outside ASCII gives the low byte of its code, not of its first UTF-8 byte.
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("\xC3\xA9")), 0xE9);         // U+00E9
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("\xE2\x82\xAC")), 0xAC);     // U+20AC
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("\xF0\x9F\x98\x80")), 0x3D); // D83D DE00
    // A byte that starts no valid sequence stands for itself.
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("\xE9")), 0xE9);
}

} // namespace
} // namespace cport
