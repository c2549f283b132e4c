// The device, event and wait half of the POSIX platform layer: the handle table behind
// TPosixComPlatform's serial, event and thread operations (Device.h has the devices,
// Events.h the events and waits).
//
// Error codes. Success is 0. A failure carries the errno value of the failing call, or one
// chosen to say what Windows would report:
//   EINVAL  an invalid argument: a missing record on an overlapped device, an invalid control
//           block (or a rate the device did not take) or timeouts, an unknown purge flag or
//           escape function, a queue size of 0 or above 64 MiB, a second event wait or one
//           with an empty mask, a wait for 0 or more than 64 objects, a thread priority
//           outside -15..15
//   EBUSY   a device that is open already; a priority byte while the last one is still queued
//   ENOENT  a device that does not exist; ENOTTY: a node that is no terminal
//   EACCES  no permission to open the device, or to raise a thread's priority
//   EIO     a device that is gone (hung up): every later operation that transfers, waits or
//           configures fails so. Those that only report or discard succeed: ClearCommError
//           (the errors before the hang-up, nothing queued or held), GetCommModemStatus (all
//           lines off), PurgeComm (nothing left to purge), and CloseHandle and
//           GetOverlappedResult. So a hang-up fails the first transfer that meets it, and a
//           program that reports that failure does not also report the status queries of its
//           event handlers, or the purge of its close, for the same hang-up.
// A handle that is not open, or that names an event where a device is expected (or the other
// way round), fails with InvalidHandle (6), as on Windows. The conditions the component tests
// for itself have their Windows values too: IoPending (997) for an overlapped operation that
// runs on, IoIncomplete (996) for its outcome asked too early, OperationAborted (995) for an
// operation ended by a purge or by closing the device, and Wait::Timeout (258) as the result of
// a wait.
#pragma once

#include "platform/ComPlatform.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

namespace cport {

class TDevice;
class TEvent;

class TPosixDriver {
public:
    TPosixDriver() = default;
    // Closes every device and event still open.
    ~TPosixDriver();
    TPosixDriver(const TPosixDriver&) = delete;
    TPosixDriver& operator=(const TPosixDriver&) = delete;

    THandle Add(std::shared_ptr<TDevice> ADevice);
    THandle Add(std::shared_ptr<TEvent> AEvent);
    TOsError FindDevice(THandle AHandle, std::shared_ptr<TDevice>& ADevice);
    TOsError FindEvent(THandle AHandle, std::shared_ptr<TEvent>& AEvent);
    // Removes the handle; a device is closed, an event lives on while operations or waits
    // still hold it.
    TOsError Close(THandle AHandle);

private:
    using TObject = std::variant<std::shared_ptr<TDevice>, std::shared_ptr<TEvent>>;
    THandle AddObject(TObject AObject);

    std::mutex FLock;
    std::unordered_map<THandle, TObject> FHandles;
    // Handles count up and are never reused while the driver lives, as an aid against a
    // handle used after it was closed; small values stay free, like on Windows.
    THandle FNext = 0x100;
};

} // namespace cport
