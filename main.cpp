#include <windows.h>

#include "window/frmMain.h"
#include "workflow/Removal.h"

namespace {

// Only the system folder may supply DLLs: a tool that people run from their Downloads
// folder must not load a planted copy. Windows 7 without KB2533623 and XP lack the
// call; the program still runs there.
void RestrictDllSearch()
{
    using Fn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto set = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    RestrictDllSearch();
    workflow::Removal handlers;
    window::frmMain form(instance, handlers);
    return window::RunMessageLoop(form);
}
