// The logger's log and the rules the window follows for it, without a toolkit: what arrives is
// appended and journaled; a poll adds a line break only where a line begins, so that it never
// splits a reading; Clear starts a new log and keeps the old journal; Save writes the log as
// it stands; Load replaces it with a file's text, and what arrives while the file loads
// follows that text. At start, a journal that its program left behind can be restored.
#pragma once

#include "JournalFolder.h"
#include "LogStore.h"
#include "LogTasks.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quendal {

class TLog {
public:
    // The journals grow by this much between two looks at the folder's total size.
    static constexpr std::uint64_t TrimEvery = std::uint64_t{64} << 20;

    explicit TLog(TJournalFolder AFolder = TJournalFolder(),
                  std::uint64_t AJournalLimit = TJournalFolder::LimitFromEnvironment());
    TLog(const TLog&) = delete;
    TLog& operator=(const TLog&) = delete;
    // Ends the log's journal cleanly.
    ~TLog();

    // Called after every change of the log's text.
    void SetOnChanged(std::function<void()> AChanged) { FOnChanged = std::move(AChanged); }
    // Called once when the journal cannot be written, with the message to show.
    void SetOnJournalFailed(std::function<void(const std::string&)> AFailed);

    const TLogStore& Store() const { return *FStore; }
    // Counts the times the log was replaced by another (cleared, loaded, restored).
    std::uint64_t Generation() const { return FGeneration; }
    const TJournalFolder& Folder() const { return FFolder; }

    // What the device sent, now.
    void Received(std::string_view ABytes);
    // The time that arrivals get (see TAnchoredClock); the port's Open anchors it again.
    std::int64_t Now() const { return FClock ? FClock() : FTime.Now(); }
    void AnchorClock() { FTime.Anchor(); }
    // For tests: the clock that Now() reads instead.
    void SetClock(std::function<std::int64_t()> AClock) { FClock = std::move(AClock); }
    // The line feed that each poll adds: a line break where a line begins, nothing in the
    // middle of a line.
    void PollLineFeed();
    // Ends a line that a device left unfinished when it went away, so that the first line after
    // it comes back starts a line of its own.
    void EndLine();
    // Starts a new, empty log; the old journal is kept.
    void Clear();

    // Saving: the log as it stands now goes to APath; with AWithStamps each line begins with
    // the time it arrived and a tab.
    std::unique_ptr<TSaveTask> StartSave(const std::string& APath, bool AWithStamps = false) const;
    // Loading APath into a new log; until FinishLoad, what arrives is kept for it too.
    std::unique_ptr<TLoadTask> StartLoad(const std::string& APath);
    // Puts a finished load in place, followed by what arrived meanwhile; false, with the log
    // unchanged, when the load failed or was cancelled.
    bool FinishLoad(TLoadTask& ATask);

    // The newest journal whose program died before ending it, if any.
    std::optional<TFileInfo> UnendedJournal() const;
    std::unique_ptr<TRestoreTask> StartRestore(const std::string& AJournal) const;
    // Makes a restored journal the log, which goes on in it (the log it replaces keeps its
    // journal); false when it could not be read.
    bool FinishRestore(TRestoreTask& ATask);
    // Keeps an unended journal where it is, no longer offered.
    void Forget(const std::string& AJournal) const { FFolder.Forget(AJournal); }
    // Removes the oldest journals beyond the limit (a new log does so by itself).
    void TrimJournals() const { FFolder.Trim(FJournalLimit, FStore->Journal().Path()); }

    // Whether text waits in memory for its journal; Service() then tries again, and is best
    // called about once a second meanwhile.
    bool NeedsService() const {
        return !FStore->Journal().Waiting().empty() || !FStore->Stamps().File().Waiting().empty();
    }
    void Service();

    // The message for a journal that cannot be written.
    static std::string JournalFailureMessage(const std::string& APath, const TFileError& AError);

private:
    struct TArrival {
        bool PollLineFeed;
        std::string Bytes;
        std::int64_t Stamp;
    };

    void Apply(TLogStore& AStore, const TArrival& AArrival);
    void Replace(std::unique_ptr<TLogStore> AStore);
    void Watch(TLogStore& AStore);
    void Changed();

    TJournalFolder FFolder;
    std::uint64_t FJournalLimit;
    std::unique_ptr<TLogStore> FStore;
    std::uint64_t FNextTrim = TrimEvery;
    std::uint64_t FGeneration = 0;
    // What arrived since a load began, for the loaded log.
    bool FLoading = false;
    std::vector<TArrival> FArrivedWhileLoading;
    TAnchoredClock FTime;
    std::function<std::int64_t()> FClock;
    std::function<void()> FOnChanged;
    std::function<void(const std::string&)> FOnJournalFailed;
};

} // namespace quendal
