#include "System.h"

#include <windows.h>

#include <cstdlib>
#include <random>

namespace quendal {

namespace {

std::wstring Wide(const std::string& AText) {
    if (AText.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const wchar_t* AText) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, AText, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string narrow(static_cast<std::size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, AText, -1, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

TFileError ErrorOf(DWORD ACode) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text != nullptr ? Narrow(text) : "Error " + std::to_string(ACode);
    LocalFree(text);
    // The system's texts end in a full stop and a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    return TFileError{static_cast<int>(ACode), message};
}

HANDLE Handle(std::intptr_t AValue) {
    return reinterpret_cast<HANDLE>(AValue);
}

} // namespace

TFile TFile::Open(const std::string& APath, TMode AMode, TFileError& AError) {
    DWORD access = GENERIC_READ | GENERIC_WRITE, disposition = OPEN_EXISTING;
    switch (AMode) {
    case TMode::CreateNew:
    case TMode::CreateTemporary:
        disposition = CREATE_NEW;
        break;
    case TMode::Append:
        break;
    case TMode::Read:
        access = GENERIC_READ;
        break;
    case TMode::Write:
        access = GENERIC_WRITE;
        break;
    }
    // Others may read a journal and remove it (the folder's limit) while it is open, as on
    // Linux; writing stays ours. A reader must in turn let the writer go on: a journal is read
    // (saved, restored) while the log still writes to it, and Windows refuses an open whose
    // sharing does not allow the access that other handles already have.
    DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    if (AMode == TMode::Read) share |= FILE_SHARE_WRITE;
    const HANDLE handle = CreateFileW(Wide(APath).c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    TFile file;
    if (handle == INVALID_HANDLE_VALUE) {
        AError = files::LastError();
        return file;
    }
    file.FHandle = reinterpret_cast<std::intptr_t>(handle);
    if (AMode == TMode::CreateNew || AMode == TMode::Append)
        SetFilePointer(handle, 0, nullptr, FILE_END);
    return file;
}

void TFile::Close() {
    if (FHandle != -1) CloseHandle(Handle(FHandle));
    FHandle = -1;
}

bool TFile::TryLock() {
    OVERLAPPED whole{};
    return LockFileEx(Handle(FHandle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &whole) != 0;
}

std::size_t TFile::Write(const char* AData, std::size_t ACount, TFileError& AError) {
    std::size_t done = 0;
    while (done < ACount) {
        DWORD written = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(ACount - done, 1u << 30));
        if (!WriteFile(Handle(FHandle), AData + done, want, &written, nullptr)) {
            AError = files::LastError();
            break;
        }
        done += written;
    }
    return done;
}

std::size_t TFile::ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount,
                          TFileError& AError) const {
    std::size_t done = 0;
    while (done < ACount) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>((AOffset + done) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>((AOffset + done) >> 32);
        DWORD read = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(ACount - done, 1u << 30));
        if (!ReadFile(Handle(FHandle), ABuffer + done, want, &read, &at)) {
            if (GetLastError() != ERROR_HANDLE_EOF) AError = files::LastError();
            break;
        }
        if (read == 0) break;
        done += read;
    }
    return done;
}

std::size_t TFile::CopyFrom(const TFile& ASource, std::uint64_t AOffset, std::size_t ACount,
                            TFileError& AError) {
    std::string buffer(std::min<std::size_t>(ACount, 1 << 20), '\0');
    std::size_t done = 0;
    while (done < ACount) {
        const std::size_t want = std::min(buffer.size(), ACount - done);
        const std::size_t got = ASource.ReadAt(AOffset + done, buffer.data(), want, AError);
        if (got == 0) return done;
        const std::size_t written = Write(buffer.data(), got, AError);
        done += written;
        if (written < got) return done;
    }
    return done;
}

std::size_t TFile::Read(char* ABuffer, std::size_t ACount, TFileError& AError) {
    DWORD read = 0;
    if (!ReadFile(Handle(FHandle), ABuffer,
                  static_cast<DWORD>(std::min<std::size_t>(ACount, 1u << 30)), &read, nullptr)) {
        AError = files::LastError();
        return 0;
    }
    return read;
}

bool TFile::Sync(TFileError& AError) {
    if (FlushFileBuffers(Handle(FHandle))) return true;
    // Devices that keep nothing (NUL) cannot be flushed, and need not be.
    if (GetLastError() == ERROR_INVALID_FUNCTION || GetLastError() == ERROR_INVALID_HANDLE)
        return true;
    AError = files::LastError();
    return false;
}

std::uint64_t TFile::Size() const {
    LARGE_INTEGER size{};
    return GetFileSizeEx(Handle(FHandle), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool TFile::Truncate(std::uint64_t ASize) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(ASize);
    const bool done =
        SetFilePointerEx(Handle(FHandle), at, nullptr, FILE_BEGIN) && SetEndOfFile(Handle(FHandle));
    SetFilePointer(Handle(FHandle), 0, nullptr, FILE_END);
    return done;
}

void TFile::CopyPermissionsFrom(const std::string&) {
    // The folder's inherited permissions apply, as to any new file there.
}

namespace files {

TFileError LastError() {
    return ErrorOf(GetLastError());
}

bool MakeFolders(const std::string& APath, TFileError& AError) {
    std::string path;
    for (std::size_t pos = 0; pos != std::string::npos;) {
        pos = APath.find_first_of("/\\", pos + 1);
        path = APath.substr(0, pos);
        if (path.empty() || path.back() == ':') continue;
        if (!CreateDirectoryW(Wide(path).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            AError = LastError();
            return false;
        }
    }
    const DWORD attributes = GetFileAttributesW(Wide(APath).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        AError = attributes == INVALID_FILE_ATTRIBUTES ? LastError() : ErrorOf(ERROR_DIRECTORY);
        return false;
    }
    return true;
}

void SyncFolder(const std::string&) {
    // NTFS makes names durable with its own log.
}

std::vector<TFileInfo> List(const std::string& AFolder, const std::string& APrefix,
                            const std::string& ASuffix) {
    std::vector<TFileInfo> found;
    WIN32_FIND_DATAW entry{};
    const HANDLE search =
        FindFirstFileW(Wide(AFolder + "\\" + APrefix + "*" + ASuffix).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        const std::string name = Narrow(entry.cFileName);
        // The pattern also matches short names and longer endings.
        if (name.size() < APrefix.size() + ASuffix.size() || name.rfind(APrefix, 0) != 0 ||
            name.compare(name.size() - ASuffix.size(), ASuffix.size(), ASuffix) != 0)
            continue;
        TFileInfo info;
        info.Path = AFolder + "/" + name;
        if (Stat(info.Path, info)) found.push_back(std::move(info));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

bool Exists(const std::string& APath) {
    return GetFileAttributesW(Wide(APath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Stat(const std::string& APath, TFileInfo& AInfo) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(APath).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    AInfo.Path = APath;
    AInfo.Size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    // 100 ns steps since 1601 to seconds since 1970.
    const std::uint64_t ticks = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                data.ftLastWriteTime.dwLowDateTime;
    AInfo.Modified = static_cast<std::time_t>(ticks / 10000000u - 11644473600u);
    return true;
}

bool Remove(const std::string& APath) {
    return DeleteFileW(Wide(APath).c_str()) != 0;
}

bool IsDevice(const std::string& APath) {
    const HANDLE handle = CreateFileW(Wide(APath).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

bool MayWrite(const std::string& APath, TFileError& AError) {
    const DWORD attributes = GetFileAttributesW(Wide(APath).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        AError = LastError();
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
    AError = ErrorOf(ERROR_ACCESS_DENIED);
    return false;
}

std::string Resolve(const std::string& APath) {
    return APath;
}

std::string FolderOf(const std::string& APath) {
    const std::size_t slash = APath.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? APath.substr(0, 1) : APath.substr(0, slash);
}

std::string NameOf(const std::string& APath) {
    const std::size_t slash = APath.find_last_of("/\\");
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

bool Replace(const std::string& ASource, const std::string& ATarget, TFileError& AError) {
    if (MoveFileExW(Wide(ASource).c_str(), Wide(ATarget).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    AError = LastError();
    return false;
}

std::string TemporaryNameFor(const std::string& APath) {
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::string folder = FolderOf(APath);
    for (;;) {
        const std::string name =
            folder + "/." + NameOf(APath) + "." + std::to_string(random() % 1000000) + ".tmp";
        if (!Exists(name)) return name;
    }
}

std::string StateHome() {
    // The user's local application data, which is not carried to other machines.
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local != nullptr && local[0] != L'\0')
        return Narrow(local);
    return ".";
}

long ProcessId() {
    return static_cast<long>(GetCurrentProcessId());
}

std::tm LocalTime(std::time_t ATime) {
    std::tm local{};
    localtime_s(&local, &ATime);
    return local;
}

namespace {
std::function<void()> StopHandler;

// The console calls this on a thread of its own; a named WINAPI function
// because 32-bit Windows wants stdcall here.
BOOL WINAPI OnConsoleStop(DWORD) {
    if (StopHandler) StopHandler();
    return TRUE;
}
} // namespace

void OnStopSignal(std::function<void()> AStop) {
    StopHandler = std::move(AStop);
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}

} // namespace files
} // namespace quendal
