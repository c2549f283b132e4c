#include "CPortTypes.h"

#include <array>
#include <optional>
#include <string_view>

namespace cport {

namespace {

constexpr std::array<std::string_view, BaudRateCount> BaudRateTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<std::uint32_t, BaudRateCount> BaudRateValues = {
    0,     110,   300,   600,   1200,  2400,   4800,   9600,
    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr std::array<std::string_view, StopBitsCount> StopBitsTexts = {"1", "1.5", "2"};
constexpr std::array<std::string_view, DataBitsCount> DataBitsTexts = {"5", "6", "7", "8"};
constexpr std::array<std::string_view, ParityBitsCount> ParityTexts = {"None", "Odd", "Even",
                                                                       "Mark", "Space"};
constexpr std::array<std::string_view, FlowControlCount> FlowControlTexts = {"Hardware", "Software",
                                                                             "None", "Custom"};
constexpr std::array<std::string_view, DTRFlowControlCount> DTRControlTexts = {"Disable", "Enable",
                                                                               "Handshake"};
constexpr std::array<std::string_view, RTSFlowControlCount> RTSControlTexts = {
    "Disable", "Enable", "Handshake", "Toggle"};

// Only a to z are folded: the stored texts are ASCII, and a locale must not change what a
// stored setting means.
char FoldAscii(char C) {
    return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
}

bool EqualFolded(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) return false;
    for (std::size_t i = 0; i < A.size(); ++i)
        if (FoldAscii(A[i]) != FoldAscii(B[i])) return false;
    return true;
}

template <typename TEnum, std::size_t N>
TEnum Parse(const std::array<std::string_view, N>& ATexts, const std::string& AText,
            TEnum ADefault) {
    for (std::size_t i = 0; i < N; ++i)
        if (EqualFolded(ATexts[i], AText)) return static_cast<TEnum>(i);
    return ADefault;
}

template <std::size_t N>
std::string Format(const std::array<std::string_view, N>& ATexts, unsigned AOrdinal) {
    return AOrdinal < N ? std::string(ATexts[AOrdinal]) : std::string();
}

// The first character's code as a UTF-16 unit would carry it. Bytes that do not start a valid
// UTF-8 sequence stand for themselves.
std::uint32_t FirstCharCode(const std::string& AText) {
    const auto b0 = static_cast<unsigned char>(AText[0]);
    auto cont = [&](std::size_t k) -> int {
        if (k >= AText.size()) return -1;
        const auto b = static_cast<unsigned char>(AText[k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        const int c1 = cont(1);
        if (c1 >= 0) return ((b0 & 0x1Fu) << 6) | static_cast<unsigned>(c1);
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        const int c1 = cont(1), c2 = cont(2);
        if (c1 >= 0 && c2 >= 0) {
            const std::uint32_t cp =
                ((b0 & 0x0Fu) << 12) | (static_cast<unsigned>(c1) << 6) | static_cast<unsigned>(c2);
            if (cp >= 0x800) return cp;
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        const int c1 = cont(1), c2 = cont(2), c3 = cont(3);
        if (c1 >= 0 && c2 >= 0 && c3 >= 0) {
            const std::uint32_t cp = ((b0 & 0x07u) << 18) | (static_cast<unsigned>(c1) << 12) |
                                     (static_cast<unsigned>(c2) << 6) | static_cast<unsigned>(c3);
            if (cp >= 0x10000 && cp <= 0x10FFFF)
                return 0xD800 + ((cp - 0x10000) >> 10); // the high surrogate comes first
        }
    }
    return b0;
}

} // namespace

// Decimal values must fit 32 bits; hexadecimal ones may use all 32 bits and wrap as the runtime
// does.
std::optional<std::int32_t> StrToInt(std::string_view AText) {
    std::size_t i = 0;
    while (i < AText.size() && AText[i] == ' ')
        ++i;
    bool negative = false;
    if (i < AText.size() && (AText[i] == '+' || AText[i] == '-')) negative = AText[i++] == '-';
    bool hex = false;
    if (i < AText.size() && (AText[i] == '$' || AText[i] == 'x' || AText[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < AText.size() && AText[i] == '0' &&
               (AText[i + 1] == 'x' || AText[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == AText.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < AText.size(); ++i) {
        const char c = AText[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * (hex ? 16u : 10u) + digit;
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (!hex && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
    const auto bits = static_cast<std::uint32_t>(negative ? (0 - value) : value);
    return static_cast<std::int32_t>(bits);
}

std::string BaudRateToText(TBaudRate ABaudRate) {
    return Format(BaudRateTexts, ABaudRate);
}
TBaudRate TextToBaudRate(const std::string& AText) {
    return Parse(BaudRateTexts, AText, br9600);
}
std::string StopBitsToText(TStopBits AStopBits) {
    return Format(StopBitsTexts, AStopBits);
}
TStopBits TextToStopBits(const std::string& AText) {
    return Parse(StopBitsTexts, AText, sbOneStopBit);
}
std::string DataBitsToText(TDataBits ADataBits) {
    return Format(DataBitsTexts, ADataBits);
}
TDataBits TextToDataBits(const std::string& AText) {
    return Parse(DataBitsTexts, AText, dbEight);
}
std::string ParityToText(TParityBits AParity) {
    return Format(ParityTexts, AParity);
}
TParityBits TextToParity(const std::string& AText) {
    return Parse(ParityTexts, AText, prNone);
}
std::string FlowControlToText(TFlowControl AFlowControl) {
    return Format(FlowControlTexts, AFlowControl);
}
TFlowControl TextToFlowControl(const std::string& AText) {
    return Parse(FlowControlTexts, AText, fcCustom);
}
std::string DTRControlToText(TDTRFlowControl ADTRControl) {
    return Format(DTRControlTexts, ADTRControl);
}
TDTRFlowControl TextToDTRControl(const std::string& AText) {
    return Parse(DTRControlTexts, AText, dtrDisable);
}
std::string RTSControlToText(TRTSFlowControl ARTSControl) {
    return Format(RTSControlTexts, ARTSControl);
}
TRTSFlowControl TextToRTSControl(const std::string& AText) {
    return Parse(RTSControlTexts, AText, rtsDisable);
}

std::string BoolToYesNo(bool AValue) {
    return AValue ? "Yes" : "No";
}
bool YesNoToBool(const std::string& AText) {
    return EqualFolded(AText, "YES");
}

std::string CharToText(char AChar) {
    const auto code = static_cast<unsigned char>(AChar);
    if (code >= 33 && code <= 127) return std::string(1, AChar);
    std::string text = "#";
    text += std::to_string(code);
    return text;
}

char TextToChar(const std::string& AText) {
    if (AText.empty()) return 0;
    if (AText[0] == '#' && AText.size() >= 2) {
        const std::optional<std::int32_t> value = StrToInt(std::string_view(AText).substr(1));
        return value ? static_cast<char>(static_cast<std::uint32_t>(*value) & 0xFFu) : '\0';
    }
    return static_cast<char>(FirstCharCode(AText) & 0xFFu);
}

std::uint32_t BaudRateToValue(TBaudRate ABaudRate) {
    return ABaudRate < BaudRateCount ? BaudRateValues[ABaudRate] : 0;
}

} // namespace cport
