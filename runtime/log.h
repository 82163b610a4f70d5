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

    // Appends the lines to aFile as UTF-8 (with a byte order mark when the file is new,
    // which Notepad on XP needs to show the accents) and forgets them. A file that would
    // grow past aLimit bytes is first renamed to the rotated name, replacing an older
    // one. False when the file cannot be written; the lines are then kept.
    bool AppendTo(const std::wstring& aFile, LONGLONG aLimit = 1024 * 1024);

private:
    bool kept_;
    std::wstring text_;
};

// aFile's rotated name, which keeps the older part of the log: "x.old.log" for "x.log".
std::wstring Rotated(const std::wstring& aFile);

// The time now, in UTC, as ISO 8601 ("2026-12-09T21:30:05Z").
std::wstring UtcNow();

}  // namespace runtime
