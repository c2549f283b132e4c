#include "IniText.h"

#include "platform/posix/Text.h"

#include <deque>
#include <vector>

namespace cport {

namespace {

std::string_view Trim(std::string_view AText) {
    const auto first = AText.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = AText.find_last_not_of(" \t");
    return AText.substr(first, last - first + 1);
}

// One line of the file; Text excludes the line end, End is "\n", "\r\n" or empty (last line).
struct TIniLine {
    std::string_view Text;
    std::string_view End;
};

std::vector<TIniLine> SplitLines(std::string_view AText) {
    std::vector<TIniLine> lines;
    std::size_t pos = 0;
    while (pos < AText.size()) {
        const auto nl = AText.find('\n', pos);
        if (nl == std::string_view::npos) {
            // A CR that ends the file ends its last line, as it does once a line follows it.
            const std::string_view last = AText.substr(pos);
            if (last.ends_with('\r'))
                lines.push_back({last.substr(0, last.size() - 1), last.substr(last.size() - 1)});
            else
                lines.push_back({last, {}});
            break;
        }
        std::size_t textEnd = nl;
        if (textEnd > pos && AText[textEnd - 1] == '\r') --textEnd;
        lines.push_back(
            {AText.substr(pos, textEnd - pos), AText.substr(textEnd, nl + 1 - textEnd)});
        pos = nl + 1;
    }
    return lines;
}

std::optional<std::string_view> SectionName(std::string_view ALine) {
    ALine = Trim(ALine);
    if (ALine.empty() || ALine[0] != '[') return std::nullopt;
    const auto close = ALine.find(']');
    return Trim(
        ALine.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// The name of a value line; empty for comments, blank lines and lines without "=".
std::optional<std::string_view> KeyName(std::string_view ALine) {
    const std::string_view line = Trim(ALine);
    if (line.empty() || line[0] == ';') return std::nullopt;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(0, eq));
}

std::string_view ValueOf(std::string_view ALine) {
    std::string_view value = Trim(ALine.substr(ALine.find('=') + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return value;
}

// Lines [Header, End) of the first section named ASection; Header == npos when there is none.
struct TSectionRange {
    std::size_t Header = std::string_view::npos;
    std::size_t End = 0;
};

TSectionRange FindSection(const std::vector<TIniLine>& ALines, std::string_view ASection) {
    TSectionRange range;
    for (std::size_t i = 0; i < ALines.size(); ++i) {
        const auto name = SectionName(ALines[i].Text);
        if (!name) continue;
        if (range.Header != std::string_view::npos) {
            range.End = i;
            return range;
        }
        if (EqualNoCase(*name, Trim(ASection))) range.Header = i;
    }
    range.End = ALines.size();
    return range;
}

std::size_t FindKey(const std::vector<TIniLine>& ALines, const TSectionRange& ARange,
                    std::string_view AKey) {
    for (std::size_t i = ARange.Header + 1; i < ARange.End; ++i) {
        const auto name = KeyName(ALines[i].Text);
        if (name && EqualNoCase(*name, Trim(AKey))) return i;
    }
    return std::string_view::npos;
}

// Gives the file's last line a line end before a line is added after it; a CR that ended the
// file keeps its place in front of the LF.
void EndLine(TIniLine& ALine, std::string_view ANewline) {
    if (ALine.End.empty())
        ALine.End = ANewline;
    else if (ALine.End == "\r")
        ALine.End = "\r\n";
}

bool HasLineBreak(std::string_view AText) {
    return AText.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

std::optional<std::string> IniReadValue(std::string_view AText, std::string_view ASection,
                                        std::string_view AKey) {
    const std::vector<TIniLine> lines = SplitLines(AText);
    const TSectionRange range = FindSection(lines, ASection);
    if (range.Header == std::string_view::npos) return std::nullopt;
    const std::size_t key = FindKey(lines, range, AKey);
    if (key == std::string_view::npos) return std::nullopt;
    return std::string(ValueOf(lines[key].Text));
}

std::string IniWriteValue(std::string_view AText, std::string_view ASection,
                          const std::optional<std::string>& AKey,
                          const std::optional<std::string>& AValue) {
    std::vector<TIniLine> lines = SplitLines(AText);
    // New lines follow the file's own line ends.
    const std::string_view newline = AText.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    const TSectionRange range = FindSection(lines, ASection);
    std::deque<std::string> owned; // keeps the lines built here in place

    if (!AKey || !AValue) {
        if (range.Header == std::string_view::npos) return std::string(AText);
        if (!AKey) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range.Header),
                        lines.begin() + static_cast<std::ptrdiff_t>(range.End));
        } else {
            const std::size_t key = FindKey(lines, range, *AKey);
            if (key == std::string_view::npos) return std::string(AText);
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(key));
        }
    } else if (range.Header == std::string_view::npos) {
        if (!lines.empty()) EndLine(lines.back(), newline);
        if (!lines.empty() && !Trim(lines.back().Text).empty()) lines.push_back({{}, newline});
        // Names are written without their surrounding blanks, as a replaced line keeps its
        // name, so that writing the same value again changes nothing.
        owned.push_back("[" + std::string(Trim(ASection)) + "]");
        lines.push_back({owned.back(), newline});
        owned.push_back(std::string(Trim(*AKey)) + "=" + *AValue);
        lines.push_back({owned.back(), newline});
    } else {
        const std::size_t key = FindKey(lines, range, *AKey);
        if (key != std::string_view::npos) {
            owned.push_back(std::string(*KeyName(lines[key].Text)) + "=" + *AValue);
            lines[key].Text = owned.back();
        } else {
            // After the section's last line with a value, so blank lines and comments that lead
            // to the next section stay in front of it.
            std::size_t at = range.End;
            while (at > range.Header + 1 && !KeyName(lines[at - 1].Text))
                --at;
            EndLine(lines[at - 1], newline);
            owned.push_back(std::string(Trim(*AKey)) + "=" + *AValue);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), {owned.back(), newline});
        }
    }
    std::string out;
    out.reserve(AText.size() + 64);
    for (const TIniLine& line : lines) {
        out += line.Text;
        out += line.End;
    }
    return out;
}

std::string IniDecodeFile(const std::string& ARaw, bool& AUtf16) {
    AUtf16 = ARaw.starts_with("\xFF\xFE");
    return AUtf16 ? Utf16LeToUtf8(std::string_view(ARaw).substr(2)) : ARaw;
}

std::string_view IniStripUtf8Bom(std::string_view AText) {
    return AText.starts_with("\xEF\xBB\xBF") ? AText.substr(3) : AText;
}

std::string IniEncodeFile(const std::string& AText, bool AUtf16) {
    return AUtf16 ? "\xFF\xFE" + Utf8ToUtf16Le(AText) : AText;
}

bool IsWritableIniSection(std::string_view ASection) {
    return !HasLineBreak(ASection) && ASection.find(']') == std::string_view::npos &&
           !Trim(ASection).empty();
}

bool IsWritableIniKey(std::string_view AKey) {
    return !HasLineBreak(AKey) && AKey.find('=') == std::string_view::npos && !Trim(AKey).empty() &&
           Trim(AKey)[0] != ';' && Trim(AKey)[0] != '[';
}

bool IsWritableIniValue(std::string_view AValue) {
    return !HasLineBreak(AValue);
}

} // namespace cport
