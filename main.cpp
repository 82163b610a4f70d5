#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "runtime/app.h"
#include "system/api.h"
#include "window/frmMain.h"
#include "workflow/Removal.h"
#include "workflow/Unattended.h"

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

// The command line's arguments, as the C runtime split them, without the program's path.
std::vector<std::wstring> Arguments()
{
    std::vector<std::wstring> arguments;
    for (int i = 1; i < __argc; ++i) arguments.emplace_back(__wargv[i]);
    return arguments;
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
    const workflow::Switches switches = workflow::ReadSwitches(Arguments());
    if (const std::optional<int> code = workflow::RunUnattended(switches)) return *code;
    // A window run keeps a log only when asked to.
    std::optional<workflow::RunLog> logged;
    if (!switches.log.empty()) logged.emplace(workflow::LogFile(switches.log), false);
    runtime::Log unlogged(false);
    workflow::Removal handlers(runtime::app::OpenImage(), logged ? logged->log : unlogged);
    window::frmMain form(instance, handlers);
    const int code = window::RunMessageLoop(form);
    if (logged) logged->Close(code);
    return code;
}
