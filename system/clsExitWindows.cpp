#include "system/clsExitWindows.h"

#include <string>

#include "runtime/ansi.h"
#include "runtime/handles.h"
#include "system/api.h"

namespace {

constexpr DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;  // 0x28
static_assert(sizeof(TOKEN_PRIVILEGES) == 16);

}  // namespace

clsExitWindows::Status clsExitWindows::ExitWindows(long aOption)
{
    Status status;
    try {
        const DWORD privilege = EnableShutdownPrivilege();
        UINT flags;
        switch (static_cast<unsigned long>(aOption)) {
        case 0: flags = EWX_LOGOFF | EWX_FORCE; break;
        case 1: flags = EWX_SHUTDOWN | EWX_FORCE; break;
        case 2: flags = EWX_SHUTDOWN | EWX_REBOOT | EWX_FORCE; break;
        case 8: flags = EWX_POWEROFF | EWX_FORCE; break;
        default: return status;
        }
        if (privilege != ERROR_SUCCESS && flags != (EWX_LOGOFF | EWX_FORCE)) {
            status.refused = privilege;
        } else if (!sys::Entry(sys::api().ExitWindowsEx)(flags, 0xFFFFFFFF)) {
            status.refused = GetLastError();
        }
    } catch (const runtime::Error& e) {
        status.error = e.number();
    }
    return status;
}

// A failed open or look-up makes the adjustment fail in turn, which the status shows.
DWORD clsExitWindows::EnableShutdownPrivilege()
{
    const sys::Api& os = sys::api();
    HANDLE process = sys::Entry(os.GetCurrentProcess)();
    HANDLE raw = nullptr;
    if (!sys::Entry(os.OpenProcessToken)(process, kTokenAccess, &raw)) raw = nullptr;
    runtime::UniqueHandle token(raw);

    LUID luid{};
    std::wstring systemName;  // empty, not null: the local system
    std::wstring privilege = L"SeShutdownPrivilege";
    {
        runtime::AnsiRef systemArg(systemName), privilegeArg(privilege);
        sys::Entry(os.LookupPrivilegeValueA)(systemArg.get(), privilegeArg.get(), &luid);
    }

    TOKEN_PRIVILEGES newState{};
    newState.PrivilegeCount = 1;
    newState.Privileges[0].Luid = luid;
    newState.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previousState{};
    DWORD returnLength = 0;
    // Success alone does not mean enabled: GetLastError tells whether all were assigned.
    BOOL adjusted = sys::Entry(os.AdjustTokenPrivileges)(token.get(), FALSE, &newState, sizeof newState,
                                                         &previousState, &returnLength);
    DWORD error = GetLastError();
    return adjusted || error ? error : ERROR_NOT_ALL_ASSIGNED;
}
