// The recorder: the logger without a display, for labs that log on machines without one.
//
//     quendal --record PORT [--baud N] [--poll] [--timestamps] [--output FILE]
//                           [--rotate-size MB | --rotate-daily]
//
// Opens PORT with the stored settings (the window's), logs what arrives to FILE (else to a file
// of its own in the journal folder) as a saved log has it, with the journal's durability,
// reconnects after the device went away, prints a status line a minute to standard error, and
// ends cleanly on SIGINT or SIGTERM.
#pragma once

#include "Journal.h"
#include "LogStore.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace quendal {

struct TRecorderOptions {
    std::string Port;
    std::uint32_t Baud = 0; // 0: the stored rate
    bool Poll = false;
    bool TimeStamps = false;
    std::string Output;            // empty: a file in the journal folder
    std::uint64_t RotateBytes = 0; // 0: no rotation by size
    bool RotateDaily = false;
};

// Whether the arguments ask for the recorder.
bool WantsRecorder(int argc, char** argv);
// Reads the recorder's arguments; false with AError set when they are wrong.
bool ParseRecorder(int argc, char** argv, TRecorderOptions& AOptions, std::string& AError);

// The file a recorder writes: received text in a saved log's form (lines ended by CR LF, in
// the code page), each line with its time and a tab first when asked, appended as it arrives
// and made durable as a journal is; a new file begins at a line's start once the size is
// reached or the day has changed.
class TRecordFile {
public:
    // APath is the file; with rotation each file's name gets the time it began.
    TRecordFile(std::string APath, bool AStamps, std::uint64_t ARotateBytes, bool ARotateDaily);
    // Opens (appending) or creates the first file; false, with AError, when it cannot.
    bool Open(TFileError& AError);

    void Append(std::string_view AText, std::int64_t AStamp);
    // A poll's line feed: a line break where a line begins, as in the window.
    void PollLineFeed(std::int64_t AStamp);
    // Ends a line that a device left unfinished when it went away.
    void EndLine(std::int64_t AStamp);
    // Retries what waits in memory, and starts a new file when the day has changed.
    void Service(std::int64_t ANow);

    const std::string& Path() const { return FPath; }
    std::uint64_t Lines() const { return FLines; }
    std::uint64_t Bytes() const { return FBytes; }
    TJournal& Journal() { return *FJournal; }

private:
    std::string NameFor(std::int64_t AStamp) const;
    bool Start(std::int64_t AStamp, TFileError& AError);
    void Put(std::string_view ABytes, std::int64_t AStamp);
    void RotateIfDue(std::int64_t AStamp);

    std::string FBase;
    std::string FPath;
    bool FStamps;
    std::uint64_t FRotateBytes;
    bool FRotateDaily;
    int FDay = -1;
    std::unique_ptr<TJournal> FJournal;
    TLineBreaks FBreaks;
    std::string FNormalized;
    std::string FOut;
    bool FAtLineStart = true;
    std::uint64_t FLines = 0;
    std::uint64_t FBytes = 0;
};

// Runs the recorder until it is asked to stop; messages go to AErr. Returns the program's exit
// status: 0 after a stop, 1 when the port or the file cannot be opened at the start.
int RunRecorder(const TRecorderOptions& AOptions, std::ostream& AErr);

} // namespace quendal
