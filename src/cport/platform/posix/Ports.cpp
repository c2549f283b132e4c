#include "Ports.h"
#include "Device.h"
#include "PortPublish.h"
#include "Text.h"
#include "platform/posix/store/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cport {

namespace {

constexpr const char* PortFileSuffix = ".port";
// The port list takes value names of up to 255 characters and data of up to 256 bytes (127
// UTF-16 characters and the terminator).
constexpr std::size_t MaxPortNameChars = 255;
constexpr std::size_t MaxPortPathChars = 127;

// File names stay portable whatever the value name holds.
std::string PortFileName(const std::string& AName) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : AName) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '_') {
            out += c;
        } else {
            out += '%';
            out += Digits[b >> 4];
            out += Digits[b & 0xF];
        }
    }
    return out + PortFileSuffix;
}

// The folder is shared by name in /tmp when there is no runtime folder: only one that is the
// user's own and closed to others is trusted, so nobody else can plant ports in the list.
bool IsPrivateFolder(const std::string& AFolder) {
    struct stat st {};
    return lstat(AFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 0077) == 0;
}

std::string ReadLink(const std::string& APath) {
    char buf[4096];
    const ssize_t n = readlink(APath.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string RealPath(const std::string& APath) {
    char real[PATH_MAX];
    return realpath(APath.c_str(), real) != nullptr ? std::string(real) : std::string();
}

// A sysfs attribute's text without the line end and padding around it.
std::string Attribute(const std::string& APath) {
    std::string text;
    if (ReadWholeFile(APath, text) != 0) return {};
    const std::size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// Whether the device (the real folder of the tty's "device" link) or one of its parents is
// bound to the generic 8250 platform driver; newer kernels put port devices in between.
bool IsGeneric8250(const std::string& ATtyFolder, const std::string& ADevices) {
    std::string folder = RealPath(ATtyFolder + "/device");
    while (!ADevices.empty() && folder.size() > ADevices.size() && folder.starts_with(ADevices)) {
        const std::string driver = ReadLink(folder + "/driver");
        if (!driver.empty() && driver.substr(driver.rfind('/') + 1) == "serial8250") return true;
        folder = ParentFolder(folder);
    }
    return false;
}

bool ReportsUart(const std::string& ADevice) {
    const int fd = open(ADevice.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool uart = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return uart;
}

bool ProcessRuns(long APid) {
    if (APid <= 0) return false;
    return kill(static_cast<pid_t>(APid), 0) == 0 || errno == EPERM;
}

bool ReadPortFile(const std::string& APath, TPortEntry& AEntry, long& APid) {
    std::string text;
    if (ReadWholeFile(APath, text) != 0) return false;
    bool hasName = false, hasPath = false;
    APid = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        const std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.starts_with("name=")) {
            AEntry.Name = line.substr(5);
            hasName = true;
        } else if (line.starts_with("path=")) {
            AEntry.Data = line.substr(5);
            hasPath = true;
        } else if (line.starts_with("pid=")) {
            APid = std::strtol(line.c_str() + 4, nullptr, 10);
        }
    }
    return hasName && hasPath;
}

bool ByName(const TPortEntry& A, const TPortEntry& B) {
    return A.Name < B.Name;
}

struct TUsbPort {
    std::string Description;
    std::string Identity;
};

// The USB adapter behind the tty ATtyName, found by walking up from its device to the USB
// device (the folder with idVendor), passing the interface (bInterfaceNumber) on the way.
TUsbPort UsbPortOf(const TSystemRoots& ARoots, const std::string& ATtyName) {
    TUsbPort port;
    const std::string devices = RealPath(ARoots.Sys + "/devices");
    std::string folder = RealPath(ARoots.Sys + "/class/tty/" + ATtyName + "/device");
    std::string interface;
    while (!devices.empty() && folder.size() > devices.size() && folder.starts_with(devices)) {
        if (interface.empty()) interface = Attribute(folder + "/bInterfaceNumber");
        const std::string vendor = Attribute(folder + "/idVendor");
        if (vendor.empty()) {
            folder = ParentFolder(folder);
            continue;
        }
        const std::string product = Attribute(folder + "/idProduct");
        const std::string serial = Attribute(folder + "/serial");
        std::string name = Attribute(folder + "/product");
        if (name.empty()) name = Attribute(folder + "/manufacturer");
        if (name.empty()) name = "USB device " + vendor + ":" + product;
        port.Description = serial.empty() ? name : name + " (" + serial + ")";
        // Without a serial number two adapters of a kind cannot be told apart.
        if (!serial.empty()) {
            port.Identity = vendor + ":" + product + ":" + serial;
            const std::string interfaces = Attribute(folder + "/bNumInterfaces");
            if (!interface.empty() && std::strtol(interfaces.c_str(), nullptr, 10) > 1)
                port.Identity += ":" + interface;
        }
        break;
    }
    return port;
}

// The name of the entry of AFolder that leads to ATarget, or empty.
std::string LinkTo(const std::string& AFolder, const std::string& ATarget) {
    std::string name;
    DIR* dir = opendir(AFolder.c_str());
    if (dir == nullptr) return name;
    while (const dirent* entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..") continue;
        if (RealPath(AFolder + "/" + candidate) == ATarget) {
            name = candidate;
            break;
        }
    }
    closedir(dir);
    return name;
}

} // namespace

TSystemRoots CurrentSystemRoots() {
    TSystemRoots roots;
    if (const char* sys = std::getenv(SysfsRootVariable); sys != nullptr && sys[0] != '\0') {
        roots.Sys = sys;
        roots.SysSet = true;
    }
    if (const char* dev = std::getenv(DevRootVariable); dev != nullptr && dev[0] != '\0')
        roots.Dev = dev;
    return roots;
}

void DescribePort(const std::string& APort, std::string& ADescription, std::string& AIdentity) {
    ADescription.clear();
    AIdentity.clear();
    const TSystemRoots roots = CurrentSystemRoots();
    std::string node = DeviceNodeFor(APort);
    if (node.starts_with("/dev/")) node = roots.Dev + node.substr(4);
    const std::string target = RealPath(node);
    if (target.empty()) return;
    std::string published;
    for (const TPortEntry& entry : ListPublishedPorts(CurrentStoreLocations().PortsFolder))
        if (RealPath(entry.Data) == target) published = entry.Name;
    const TUsbPort usb = UsbPortOf(roots, target.substr(target.rfind('/') + 1));
    const std::string byId = LinkTo(roots.Dev + "/serial/by-id", target);
    ADescription = !published.empty()         ? published
                   : !usb.Description.empty() ? usb.Description
                                              : byId;
    AIdentity = !byId.empty() ? byId : !usb.Identity.empty() ? usb.Identity : published;
}

std::vector<TPortEntry> ListSystemPorts() {
    std::vector<TPortEntry> ports;
    const TSystemRoots roots = CurrentSystemRoots();
    const std::string classFolder = roots.Sys + "/class/tty";
    const std::string devices = RealPath(roots.Sys + "/devices");
    DIR* dir = opendir(classFolder.c_str());
    if (dir == nullptr) return ports;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string folder = classFolder + "/" + name;
        struct stat st {};
        // Virtual terminals, the console and pseudo-terminals have no device behind them.
        if (lstat((folder + "/device").c_str(), &st) != 0) continue;
        if (IsGeneric8250(folder, devices) && !ReportsUart(roots.Dev + "/" + name)) continue;
        ports.push_back({"/dev/" + name, name});
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end(), ByName);
    return ports;
}

