// One open serial device of the POSIX platform layer: the user-space part of a serial driver
// that gives the device the behaviour of a Windows serial port.
//
// There is no driver thread. An operation first pumps the device under its lock (unless
// what it needs is there already): reads what fits into the input queue, decodes it, writes
// pending output, expires deadlines, completes operations and sets their events. Threads waiting
// for the completion event of a pending operation poll the device too (see Events.h), so a
// pending operation makes progress exactly when someone waits for it or calls into the device, and
// an idle device wakes nobody. The one thread of its own is the modem line watcher, started only
// for a device with modem lines whose event mask asks for line changes.
//
// Its code is split by concern: DeviceOpen.cpp (opening and closing), DevicePump.cpp (the input
// queue and the pump that moves bytes and completes operations), DeviceWaits.cpp (the
// operations that may wait, and the threads that wait for them), DeviceLine.cpp (line
// settings, status, line control and the modem line watcher).
#pragma once

#include "Events.h"
#include "Exclusive.h"
#include "InputDecoder.h"
#include "Lock.h"
#include "Timeouts.h"
#include "platform/ComPlatform.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cport {

class TInterruptibleThread;

// The device node of a Windows device path: "\\.\" is dropped, an absolute path is used as
// it is, "COMn" (any case) is /dev/ttyS(n-1), any other name is /dev/ followed by the name.
std::string DeviceNodeFor(const std::string& APath);

// The input queue: a ring of bytes with a size limit (SetupComm's input size).
class TByteQueue {
public:
    std::size_t Count() const { return FCount; }
    std::size_t Room() const { return FCount < FLimit ? FLimit - FCount : 0; }
    // Free space right after the queued bytes, at most Room() bytes.
    std::uint8_t* FreeSpace(std::size_t& ALength);
    void Commit(std::size_t ACount) { FCount += ACount; }
    std::size_t Take(std::uint8_t* ADest, std::size_t AMax);
    void Clear();
    // A new limit; queued bytes are kept, also beyond a smaller limit.
    void Resize(std::size_t ALimit);

private:
    std::vector<std::uint8_t> FBuffer;
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    std::size_t FLimit = 0;
};

class TDevice final : public TPollSource, public std::enable_shared_from_this<TDevice> {
public:
    // Opens the node of APath exclusively for reading and writing: EBUSY when it is open
    // already (in this process too, or plainly by another program), or another program holds
    // its UUCP lock; ENOTTY when it is not a terminal, else the errno of the failing call. A
    // failure leaves its reason (SetErrorReason): the holder of a busy device, the group that
    // may open it, or the system's text.
    static TOsError Open(const std::string& APath, bool AOverlapped,
                         std::shared_ptr<TDevice>& ADevice);
    ~TDevice() override;

    // The operations below have the meaning of the Windows call of the same purpose (see
    // TComPlatform); Platform.h lists their error codes. On a gone device all fail with
    // EIO but Outcome and Close.

    // Sizes the input queue (1 byte to 64 MiB); the output size is only checked, since
    // writes go straight from the caller's buffer.
    TOsError SetupComm(std::uint32_t AInQueue, std::uint32_t AOutQueue);
    // The control block as last set (at first, what the device was set to).
    TOsError GetState(TDCB& ADcb);
    TOsError SetState(const TDCB& ADcb);
    TOsError GetTimeouts(TCommTimeouts& ATimeouts);
    TOsError SetTimeouts(const TCommTimeouts& ATimeouts);
    TOsError GetMask(std::uint32_t& AMask);
    // Also clears the event history and ends a pending event wait with an empty mask.
    TOsError SetMask(std::uint32_t AMask);
    // AEvent is the record's event (null for none); it is reset when the operation starts and
    // set when it completes, also at once, but not when the start fails. The operations that
    // take a record return IoPending while they run on an overlapped device, and block on the
    // other kind.
    TOsError WaitEvent(std::uint32_t* AEvtMask, TOverlapped* AOverlapped,
                       const std::shared_ptr<TEvent>& AEvent);
    TOsError Read(void* ABuffer, std::uint32_t ACount, std::uint32_t* ATransferred,
                  TOverlapped* AOverlapped, const std::shared_ptr<TEvent>& AEvent);
    TOsError Write(const void* ABuffer, std::uint32_t ACount, std::uint32_t* ATransferred,
                   TOverlapped* AOverlapped, const std::shared_ptr<TEvent>& AEvent);
    // The outcome of the operation of AOverlapped. APending tells that it still runs.
    // A finished operation's is read without the lock.
    TOsError Outcome(TOverlapped* AOverlapped, std::uint32_t& ATransferred, bool& APending);
    // Waits until the operation of AOverlapped has completed (for records without event).
    TOsError AwaitRecord(TOverlapped* AOverlapped);
    // The errors since the last call (then cleared) and, with AStat, hold flags and counts.
    TOsError ClearError(std::uint32_t& AErrors, TComStat* AStat);
    TOsError Purge(std::uint32_t AFlags);
    TOsError Escape(std::uint32_t AFunction);
    // TIOCMGET as modem status bits; 0 on a device without modem lines.
    TOsError ModemStatus(std::uint32_t& AStatus);
    // Sends AChar ahead of pending writes; EBUSY while the last one waits.
    TOsError TransmitChar(char AChar);
    // Ends the pending operations, or the one of AOverlapped, with OperationAborted, waits and
    // blocked calls included; NotFound when there is none.
    TOsError Cancel(const TOverlapped* AOverlapped);
    // Completes pending operations with OperationAborted, waits until no waiter polls the
    // descriptor any more, stops the modem watcher and closes the descriptor.
    void Close();

