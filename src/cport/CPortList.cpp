#include "CPortList.h"

#include "CPortErrors.h"
#include "platform/ComPlatform.h"

#include <algorithm>

namespace cport {

namespace {
constexpr const char* SerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* RegistryRead = "registry read";
// A port name of up to 127 characters and its terminator, stored as UTF-16.
constexpr std::size_t MaxNameChars = 255;
constexpr std::size_t MaxDataBytes = 256;

struct TListedPort {
    std::string ValueName;
    std::string Name;
};

// The values of the port list, sorted by port name; raises code 23 as ListComPorts documents.
std::vector<TListedPort> ReadPortList() {
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

    std::vector<TListedPort> ports;
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        TRegValue value;
        const TOsError error =
            platform.RegEnumValueW(key, index, MaxNameChars, MaxDataBytes, name, value);
        if (error == WinError::NoMoreItems) break;
        if (error != 0) throw EComPort(cpeRegistry, static_cast<std::int32_t>(error), RegistryRead);
        ports.push_back({std::move(name), value.Data.substr(0, value.Data.find('\0'))});
    }
    // A merge sort never reads outside the range, even if a locale's order were inconsistent.
    std::stable_sort(ports.begin(), ports.end(), [&](const TListedPort& A, const TListedPort& B) {
        return platform.CompareStringW(A.Name, B.Name, true) == CompareResult::LessThan;
    });
    return ports;
}

} // namespace

void ListComPorts(std::vector<std::string>& AList) {
    std::vector<std::string> names;
    for (TListedPort& port : ReadPortList())
        names.push_back(std::move(port.Name));
    AList = std::move(names);
}

std::vector<TComPortInfo> ListComPortInfo() {
    TComPlatform& platform = TComPlatform::Current();
    std::vector<TComPortInfo> infos;
    for (TListedPort& port : ReadPortList()) {
        TComPortInfo info;
        platform.DescribeComPort(port.ValueName, port.Name, info.Description, info.Identity);
        info.Name = std::move(port.Name);
        infos.push_back(std::move(info));
    }
    return infos;
}

std::string ComPortIdentity(const std::string& APortName) {
    if (APortName.empty()) return {};
    TComPlatform& platform = TComPlatform::Current();
    std::string description;
    std::string identity;
    if (platform.DescribeComPort({}, APortName, description, identity)) return identity;
    try {
        for (const TListedPort& port : ReadPortList())
            if (platform.CompareStringW(port.Name, APortName, true) == CompareResult::Equal &&
                platform.DescribeComPort(port.ValueName, port.Name, description, identity))
                return identity;
    } catch (const EComPort&) {
        // A port list that cannot be read lists no port.
    }
    return {};
}

std::string FindComPortByIdentity(const std::string& AIdentity) {
    if (AIdentity.empty()) return {};
    try {
        for (const TComPortInfo& info : ListComPortInfo())
            if (info.Identity == AIdentity) return info.Name;
    } catch (const EComPort&) {
        // A port list that cannot be read lists no port.
    }
    return {};
}

} // namespace cport
