#pragma once
#include <windows.h>
#include <shellapi.h>

#include "runtime/errors.h"

namespace sys {

// The Windows calls of this layer that a test cannot make for real (they restart
// the machine, open a browser or an elevation prompt, answer from the one Windows
// directory or Program Files folder there is, under Wine report every process as
// elevated, keep no access list that a folder is made with, nor one that refuses a
// file's deletion, or have no volume without access lists to show).
// The program's own build fills the table with Windows' own functions.
struct Api {
    HANDLE(WINAPI* GetCurrentProcess)();
    BOOL(WINAPI* OpenProcessToken)(HANDLE, DWORD, PHANDLE);
    BOOL(WINAPI* LookupPrivilegeValueA)(LPCSTR, LPCSTR, PLUID);
    BOOL(WINAPI* AdjustTokenPrivileges)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
    BOOL(WINAPI* ExitWindowsEx)(UINT, DWORD);
    UINT(WINAPI* GetWindowsDirectoryA)(LPSTR, UINT);
    HINSTANCE(WINAPI* ShellExecuteA)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    BOOL(WINAPI* ShellExecuteExW)(SHELLEXECUTEINFOW*);
    BOOL(WINAPI* GetTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    HRESULT(WINAPI* SHGetFolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);
    BOOL(WINAPI* CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI* GetVolumeInformationW)(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    HANDLE(WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
};

Api& api();

// Entry point NAME of MODULE, or null when either is missing: for calls that an older
// Windows lacks, or a DLL loaded only when first needed.
template <typename Fn>
Fn Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(module ? GetProcAddress(module, name) : nullptr));
}

// An entry point that cannot be found is a run-time error, as for a missing DLL export.
template <typename Fn>
Fn Entry(Fn fn)
{
    if (!fn) runtime::Raise(runtime::err::EntryPointNotFound);
    return fn;
}

}  // namespace sys
