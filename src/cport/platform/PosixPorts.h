// The sources of the local machine's serial port key on POSIX.
#pragma once

#include <string>
#include <vector>

namespace cport {

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

} // namespace cport
