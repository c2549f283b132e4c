#include "TestWatcher.h"

namespace cport::test {

// The Windows tests keep the event thread: they are about the Windows calls.
bool InstallTestWatcher() {
    return false;
}

bool ServeWatches(std::chrono::milliseconds /*ATimeout*/) {
    return false;
}

void WakeWatches() {}

} // namespace cport::test
