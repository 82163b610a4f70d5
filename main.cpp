#include <windows.h>

#include <cstdlib>

#include "system/api.h"
#include "window/frmMain.h"
#include "workflow/Removal.h"

namespace {

// Only the system folder may supply DLLs: a tool that people run from their Downloads
// folder must not load a planted copy. Windows 7 without KB2533623 and XP lack the
// call; the program still runs there.
void RestrictDllSearch()
{
    auto set = sys::Proc<BOOL(WINAPI*)(DWORD)>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

// libstdc++'s default terminate handler names the uncaught exception's type on stderr,
// which a GUI program does not have, and links the whole demangler to do it: 60 KB of
// the executable. Replacing it ends the program the same way, by abort().
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    RestrictDllSearch();
    workflow::Removal handlers;
    window::frmMain form(instance, handlers);
    return window::RunMessageLoop(form);
}
