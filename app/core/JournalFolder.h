// The folder of the logs' journals: one file per log, named by when it began, kept after the
// log was cleared or the program ended, up to a total size, so that a log nobody saved can
// still be found. A journal whose program died is offered back at the next start.
#pragma once

#include "System.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quendal {

class TJournalFolder {
public:
    static constexpr std::uint64_t DefaultLimit = std::uint64_t{1} << 30;

    // The folder of the user's journals: "quendal" in the state folder
    // ($XDG_STATE_HOME, else ~/.local/state).
    static std::string DefaultPath();
    // The total size the journals may take: QUENDAL_JOURNAL_LIMIT_MB megabytes when that is
    // set to a number, else DefaultLimit.
    static std::uint64_t LimitFromEnvironment();

    explicit TJournalFolder(std::string APath = DefaultPath());
    const std::string& Path() const { return FPath; }

    // A path for a new journal, not in use yet.
    std::string NewJournalPath() const;
    // The journals that were not ended cleanly and whose program is gone, newest first.
    std::vector<TFileInfo> Unended() const;
    // Lets an unended journal count as ended (it is kept where it is).
    void Forget(const std::string& AJournal) const;
    // Removes the oldest journals until all of them together take at most ALimit bytes.
    // AKeep, the journal of the log being shown, and journals other programs use are never
    // removed.
    void Trim(std::uint64_t ALimit, const std::string& AKeep) const;

private:
    std::vector<TFileInfo> Journals() const;

    std::string FPath;
};

} // namespace quendal