std::vector<TPortEntry> ListPublishedPorts(const std::string& AFolder) {
    std::vector<TPortEntry> ports;
    if (!IsPrivateFolder(AFolder)) return ports;
    DIR* dir = opendir(AFolder.c_str());
    if (dir == nullptr) return ports;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.ends_with(PortFileSuffix)) continue;
        TPortEntry port;
        long pid = 0;
        struct stat st {};
        if (ReadPortFile(AFolder + "/" + name, port, pid) && ProcessRuns(pid) &&
            stat(port.Data.c_str(), &st) == 0)
            ports.push_back(std::move(port));
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end(), ByName);
    return ports;
}

TOsError PublishPort(const std::string& AName, const std::string& APath) {
    if (AName.empty() || AName.find_first_of("\r\n") != std::string::npos || APath.empty() ||
        APath[0] != '/' || APath.find_first_of("\r\n") != std::string::npos)
        return EINVAL;
    // One entry over the port list's limits would make every listing fail.
    if (Utf16Length(AName) > MaxPortNameChars || Utf16Length(APath) > MaxPortPathChars)
        return ENAMETOOLONG;
    const std::string folder = CurrentStoreLocations().PortsFolder;
    TOsError error = MakeFolders(folder);
    if (error == 0 && !IsPrivateFolder(folder)) error = EACCES;
    if (error != 0) return error;
    return ReplaceFile(folder + "/" + PortFileName(AName), "name=" + AName + "\npath=" + APath +
                                                               "\npid=" + std::to_string(getpid()) +
                                                               "\n");
}

TOsError UnpublishPort(const std::string& AName) {
    const std::string file = CurrentStoreLocations().PortsFolder + "/" + PortFileName(AName);
    if (unlink(file.c_str()) != 0 && errno != ENOENT) return static_cast<TOsError>(errno);
    return 0;
}

} // namespace cport
