#include "Log.h"

namespace quendal {

TLog::TLog(TJournalFolder AFolder, std::uint64_t AJournalLimit)
    : FFolder(std::move(AFolder))
    , FJournalLimit(AJournalLimit)
    , FStore(std::make_unique<TLogStore>(std::make_unique<TJournal>(FFolder.NewJournalPath()))) {}

TLog::~TLog() = default;

void TLog::SetOnJournalFailed(std::function<void(const std::string&)> AFailed) {
    FOnJournalFailed = std::move(AFailed);
    Watch(*FStore);
}

void TLog::Watch(TLogStore& AStore) {
    AStore.Journal().SetOnFailure([this](const std::string& APath, const TFileError& AError) {
        if (FOnJournalFailed) FOnJournalFailed(JournalFailureMessage(APath, AError));
    });
}

std::string TLog::JournalFailureMessage(const std::string& APath, const TFileError& AError) {
    return "The log cannot be written to its journal; logging goes on in memory until it can.\n" +
           APath + ": " + AError.Text;
}

void TLog::Changed() {
    if (FStore->Size() >= FNextTrim) {
        FNextTrim = FStore->Size() + TrimEvery;
        TrimJournals();
    }
    if (FOnChanged) FOnChanged();
}

void TLog::Apply(TLogStore& AStore, const TArrival& AArrival) {
    if (!AArrival.PollLineFeed)
        AStore.Append(AArrival.Bytes, AArrival.Stamp);
    else if (AStore.AtLineStart())
        AStore.AppendLineBreak(AArrival.Stamp);
}

void TLog::Received(std::string_view ABytes) {
    if (ABytes.empty()) return;
    TArrival arrival{false, std::string(ABytes), Now()};
    Apply(*FStore, arrival);
    if (FLoading) FArrivedWhileLoading.push_back(std::move(arrival));
    Changed();
}

void TLog::PollLineFeed() {
    const TArrival arrival{true, {}, Now()};
    Apply(*FStore, arrival);
    if (FLoading) FArrivedWhileLoading.push_back(arrival);
    Changed();
}

void TLog::EndLine() {
    if (FStore->AtLineStart()) return;
    const TArrival arrival{false, "\r\n", Now()};
    Apply(*FStore, arrival);
    if (FLoading) FArrivedWhileLoading.push_back(arrival);
    Changed();
}

void TLog::Replace(std::unique_ptr<TLogStore> AStore) {
    FStore = std::move(AStore);
    ++FGeneration;
    FNextTrim = FStore->Size() + TrimEvery;
    Watch(*FStore);
    TrimJournals();
    Changed();
}

void TLog::Clear() {
    Replace(std::make_unique<TLogStore>(std::make_unique<TJournal>(FFolder.NewJournalPath())));
}

std::unique_ptr<TSaveTask> TLog::StartSave(const std::string& APath, bool AWithStamps) const {
    return std::make_unique<TSaveTask>(*FStore, APath, AWithStamps);
}

std::unique_ptr<TLoadTask> TLog::StartLoad(const std::string& APath) {
    FLoading = true;
    FArrivedWhileLoading.clear();
    return std::make_unique<TLoadTask>(APath, FFolder.NewJournalPath());
}

bool TLog::FinishLoad(TLoadTask& ATask) {
    ATask.Wait();
    FLoading = false;
    std::vector<TArrival> arrived;
    arrived.swap(FArrivedWhileLoading);
    std::unique_ptr<TLogStore> loaded = ATask.TakeLog();
    if (!loaded) return false;
    for (const TArrival& arrival : arrived)
        Apply(*loaded, arrival);
    Replace(std::move(loaded));
    return true;
}

std::optional<TFileInfo> TLog::UnendedJournal() const {
    std::vector<TFileInfo> unended = FFolder.Unended();
    if (unended.empty()) return std::nullopt;
    return unended.front();
}

std::unique_ptr<TRestoreTask> TLog::StartRestore(const std::string& AJournal) const {
    return std::make_unique<TRestoreTask>(AJournal);
}

bool TLog::FinishRestore(TRestoreTask& ATask) {
    ATask.Wait();
    std::unique_ptr<TLogStore> restored = ATask.TakeLog();
    if (!restored) return false;
    Replace(std::move(restored));
    return true;
}

void TLog::Service() {
    FStore->Journal().Retry();
    FStore->Stamps().File().Retry();
}

} // namespace quendal
