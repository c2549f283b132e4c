#include "PosixPlatform.h"

#include <cerrno>

namespace cport {

// Placeholder until the POSIX registry and profile store lands: every operation fails with ENOSYS.
TOsError TPosixComPlatform::RegCreateKeyExW(THKey AKey, const std::string& ASubKey,
                                            THKey& AResult) {
    (void)AKey;
    (void)ASubKey;
    (void)AResult;
    return ENOSYS;
}

TOsError TPosixComPlatform::RegOpenKeyExW(THKey AKey, const std::string& ASubKey, THKey& AResult) {
    (void)AKey;
    (void)ASubKey;
    (void)AResult;
    return ENOSYS;
}

TOsError TPosixComPlatform::RegCloseKey(THKey AKey) {
    (void)AKey;
    return ENOSYS;
}

TOsError TPosixComPlatform::RegSetValueExW(THKey AKey, const std::string& AName,
                                           const TRegValue& AValue) {
    (void)AKey;
    (void)AName;
    (void)AValue;
    return ENOSYS;
}

TOsError TPosixComPlatform::RegQueryValueExW(THKey AKey, const std::string& AName,
                                             TRegValue& AValue) {
    (void)AKey;
    (void)AName;
    (void)AValue;
    return ENOSYS;
}

TOsError TPosixComPlatform::RegEnumValueW(THKey AKey, std::uint32_t AIndex,
                                          std::size_t AMaxNameChars, std::size_t AMaxDataBytes,
                                          std::string& AName, TRegValue& AValue) {
    (void)AKey;
    (void)AIndex;
    (void)AMaxNameChars;
    (void)AMaxDataBytes;
    (void)AName;
    (void)AValue;
    return ENOSYS;
}

std::string TPosixComPlatform::GetPrivateProfileStringW(const std::string& ASection,
                                                        const std::string& AKey,
                                                        const std::string& ADefault,
                                                        std::size_t ASize,
                                                        const std::string& AFile) {
    (void)ASection;
    (void)AKey;
    (void)ADefault;
    (void)ASize;
    (void)AFile;
    return {};
}

TOsError TPosixComPlatform::WritePrivateProfileStringW(const std::optional<std::string>& ASection,
                                                       const std::optional<std::string>& AKey,
                                                       const std::optional<std::string>& AValue,
                                                       const std::string& AFile) {
    (void)ASection;
    (void)AKey;
    (void)AValue;
    (void)AFile;
    return ENOSYS;
}

int TPosixComPlatform::CompareStringW(const std::string& A, const std::string& B,
                                      bool AIgnoreCase) {
    (void)A;
    (void)B;
    (void)AIgnoreCase;
    return 0;
}

} // namespace cport
