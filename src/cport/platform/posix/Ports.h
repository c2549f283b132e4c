// The sources of the local machine's serial port key on POSIX.
#pragma once

#include <string>
#include <vector>

namespace cport {

// Tests point the system's device tree (/sys) and device folder (/dev) at fake ones; read at
// every call. A set CPORT_SYSFS_ROOT also lists its devices while CPORT_REGISTRY_DIR is set.
inline constexpr const char* SysfsRootVariable = "CPORT_SYSFS_ROOT";
inline constexpr const char* DevRootVariable = "CPORT_DEV_ROOT";

struct TSystemRoots {
    std::string Sys = "/sys";
    std::string Dev = "/dev";
    bool SysSet = false; // the variable for Sys is set
};
TSystemRoots CurrentSystemRoots();

struct TPortEntry {
    std::string Name; // the value name
    std::string Data; // the device: a name below /dev, or an absolute path
};

// The serial devices of the system: entries of /sys/class/tty backed by a device, by name.
// Ports of the generic 8250 platform driver exist whether or not a UART is there; only those
// that report a UART type are kept. Names are the device paths, data the names below /dev.
std::vector<TPortEntry> ListSystemPorts();

// The published ports in AFolder whose device exists and whose publisher still runs, by name.
std::vector<TPortEntry> ListPublishedPorts(const std::string& AFolder);

// What the system tells of the port APort (as a port's Port names it): Description is the
// published name of a published port, else a USB adapter's product and serial number, else
// its /dev/serial/by-id link's name; Identity is that link's name, else the USB
// vendor:product:serial (with the interface number on adapters with several), else the
// published name. Both empty when the device is not there.
void DescribePort(const std::string& APort, std::string& ADescription, std::string& AIdentity);

} // namespace cport
