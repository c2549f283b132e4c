// Publishing a serial device so that it appears in the port list of every program of the same
// user (POSIX only). The simulated device publishes its pseudo-terminal this way.
//
// Each published port is one small file in a folder of the user's runtime folder
// ($XDG_RUNTIME_DIR/cport/ports, else /tmp/cport-<uid>/ports; inside the folder named by
// CPORT_REGISTRY_DIR when that is set). An entry stops being listed once its device is gone
// or the process that published it has ended, so a crashed publisher leaves nothing visible.
#pragma once

#include "OsTypes.h"

#include <string>

namespace cport {

// Lists APath (the device's absolute path) under the value name AName, replacing an earlier
// entry of that name. 0, or the errno value of the failure: EINVAL for an empty or multi-line
// name or a path that is not absolute, ENAMETOOLONG for a name over 255 or a path over 127
// characters (what the port list can take).
TOsError PublishPort(const std::string& AName, const std::string& APath);
// Removes the entry of AName; 0 also when there was none.
TOsError UnpublishPort(const std::string& AName);

} // namespace cport
