// A wait watcher for the test's thread, which plays the GUI thread: ServeUntil carries out the
// watches with poll, as a GUI program's event loop does, so that ports opened on that thread
// deliver their events without an event thread. Installed for a whole run when the environment
// variable CPORT_TEST_WATCHER is set: suites run once each way.
#pragma once

#include <chrono>

namespace cport::test {

// Installs the watcher; false where the platform has nothing to watch with (Windows).
bool InstallTestWatcher();
// Waits up to ATimeout for a watch to fire or a call to be queued, and fires the watches that
// are due. False, at once, when no watch is waiting: the caller waits its own way.
bool ServeWatches(std::chrono::milliseconds ATimeout);
// From any thread: a call was queued, ServeWatches returns.
void WakeWatches();

} // namespace cport::test
