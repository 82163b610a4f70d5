#include "system/modElevation.h"

#include "runtime/errors.h"
#include "runtime/handles.h"
#include "system/api.h"

namespace modElevation {

bool Elevated()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    runtime::UniqueHandle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (sys::api().GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return elevation.TokenIsElevated != 0;
    // XP knows no elevation: a member of Administrators has all their rights.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    BOOL member = FALSE;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &administrators)) {
        if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
        FreeSid(administrators);
    }
    return member != FALSE;
}

void EnablePrivilege(const wchar_t* aName)
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
    runtime::UniqueHandle token(raw);
    TOKEN_PRIVILEGES privilege{};
    privilege.PrivilegeCount = 1;
    privilege.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, aName, &privilege.Privileges[0].Luid))
        AdjustTokenPrivileges(token.get(), FALSE, &privilege, sizeof privilege, nullptr, nullptr);
}

bool RunAsAdministrator(HWND aOwner, const std::wstring& aFile, const std::wstring& aFolder)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;  // the caller ends right after; let the start finish first
    info.hwnd = aOwner;
    info.lpVerb = L"runas";
    info.lpFile = aFile.c_str();
    info.lpDirectory = aFolder.c_str();
    info.nShow = SW_SHOWNORMAL;
    try {
        return sys::Entry(sys::api().ShellExecuteExW)(&info) != FALSE;
    } catch (const runtime::Error&) {
        return false;  // no shell to ask: nothing started
    }
}

}  // namespace modElevation
