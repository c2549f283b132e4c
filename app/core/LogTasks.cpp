#include "LogTasks.h"

#include "CodePage.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace quendal {

namespace {

constexpr std::size_t ChunkBytes = 1 << 20;
// A save copies this much between two looks at Cancel.
constexpr std::size_t CopyBytes = 16 << 20;

} // namespace

TLogTask::~TLogTask() {
    // A derived task waits in its own destructor, while its members still exist; this is for
    // a task whose start failed half-way.
    Cancel();
    if (FThread.joinable()) FThread.join();
}

void TLogTask::Wait() {
    if (FThread.joinable()) FThread.join();
}

bool TLogTask::WaitFor(std::chrono::milliseconds ATimeout) {
    std::unique_lock lock(FDoneLock);
    return FDoneSignal.wait_for(lock, ATimeout, [this] { return Done(); });
}

void TLogTask::Start(std::function<void()> ABody) {
    FThread = std::thread([this, body = std::move(ABody)] {
        body();
        if (Cancelling() && !FError) FCancelled = true;
        std::lock_guard lock(FDoneLock);
        FDone.store(true, std::memory_order_release);
        FDoneSignal.notify_all();
    });
}

void TLogTask::Fail(const std::string& APath, const TFileError& AError) {
    FError = AError;
    FErrorPath = APath;
}

TSaveTask::TSaveTask(const TLogStore& ALog, std::string APath)
    : FPath(std::move(APath))
    , FJournalPath(ALog.Journal().Path())
    , FWritten(ALog.Journal().Written())
    , FWaiting(ALog.Journal().Waiting())
    , FEnding(ALog.SavedEnding()) {
    SetTotal(FWritten + FWaiting.size() + FEnding.size());
    Start([this] { Run(); });
}

TSaveTask::~TSaveTask() {
    Cancel();
    Wait();
}

bool TSaveTask::Copy(TFile& ATarget, const std::string& ATargetPath) {
    TFileError error;
    if (FWritten > 0) {
        TFile journal = TFile::Open(FJournalPath, TFile::TMode::Read, error);
        if (!journal.IsOpen()) {
            Fail(FJournalPath, error);
            return false;
        }
        std::uint64_t offset = 0;
        while (offset < FWritten) {
            if (Cancelling()) return false;
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(CopyBytes, FWritten - offset));
            const std::size_t copied = ATarget.CopyFrom(journal, offset, want, error);
            offset += copied;
            AddProgress(copied);
            if (copied < want) {
                if (!error) {
                    // The journal ended early: somebody cut it.
                    Fail(FJournalPath, TFileError{EIO, std::strerror(EIO)});
                } else {
                    Fail(ATargetPath, error);
                }
                return false;
            }
        }
    }
    for (const std::string* rest : {&FWaiting, &FEnding}) {
        if (ATarget.Write(rest->data(), rest->size(), error) < rest->size()) {
            Fail(ATargetPath, error);
            return false;
        }
        AddProgress(rest->size());
    }
    return true;
}

void TSaveTask::Run() {
    const std::string target = files::Resolve(FPath);
    TFileError error;
    // A device (/dev/null, a terminal, /dev/full) is written as it is: a replacement would put
    // a file where the device node was.
    if (files::IsDevice(target)) {
        TFile device = TFile::Open(target, TFile::TMode::Write, error);
        if (!device.IsOpen()) {
            Fail(FPath, error);
            return;
        }
        if (Copy(device, FPath) && !device.Sync(error)) Fail(FPath, error);
        return;
    }
    if (files::Exists(target) && !files::MayWrite(target, error)) {
        Fail(FPath, error);
        return;
    }
    const std::string temporary = files::TemporaryNameFor(target);
    TFile file = TFile::Open(temporary, TFile::TMode::CreateTemporary, error);
    if (!file.IsOpen()) {
        Fail(FPath, error);
        return;
    }
    if (files::Exists(target)) file.CopyPermissionsFrom(target);
    bool saved = Copy(file, FPath);
    if (saved && !file.Sync(error)) {
        Fail(FPath, error);
        saved = false;
    }
    file.Close();
    if (saved && !Cancelling() && files::Replace(temporary, target, error)) {
        files::SyncFolder(files::FolderOf(target));
        return;
    }
    if (saved && !Cancelling()) Fail(FPath, error);
    files::Remove(temporary);
}

TLoadTask::TLoadTask(std::string APath, std::string AJournalPath)
    : FPath(std::move(APath))
    , FJournal(std::make_unique<TJournal>(std::move(AJournalPath))) {
    Start([this] { Run(); });
}

TLoadTask::~TLoadTask() {
    Cancel();
    Wait();
    if (FJournal) FJournal->Discard();
}

void TLoadTask::Run() {
    TFileError error;
    TFile file = TFile::Open(FPath, TFile::TMode::Read, error);
    if (!file.IsOpen()) {
        Fail(FPath, error);
        return;
    }
    SetTotal(file.Size());
    std::vector<char> buffer(ChunkBytes);
    TLogFileDecoder decoder;
    std::string decoded, normalized;
    const auto put = [&] {
        FBreaks.Normalize(decoded, normalized);
        FJournal->Append(normalized.data(), normalized.size());
        FIndex.Feed(normalized.data(), normalized.size());
        decoded.clear();
    };
    for (;;) {
        if (Cancelling()) return;
        const std::size_t got = file.Read(buffer.data(), buffer.size(), error);
        if (error) {
            Fail(FPath, error);
            return;
        }
        if (got == 0) break;
        decoder.Feed(std::string_view(buffer.data(), got), decoded);
        put();
        AddProgress(got);
    }
    decoder.Finish(decoded);
    put();
}

std::unique_ptr<TLogStore> TLoadTask::TakeLog() {
    if (!Succeeded() || !FJournal) return nullptr;
    return std::make_unique<TLogStore>(std::move(FJournal), std::move(FIndex), FBreaks);
}

TRestoreTask::TRestoreTask(std::string AJournalPath)
    : FPath(std::move(AJournalPath)) {
    Start([this] { Run(); });
}

TRestoreTask::~TRestoreTask() {
    Cancel();
    Wait();
}

void TRestoreTask::Run() {
    TFileError error;
    FFile = TFile::Open(FPath, TFile::TMode::Append, error);
    if (!FFile.IsOpen()) {
        Fail(FPath, error);
        return;
    }
    if (!FFile.TryLock()) {
        Fail(FPath, TFileError{EBUSY, std::strerror(EBUSY)});
        FFile.Close();
        return;
    }
    const std::uint64_t size = FFile.Size();
    SetTotal(size);
    std::vector<char> buffer(ChunkBytes);
    for (std::uint64_t offset = 0; offset < size;) {
        if (Cancelling()) return;
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(ChunkBytes, size - offset));
        const std::size_t got = FFile.ReadAt(offset, buffer.data(), want, error);
        if (error) {
            Fail(FPath, error);
            return;
        }
        if (got == 0) break;
        FIndex.Feed(buffer.data(), got);
        offset += got;
        AddProgress(got);
    }
}

std::unique_ptr<TLogStore> TRestoreTask::TakeLog() {
    if (!Succeeded() || !FFile.IsOpen()) return nullptr;
    // The journal may have been cut anywhere: it is taken to end where its bytes end.
    return std::make_unique<TLogStore>(std::make_unique<TJournal>(FPath, std::move(FFile)),
                                       std::move(FIndex), TLineBreaks());
}

} // namespace quendal
