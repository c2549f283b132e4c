// Keeping other programs off a serial device beyond flock and TIOCEXCL, which a program that
// opens the device plainly (socat, a shell redirection) never meets: the processes that have
// the device open, as /proc shows them, and the UUCP lock files that serial programs on Linux
// honour.
#pragma once

#include "platform/ComPlatform.h"

#include <string>

#include <sys/types.h>

namespace cport {

// Tests point the lock files elsewhere with this variable; read at every open.
inline constexpr const char* LockFolderVariable = "CPORT_LOCK_DIR";

// A process that holds a device.
struct TDeviceHolder {
    long Pid = 0;
    std::string Name; // its command name (/proc/PID/comm); empty when unknown
};

// "in use by NAME (PID N)", or "in use by another program" when nobody is known.
std::string InUseReason(const TDeviceHolder& AHolder);

// "Permission denied: add yourself to the <group> group" when the node ANode lets its group
// read and write it and the user is neither its owner nor in that group; else empty.
std::string PermissionReason(const std::string& ANode);

// Whether ADevice is the serial side of a pseudo-terminal.
bool IsPtySlave(dev_t ADevice);

// Finds a process, among those whose open files this one may read, that has the character
// device ADevice open. This process counts only with AIncludeSelf, and then not through
// AOwnFd. A process that also holds the master of the same pseudo-terminal is the device's
// other side (the simulated device keeps a descriptor on its serial side, so that the terminal
// outlives a program's close) and does not count. False when none is found.
bool FindDeviceHolder(dev_t ADevice, int AOwnFd, bool AIncludeSelf, TDeviceHolder& AHolder);

// The UUCP lock file of a device: LCK..<name> in CPORT_LOCK_DIR, else /run/lock, else
// /var/lock, holding the owner's PID as ten characters, right-aligned, and a newline.
class TUucpLock {
public:
    TUucpLock() = default;
    TUucpLock(const TUucpLock&) = delete;
    TUucpLock& operator=(const TUucpLock&) = delete;
    // Removes the lock if this object took it.
    ~TUucpLock();

    // Takes the lock of the device node ANode (named after the node's real name). A lock of a
    // live process other than this one is EBUSY, with that process in AHolder. A lock of a
    // process that is gone, or a file that holds no PID, is stale and taken over; a lock of
    // this process is ours. A folder that cannot be written is no error: the device is then
    // opened without a lock file, as other programs do.
    TOsError Acquire(const std::string& ANode, TDeviceHolder& AHolder);
    // Removes the lock file if it is still ours.
    void Release();

private:
    std::string FPath; // the lock file taken, empty when none
};

} // namespace cport
