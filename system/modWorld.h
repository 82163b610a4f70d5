#pragma once
#include <string>

#include "runtime/form.h"

namespace modWorld {

// The Windows directory as the system gives it: no separator added, and "" when
// the system wrote nothing into the buffer.
std::wstring GetWindowsDir();

// Opens aAddress with the shell's "Open" verb, normally in the default browser.
// A run-time error on the way is shown as a prompt and goes no further.
void OpenWebPage(runtime::Form& aForm, std::wstring& aAddress);

// Ends every process but this one whose image is the file aImage (full paths compared
// without regard to case), waiting a few seconds at most for each to end. A process
// that cannot be opened or ended is left running.
void EndProcesses(const std::wstring& aImage);

// Starts aFile without arguments in aFolder through the shell's "runas" verb: the
// elevation prompt since Vista, the "Run as" dialog on XP. True once it has started;
// false when the user declined or the shell could not start it.
bool RunAsAdministrator(HWND aOwner, const std::wstring& aFile, const std::wstring& aFolder);

}  // namespace modWorld
