#include "RegFile.h"

#include "platform/posix/Text.h"

#include <cstdint>
#include <cstdio>

namespace cport {

namespace {

constexpr std::string_view Header = "Windows Registry Editor Version 5.00";
constexpr std::size_t MaxKeyNameUnits = 255;

bool HasControlChar(std::string_view AText) {
    for (const char c : AText)
        if (static_cast<unsigned char>(c) < 0x20) return true;
    return false;
}

std::string_view Trim(std::string_view AText) {
    const auto first = AText.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = AText.find_last_not_of(" \t");
    return AText.substr(first, last - first + 1);
}

bool IsStringKind(std::uint32_t AType) {
    return AType == RegType::Sz || AType == RegType::ExpandSz;
}

std::string Quote(std::string_view AText) {
    std::string out = "\"";
    for (const char c : AText) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

std::string HexList(std::string_view ABytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < ABytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(ABytes[i]));
        if (i > 0) out += ',';
        out += buf;
    }
    return out;
}

std::string FormatData(const TRegValue& AValue) {
    char buf[24];
    switch (AValue.Type) {
    case RegType::Sz:
        if (!HasControlChar(AValue.Data)) return Quote(AValue.Data);
        return "hex(1):" + HexList(Utf8ToUtf16Le(AValue.Data) + std::string(2, '\0'));
    case RegType::ExpandSz:
        return "hex(2):" + HexList(Utf8ToUtf16Le(AValue.Data) + std::string(2, '\0'));
    case RegType::DWord: {
        // A hex(4) value of another size than four bytes keeps its bytes as they are.
        if (AValue.Data.size() != 4) return "hex(4):" + HexList(AValue.Data);
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(AValue.Data[i])) << (8 * i);
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        return buf;
    }
    case RegType::Binary:
        return "hex:" + HexList(AValue.Data);
    default:
        std::snprintf(buf, sizeof buf, "hex(%x):", AValue.Type);
        return buf + HexList(AValue.Data);
    }
}

// APath is the key's path, extended for each subkey and restored after it.
void FormatKey(const TRegKey& AKey, std::string& APath, bool AIsRoot, std::string& AOut) {
    if (!AIsRoot || !AKey.Values.empty()) {
        AOut += '[' + APath + "]\n";
        for (const TRegNamedValue& v : AKey.Values)
            AOut += (v.Name.empty() ? std::string("@") : Quote(v.Name)) + '=' +
                    FormatData(v.Value) + '\n';
        AOut += '\n';
    }
    const std::size_t length = APath.size();
    for (const TRegKey& sub : AKey.SubKeys) {
        APath += '\\';
        APath += sub.Name;
        FormatKey(sub, APath, false, AOut);
        APath.resize(length);
    }
}

// Reads the lines of a store file one by one; hex data may continue on the next line after a
// trailing backslash, as Windows wraps long values.
class TLineReader {
public:
    explicit TLineReader(std::string_view AText)
        : FText(AText) {}
    bool Next(std::string_view& ALine) {
        if (FPos >= FText.size()) return false;
        auto end = FText.find('\n', FPos);
        if (end == std::string_view::npos) end = FText.size();
        ALine = FText.substr(FPos, end - FPos);
        if (!ALine.empty() && ALine.back() == '\r') ALine.remove_suffix(1);
        FPos = end + 1;
        return true;
    }

private:
    std::string_view FText;
    std::size_t FPos = 0;
};

// A quoted string at APos (which holds the opening quote); APos ends after the closing one.
std::optional<std::string> ParseQuoted(std::string_view ALine, std::size_t& APos) {
    std::string out;
    for (std::size_t i = APos + 1; i < ALine.size(); ++i) {
        const char c = ALine[i];
        if (c == '"') {
            APos = i + 1;
            return out;
        }
        if (c == '\\' && i + 1 < ALine.size() && (ALine[i + 1] == '\\' || ALine[i + 1] == '"')) ++i;
        out += ALine[i];
    }
    return std::nullopt;
}

