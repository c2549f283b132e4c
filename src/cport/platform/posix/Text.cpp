#include "Text.h"

#include <clocale>
#include <cstdint>
#include <cwctype>
#include <locale.h>

namespace cport {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// Decodes one sequence at AText[i]; returns its length, 0 when the bytes there are no valid
// sequence (overlong forms, surrogates and values past U+10FFFF included).
std::size_t DecodeOne(std::string_view AText, std::size_t i, char32_t& ACode) {
    const auto b0 = static_cast<unsigned char>(AText[i]);
    if (b0 < 0x80) {
        ACode = b0;
        return 1;
    }
    std::size_t len;
    char32_t code;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, code = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, code = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, code = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > AText.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(AText[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        code = (code << 6) | (b & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    ACode = code;
    return len;
}

void AppendUtf8(std::string& AOut, char32_t ACode) {
    if (ACode < 0x80) {
        AOut += static_cast<char>(ACode);
    } else if (ACode < 0x800) {
        AOut += static_cast<char>(0xC0 | (ACode >> 6));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else if (ACode < 0x10000) {
        AOut += static_cast<char>(0xE0 | (ACode >> 12));
        AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else {
        AOut += static_cast<char>(0xF0 | (ACode >> 18));
        AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
        AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    }
}

void AppendUnit(std::string& AOut, std::uint32_t AUnit) {
    AOut += static_cast<char>(AUnit & 0xFF);
    AOut += static_cast<char>(AUnit >> 8);
}

// The program's own locale may be "C", whose case tables cover ASCII only; names must match
// the same way in every program, so folding uses a UTF-8 locale of its own.
locale_t FoldLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

} // namespace

bool IsValidUtf8(std::string_view AText) {
    char32_t code;
    for (std::size_t i = 0; i < AText.size();) {
        const std::size_t len = DecodeOne(AText, i, code);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::wstring DecodeUtf8(std::string_view AText) {
    std::wstring out;
    out.reserve(AText.size());
    char32_t code;
    for (std::size_t i = 0; i < AText.size();) {
        const std::size_t len = DecodeOne(AText, i, code);
        if (len == 0) {
            out += static_cast<wchar_t>(static_cast<unsigned char>(AText[i]));
            ++i;
        } else {
            out += static_cast<wchar_t>(code);
            i += len;
        }
    }
    return out;
}

std::string Utf8ToUtf16Le(std::string_view AText) {
    std::string out;
    out.reserve(AText.size() * 2);
    for (const wchar_t c : DecodeUtf8(AText)) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code >= 0x10000) {
            AppendUnit(out, 0xD800 + ((code - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            AppendUnit(out, code);
        }
    }
    return out;
}

std::string Utf16LeToUtf8(std::string_view ABytes) {
    std::string out;
    out.reserve(ABytes.size() / 2);
    const std::size_t count = ABytes.size() / 2;
    auto unit = [&](std::size_t k) -> std::uint32_t {
        return static_cast<unsigned char>(ABytes[2 * k]) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(ABytes[2 * k + 1])) << 8);
    };
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < count && unit(k + 1) >= 0xDC00 &&
            unit(k + 1) <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
            ++k;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, Replacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::size_t Utf16Length(std::string_view AText) {
    std::size_t units = 0;
    for (const wchar_t c : DecodeUtf8(AText))
        units += static_cast<std::uint32_t>(c) >= 0x10000 ? 2 : 1;
    return units;
}

std::string_view TruncateUtf16(std::string_view AText, std::size_t AMaxUnits) {
    std::size_t units = 0;
    char32_t code;
    for (std::size_t i = 0; i < AText.size();) {
        std::size_t len = DecodeOne(AText, i, code);
        const std::size_t need = (len != 0 && code >= 0x10000) ? 2 : 1;
        if (len == 0) len = 1;
        if (units + need > AMaxUnits) return AText.substr(0, i);
        units += need;
        i += len;
    }
    return AText;
}

std::wstring FoldCase(std::string_view AText) {
    std::wstring text = DecodeUtf8(AText);
    const locale_t locale = FoldLocale();
    for (wchar_t& c : text) {
        if (locale != static_cast<locale_t>(0))
            c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), locale));
        else if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

bool EqualNoCase(std::string_view A, std::string_view B) {
    return FoldCase(A) == FoldCase(B);
}

} // namespace cport
