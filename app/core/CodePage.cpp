#include "CodePage.h"

#include <algorithm>
#include <array>

namespace quendal {

namespace {

// 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t Replacement = 0xFFFD;

bool IsContinuation(unsigned char AByte) {
    return (AByte & 0xC0) == 0x80;
}

} // namespace

char16_t CodePageToUnicode(unsigned char AByte) {
    return AByte >= 0x80 && AByte < 0xA0 ? High[AByte - 0x80] : char16_t{AByte};
}

char UnicodeToCodePage(char32_t ACharacter) {
    if (ACharacter < 0x80 || (ACharacter >= 0xA0 && ACharacter <= 0xFF))
        return static_cast<char>(ACharacter);
    const auto* found = std::find(High.begin(), High.end(), ACharacter);
    return found == High.end() ? '?' : static_cast<char>(0x80 + (found - High.begin()));
}

void TLogFileDecoder::Feed(std::string_view AData, std::string& AOut) {
    if (FEncoding == TEncoding::Unknown) {
        FHeld.append(AData);
        const auto byte = [this](std::size_t i) { return static_cast<unsigned char>(FHeld[i]); };
        const std::size_t size = FHeld.size();
        if (size >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
            FEncoding = TEncoding::Utf16LE;
        } else if (size >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
            FEncoding = TEncoding::Utf16BE;
        } else if (size >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
            FEncoding = TEncoding::Utf8;
        } else if (size >= 3 ||
                   (size >= 1 && byte(0) != 0xEF && byte(0) != 0xFF && byte(0) != 0xFE) ||
                   (size >= 2 && byte(0) == 0xEF && byte(1) != 0xBB)) {
            FEncoding = TEncoding::CodePage;
        } else {
            return; // the mark may still come
        }
        std::string start;
        start.swap(FHeld);
        const std::size_t mark = FEncoding == TEncoding::CodePage ? 0
                                 : FEncoding == TEncoding::Utf8   ? 3
                                                                  : 2;
        Decode(std::string_view(start).substr(mark), AOut);
        return;
    }
    if (FHeld.empty()) {
        Decode(AData, AOut);
        return;
    }
    std::string joined = FHeld;
    FHeld.clear();
    joined.append(AData);
    Decode(joined, AOut);
}

void TLogFileDecoder::Finish(std::string& AOut) {
    if (FEncoding == TEncoding::Unknown) {
        FEncoding = TEncoding::CodePage;
        AOut += FHeld;
    } else if (FEncoding == TEncoding::Utf8) {
        // An unfinished sequence: its valid start is one invalid piece.
        if (!FHeld.empty()) PutCharacter(Replacement, AOut);
    } else if (FHighSurrogate != 0) {
        PutCharacter(Replacement, AOut);
    }
    FHeld.clear();
    FHighSurrogate = 0;
}

void TLogFileDecoder::Decode(std::string_view AData, std::string& AOut) {
    switch (FEncoding) {
    case TEncoding::Utf8:
        DecodeUtf8(AData, AOut);
        break;
    case TEncoding::Utf16LE:
    case TEncoding::Utf16BE:
        DecodeUtf16(AData, AOut);
        break;
    default:
        AOut.append(AData);
        break;
    }
}

void TLogFileDecoder::PutCharacter(char32_t ACharacter, std::string& AOut) {
    AOut += UnicodeToCodePage(ACharacter);
}

// Each maximal piece of an invalid sequence becomes one U+FFFD, and the byte that broke it
// starts anew, as decoders following the Unicode standard's recommendation do.
void TLogFileDecoder::DecodeUtf8(std::string_view AData, std::string& AOut) {
    const auto* data = reinterpret_cast<const unsigned char*>(AData.data());
    const std::size_t size = AData.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            AOut += static_cast<char>(lead);
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80, high = 0xBF; // the second byte's range
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            PutCharacter(Replacement, AOut);
            ++i;
            continue;
        }
        char32_t code = lead & (0x7F >> length);
        int have = 1;
        bool broken = false;
        while (have < length) {
            if (i + static_cast<std::size_t>(have) >= size) break;
            const unsigned char next = data[i + static_cast<std::size_t>(have)];
            const bool fits = have == 1 ? next >= low && next <= high : IsContinuation(next);
            if (!fits) {
                broken = true;
                break;
            }
            code = code << 6 | (next & 0x3F);
            ++have;
        }
        if (have == length) {
            PutCharacter(code, AOut);
        } else if (broken) {
            PutCharacter(Replacement, AOut);
        } else {
            FHeld.assign(AData.substr(i)); // completed by the next piece, or by Finish
        }
        i += static_cast<std::size_t>(have);
    }
}

void TLogFileDecoder::DecodeUtf16(std::string_view AData, std::string& AOut) {
    const bool little = FEncoding == TEncoding::Utf16LE;
    std::size_t i = 0;
    for (; i + 1 < AData.size(); i += 2) {
        const auto first = static_cast<unsigned char>(AData[i]);
        const auto second = static_cast<unsigned char>(AData[i + 1]);
        const auto unit = static_cast<char16_t>(little ? second << 8 | first : first << 8 | second);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool lowHalf = unit >= 0xDC00 && unit <= 0xDFFF;
        if (FHighSurrogate != 0) {
            if (lowHalf) {
                PutCharacter(0x10000 + ((char32_t{FHighSurrogate} - 0xD800) << 10) +
                                 (char32_t{unit} - 0xDC00),
                             AOut);
                FHighSurrogate = 0;
                continue;
            }
            PutCharacter(Replacement, AOut);
            FHighSurrogate = 0;
        }
        if (high)
            FHighSurrogate = unit;
        else
            PutCharacter(lowHalf ? Replacement : char32_t{unit}, AOut);
    }
    if (i < AData.size()) FHeld.assign(AData.substr(i));
}

std::u16string CodePageToUtf16(std::string_view ABytes) {
    std::u16string text(ABytes.size(), u'\0');
    for (std::size_t i = 0; i < ABytes.size(); ++i)
        text[i] = CodePageToUnicode(static_cast<unsigned char>(ABytes[i]));
    return text;
}

std::string Utf16ToCodePage(std::u16string_view AText) {
    std::string bytes;
    bytes.reserve(AText.size());
    for (std::size_t i = 0; i < AText.size(); ++i) {
        char32_t code = AText[i];
        const bool high = code >= 0xD800 && code < 0xDC00;
        if (high && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 && AText[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (AText[i + 1] - 0xDC00u);
            ++i;
        }
        bytes += UnicodeToCodePage(code);
    }
    return bytes;
}

} // namespace quendal
