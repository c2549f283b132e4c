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

TJournalSnapshot::TJournalSnapshot(const TJournal& AJournal)
    : FPath(AJournal.Path())
    , FWritten(AJournal.Written())
    , FWaiting(AJournal.Waiting()) {}

bool TJournalSnapshot::Open(TFileError& AError) {
    if (FWritten == 0) return true;
    FFile = TFile::Open(FPath, TFile::TMode::Read, AError);
    return FFile.IsOpen();
}

std::size_t TJournalSnapshot::ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount,
                                     TFileError& AError) const {
    return ReadJournal(FFile, FWritten, FWaiting, AOffset, ABuffer, ACount, AError);
}

TSaveTask::TSaveTask(const TLogStore& ALog, std::string APath, bool AWithStamps)
    : FPath(std::move(APath))
    , FJournal(ALog.Journal())
    , FStamps(ALog.Stamps().File())
    , FWithStamps(AWithStamps)
    , FEnding(ALog.SavedEnding()) {
    SetTotal(FJournal.Size() + FEnding.size());
    Start([this] { Run(); });
}

TSaveTask::~TSaveTask() {
    Cancel();
    Wait();
}

bool TSaveTask::Copy(TFile& ATarget, const std::string& ATargetPath) {
    TFileError error;
    if (!FJournal.Open(error)) {
        Fail(FJournal.Path(), error);
        return false;
    }
    std::uint64_t offset = 0;
    while (offset < FJournal.Written()) {
        if (Cancelling()) return false;
        const auto want = static_cast<std::size_t>(
            std::min<std::uint64_t>(CopyBytes, FJournal.Written() - offset));
        const std::size_t copied = ATarget.CopyFrom(FJournal.File(), offset, want, error);
        offset += copied;
        AddProgress(copied);
        if (copied < want) {
            // No error: the journal ended early, somebody cut it.
            Fail(error ? ATargetPath : FJournal.Path(),
                 error ? error : TFileError{EIO, std::strerror(EIO)});
            return false;
        }
    }
    for (const std::string* rest :
         {&FJournal.Waiting(), static_cast<const std::string*>(&FEnding)}) {
        if (ATarget.Write(rest->data(), rest->size(), error) < rest->size()) {
            Fail(ATargetPath, error);
            return false;
        }
        AddProgress(rest->size());
    }
    return true;
}

