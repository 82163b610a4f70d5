#pragma once
#include <windows.h>

#include <string>

#include "runtime/form.h"

namespace modWorld {

// The Windows directory as the system gives it: no separator added, and "" when
// the system wrote nothing into the buffer.
std::wstring GetWindowsDir();

// Opens aAddress with the shell's "Open" verb, normally in the default browser.
// A run-time error on the way is shown as a prompt and goes no further.
void OpenWebPage(runtime::Form& aForm, std::wstring& aAddress);

// True when a process other than this one runs the file aImage (full path), as far as
// query rights can see.
bool Running(const std::wstring& aImage);

// Ends every process but this one whose image is the file aImage, waiting a few
// seconds at most for each to end. A process that cannot be opened or ended is left
// running.
void EndProcesses(const std::wstring& aImage);

// Ends the process of aProcess, through that handle alone, when its image is the file
// aImage; waits a few seconds at most. True once it has ended.
bool EndIfImage(HANDLE aProcess, const std::wstring& aImage);

// Whether this process runs with administrator rights: an elevated token since Vista,
// a member of Administrators on XP.
bool Elevated();

// Enables the debug privilege where the token holds it, so that an administrator may
// end processes of other accounts.
void EnableDebugPrivilege();

// Starts aFile without arguments in aFolder through the shell's "runas" verb: the
// elevation prompt since Vista, the "Run as" dialog on XP. True once it has started;
// false when the user declined or the shell could not start it.
bool RunAsAdministrator(HWND aOwner, const std::wstring& aFile, const std::wstring& aFolder);

}  // namespace modWorld
