// The few system calls the logger needs beyond the standard library: appends made durable,
// reads at an offset, advisory locks, atomic replacement, local time, the stop signals of a
// program without a window. One implementation per system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quendal {

// Why a file operation failed: the system's error code and its text, in the system's words
// ("No space left on device"). Code 0 means no failure.
struct TFileError {
    int Code = 0;
    std::string Text;
    explicit operator bool() const { return Code != 0; }
};

class TFile {
public:
    enum class TMode {
        CreateNew,       // a file that must not exist yet, for reading and appending
        CreateTemporary, // a file that must not exist yet, for writing from its start
        Append,          // an existing file, for reading and appending
        Read,            // an existing file, for reading
        Write,           // an existing file or device, written from its start
    };

    TFile() = default;
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    TFile(TFile&& AOther) noexcept
        : FHandle(std::exchange(AOther.FHandle, -1)) {}
    TFile& operator=(TFile&& AOther) noexcept {
        if (this != &AOther) {
            Close();
            FHandle = std::exchange(AOther.FHandle, -1);
        }
        return *this;
    }
    ~TFile() { Close(); }

    static TFile Open(const std::string& APath, TMode AMode, TFileError& AError);

    bool IsOpen() const { return FHandle != -1; }
    void Close();

    // An exclusive lock held while this file stays open; false when another open file holds
    // one (in this process or another).
    bool TryLock();
    // Writes everything unless an error stops it; returns how much was written.
    std::size_t Write(const char* AData, std::size_t ACount, TFileError& AError);
    // Reads up to ACount bytes at AOffset (fewer only at the end of the file or on an error).
    std::size_t ReadAt(std::uint64_t AOffset, char* ABuffer, std::size_t ACount,
                       TFileError& AError) const;
    // Appends ACount bytes of ASource from AOffset, inside the system where it can; returns how
    // many it appended.
    std::size_t CopyFrom(const TFile& ASource, std::uint64_t AOffset, std::size_t ACount,
                         TFileError& AError);
    // Reads on from where the last read ended.
    std::size_t Read(char* ABuffer, std::size_t ACount, TFileError& AError);
    // Makes what was written durable (its data; the size too where it changed).
    bool Sync(TFileError& AError);
    std::uint64_t Size() const;
    // Cuts the file to ASize bytes.
    bool Truncate(std::uint64_t ASize);
    // Gives the file the permissions of APath's file.
    void CopyPermissionsFrom(const std::string& APath);

private:
    std::intptr_t FHandle = -1;
};

struct TFileInfo {
    std::string Path;
    std::uint64_t Size = 0;
    std::time_t Modified = 0;
};

namespace files {

// The error of the last failed system call of this thread.
TFileError LastError();
// Creates the folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& APath, TFileError& AError);
// Makes the names in a folder durable (after a file was created, renamed or removed).
void SyncFolder(const std::string& APath);
// The regular files of a folder whose names start with APrefix and end with ASuffix.
std::vector<TFileInfo> List(const std::string& AFolder, const std::string& APrefix,
                            const std::string& ASuffix);
bool Exists(const std::string& APath);
// The size and time of a regular file; false for anything else or nothing.
bool Stat(const std::string& APath, TFileInfo& AInfo);
bool Remove(const std::string& APath);
// Whether APath (after links) is something other than a regular file or folder: a device.
bool IsDevice(const std::string& APath);
// Whether the caller may write an existing file by its permission bits, which decide for root
// too: a file its owner made read-only is not replaced by anybody.
bool MayWrite(const std::string& APath, TFileError& AError);
// APath with its links resolved, when it exists; else APath.
std::string Resolve(const std::string& APath);
std::string FolderOf(const std::string& APath);
std::string NameOf(const std::string& APath);
// Replaces ATarget by ASource in one step.
bool Replace(const std::string& ASource, const std::string& ATarget, TFileError& AError);
// A name for a temporary file next to APath, not in use yet.
std::string TemporaryNameFor(const std::string& APath);
// The folder for the program's state: $XDG_STATE_HOME, else ~/.local/state.
std::string StateHome();
// The current process's identifier.
long ProcessId();
// A time as the local calendar has it.
std::tm LocalTime(std::time_t ATime);
// Calls AStop (on a thread of its own) when the program is asked to stop: SIGINT or SIGTERM,
// Ctrl+C or the console closing on Windows. Call it before any other thread starts; the
// signals are then no longer delivered the default way.
void OnStopSignal(std::function<void()> AStop);

} // namespace files
} // namespace quendal
