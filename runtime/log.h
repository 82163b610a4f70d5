#pragma once
#include <windows.h>

#include <string>

namespace runtime {

// What one run did, for the administrator who reads it later: lines kept in memory and
// appended to a file as one block, so that runs at the same time do not mix their lines.
// A log that is not kept (a window run without a log file) takes no lines.
class Log {
public:
    explicit Log(bool kept) : kept_(kept) {}

    bool Kept() const { return kept_; }
    void Line(const std::wstring& text);
    void Found(const std::wstring& trace) { Line(L"encontrado: " + trace); }
    // An action and the Windows result code it ended with.
    void Did(const std::wstring& action, LONG result) { Line(action + L": " + std::to_wstring(result)); }

    // Appends the lines to aFile as UTF-8 and forgets them. The file is opened as
    // itself: a reparse point, or a file with another name (a hard link), at its place
    // is refused, never written through. The run that creates it writes the byte order
    // mark that Notepad on XP needs to show the accents. A file that would grow past
    // aLimit bytes first hands its content to the rotated file, through handles (nothing
    // is renamed), and begins again. False when the file cannot be written; the lines
    // are then kept.
    bool AppendTo(const std::wstring& aFile, LONGLONG aLimit = 1024 * 1024);

    // Makes aFile the log's file, for Flush; the lines after a flush begin a new block,
    // headed by the time and aTitle.
    void KeepIn(const std::wstring& aFile, const std::wstring& aTitle);
    // Appends what is there to the log's file now: before a restart, which ends the
    // process without a word.
    void Flush();

private:
    bool kept_;
    std::wstring text_, file_, title_;
    bool flushed_ = false;
};

// aFile's rotated name, which keeps the older part of the log: "x.old.log" for "x.log".
std::wstring Rotated(const std::wstring& aFile);

// The time now, in UTC, as ISO 8601 ("2026-12-09T21:30:05Z").
std::wstring UtcNow();

}  // namespace runtime
