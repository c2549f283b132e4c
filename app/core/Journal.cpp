#include "Journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quendal {

TJournal::TJournal(std::string APath, TMarker AMarker)
    : FPath(std::move(APath))
    , FMarker(AMarker) {}

TJournal::TJournal(std::string APath, TFile AFile, TMarker AMarker)
    : FPath(std::move(APath))
    , FMarker(AMarker)
    , FFile(std::move(AFile)) {
    FWritten = FFile.Size();
    StartSyncing();
}

TJournal::~TJournal() {
    End();
}

bool TJournal::Create() {
    TFileError error;
    if (!files::MakeFolders(files::FolderOf(FPath), error)) {
        Failed(error);
        return false;
    }
    // The marker first: a journal without one would pass for a cleanly ended one.
    if (FMarker == TMarker::Open) {
        TFile marker = TFile::Open(FPath + MarkerSuffix, TFile::TMode::CreateNew, error);
        if (!marker.IsOpen() && error.Code != EEXIST) {
            Failed(error);
            return false;
        }
        error = {};
    }
    FFile = TFile::Open(FPath, TFile::TMode::CreateNew, error);
    if (!FFile.IsOpen()) {
        if (FMarker == TMarker::Open) files::Remove(FPath + MarkerSuffix);
        Failed(error);
        return false;
    }
    FFile.TryLock();
    files::SyncFolder(files::FolderOf(FPath));
    StartSyncing();
    return true;
}

void TJournal::Append(const char* AData, std::size_t ACount) {
    if (ACount == 0 || FEnded) return;
    if (FSyncFailed.load(std::memory_order_relaxed)) TakeSyncError();
    if (!FWaiting.empty()) {
        FWaiting.append(AData, ACount);
        Retry();
        return;
    }
    if (!FFile.IsOpen() && (TClock::now() < FNextRetry || !Create())) {
        FWaiting.append(AData, ACount);
        return;
    }
    TFileError error;
    const std::size_t written = FFile.Write(AData, ACount, error);
    FWritten += written;
    if (written > 0) {
        std::lock_guard lock(FSyncLock);
        if (!FDirty) {
            FDirty = true;
            FSyncWake.notify_one();
        }
    }
    if (written < ACount) {
        FWaiting.append(AData + written, ACount - written);
        Failed(error);
    }
}

void TJournal::Failed(const TFileError& AError) {
    FNextRetry = TClock::now() + RetryInterval;
    if (FReported) return;
    FReported = true;
    if (FOnFailure)
        FOnFailure(FPath, AError);
    else
        FUntold = AError;
}

void TJournal::SetOnFailure(TFailure AFailure) {
    FOnFailure = std::move(AFailure);
    if (FUntold && FOnFailure) FOnFailure(FPath, FUntold);
    FUntold = {};
}

void TJournal::TakeSyncError() {
    TFileError error;
    {
        std::lock_guard lock(FSyncLock);
        std::swap(error, FSyncError);
        FSyncFailed = false;
    }
    if (error) Failed(error);
}

void TJournal::Retry() {
    if (FSyncFailed.load(std::memory_order_relaxed)) TakeSyncError();
    if (FWaiting.empty() || TClock::now() < FNextRetry) return;
    if (!FFile.IsOpen() && !Create()) return;
    WriteWaiting();
}

void TJournal::WriteWaiting() {
    TFileError error;
    const std::size_t written = FFile.Write(FWaiting.data(), FWaiting.size(), error);
    FWritten += written;
    FWaiting.erase(0, written);
    if (!FWaiting.empty()) {
        Failed(error);
        return;
    }
    // Writing works again: the memory goes back, and a later failure is told again.
    std::string().swap(FWaiting);
    FReported = false;
    FUntold = {};
    std::lock_guard lock(FSyncLock);
    FDirty = true;
    FSyncWake.notify_one();
}

std::size_t ReadJournal(const TFile& AFile, std::uint64_t AWritten, const std::string& AWaiting,
                        std::uint64_t AOffset, char* ABuffer, std::size_t ACount,
                        TFileError& AError) {
    std::size_t done = 0;
    if (AOffset < AWritten && AFile.IsOpen()) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(ACount, AWritten - AOffset));
        done = AFile.ReadAt(AOffset, ABuffer, want, AError);
        if (done < want) return done;
    }
    const std::uint64_t at = AOffset + done;
    if (done < ACount && at >= AWritten && at - AWritten < AWaiting.size()) {
        const auto from = static_cast<std::size_t>(at - AWritten);
        const std::size_t more = std::min(ACount - done, AWaiting.size() - from);
        std::memcpy(ABuffer + done, AWaiting.data() + from, more);
        done += more;
    }
    return done;
}

std::size_t TJournal::ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount) const {
    TFileError error;
    return ReadJournal(FFile, FWritten, FWaiting, AOffset, ABuffer, ACount, error);
}

void TJournal::End() {
    if (FEnded) return;
    FEnded = true;
    // Whoever listened may be going away with the journal.
    FOnFailure = nullptr;
    if (!FWaiting.empty() && (FFile.IsOpen() || Create())) WriteWaiting();
    StopSyncing();
    if (!FFile.IsOpen()) return;
    TFileError error;
    const bool synced = FFile.Sync(error);
    const bool empty = FWritten == 0 && FWaiting.empty();
    FFile.Close();
    if (empty) files::Remove(FPath);
    if (FMarker == TMarker::Open && (empty || (synced && FWaiting.empty()))) {
        files::Remove(FPath + MarkerSuffix);
        files::SyncFolder(files::FolderOf(FPath));
    }
}

void TJournal::Discard() {
    FEnded = true;
    FOnFailure = nullptr;
    StopSyncing();
    const bool created = FFile.IsOpen();
    FFile.Close();
    std::string().swap(FWaiting);
    if (!created) return;
    files::Remove(FPath);
    if (FMarker == TMarker::Open) files::Remove(FPath + MarkerSuffix);
}

void TJournal::StartSyncing() {
    FSyncer = std::thread([this] { SyncLoop(); });
}

void TJournal::StopSyncing() {
    if (!FSyncer.joinable()) return;
    {
        std::lock_guard lock(FSyncLock);
        FStopping = true;
        FSyncWake.notify_one();
    }
    FSyncer.join();
}

// Syncs when something was written, but not sooner than a second after the last sync: a
// steady stream costs one sync a second, and its bytes are durable a second after they came.
void TJournal::SyncLoop() {
    std::unique_lock lock(FSyncLock);
    TClock::time_point last{};
    for (;;) {
        FSyncWake.wait(lock, [this] { return FStopping || FDirty; });
        if (FStopping) return;
        if (FSyncWake.wait_until(lock, last + SyncInterval, [this] { return FStopping; })) return;
        FDirty = false;
        lock.unlock();
        TFileError error;
        FFile.Sync(error);
        last = TClock::now();
        lock.lock();
        if (error) {
            FSyncError = error;
            FSyncFailed = true;
        }
    }
}

} // namespace quendal
