// The INI reader and editor, from the file's bytes (UTF-8, UTF-8 with byte order mark or
// UTF-16LE) to the bytes written back. The input gives a section, a line name, a value, a
// second section and line name, and the file. Properties: a value written reads back as the
// reader presents it (trimmed, one pair of quotes removed); the edit leaves every other
// section's lines and the section's other lines as they read; an edit repeated changes
// nothing more; removing a line or section never touches another section.
#include "FuzzCheck.h"
#include "platform/posix/Text.h"
#include "platform/posix/store/IniText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using namespace cport;

namespace {

std::string_view Trim(std::string_view AText) {
    const auto first = AText.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return AText.substr(first, AText.find_last_not_of(" \t") - first + 1);
}

// What the reader makes of a value line's text.
std::string AsRead(std::string_view AValue) {
    std::string_view value = Trim(AValue);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

// The file's bytes after the edit, as the store writes them back.
std::string Edit(const std::string& ARaw, const std::string& ASection,
                 const std::optional<std::string>& AKey, const std::optional<std::string>& AValue) {
    bool utf16 = false;
    const std::string text = IniDecodeFile(ARaw, utf16);
    const std::string_view body = IniStripUtf8Bom(text);
    const std::string bom(text.substr(0, text.size() - body.size()));
    return IniEncodeFile(bom + IniWriteValue(body, ASection, AKey, AValue), utf16);
}

std::optional<std::string> Read(const std::string& ARaw, std::string_view ASection,
                                std::string_view AKey) {
    bool utf16 = false;
    const std::string text = IniDecodeFile(ARaw, utf16);
    return IniReadValue(IniStripUtf8Bom(text), ASection, AKey);
}

bool SameName(std::string_view A, std::string_view B) {
    return EqualNoCase(Trim(A), Trim(B));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    FuzzedDataProvider input(AData, ASize);
    const int operation = input.ConsumeIntegralInRange(0, 2); // write, remove line, remove section
    const std::string section = input.ConsumeRandomLengthString(24);
    const std::string key = input.ConsumeRandomLengthString(24);
    const std::string value = input.ConsumeRandomLengthString(24);
    const std::string otherSection = input.ConsumeRandomLengthString(24);
    const std::string otherKey = input.ConsumeRandomLengthString(24);
    const std::string raw = input.ConsumeRemainingBytesAsString();

    // Reading never fails, whatever the file holds.
    const auto before = Read(raw, otherSection, otherKey);
    (void)Read(raw, section, key);
    if (!IsWritableIniSection(section) || !IsWritableIniKey(key) || !IsWritableIniValue(value))
        return 0;

    bool utf16 = false;
    (void)IniDecodeFile(raw, utf16);
    std::optional<std::string> writtenKey = key;
    std::optional<std::string> writtenValue = value;
    if (operation >= 1) writtenValue.reset();
    if (operation == 2) writtenKey.reset();
    const std::string after = Edit(raw, section, writtenKey, writtenValue);

    if (operation == 0) {
        // UTF-16 files hold characters: text that is no valid UTF-8 cannot come back as it was.
        if (!utf16 || IsValidUtf8(value)) FUZZ_CHECK(Read(after, section, key) == AsRead(value));
        FUZZ_CHECK(Edit(after, section, writtenKey, writtenValue) == after);
    }
    const bool sameSection = SameName(section, otherSection);
    const bool touched = sameSection && (operation == 2 || SameName(key, otherKey));
    // A UTF-16 file is rewritten from its characters: bytes that were no valid UTF-16 change.
    if (!touched && (!utf16 || IniEncodeFile(IniDecodeFile(raw, utf16), true) == raw))
        FUZZ_CHECK(Read(after, otherSection, otherKey) == before);
    return 0;
}
