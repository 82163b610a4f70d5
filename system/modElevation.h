#pragma once
#include <windows.h>

#include <string>

// The rights this process runs with, and the way to more of them.
namespace modElevation {

// Whether this process runs with administrator rights: an elevated token since Vista,
// a member of Administrators on XP.
bool Elevated();

// Enables the privilege aName (SE_DEBUG_NAME, ...) where the token holds it.
void EnablePrivilege(const wchar_t* aName);

// Enables the debug privilege where the token holds it, so that an administrator may
// end processes of other accounts.
inline void EnableDebugPrivilege() { EnablePrivilege(SE_DEBUG_NAME); }

// Starts aFile without arguments in aFolder through the shell's "runas" verb: the
// elevation prompt since Vista, the "Run as" dialog on XP. True once it has started;
// false when the user declined or the shell could not start it.
bool RunAsAdministrator(HWND aOwner, const std::wstring& aFile, const std::wstring& aFolder);

}  // namespace modElevation
