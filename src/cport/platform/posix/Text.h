// Text helpers of the POSIX registry and profile emulation: UTF-8 and UTF-16 conversions, and
// the case folding by which key, value, section and line names are matched.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cport {

bool IsValidUtf8(std::string_view AText);

// Decodes UTF-8 into code points; a byte that starts no valid sequence stands for itself, so
// every byte string decodes.
std::wstring DecodeUtf8(std::string_view AText);

// Valid UTF-8 to UTF-16LE bytes, without a terminator.
std::string Utf8ToUtf16Le(std::string_view AText);
// UTF-16LE bytes to UTF-8; a lone surrogate becomes U+FFFD, a trailing odd byte is dropped.
std::string Utf16LeToUtf8(std::string_view ABytes);

// The number of UTF-16 units that AText (UTF-8) takes.
std::size_t Utf16Length(std::string_view AText);
// The longest prefix of AText that fits AMaxUnits UTF-16 units without splitting a character.
std::string_view TruncateUtf16(std::string_view AText, std::size_t AMaxUnits);

// Lower-cases every character by the Unicode simple case mapping, whatever the program's
// locale (ASCII only where the system has no UTF-8 locale data).
std::wstring FoldCase(std::string_view AText);
bool EqualNoCase(std::string_view A, std::string_view B);

} // namespace cport
