// The registry of the POSIX emulation in memory, and its text form: the ".reg" export format
// ("Windows Registry Editor Version 5.00"), so a store file stays readable, editable and
// importable. Pure: no file access here.
//
// Written files are UTF-8 without a byte order mark, with LF line ends. Reading also accepts a
// UTF-8 byte order mark, UTF-16LE with its byte order mark (as Windows exports) and CR LF.
// REG_SZ values are written as "name"="text" with \\ and \" escapes, or as hex(1) UTF-16LE
// bytes when the text holds control characters; REG_DWORD as dword:0000000a; REG_EXPAND_SZ as
// hex(2), REG_BINARY as hex and every other kind as hex(N) with its bytes kept as they are.
// "@" names the default value (empty name). Lines starting with ";" are comments; deletion
// entries ("[-key]", "name"=-) are not accepted.
#pragma once

#include "platform/ComPlatform.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cport {

struct TRegNamedValue {
    std::string Name;
    TRegValue Value;
};

// One key: its name as first created, its values and subkeys in creation order. Names are
// matched without regard to letter case, as on Windows.
struct TRegKey {
    std::string Name;
    std::vector<TRegNamedValue> Values;
    std::vector<TRegKey> SubKeys;

    TRegKey* FindSubKey(std::string_view AName);
    const TRegKey* FindSubKey(std::string_view AName) const;
    TRegKey& OpenOrCreateSubKey(std::string_view AName);
    // The key at APath below this one, or nullptr.
    const TRegKey* Find(const std::vector<std::string>& APath) const;
    TRegKey& OpenOrCreate(const std::vector<std::string>& APath);
    const TRegNamedValue* FindValue(std::string_view AName) const;
    // Replaces the value of that name (keeping its spelling and place) or appends it.
    void SetValue(std::string_view AName, const TRegValue& AValue);
};

// How deep keys may nest below a root, as on Windows. Deeper store files are not accepted: their
// keys would cost stack and memory in proportion to the depth when written.
inline constexpr std::size_t MaxKeyDepth = 512;

// Splits a key path at its backslashes. One trailing backslash is allowed; an empty element
// elsewhere (a leading or doubled backslash) or an element with control characters, invalid
// UTF-8 or more than 255 characters makes the path invalid. The empty path is the key itself.
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view APath);

// Whether the value can be stored: names and string data must be valid UTF-8, names free of
// control characters; REG_DWORD data exactly four bytes.
bool IsStorableValue(std::string_view AName, const TRegValue& AValue);

// The bytes a value takes as Windows stores it (strings as UTF-16 with the terminator).
std::size_t StoredDataSize(const TRegValue& AValue);

// Parses a store file of the root named ARootName (e.g. "HKEY_CURRENT_USER"); empty text is an
// empty store. Empty when the text is not a store of that root, or nests keys deeper than
// MaxKeyDepth.
std::optional<TRegKey> ParseRegFile(std::string_view AText, std::string_view ARootName);
// The text of the store: the header, then every key with its values, parents before children.
std::string FormatRegFile(const TRegKey& ARoot, std::string_view ARootName);

} // namespace cport