int HexDigit(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view AText) {
    if (AText.empty() || AText.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (const char c : AText) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    return v;
}

// Comma-separated byte pairs, continued on following lines after a trailing backslash.
std::optional<std::string> ParseHexBytes(std::string_view AFirst, TLineReader& AReader) {
    std::string bytes;
    std::string_view part = AFirst;
    for (;;) {
        part = Trim(part);
        bool more = false;
        if (!part.empty() && part.back() == '\\') {
            more = true;
            part = Trim(part.substr(0, part.size() - 1));
        }
        while (!part.empty()) {
            const auto comma = part.find(',');
            const std::string_view item = Trim(part.substr(0, comma));
            if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0)
                return std::nullopt;
            bytes += static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1]));
            if (comma == std::string_view::npos) break;
            part = part.substr(comma + 1);
            // A trailing comma is how a wrapped line ends before its backslash.
            if (Trim(part).empty() && more) break;
            if (Trim(part).empty()) return std::nullopt;
        }
        if (!more) return bytes;
        if (!AReader.Next(part)) return std::nullopt;
    }
}

std::optional<TRegValue> ParseData(std::string_view AData, TLineReader& AReader) {
    TRegValue value;
    if (!AData.empty() && AData[0] == '"') {
        std::size_t pos = 0;
        auto text = ParseQuoted(AData, pos);
        if (!text || !Trim(AData.substr(pos)).empty()) return std::nullopt;
        value.Type = RegType::Sz;
        // Text that is no valid UTF-8 (a file edited in a single-byte encoding) is read with
        // each stray byte as the character of that code, as the names are matched, so that
        // the value stays the same when the store is written back, in whichever form.
        value.Data = IsValidUtf8(*text) ? std::move(*text) : Utf16LeToUtf8(Utf8ToUtf16Le(*text));
        return value;
    }
    if (AData.starts_with("dword:")) {
        const auto v = ParseHexNumber(Trim(AData.substr(6)));
        if (!v) return std::nullopt;
        value.Type = RegType::DWord;
        for (int i = 0; i < 4; ++i)
            value.Data += static_cast<char>((*v >> (8 * i)) & 0xFF);
        return value;
    }
    std::string_view list;
    if (AData.starts_with("hex:")) {
        value.Type = RegType::Binary;
        list = AData.substr(4);
    } else if (AData.starts_with("hex(")) {
        const auto close = AData.find("):");
        const auto type = close == std::string_view::npos
                              ? std::nullopt
                              : ParseHexNumber(AData.substr(4, close - 4));
        if (!type) return std::nullopt;
        value.Type = *type;
        list = AData.substr(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = ParseHexBytes(list, AReader);
    if (!bytes) return std::nullopt;
    if (IsStringKind(value.Type)) {
        if (bytes->size() >= 2 && (*bytes)[bytes->size() - 1] == '\0' &&
            (*bytes)[bytes->size() - 2] == '\0')
            bytes->resize(bytes->size() - 2);
        value.Data = Utf16LeToUtf8(*bytes);
    } else {
        value.Data = std::move(*bytes);
    }
    return value;
}

} // namespace

TRegKey* TRegKey::FindSubKey(std::string_view AName) {
    for (TRegKey& k : SubKeys)
        if (EqualNoCase(k.Name, AName)) return &k;
    return nullptr;
}

const TRegKey* TRegKey::FindSubKey(std::string_view AName) const {
    return const_cast<TRegKey*>(this)->FindSubKey(AName);
}

TRegKey& TRegKey::OpenOrCreateSubKey(std::string_view AName) {
    if (TRegKey* k = FindSubKey(AName)) return *k;
    SubKeys.push_back(TRegKey{std::string(AName), {}, {}});
    return SubKeys.back();
}

const TRegKey* TRegKey::Find(const std::vector<std::string>& APath) const {
    const TRegKey* key = this;
    for (const std::string& name : APath) {
        key = key->FindSubKey(name);
        if (key == nullptr) return nullptr;
    }
    return key;
}

TRegKey& TRegKey::OpenOrCreate(const std::vector<std::string>& APath) {
    TRegKey* key = this;
    for (const std::string& name : APath)
        key = &key->OpenOrCreateSubKey(name);
    return *key;
}

const TRegNamedValue* TRegKey::FindValue(std::string_view AName) const {
    for (const TRegNamedValue& v : Values)
        if (EqualNoCase(v.Name, AName)) return &v;
    return nullptr;
}

void TRegKey::SetValue(std::string_view AName, const TRegValue& AValue) {
    for (TRegNamedValue& v : Values) {
        if (EqualNoCase(v.Name, AName)) {
            v.Value = AValue;
            return;
        }
    }
    Values.push_back(TRegNamedValue{std::string(AName), AValue});
}

std::optional<std::vector<std::string>> SplitKeyPath(std::string_view APath) {
    std::vector<std::string> out;
    if (APath.empty()) return out;
    if (APath.back() == '\\') APath.remove_suffix(1);
    for (;;) {
        const auto slash = APath.find('\\');
        const std::string_view name = APath.substr(0, slash);
        if (name.empty() || HasControlChar(name) || !IsValidUtf8(name) ||
            Utf16Length(name) > MaxKeyNameUnits)
            return std::nullopt;
        out.emplace_back(name);
        if (slash == std::string_view::npos) return out;
        APath = APath.substr(slash + 1);
    }
}

bool IsStorableValue(std::string_view AName, const TRegValue& AValue) {
    if (HasControlChar(AName) || !IsValidUtf8(AName)) return false;
    if (IsStringKind(AValue.Type)) return IsValidUtf8(AValue.Data);
    if (AValue.Type == RegType::DWord) return AValue.Data.size() == 4;
    return true;
}

std::size_t StoredDataSize(const TRegValue& AValue) {
    if (IsStringKind(AValue.Type)) return (Utf16Length(AValue.Data) + 1) * 2;
    return AValue.Data.size();
}

std::optional<TRegKey> ParseRegFile(std::string_view AText, std::string_view ARootName) {
    std::string converted;
    if (AText.starts_with("\xFF\xFE")) {
        converted = Utf16LeToUtf8(AText.substr(2));
        AText = converted;
    } else if (AText.starts_with("\xEF\xBB\xBF")) {
        AText.remove_prefix(3);
    }
    TRegKey root{std::string(ARootName), {}, {}};
    TLineReader reader(AText);
    std::string_view line;
    bool headerSeen = false;
    TRegKey* key = nullptr;
    while (reader.Next(line)) {
        line = Trim(line);
        if (line.empty()) continue;
        if (!headerSeen) {
            if (line != Header) return std::nullopt;
            headerSeen = true;
            continue;
        }
        if (line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return std::nullopt;
            const std::string_view path = line.substr(1, line.size() - 2);
            const auto slash = path.find('\\');
            if (!EqualNoCase(path.substr(0, slash), ARootName)) return std::nullopt;
            const auto elements = SplitKeyPath(
                slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1));
            if (!elements || (slash != std::string_view::npos && elements->empty()) ||
                elements->size() > MaxKeyDepth)
                return std::nullopt;
            key = &root.OpenOrCreate(*elements);
            continue;
        }
        if (key == nullptr) return std::nullopt;
        std::string name;
        std::size_t pos = 1;
        if (line[0] == '"') {
            pos = 0;
            auto quoted = ParseQuoted(line, pos);
            if (!quoted) return std::nullopt;
            name = std::move(*quoted);
        } else if (line[0] != '@') {
            return std::nullopt;
        }
        const std::string_view rest = Trim(line.substr(pos));
        if (rest.empty() || rest[0] != '=') return std::nullopt;
        auto value = ParseData(Trim(rest.substr(1)), reader);
        if (!value) return std::nullopt;
        key->SetValue(name, *value);
    }
    return root;
}

std::string FormatRegFile(const TRegKey& ARoot, std::string_view ARootName) {
    std::string out = std::string(Header) + "\n\n";
    std::string path(ARootName);
    FormatKey(ARoot, path, true, out);
    return out;
}

} // namespace cport
