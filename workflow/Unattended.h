#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime/desktop.h"
#include "runtime/handles.h"
#include "runtime/log.h"

// The program run with switches, for administrators who clean many machines at once
// (startup scripts, deployment tools, remote shells): no one may be asked anything,
// the result is the exit code that such tools read, and each run leaves a log.
namespace workflow {

// Exit codes of a run with switches, Windows Installer's where they have a meaning.
namespace exitcode {
inline constexpr int Clean = 0;             // no trace, or every trace removed
inline constexpr int Failed = 1;            // a trace left, or a step not seen done
inline constexpr int NotAdministrator = 5;  // ERROR_ACCESS_DENIED
inline constexpr int Found = 6;             // detect only: traces found
inline constexpr int BadSwitch = 87;        // ERROR_INVALID_PARAMETER
inline constexpr int RestartNeeded = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
inline constexpr int Busy = 1618;           // ERROR_INSTALL_ALREADY_RUNNING
}  // namespace exitcode

struct Switches {
    bool any = false;       // the command line held arguments
    bool valid = true;      // every one of them is known and well formed
    bool quiet = false;     // /Q, /QUIET
    bool detect = false;    // /N
    bool help = false;      // /?
    std::wstring log;       // /LOG=file
    std::wstring bad;       // the first argument not understood
};

// Reads ARGUMENTS (the command line without the program's own path), in any case,
// each with "/" or "-".
Switches ReadSwitches(const std::vector<std::wstring>& arguments);

// The run that the switches ask for, when it is not the window's: its exit code.
// Nothing when the window is to be shown (no switch, or only /LOG=).
std::optional<int> RunUnattended(const Switches& switches);

// A named mutex owned for as long as this lives: the mark of a run that is changing
// something, which others wait for. Not owned when the name was there already.
class RunMark {
public:
    RunMark(const wchar_t* name, const wchar_t* access);
    ~RunMark();
    RunMark(const RunMark&) = delete;
    RunMark& operator=(const RunMark&) = delete;

    bool Owned() const { return owned_; }
    // The mutex, when the name could be opened; ERROR_SUCCESS once this one made it.
    HANDLE get() const { return mutex_.get(); }
    DWORD status() const { return status_; }

private:
    runtime::UniqueHandle mutex_;
    DWORD status_;
    bool owned_;
};

// The mark of a window run while one of its phases changes something (the press's
// steps, the completion): an unattended run waits for it, a minute at most.
class WindowChange final : public RunMark {
public:
    WindowChange();
};

// Waits, a minute at most, for an unattended run that is under way to end.
void WaitForUnattendedRun();

// The log of one run with switches, from its first line (time, version, command line,
// account, Windows) to its exit code. For as long as it lives, every message box is
// told to the log as well; a QUIET one shows none and answers as if declined, and the
// program's end writes the log first.
class RunLog final : public runtime::Desktop {
public:
    RunLog(const std::wstring& file, bool quiet);
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    int ShowMessage(const std::wstring& text, UINT style, const std::wstring& title) override;
    void EndProgram() override;
    // Ends the block with CODE and appends it to the file.
    void Close(int code);

    runtime::Log log{true};
    int messages = 0;  // message boxes that a quiet run did not show

private:
    bool quiet_;
    runtime::DesktopOverride override_{*this};
};

// Where a run's log goes when no /LOG= says: the Windows directory's Debug folder for
// an administrator or SYSTEM, else the user's temporary folder.
std::wstring DefaultLogFile();

// The file that /LOG=GIVEN names: GIVEN where it is a whole path, else that name in
// the default log's folder (a deployment tool's working folder is deleted afterwards);
// the default log when GIVEN is empty.
std::wstring LogFile(const std::wstring& given);

}  // namespace workflow
