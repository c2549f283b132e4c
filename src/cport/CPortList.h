// The system's serial ports: their names, and what the system tells of each.
#pragma once

#include <string>
#include <vector>

namespace cport {

// Replaces AList's content with the data of the values of the local machine's registry key
// HARDWARE\DEVICEMAP\SERIALCOMM (the system's serial ports), sorted without regard to letter
// case in the collating order of the user's locale; equal names are kept. Raises EComPort code
// cpeRegistry with the platform's error code and "registry read" when the key cannot be opened
// or a value cannot be read (a name over 255 characters or data over 256 bytes included); the
// list then stays as it was.
void ListComPorts(std::vector<std::string>& AList);

// A port of the port list as people know it.
struct TComPortInfo {
    // As ListComPorts gives it, which a port's Port takes.
    std::string Name;
    // For people, beside the name: the simulated device's published name, a USB adapter's
    // product and serial number, or its /dev/serial/by-id link; on Windows the device name
    // the registry gives. May be empty.
    std::string Description;
    // Stays the same when the device comes back under another name: its /dev/serial/by-id
    // link, else its USB vendor:product:serial, else the simulated device's published name;
    // on Windows the port's name. Empty when the device has none.
    std::string Identity;

    bool operator==(const TComPortInfo&) const = default;
};

// The ports of ListComPorts, in the same order and with the same names, with what the system
// tells of each. Raises as ListComPorts does.
std::vector<TComPortInfo> ListComPortInfo();
// The identity of the port APortName (a listed name or any name Port takes, such as a path),
// or empty when it has none or is not there. Never raises: a port list that cannot be read
// lists nothing.
std::string ComPortIdentity(const std::string& APortName);
// The current name of the listed port whose identity is AIdentity, or empty when none is
// there (or AIdentity is empty). Never raises, as ComPortIdentity.
std::string FindComPortByIdentity(const std::string& AIdentity);

} // namespace cport
