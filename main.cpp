#include <windows.h>

#include <cstdlib>

#include "runtime/app.h"
#include "system/api.h"
#include "window/frmMain.h"
#include "workflow/Removal.h"

namespace {

// Only the system folder may supply DLLs: a tool that people run from their Downloads
// folder must not load a planted copy. XP, Vista and Windows 7 without KB2533623 lack
// that call; there at least the current folder leaves the search (XP SP1 and later).
void RestrictDllSearch()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (auto set = sys::Proc<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories")) {
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else if (auto directory = sys::Proc<BOOL(WINAPI*)(LPCWSTR)>(kernel, "SetDllDirectoryW")) {
        directory(L"");
    }
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
    workflow::Removal handlers(runtime::app::OpenImage());
    window::frmMain form(instance, handlers);
    return window::RunMessageLoop(form);
}
