#include "system/api.h"

namespace sys {
namespace {

// SHELL32 brings a dozen DLLs into the process and only the web link, the offer to
// run as administrator and the first phase's copy need it, so it is loaded on first
// use instead of at start-up.
// Like an import, it then stays loaded for the rest of the process. Where it cannot be
// had, the entry stays empty: a missing entry point.
template <typename Fn>
Fn ShellEntry(Fn& slot, const char* name)
{
    slot = Proc<Fn>(LoadLibraryW(L"shell32.dll"), name);
    return Entry(slot);
}

HINSTANCE WINAPI ShellExecuteOnFirstUse(HWND hwnd, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                        INT show)
{
    return ShellEntry(api().ShellExecuteA, "ShellExecuteA")(hwnd, verb, file, parameters, directory, show);
}

BOOL WINAPI ShellExecuteExOnFirstUse(SHELLEXECUTEINFOW* info)
{
    return ShellEntry(api().ShellExecuteExW, "ShellExecuteExW")(info);
}

HRESULT WINAPI FolderPathOnFirstUse(HWND hwnd, int folder, HANDLE token, DWORD flags, LPWSTR path)
{
    return ShellEntry(api().SHGetFolderPathW, "SHGetFolderPathW")(hwnd, folder, token, flags, path);
}

}  // namespace

Api& api()
{
    static Api windows{::GetCurrentProcess,     ::OpenProcessToken, ::LookupPrivilegeValueA,
                       ::AdjustTokenPrivileges, ::ExitWindowsEx,    ::GetWindowsDirectoryA,
                       ShellExecuteOnFirstUse,  ShellExecuteExOnFirstUse, ::GetTokenInformation,
                       FolderPathOnFirstUse,    ::CreateDirectoryW,  ::GetVolumeInformationW,
                       ::CreateFileW};
    return windows;
}

}  // namespace sys
