#include "JournalFolder.h"

#include "Journal.h"
#include "Stamps.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>

namespace quendal {

namespace {

constexpr const char* Prefix = "log-";
constexpr const char* Suffix = ".txt";

// Whether a program (this one too) has the journal open.
bool InUse(const std::string& APath) {
    TFileError error;
    TFile file = TFile::Open(APath, TFile::TMode::Read, error);
    return file.IsOpen() && !file.TryLock();
}

bool Newer(const TFileInfo& A, const TFileInfo& B) {
    return A.Modified != B.Modified ? A.Modified > B.Modified : A.Path > B.Path;
}

} // namespace

std::string TJournalFolder::DefaultPath() {
    return files::StateHome() + "/quendal";
}

std::uint64_t TJournalFolder::LimitFromEnvironment() {
    const char* text = std::getenv("QUENDAL_JOURNAL_LIMIT_MB");
    if (text == nullptr || *text == '\0') return DefaultLimit;
    char* end = nullptr;
    const unsigned long long megabytes = std::strtoull(text, &end, 10);
    if (*end != '\0' || megabytes > (UINT64_MAX >> 20)) return DefaultLimit;
    return static_cast<std::uint64_t>(megabytes) << 20;
}

TJournalFolder::TJournalFolder(std::string APath)
    : FPath(std::move(APath)) {}

std::string TJournalFolder::NewJournalPath() const {
    static std::atomic<unsigned> counter{0};
    const std::tm local = files::LocalTime(std::time(nullptr));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    for (;;) {
        const std::string path = FPath + "/" + Prefix + stamp + "-" +
                                 std::to_string(files::ProcessId()) + "-" +
                                 std::to_string(counter++) + Suffix;
        if (!files::Exists(path) && !files::Exists(path + TJournal::MarkerSuffix)) return path;
    }
}

std::vector<TFileInfo> TJournalFolder::Journals() const {
    std::vector<TFileInfo> journals = files::List(FPath, Prefix, Suffix);
    // A journal's stamps count with it.
    for (TFileInfo& journal : journals) {
        TFileInfo stamps;
        if (files::Stat(journal.Path + TStamps::Suffix, stamps)) journal.Size += stamps.Size;
    }
    return journals;
}

std::vector<TFileInfo> TJournalFolder::Unended() const {
    std::vector<TFileInfo> unended;
    const std::string suffix = std::string(Suffix) + TJournal::MarkerSuffix;
    for (const TFileInfo& marker : files::List(FPath, Prefix, suffix)) {
        const std::string journal =
            marker.Path.substr(0, marker.Path.size() - suffix.size() + std::string(Suffix).size());
        TFileInfo info;
        const bool exists = files::Stat(journal, info);
        if (exists && InUse(journal)) continue;
        if (!exists || info.Size == 0) {
            // Nothing to offer: the program died before its first byte, or the journal is gone.
            if (exists) files::Remove(journal);
            files::Remove(marker.Path);
            continue;
        }
        unended.push_back(info);
    }
    std::sort(unended.begin(), unended.end(), Newer);
    return unended;
}

void TJournalFolder::Forget(const std::string& AJournal) const {
    files::Remove(AJournal + TJournal::MarkerSuffix);
}

void TJournalFolder::Trim(std::uint64_t ALimit, const std::string& AKeep) const {
    std::vector<TFileInfo> journals = Journals();
    std::uint64_t total = 0;
    for (const TFileInfo& journal : journals)
        total += journal.Size;
    std::sort(journals.begin(), journals.end(),
              [](const TFileInfo& A, const TFileInfo& B) { return Newer(B, A); });
    for (const TFileInfo& journal : journals) {
        if (total <= ALimit) break;
        if (journal.Path == AKeep || InUse(journal.Path)) continue;
        if (!files::Remove(journal.Path)) continue;
        files::Remove(journal.Path + TJournal::MarkerSuffix);
        files::Remove(journal.Path + TStamps::Suffix);
        total -= journal.Size;
    }
}

} // namespace quendal