// Line by line: each line's time is read from the stamps as the lines go by.
bool TSaveTask::CopyWithStamps(TFile& ATarget, const std::string& ATargetPath) {
    TFileError error;
    if (!FJournal.Open(error) || !FStamps.Open(error)) {
        Fail(FJournal.Path(), error);
        return false;
    }
    char header[TStamps::HeaderBytes];
    TStampHeader times;
    const bool stamped = FStamps.ReadAt(0, header, sizeof header, error) == sizeof header &&
                         ReadStampHeader(header, times);
    // The records are read a block at a time as the lines go by.
    std::vector<char> records(4096 * TStamps::RecordBytes);
    std::uint64_t recordsFrom = 0, recordsHeld = 0;
    const auto stampOf = [&](std::uint64_t ALine) {
        if (!stamped || ALine < times.FirstLine) return TStamps::None;
        const std::uint64_t index = ALine - times.FirstLine;
        if (index < recordsFrom || index >= recordsFrom + recordsHeld) {
            recordsFrom = index;
            recordsHeld = FStamps.ReadAt(TStamps::HeaderBytes + index * TStamps::RecordBytes,
                                         records.data(), records.size(), error) /
                          TStamps::RecordBytes;
            if (recordsHeld == 0) return TStamps::None;
        }
        return StampOfRecord(times, records.data() + (index - recordsFrom) * TStamps::RecordBytes);
    };
    std::vector<char> text(ChunkBytes);
    std::string out;
    std::uint64_t line = 0;
    bool begins = true;
    const auto flush = [&] {
        if (ATarget.Write(out.data(), out.size(), error) < out.size()) {
            Fail(ATargetPath, error);
            return false;
        }
        out.clear();
        return true;
    };
    for (std::uint64_t offset = 0; offset < FJournal.Size();) {
        if (Cancelling()) return false;
        const std::size_t got = FJournal.ReadAt(offset, text.data(), text.size(), error);
        if (got == 0) {
            Fail(FJournal.Path(), error ? error : TFileError{EIO, std::strerror(EIO)});
            return false;
        }
        for (std::size_t at = 0; at < got;) {
            if (begins) {
                out += StampText(stampOf(line));
                out += '\t';
                begins = false;
            }
            const char* feed =
                static_cast<const char*>(std::memchr(text.data() + at, '\n', got - at));
            const std::size_t end =
                feed == nullptr ? got : static_cast<std::size_t>(feed - text.data()) + 1;
            out.append(text.data() + at, end - at);
            if (feed != nullptr) {
                ++line;
                begins = true;
            }
            at = end;
        }
        offset += got;
        AddProgress(got);
        if (out.size() >= ChunkBytes && !flush()) return false;
    }
    out += FEnding;
    return flush();
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
        const bool copied = FWithStamps ? CopyWithStamps(device, FPath) : Copy(device, FPath);
        if (copied && !device.Sync(error)) Fail(FPath, error);
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
    bool saved = FWithStamps ? CopyWithStamps(file, FPath) : Copy(file, FPath);
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

TFindTask::TFindTask(const TLogStore& ALog, std::string APattern, std::uint64_t AFrom,
                     bool AForward, bool AMatchCase)
    : FLog(ALog.Journal())
    , FPattern(std::move(APattern))
    , FFrom(AFrom)
    , FForward(AForward)
    , FMatchCase(AMatchCase) {
    SetTotal(AForward ? FLog.Size() - std::min(AFrom, FLog.Size()) : AFrom);
    Start([this] { Run(); });
}

TFindTask::~TFindTask() {
    Cancel();
    Wait();
}

void TFindTask::Run() {
    TFileError error;
    if (FPattern.empty() || !FLog.Open(error)) {
        if (error) Fail(FLog.Path(), error);
        return;
    }
    const auto fold = [this](char AChar) {
        return FMatchCase || AChar < 'A' || AChar > 'Z' ? AChar : static_cast<char>(AChar + 32);
    };
    std::string pattern = FPattern;
    for (char& c : pattern)
        c = fold(c);
    // Each piece holds the places that may begin in it and the pattern's length less one more
    // bytes, so that nothing is missed between two pieces.
    const std::uint64_t size = FLog.Size(), length = pattern.size();
    std::vector<char> piece(ChunkBytes + pattern.size());
    std::uint64_t low = 0, high = 0; // places that may begin, this piece
    if (FForward) {
        low = std::min(FFrom, size);
        high = std::min(size, low + ChunkBytes);
    } else {
        high = std::min(FFrom, size);
        low = high > ChunkBytes ? high - ChunkBytes : 0;
    }
    while (low < high) {
        if (Cancelling()) return;
        const auto want = static_cast<std::size_t>(std::min(size, high + length - 1) - low);
        const std::size_t got = FLog.ReadAt(low, piece.data(), want, error);
        if (got < want) {
            Fail(FLog.Path(), error ? error : TFileError{EIO, std::strerror(EIO)});
            return;
        }
        for (std::size_t i = 0; i < got; ++i)
            piece[i] = fold(piece[i]);
        const std::string_view text(piece.data(), got);
        const std::size_t at = FForward
                                   ? text.find(pattern)
                                   : text.rfind(pattern, static_cast<std::size_t>(high - low - 1));
        if (at != std::string_view::npos) {
            FFound = low + at;
            return;
        }
        AddProgress(high - low);
        if (FForward) {
            low = high;
            high = std::min(size, low + ChunkBytes);
        } else {
            high = low;
            low = high > ChunkBytes ? high - ChunkBytes : 0;
        }
    }
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
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(ChunkBytes, size - offset));
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
    // The journal may have been cut anywhere: it is taken to end where its bytes end, and its
    // stamps where its lines end.
    auto stamps = TStamps::Restore(FPath, FIndex.LineCount());
    return std::make_unique<TLogStore>(std::make_unique<TJournal>(FPath, std::move(FFile)),
                                       std::move(FIndex), TLineBreaks(), std::move(stamps));
}

} // namespace quendal
