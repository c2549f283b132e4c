// A POSIX platform with one pseudo-terminal pair: the tests drive the slave through the
// platform's serial operations and play the device on the master.
#pragma once

#include "PtyPair.h"
#include "platform/posix/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <sys/types.h>

namespace cport {

class TPortTest : public ::testing::Test {
protected:
    ~TPortTest() override;

    // Opens the slave as "\\.\<path>" and stores the handle in Port.
    TOsError Open(bool AOverlapped = true);
    // Opens, sizes the queue and sets 9600 8N1 with ADcbFlags and the given timeouts.
    void OpenConfigured(bool AOverlapped = true, const TCommTimeouts& ATimeouts = Immediate(),
                        std::uint32_t ADcbFlags = DcbFlag::Binary, std::uint32_t AQueue = 4096);
    // Closes Port; pending operations end, which they must before their records go.
    void ClosePort();
    static TCommTimeouts Immediate() { return {MaxDword, 0, 0, 0, 0}; }
    static TDCB Line8N1(std::uint32_t AFlags = DcbFlag::Binary);

    THandle NewEvent(bool AManualReset = true, bool AInitialState = false);
    // A record with a new manual-reset event. It lives as long as the test object, so an
    // operation a failed test leaves pending never writes to a record that is gone.
    TOverlapped& Record(bool AManualReset = true) {
        TOverlapped& record = Records.emplace_back();
        record.hEvent = NewEvent(AManualReset);
        return record;
    }
    // Waits up to ATimeout for AEvent; true when it is signalled.
    bool Signalled(THandle AEvent, std::chrono::milliseconds ATimeout = std::chrono::seconds(5));
    // The outcome of a record without waiting: the platform's result and the count.
    TOsError Outcome(TOverlapped& ARecord, std::uint32_t& ACount);
    std::uint32_t InQueue();
    // Waits up to 5 s until the input queue holds at least ACount bytes (a pty passes data
    // on asynchronously).
    bool AwaitInQueue(std::uint32_t ACount);
    // Starts an overlapped read into ABuffer; fails the test unless it is pending.
    void StartPendingRead(TOverlapped& ARecord, void* ABuffer, std::uint32_t ACount);

    TPosixComPlatform Platform;
    TPtyPair Pty;
    THandle Port = InvalidHandle;
    std::vector<THandle> Events;
    std::deque<TOverlapped> Records;
};

// Context switches of a thread of this process so far (voluntary and involuntary).
std::uint64_t ContextSwitches(pid_t AThread);
// Waits up to ATimeout until the thread sleeps in the kernel ("S" state).
bool Sleeping(pid_t AThread, std::chrono::milliseconds ATimeout = std::chrono::seconds(5));
// Waits up to 5 s until a thread has stored its id in AThread.
bool Started(const std::atomic<pid_t>& AThread);
// Waits up to ATimeout until AFlag is set.
bool Eventually(const std::atomic<bool>& AFlag,
                std::chrono::milliseconds ATimeout = std::chrono::seconds(5));
// CPU time the calling thread has used.
std::chrono::microseconds ThreadCpuTime();

// Lowers the calling thread's rights: takes ACapability (CAP_...) out of its effective set,
// so that a test running as root meets the checks an ordinary user meets. Capabilities
// belong to a thread on Linux. False when the thread cannot change them.
bool DropCapability(int ACapability);

// Bytes 0..255 repeated, without the characters a test uses as markers ('!', 0xFF).
std::string Pattern(std::size_t ACount);

} // namespace cport
