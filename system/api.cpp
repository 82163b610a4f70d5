#include "system/api.h"

#include <shellapi.h>

namespace sys {
namespace {

// SHELL32 brings a dozen DLLs into the process and only the web link needs it, so it
// is loaded on the link's first click instead of at start-up. Like an import, it then
// stays loaded for the rest of the process. Where it cannot be had, the entry stays
// empty: a missing entry point.
HINSTANCE WINAPI ShellExecuteOnFirstUse(HWND hwnd, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                        INT show)
{
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    auto real = reinterpret_cast<decltype(&::ShellExecuteA)>(
        reinterpret_cast<void*>(shell ? GetProcAddress(shell, "ShellExecuteA") : nullptr));
    api().ShellExecuteA = real;
    return Entry(real)(hwnd, verb, file, parameters, directory, show);
}

}  // namespace

Api& api()
{
    static Api windows{::GetCurrentProcess, ::OpenProcessToken,     ::LookupPrivilegeValueA, ::AdjustTokenPrivileges,
                       ::ExitWindowsEx,     ::GetWindowsDirectoryA, ShellExecuteOnFirstUse};
    return windows;
}

}  // namespace sys