    TPollRequest BeginWait(int AWaiterFd, short AReturned) override;
    void EndWait(int AWaiterFd) override;

private:
    struct TOp;
    using POp = std::shared_ptr<TOp>;
    struct TWaiter {
        int Fd;
        short Events;
        TTime Deadline;
        bool Polls;
        bool Woken;
    };
    struct TCounts {
        int Cts = 0, Dsr = 0, Rng = 0, Dcd = 0;
        int Frame = 0, Overrun = 0, Parity = 0, Brk = 0, BufOverrun = 0;
    };
    class TScope;

    TDevice(int AFd, bool AOverlapped);
    // True, with the transfer count and the result, when the record's operation has finished.
    static bool Finished(TOverlapped* AOverlapped, std::uint32_t& ATransferred, TOsError& AResult);
    TOsError Init(const std::string& ANode);

    // All of these run under FLock.
    TOsError Usable() const;
    // Reads and writes as far as the device lets it, then expires deadlines.
    void Pump();
    // The same after a poll: reads and writes only as far as AReturned (the poll events the
    // descriptor returned) says the device is ready.
    void Pump(short AReturned);
    // What is known of waiting input: nothing to read, ready to read (a poll said so), or
    // unknown (asked with FIONREAD before reading).
    enum class TInput : std::uint8_t {
        None,
        Ready,
        Unknown
    };
    void Pump(TInput AInput, bool AWritable);
    bool InputWaiting();
    void ReadInput(TTime ANow, bool AReady);
    void WriteOutput(TTime ANow);
    void Expire(TTime ANow);
    void Feed(TTime ANow);
    // ACount more bytes are in the buffer of AOp, the first read; true when that completed it.
    bool Filled(TOp& AOp, std::size_t ACount, TTime ANow);
    bool Activate(TOp& AOp, TTime ANow);
    void ActivateNext(std::deque<POp>& AQueue, TTime ANow);
    void Complete(TOp& AOp, TOsError AError);
    void CompleteAll(std::deque<POp>& AQueue, TOsError AError);
    // Takes a pending operation out of its queue and completes it with AError.
    void Withdraw(TOp& AOp, TOsError AError);
    void HangUp(TOsError AError);
    void PostEvents(std::uint32_t AEvents);
    void CheckRx80();
    void OutputDrained(TTime ANow);
    void CheckTxEmpty(TTime ANow);
    std::uint32_t KernelOutput();
    std::uint32_t PollCounters();
    TTime::duration LineTime(std::uint32_t ABytes) const;
    TPollRequest Request() const;
    void Register(int AWaiterFd, const TPollRequest& ARequest);
    void Unregister(int AWaiterFd);
    void Advertise();
    // Whether AWaiter's poll misses what ANow asks for.
    static bool Outdated(const TWaiter& AWaiter, const TPollRequest& ANow);
    TOsError Start(TOp& AOp, std::unique_lock<TLock>& ALock, std::uint32_t* ATransferred);
    TOsError Block(TOp& AOp, std::unique_lock<TLock>& ALock);
    TOsError SetModemLine(int ALine, bool AOn);
    bool WatchModemLines();
    void StartWatcher();

    TLock FLock;
    std::condition_variable_any FUnpolled;
    int FFd;
    const bool FOverlapped;
    bool FExclusive = false; // TIOCEXCL is set
    TUucpLock FLockFile;
    bool FClosed = false;
    TOsError FGone = 0;

    TDCB FDcb;
    TCommTimeouts FTimeouts;
    std::uint32_t FMask = 0;
    std::uint32_t FHistory = 0;
    std::uint32_t FErrors = 0;

    TByteQueue FQueue;
    std::size_t FRx80Threshold = 0;
    bool FRx80Armed = true;
    TInputDecoder FDecoder;

    std::deque<POp> FReads;
    std::deque<POp> FWrites;
    POp FWaitOp;
    POp FSpareWaitOp; // a completed wait's record, for the next wait
    // The event of the last wait that ended with events: still linked to this device, since the
    // next wait mostly uses it again (unlinked when one uses another, and on Close).
    std::shared_ptr<TEvent> FWaitLink;
    std::string FPriority;
    bool FXoffHeld = false;
    bool FKernelOutput = false;
    // Whether the kernel may hold output back (TIOCOUTQ tells). A pseudo-terminal hands it
    // straight to its other side and always says 0: it is not asked.
    bool FOutputHeld = true;
    // When the kernel's input was last found empty (see ReadInput).
    TTime FInputEmptyAt{};
    TTime FTxEmptyCheck = NoDeadline;
    // Set by every change that can add to what a waiter must poll for (room in the queue,
    // output to send, a nearer deadline, an end of the device); Advertise looks at the waiters
    // only then. Most operations of a delivered event change none of that.
    bool FRequestGrew = false;
    std::uint32_t FTxEmptyLast = 0;
    TTime::duration FTxEmptyBackoff{};

    bool FHasModemLines = false;
    bool FHasCounters = false;
    bool FDtr = false;
    bool FRts = false;
    int FModemLines = 0;
    TCounts FCounts;

    std::vector<TWaiter> FWaiters;
    unsigned FPolling = 0;
    std::unique_ptr<TInterruptibleThread> FWatcher;
};

} // namespace cport
