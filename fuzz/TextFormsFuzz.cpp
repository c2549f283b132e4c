// The text-to-value conversions of the settings' text forms, TextToChar and StrToInt: every
// text gives a member, a member other than the default comes only from its own text, and the
// text of every value reads back as that value.
#include "CPortTypes.h"
#include "FuzzCheck.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace cport;

namespace {

std::string Upper(std::string_view AText) {
    std::string out(AText);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// TextToX(AText) is a member below ACount; unless it is the default, AText was that member's
// text in some letter case; and the member's own text reads back as the member.
template <typename TEnum>
void CheckEnum(const std::string& AText, TEnum (*ATextTo)(const std::string&),
               std::string (*AToText)(TEnum), int ACount, TEnum ADefault) {
    const TEnum value = ATextTo(AText);
    FUZZ_CHECK(static_cast<int>(value) < ACount);
    const std::string text = AToText(value);
    FUZZ_CHECK(ATextTo(text) == value);
    if (value != ADefault) FUZZ_CHECK(Upper(text) == Upper(AText));
    if (Upper(AText) == Upper(AToText(ADefault))) FUZZ_CHECK(value == ADefault);
}

void CheckStrToInt(const std::string& AText) {
    const auto value = StrToInt(AText);
    if (!value) return;
    // A parsed value's decimal text parses to the same value.
    FUZZ_CHECK(StrToInt(std::to_string(*value)) == value);
    // Plain decimal text (blanks, sign, digits) agrees with the standard library's reading.
    std::string_view rest(AText);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    std::string digits(rest.starts_with('+') ? rest.substr(1) : rest);
    if (digits.find_first_of("xX$") != std::string::npos) return;
    std::int64_t expected = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), expected);
    FUZZ_CHECK(error == std::errc() && end == digits.data() + digits.size());
    FUZZ_CHECK(expected == *value);
}

void CheckChar(const std::string& AText) {
    const char c = TextToChar(AText);
    FUZZ_CHECK(TextToChar(CharToText(c)) == c);
    const auto code = static_cast<unsigned char>(c);
    // A single ASCII character is its own code.
    if (AText.size() == 1 && static_cast<unsigned char>(AText[0]) < 0x80) FUZZ_CHECK(c == AText[0]);
    // "#" and a decimal number that fits 32 bits: its low 8 bits.
    if (AText.size() >= 2 && AText[0] == '#' &&
        AText.find_first_not_of("0123456789", 1) == std::string::npos) {
        std::int64_t number = 0;
        const auto [end, error] =
            std::from_chars(AText.data() + 1, AText.data() + AText.size(), number);
        if (error == std::errc() && number <= INT32_MAX)
            FUZZ_CHECK(code == (static_cast<std::uint64_t>(number) & 0xFFu));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string text(reinterpret_cast<const char*>(AData), ASize);
    CheckEnum(text, TextToBaudRate, BaudRateToText, BaudRateCount, br9600);
    CheckEnum(text, TextToStopBits, StopBitsToText, StopBitsCount, sbOneStopBit);
    CheckEnum(text, TextToDataBits, DataBitsToText, DataBitsCount, dbEight);
    CheckEnum(text, TextToParity, ParityToText, ParityBitsCount, prNone);
    CheckEnum(text, TextToFlowControl, FlowControlToText, FlowControlCount, fcCustom);
    CheckEnum(text, TextToDTRControl, DTRControlToText, DTRFlowControlCount, dtrDisable);
    CheckEnum(text, TextToRTSControl, RTSControlToText, RTSFlowControlCount, rtsDisable);
    FUZZ_CHECK(YesNoToBool(text) == (Upper(text) == "YES"));
    FUZZ_CHECK(YesNoToBool(BoolToYesNo(YesNoToBool(text))) == YesNoToBool(text));
    CheckChar(text);
    CheckStrToInt(text);
    return 0;
}
