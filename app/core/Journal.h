// The journal of one log: its text appended to a file as it arrives, so that a program that is
// killed loses nothing, and made durable at most once a second by a thread of its own, so that
// a power cut loses about a second at most. What cannot be written (a full disk, a folder that
// may not be written) waits in memory and is written once writing works again: nothing
// received is dropped. The failure is reported once, on the thread that appends.
//
// Beside the journal lies a marker file (the journal's name with ".open") for as long as the
// journal is in use; a journal whose marker outlives its program was not ended cleanly. The
// journal file is locked while in use, which tells a dead program's journal from a live one's.
#pragma once

#include "System.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quendal {

// Reads up to ACount bytes at AOffset of a journal that has AWritten bytes in AFile and the rest
// in AWaiting.
std::size_t ReadJournal(const TFile& AFile, std::uint64_t AWritten, const std::string& AWaiting,
                        std::uint64_t AOffset, char* ABuffer, std::size_t ACount,
                        TFileError& AError);

class TJournal {
public:
    using TClock = std::chrono::steady_clock;
    // Told once per spell of failures: the journal's path and why it cannot be written.
    using TFailure = std::function<void(const std::string& APath, const TFileError& AError)>;

    static constexpr auto SyncInterval = std::chrono::seconds(1);
    static constexpr auto RetryInterval = std::chrono::seconds(1);
    static constexpr const char* MarkerSuffix = ".open";
    // Whether the file has a marker (the log's text) or not (a companion file, such as stamps).
    enum class TMarker {
        Open,
        None
    };

    // A journal at APath, created (with its marker) when the first byte is appended.
    explicit TJournal(std::string APath, TMarker AMarker = TMarker::Open);
    // Goes on with the journal at APath, already open (appending), locked and marked, and
    // holding its whole content.
    TJournal(std::string APath, TFile AFile, TMarker AMarker = TMarker::Open);
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;
    // Ends the journal (see End).
    ~TJournal();

    // A failure that happened before anybody listened is told at once.
    void SetOnFailure(TFailure AFailure);
    const TFailure& OnFailure() const { return FOnFailure; }

    void Append(const char* AData, std::size_t ACount);
    // Reads up to ACount bytes at AOffset, from the file or from what waits in memory.
    std::size_t ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount) const;

    const std::string& Path() const { return FPath; }
    std::uint64_t Size() const { return FWritten + FWaiting.size(); }
    // Bytes on disk; the rest waits in memory.
    std::uint64_t Written() const { return FWritten; }
    const std::string& Waiting() const { return FWaiting; }
    bool Created() const { return FFile.IsOpen(); }

    // Writes what waits in memory, if the last attempt is a second old; reports a failure of
    // the syncing thread.
    void Retry();
    // Ends the journal: writes and syncs what it can, and takes its marker away unless
    // something could not be written. A journal that never got a byte leaves no file.
    void End();
    // Ends the journal and removes it with its marker: a load that was cancelled.
    void Discard();

private:
    bool Create();
    void WriteWaiting();
    void Failed(const TFileError& AError);
    void TakeSyncError();
    void StartSyncing();
    void SyncLoop();
    void StopSyncing();

    std::string FPath;
    TMarker FMarker;
    TFile FFile;
    std::uint64_t FWritten = 0;
    std::string FWaiting;
    TClock::time_point FNextRetry{};
    bool FReported = false;
    TFileError FUntold; // a failure while nobody listened
    bool FEnded = false;
    TFailure FOnFailure;

    std::mutex FSyncLock;
    std::condition_variable FSyncWake;
    bool FDirty = false;
    bool FStopping = false;
    TFileError FSyncError;
    std::atomic<bool> FSyncFailed{false};
    std::thread FSyncer;
};

} // namespace quendal
