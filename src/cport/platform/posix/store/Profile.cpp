#include "Files.h"
#include "IniText.h"
#include "platform/posix/Platform.h"
#include "platform/posix/Text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace cport {

namespace {

std::string ResolveIniFile(const std::string& AFile) {
    if (AFile.find('/') != std::string::npos) return AFile;
    const std::string folder = CurrentStoreLocations().IniFolder;
    return folder.empty() ? std::string() : folder + "/" + AFile;
}

} // namespace

std::string TPosixComPlatform::GetPrivateProfileStringW(const std::string& ASection,
                                                        const std::string& AKey,
                                                        const std::string& ADefault,
                                                        std::size_t ASize,
                                                        const std::string& AFile) {
    if (ASize == 0) return {};
    std::string value = ADefault;
    // The profile functions drop trailing blanks of the default.
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    std::string raw;
    const std::string path = ResolveIniFile(AFile);
    if (!path.empty() && ReadWholeFile(path, raw) == 0) {
        bool utf16 = false;
        const std::string text = IniDecodeFile(raw, utf16);
        if (auto found = IniReadValue(IniStripUtf8Bom(text), ASection, AKey)) value = *found;
    }
    return std::string(TruncateUtf16(value, ASize - 1));
}

TOsError TPosixComPlatform::WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                                       const std::optional<std::string>& AKey,
                                                       const std::optional<std::string>& AValue,
                                                       const std::string& AFile) {
    if (!ASection) return AKey || AValue ? EINVAL : 0;
    if (!IsWritableIniSection(*ASection) || (AKey && !IsWritableIniKey(*AKey)) ||
        (AValue && !IsWritableIniValue(*AValue)))
        return EINVAL;
    std::string path = ResolveIniFile(AFile);
    if (path.empty()) return ENOENT;
    if (AFile.find('/') == std::string::npos) {
        const TOsError error = MakeFolders(ParentFolder(path));
        if (error != 0) return error;
    }
    struct stat st {};
    const bool exists = lstat(path.c_str(), &st) == 0;
    if (!exists && (!AKey || !AValue)) return 0; // nothing to remove
    // Replacing a link would cut it off from its target; the target is what gets replaced.
    if (exists && S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (realpath(path.c_str(), real) == nullptr) return static_cast<TOsError>(errno);
        path = real;
    }
    TFileLock lock;
    TOsError error = lock.LockInPlace(path);
    if (error != 0) return error;
    // Replacing the file by a rename needs only the folder's permission; the file's own says
    // whether it may be changed.
    error = CheckWritable(path);
    if (error != 0) return error;
    RemoveStaleTemporaries(path);
    std::string raw;
    error = ReadWholeFile(path, raw);
    if (error != 0) return error;
    bool utf16 = false;
    const std::string text = IniDecodeFile(raw, utf16);
    const std::string_view body = IniStripUtf8Bom(text);
    const std::string bom(text.substr(0, text.size() - body.size()));
    const std::string changed = bom + IniWriteValue(body, *ASection, AKey, AValue);
    if (changed == text && exists) return 0;
    return ReplaceFile(path, IniEncodeFile(changed, utf16));
}

} // namespace cport
