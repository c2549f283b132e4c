// Work on whole logs that may take long: saving a log to a file, loading a file into a new
// log, reading a journal back after a crash. Each runs on a thread of its own and can be
// cancelled; the GUI thread watches its progress and takes its result once it is done.
#pragma once

#include "Journal.h"
#include "LogIndex.h"
#include "LogStore.h"
#include "System.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace quendal {

class TLogTask {
public:
    TLogTask(const TLogTask&) = delete;
    TLogTask& operator=(const TLogTask&) = delete;
    // Cancels the work and waits for its thread.
    virtual ~TLogTask();

    void Cancel() { FCancel = true; }
    bool Done() const { return FDone.load(std::memory_order_acquire); }
    // Blocks until the work is done.
    void Wait();
    // Blocks until the work is done or ATimeout has passed; whether it is done.
    bool WaitFor(std::chrono::milliseconds ATimeout);
    // Bytes done of Total(), for a progress bar.
    std::uint64_t Progress() const { return FProgress.load(std::memory_order_relaxed); }
    std::uint64_t Total() const { return FTotal.load(std::memory_order_relaxed); }

    // Once Done(): how it ended.
    bool Succeeded() const { return Done() && !FCancelled && !FError; }
    bool Cancelled() const { return FCancelled; }
    const TFileError& Error() const { return FError; }
    // The file the error is about.
    const std::string& ErrorPath() const { return FErrorPath; }

protected:
    TLogTask() = default;
    // Runs ABody on the task's thread; a derived class calls it last in its constructor.
    void Start(std::function<void()> ABody);
    bool Cancelling() const { return FCancel.load(std::memory_order_relaxed); }
    void SetTotal(std::uint64_t ATotal) { FTotal = ATotal; }
    void AddProgress(std::uint64_t ABytes) {
        FProgress.fetch_add(ABytes, std::memory_order_relaxed);
    }
    void Fail(const std::string& APath, const TFileError& AError);
    void MarkCancelled() { FCancelled = true; }

private:
    std::atomic<bool> FCancel{false};
    std::atomic<bool> FDone{false};
    std::atomic<std::uint64_t> FProgress{0};
    std::atomic<std::uint64_t> FTotal{0};
    bool FCancelled = false;
    TFileError FError;
    std::string FErrorPath;
    std::mutex FDoneLock;
    std::condition_variable FDoneSignal;
    std::thread FThread;
};

// A journal file as it stood at one moment, read from a thread of its own: what was on disk
// then, through a descriptor of its own, and a copy of what waited in memory.
class TJournalSnapshot {
public:
    explicit TJournalSnapshot(const TJournal& AJournal);
    std::uint64_t Size() const { return FWritten + FWaiting.size(); }
    // Opens the file part; false, with AError, when it cannot.
    bool Open(TFileError& AError);
    std::size_t ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount,
                       TFileError& AError) const;
    const std::string& Path() const { return FPath; }
    const TFile& File() const { return FFile; }
    std::uint64_t Written() const { return FWritten; }
    const std::string& Waiting() const { return FWaiting; }

private:
    std::string FPath;
    std::uint64_t FWritten;
    std::string FWaiting;
    TFile FFile;
};

// Saves a log: its bytes and the end of its last line, to a file that is replaced only once
// everything was written (a cancelled or failed save leaves it as it was), or written as it
// is when it is a device. With AWithStamps each line begins with the time it arrived and a tab
// (nothing before the tab for a line without a time).
class TSaveTask : public TLogTask {
public:
    TSaveTask(const TLogStore& ALog, std::string APath, bool AWithStamps = false);
    ~TSaveTask() override;

private:
    void Run();
    bool Copy(TFile& ATarget, const std::string& ATargetPath);
    bool CopyWithStamps(TFile& ATarget, const std::string& ATargetPath);

    std::string FPath;
    TJournalSnapshot FJournal;
    TJournalSnapshot FStamps;
    bool FWithStamps;
    std::string FEnding;
};

// Loads a file into a new log, journaled at AJournalPath.
class TLoadTask : public TLogTask {
public:
    TLoadTask(std::string APath, std::string AJournalPath);
    ~TLoadTask() override;

    // Once Succeeded(): the new log. Its journal is removed if nobody takes it.
    std::unique_ptr<TLogStore> TakeLog();

private:
    void Run();

    std::string FPath;
    std::unique_ptr<TJournal> FJournal;
    TLogIndex FIndex;
    TLineBreaks FBreaks;
};

// Finds text in a log as it stands: the first place at or after AFrom (forward) or the last one
// before AFrom (backward) where APattern (code page bytes) occurs, letters compared without
// their case unless AMatchCase.
class TFindTask : public TLogTask {
public:
    static constexpr std::uint64_t NotFound = UINT64_MAX;
    TFindTask(const TLogStore& ALog, std::string APattern, std::uint64_t AFrom, bool AForward,
              bool AMatchCase = false);
    ~TFindTask() override;
    // Once Succeeded(): where the text begins, or NotFound.
    std::uint64_t Found() const { return FFound; }

private:
    void Run();

    TJournalSnapshot FLog;
    std::string FPattern;
    std::uint64_t FFrom;
    bool FForward;
    bool FMatchCase;
    std::uint64_t FFound = NotFound;
};

// Reads a journal that its program left behind into a log that goes on with it.
class TRestoreTask : public TLogTask {
public:
    explicit TRestoreTask(std::string AJournalPath);
    ~TRestoreTask() override;

    const std::string& Path() const { return FPath; }
    // Once Succeeded(): what the journal holds.
    std::uint64_t Lines() const { return FIndex.LineCount(); }
    std::uint64_t Bytes() const { return FIndex.Size(); }
    std::unique_ptr<TLogStore> TakeLog();

private:
    void Run();

    std::string FPath;
    TFile FFile;
    TLogIndex FIndex;
};

} // namespace quendal
