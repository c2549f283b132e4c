// The profile (INI) file rules of the POSIX emulation, on the file's text. Pure: no file
// access here.
//
// A section starts at a line "[name]"; a line "name=value" inside it holds a value. Section and
// line names are matched without regard to letter case and to blanks around them; the first
// matching section and line count. Values are read without the blanks around them and without
// one pair of enclosing quotes (" or '). Lines starting with ";" are comments. Everything an
// edit does not touch (other sections and lines, comments, blank lines, line ends) is kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cport {

// The value of AKey in ASection, or empty when the section or line is missing.
std::optional<std::string> IniReadValue(std::string_view AText, std::string_view ASection,
                                        std::string_view AKey);

// The text after writing: with a value, replaces the value of an existing line, or adds the
// line after the last line with a value of the section, or adds the section with the line at
// the end; without a value, removes the line; without a key, removes the whole section.
std::string IniWriteValue(std::string_view AText, std::string_view ASection,
                          const std::optional<std::string>& AKey,
                          const std::optional<std::string>& AValue);

// The file's bytes as UTF-8 text: UTF-16LE with its byte order mark is converted, and AUtf16
// tells so, to write the file back the same way; anything else is taken as it is.
std::string IniDecodeFile(const std::string& ARaw, bool& AUtf16);
// AText without a leading UTF-8 byte order mark.
std::string_view IniStripUtf8Bom(std::string_view AText);
// The bytes of the file's text (UTF-8): UTF-16LE with its byte order mark when AUtf16.
std::string IniEncodeFile(const std::string& AText, bool AUtf16);

// Whether a section, line name or value can be written without changing the file's structure:
// no line breaks; names also without "]" (sections) or "=" (lines) and not blank.
bool IsWritableIniSection(std::string_view ASection);
bool IsWritableIniKey(std::string_view AKey);
bool IsWritableIniValue(std::string_view AValue);

} // namespace cport
