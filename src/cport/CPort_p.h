// The port's private parts, for the component's own files and its tests: the event thread, the
// event mask conversions, the event window's message and the registry key of the stored
// settings. Not installed: a program that uses the component never needs them.
#pragma once

#include "CPort.h"
#include "CPortStorage.h"
#include "MainThread.h"
#include "platform/ComPlatform.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace cport {

// The setting rule of every setter: compare, store, and apply to the bound port (if any). A value
// equal to the stored one changes nothing and does not touch the device.
template <typename T>
void ChangeSetting(T& AField, T AValue, TCustomComPort* APort, void (TCustomComPort::*AApply)()) {
    if (AField == AValue) return;
    AField = AValue;
    if (APort != nullptr) (APort->*AApply)();
}

// The operating system's event mask for a set of events, and back; bits without a member are
// dropped.
std::uint32_t EventsToMask(TComEvents AEvents);
TComEvents MaskToEvents(std::uint32_t AMask);

// The message that carries one event code to the port's hidden event window.
inline constexpr std::uint32_t WM_PORTEVENT = 0x0400 + 1;

// The event source of an open port: asks the device for the port's events, waits for them and
// hands each set that arrives to the port's owner by the port's SyncMethod. Where the owner is
// the GUI thread (thread and window sync, opened there) and a wait watcher is installed, the
// GUI thread's event loop watches the wait and delivers each set itself, one thread hop from
// the device to the handler; otherwise a thread of its own waits and hands over.
class TComThread : public TThread {
public:
    // Creates the source for an open port, sets the device's event mask and starts the thread
    // or the watch. Raises EComPort code 1 with the system's error code when its events or
    // the thread cannot be created; nothing is left behind then.
    explicit TComThread(TCustomComPort* AComPort);
    // Stops the thread and waits for its end, or stops the watch; on the GUI thread a
    // hand-over in flight is served meanwhile, and one that this call runs inside of is let go
    // (TThread::WaitFor).
    ~TComThread() override;

    // Whether the GUI thread's event loop completes the waits (no thread runs).
    bool Watched() const { return FWatch != nullptr; }
    // Ends this source's deliveries that run further up the calling thread's stack (a handler
    // that closes or frees the port): each returns once its handler has, without touching the
    // port or this object again.
    void EndDeliveries();
    // On the thread itself, from a handler that closes the port: does the thread's end steps
    // on the still open handle and lets the thread end without touching the port again once
    // the handler has returned. Waiting for it (or FreeOnTerminate) remains to be done.
    void Leave();
    // From a transfer of the port that met the gone device: the source ends its wait and
    // closes the port as gone, for devices whose event wait goes on as if nothing happened.
    void NoteDeviceGone(TOsError AError);

protected:
    void Execute() override;

private:
    void SignalStop();
    void CloseEvents();
    // The thread's and the watch's last steps on the device: no wait left, queues emptied.
    void EndSteps(TOverlapped& AOverlapped);
    // False when a handler closed the port: the port and this object may be gone.
    bool DeliverEvents();
    bool SendEventCodes();
    bool RunEvents();
    // After the end steps: has the GUI thread close the port as gone; the thread touches
    // nothing afterwards, since that close frees it.
    void HandOverGone(TOsError AError);
    // The watched way, on the GUI thread: the watch fired (or is due at once).
    void Serve();
    void WatchAtOnce();
    void CloseGone(TOsError AError);

    TCustomComPort* FComPort;
    THandle FStopEvent = 0;
    THandle FWaitEvent = 0; // the event of the device's wait
    TComEvents FEvents;
    bool FLeft = false; // the thread's own
    std::atomic<TOsError> FGoneNoted{0};
    // The watched way's wait; the thread keeps its own on its stack.
    std::unique_ptr<TWaitWatch> FWatch;
    std::unique_ptr<TEventWait> FWait; // goes before FWatch, which its wake-ups poke
    TWatchSet FWatchSet;
    TOverlapped FOverlapped;
    std::uint32_t FMask = 0;
};

// Chooses the registry root from the first element of APath ("HKEY_LOCAL_MACHINE" or
// "HKEY_CURRENT_USER", letter case ignored; anything else keeps the accessor's root) and opens
// the rest of the path, a backslash and AName below it, creating missing keys. A path without
// a backslash opens nothing. A path with nothing after its first backslash (such as
// "HKEY_CURRENT_USER\") opens AName directly below the root. Whether the key could be opened
// is not reported: without one, the accessor's value operations behave as documented above.
void OpenSettingsKey(TRegistryAccess& AAccess, const std::string& APath, const std::string& AName);

} // namespace cport
