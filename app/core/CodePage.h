// The code page of log text: Windows-1252, the single-byte code page of Western Windows
// systems, with its five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) standing for the
// control characters of the same value, so that every byte is a character and back.
//
// Log files are decoded into it here, without a toolkit: by their byte-order mark (UTF-8,
// UTF-16 LE or BE) or else as the code page's bytes as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quendal {

// The character a byte of the code page stands for.
char16_t CodePageToUnicode(unsigned char AByte);
// The code page's byte for a character; '?' for a character that the code page lacks.
char UnicodeToCodePage(char32_t ACharacter);

// Log bytes as UTF-16 text, every byte one character, and back: a surrogate pair is one
// character, and a character that the code page lacks becomes '?'.
std::u16string CodePageToUtf16(std::string_view ABytes);
std::string Utf16ToCodePage(std::u16string_view AText);

// Decodes a log file given in pieces of any size into the code page's bytes. The file's first
// bytes choose the encoding: a UTF-8 or UTF-16 byte-order mark (which is no text; only the
// first one is taken off), else the code page itself, whose bytes pass unchanged. Invalid
// sequences and unpaired surrogates become U+FFFD, which the code page writes as '?'; an odd
// last byte of a UTF-16 file makes no character.
class TLogFileDecoder {
public:
    // Appends the code page's bytes for AData to AOut.
    void Feed(std::string_view AData, std::string& AOut);
    // Ends the file: whatever an unfinished sequence held goes to AOut.
    void Finish(std::string& AOut);

private:
    enum class TEncoding : std::uint8_t {
        Unknown,
        CodePage,
        Utf8,
        Utf16LE,
        Utf16BE
    };

    void Decode(std::string_view AData, std::string& AOut);
    void DecodeUtf8(std::string_view AData, std::string& AOut);
    void DecodeUtf16(std::string_view AData, std::string& AOut);
    void PutCharacter(char32_t ACharacter, std::string& AOut);

    TEncoding FEncoding = TEncoding::Unknown;
    // Bytes kept back: the start of the file until its mark is known, or an unfinished UTF-8
    // sequence or UTF-16 unit.
    std::string FHeld;
    // An unpaired high surrogate of UTF-16, waiting for its low half.
    char16_t FHighSurrogate = 0;
};

} // namespace quendal
