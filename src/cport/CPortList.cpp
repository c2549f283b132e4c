#include "CPort.h"

#include <algorithm>

namespace cport {

namespace {
constexpr const char* SerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* RegistryRead = "registry read";
// A port name of up to 127 characters and its terminator, stored as UTF-16.
constexpr std::size_t MaxNameChars = 255;
constexpr std::size_t MaxDataBytes = 256;
} // namespace

void ListComPorts(std::vector<std::string>& AList) {
    TComPlatform& platform = TComPlatform::Current();
    THKey key = 0;
    const TOsError openError = platform.RegOpenKeyExW(HKey::LocalMachine, SerialCommKey, key);
    if (openError != 0)
        throw EComPort(cpeRegistry, static_cast<std::int32_t>(openError), RegistryRead);

    struct TKeyCloser {
        TComPlatform& Platform;
        THKey Key;
        // Nothing useful can be done about a key that does not close.
        ~TKeyCloser() { Platform.RegCloseKey(Key); }
    } closer{platform, key};

    std::vector<std::string> names;
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        TRegValue value;
        const TOsError error =
            platform.RegEnumValueW(key, index, MaxNameChars, MaxDataBytes, name, value);
        if (error == WinError::NoMoreItems) break;
        if (error != 0) throw EComPort(cpeRegistry, static_cast<std::int32_t>(error), RegistryRead);
        names.push_back(value.Data.substr(0, value.Data.find('\0')));
    }
    // A merge sort never reads outside the range, even if a locale's order were inconsistent.
    std::stable_sort(names.begin(), names.end(), [&](const std::string& A, const std::string& B) {
        return platform.CompareStringW(A, B, true) == CompareResult::LessThan;
    });
    AList = std::move(names);
}

} // namespace cport
