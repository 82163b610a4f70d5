// Looks at the program's windows, and arranges the machine, from another process of
// the same Wine session:
//   probe window TITLE              client origin and size of the top-level window TITLE
//   probe frame TITLE               its window rectangle, and the right and bottom of its monitor's work area
//   probe message TITLE             the text of the message box TITLE
//   probe dialog                    title and text of any message box on the screen
//   probe point window|message TITLE ID   screen centre of control ID of that window
//   probe hold FILE                 keeps FILE open without delete sharing until killed
//   probe session                   keeps this Wine session up, restarts included, until
//                                   the server is ended (see Session)
//   probe protect KEY SDDL          sets the DACL of HKLM\KEY; prints the one it had
//   probe limited EXE [ARG...]      starts EXE with the filtered token that Windows gives a
//                                   standard user's double click (Administrators deny-only)
//   probe rewrite                   a live worm: writes the user's "TrayX" back whenever it goes
//   probe run [limited|hidden] EXE [ARG...] starts EXE with ARGs (with the filtered token,
//                                   when limited; on a desktop of a window station of its own,
//                                   which no one sees, as SYSTEM's in session 0, when hidden),
//                                   waits for it, and prints "exit CODE windows N": its whole
//                                   exit code and how many windows it showed where this one
//                                   runs; one that has not ended after two minutes is ended
//   probe mutex NAME [SDDL]         holds the mutex NAME, owned, made with SDDL when given,
//                                   until killed
//   probe wait-mutex NAME           waits, a minute at most, until a mutex NAME exists
//   probe opened NAME N             waits, two minutes at most, until N handles are open on
//                                   the mutex NAME, this one's included: others wait on it
//   probe state                     every value the program may change, one a line, in one
//                                   process (each Wine start costs seconds under qemu): the
//                                   Run keys (HKLM64, HKLM32, HKCU), a second user's (HKU1001),
//                                   the program's settings (SETTINGS, BOOTED), the Session
//                                   Manager's values (SM): WHERE "NAME" TYPE:HEX a line
//   probe restart                   restarts Windows as the program does
// Waits up to 60 seconds for a window; exits 1 when it never comes.
#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

void PrintUtf8(const wchar_t* text)
{
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    std::printf("%s\n", utf8.c_str());
}

// Only a window that is on the screen counts: the main window is made hidden, and a
// message box shares its title with the main window. A null title matches any.
HWND FindVisible(const std::wstring& kind, const wchar_t* title)
{
    const wchar_t* cls = kind != L"window" ? L"#32770" : nullptr;
    for (int i = 0; i < 600; ++i, Sleep(100)) {
        for (HWND hwnd = nullptr; (hwnd = FindWindowExW(nullptr, hwnd, cls, title));) {
            wchar_t name[64] = L"";
            GetClassNameW(hwnd, name, 64);
            bool isMessage = std::wstring(name) == L"#32770";
            if (IsWindowVisible(hwnd) && isMessage == (kind != L"window")) return hwnd;
        }
    }
    return nullptr;
}

int Hold(const wchar_t* file)
{
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 1;
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

// Keeps this Wine session up until its server ends: a program running, holding the
// event that tells a program started from Linux that a session is up. Otherwise only
// Wine's services.exe holds it, and under qemu that crashes now and then: the next
// program then begins a session, whose start carries out the pending renames again and
// drops every one it could not, the copy's that its running completion asked for. Made
// again, set, should it have gone before this came to hold it (this runs in a session
// that has started). Wine's restart ends every process that it may terminate: this one
// denies that to everyone, so that the event lives across restarts too (wineserver -k
// still ends it).
int Session()
{
    using Create = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, ULONG, BOOLEAN);
    const auto create = reinterpret_cast<Create>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateEvent"));
    wchar_t path[] = L"\\KernelObjects\\__wineboot_event";
    UNICODE_STRING name{sizeof path - sizeof *path, sizeof path, path};
    OBJECT_ATTRIBUTES attributes{sizeof attributes, nullptr, &name, OBJ_OPENIF, nullptr, nullptr};
    const ULONG notification = 0;
    HANDLE event = nullptr;
    if (!create || create(&event, EVENT_ALL_ACCESS, &attributes, notification, TRUE) < 0) return 1;
    PSECURITY_DESCRIPTOR unkillable = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x1;;;WD)(A;;GA;;;WD)", SDDL_REVISION_1,
                                                              &unkillable, nullptr) ||
        !SetKernelObjectSecurity(GetCurrentProcess(), DACL_SECURITY_INFORMATION, unkillable))
        return 1;
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}

int Protect(const wchar_t* subKey, const wchar_t* sddl)
{
    HKEY key;
    // Below HKLM, or HKU when so named.
    const bool users = std::wstring(subKey).compare(0, 4, L"HKU\\") == 0;
    if (RegOpenKeyExW(users ? HKEY_USERS : HKEY_LOCAL_MACHINE, subKey + (users ? 4 : 0), 0, READ_CONTROL | WRITE_DAC,
                      &key) != ERROR_SUCCESS)
        return 1;
    BYTE old[4096];
    DWORD size = sizeof old;
    wchar_t* text = nullptr;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, old, &size) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(old, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
        PrintUtf8(text);
        LocalFree(text);
    }
    PSECURITY_DESCRIPTOR wanted = nullptr;
    LONG status = ERROR_INVALID_PARAMETER;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &wanted, nullptr)) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, wanted);
        LocalFree(wanted);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : 1;
}

// The token that User Account Control gives a program started by a double click, or
// at logon: the full token's linked one, where Wine still enables Administrators, with
// that group made deny-only as Windows has it. Null when it cannot be made.
HANDLE LimitedToken()
{
    HANDLE full = nullptr, limited = nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &full) ||
        !GetTokenInformation(full, TokenLinkedToken, &linked, sizeof linked, &size))
        return nullptr;
    CloseHandle(full);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return nullptr;
    SID_AND_ATTRIBUTES disable{administrators, 0};
    if (!CreateRestrictedToken(linked.LinkedToken, DISABLE_MAX_PRIVILEGE, 1, &disable, 0, nullptr, 0, nullptr,
                               &limited))
        limited = nullptr;
    FreeSid(administrators);
    CloseHandle(linked.LinkedToken);
    return limited;
}

// Starts EXE with ARGS, with TOKEN when given, on DESKTOP when given; the process's
// handle, or null.
HANDLE Start(HANDLE token, const wchar_t* exe, int argc, wchar_t** args, wchar_t* desktop = nullptr)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpDesktop = desktop;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + std::wstring(exe) + L"\"";
    for (int i = 0; i < argc; ++i) {
        const std::wstring arg = args[i];
        line += arg.find(L' ') == std::wstring::npos ? L" " + arg : L" \"" + arg + L"\"";
    }
    const BOOL started = token ? CreateProcessAsUserW(token, exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                      nullptr, &si, &pi)
                               : CreateProcessW(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    if (!started) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

int Limited(const wchar_t* exe, int argc, wchar_t** args)
{
    HANDLE limited = LimitedToken();
    HANDLE process = limited ? Start(limited, exe, argc, args) : nullptr;
    if (!process) return 1;
    std::printf("started\n");
    CloseHandle(process);
    CloseHandle(limited);
    return 0;
}

// Every visible top-level window of process ID.
BOOL CALLBACK Collect(HWND hwnd, LPARAM windows)
{
    auto& seen = *reinterpret_cast<std::pair<DWORD, std::set<HWND>>*>(windows);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == seen.first && IsWindowVisible(hwnd)) seen.second.insert(hwnd);
    return TRUE;
}

// A desktop of a window station that is not the visible one, as services have: made
// from this process's own station, which it then goes back to.
std::wstring HiddenDesktop()
{
    HWINSTA own = GetProcessWindowStation();
    HWINSTA station = CreateWindowStationW(L"Limpieza", 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station || !SetProcessWindowStation(station)) return L"";
    HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    return desktop ? L"Limpieza\\Default" : L"";
}

int Run(const std::wstring& mode, const wchar_t* exe, int argc, wchar_t** args)
{
    HANDLE token = mode == L"limited" ? LimitedToken() : nullptr;
    std::wstring desktop = mode == L"hidden" ? HiddenDesktop() : L"";
    if ((mode == L"limited" && !token) || (mode == L"hidden" && desktop.empty())) return 1;
    HANDLE process = Start(token, exe, argc, args, desktop.empty() ? nullptr : desktop.data());
    if (!process) return 1;
    std::pair<DWORD, std::set<HWND>> windows{GetProcessId(process), {}};
    for (int i = 0; i < 6000 && WaitForSingleObject(process, 20) == WAIT_TIMEOUT; ++i)
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    if (code == STILL_ACTIVE) TerminateProcess(process, 1);
    std::printf("exit %lu windows %u\n", code, static_cast<unsigned>(windows.second.size()));
    return code == STILL_ACTIVE ? 1 : 0;
}

bool MutexExists(const wchar_t* name)
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
    if (mutex) CloseHandle(mutex);
    return mutex || GetLastError() != ERROR_FILE_NOT_FOUND;
}

// Whether HANDLES handles are open on the mutex NAME, this one's included, within two
// minutes: a run that waits on it has one (Windows and Wine count them alike).
int Opened(const wchar_t* name, ULONG handles)
{
    using Query = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject"));
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
    if (!mutex || !query) return 1;
    PUBLIC_OBJECT_BASIC_INFORMATION info{};
    for (int i = 0; i < 1200; ++i, Sleep(100))
        if (query(mutex, ObjectBasicInformation, &info, sizeof info, nullptr) == 0 && info.HandleCount >= handles)
            break;
    CloseHandle(mutex);
    if (info.HandleCount >= handles) return 0;
    std::printf("handles %lu\n", info.HandleCount);
    return 1;
}

void PrintValues(const wchar_t* label, HKEY root, const wchar_t* path, REGSAM view = 0)
{
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return;
    wchar_t name[256];
    BYTE data[8192];
    for (DWORD i = 0, size = 256, bytes = sizeof data, type = 0;
         RegEnumValueW(key, i, name, &size, nullptr, &type, data, &bytes) == ERROR_SUCCESS;
         ++i, size = 256, bytes = sizeof data) {
        std::wstring line = std::wstring(label) + L" \"" + name + L"\" " + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < bytes; ++b) line += L"0123456789abcdef"[data[b] >> 4], line += L"0123456789abcdef"[data[b] & 15];
        PrintUtf8(line.c_str());
    }
    RegCloseKey(key);
}

int State()
{
    const wchar_t run[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    PrintValues(L"HKLM64", HKEY_LOCAL_MACHINE, run, KEY_WOW64_64KEY);
    PrintValues(L"HKLM32", HKEY_LOCAL_MACHINE, run, KEY_WOW64_32KEY);
    PrintValues(L"HKCU", HKEY_CURRENT_USER, run);
    PrintValues(L"HKU1001", HKEY_USERS, (std::wstring(L"S-1-5-21-0-0-0-1001\\") + run).c_str(), 0);
    PrintValues(L"SETTINGS", HKEY_LOCAL_MACHINE, L"Software\\Kestrova Zelvy Remover", 0);
    PrintValues(L"BOOTED", HKEY_LOCAL_MACHINE, L"Software\\Kestrova Zelvy Remover\\BOOTED", 0);
    PrintValues(L"SM", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0);
    return 0;
}

int Rewrite()
{
    HKEY run;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_NOTIFY, nullptr, &run, nullptr) != ERROR_SUCCESS)
        return 1;
    const wchar_t data[] = L"C:\\WINDOWS\\winppr32.exe";
    std::printf("running\n");
    std::fflush(stdout);
    for (;;) {
        if (RegQueryValueExW(run, L"TrayX", nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            RegSetValueExW(run, L"TrayX", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
        RegNotifyChangeKeyValue(run, FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE);  // until the key changes
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring what = argc > 1 ? argv[1] : L"";
    if (what == L"hold" && argc == 3) return Hold(argv[2]);
    if (what == L"session" && argc == 2) return Session();
    if (what == L"protect" && argc == 4) return Protect(argv[2], argv[3]);
    if (what == L"limited" && argc >= 3) return Limited(argv[2], argc - 3, argv + 3);
    if (what == L"rewrite" && argc == 2) return Rewrite();
    if (what == L"run" && argc >= 3) {
        const std::wstring mode = argv[2];
        const int skip = mode == L"limited" || mode == L"hidden" ? 4 : 3;
        if (argc < skip) return 2;
        return Run(skip == 4 ? mode : L"", argv[skip - 1], argc - skip, argv + skip);
    }
    if (what == L"wait-mutex" && argc == 3) {
        for (int i = 0; i < 600 && !MutexExists(argv[2]); ++i) Sleep(100);
        return MutexExists(argv[2]) ? 0 : 1;
    }
    if (what == L"opened" && argc == 4) return Opened(argv[2], wcstoul(argv[3], nullptr, 10));
    if (what == L"state" && argc == 2) return State();
    if (what == L"mutex" && (argc == 3 || argc == 4)) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (argc == 4 &&
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[3], SDDL_REVISION_1, &descriptor, nullptr))
            return 1;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        if (!CreateMutexW(&attributes, TRUE, argv[2])) return 1;
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(INFINITE);
    }
    if (what == L"restart" && argc == 2) return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0) ? 0 : 1;
    if (what == L"point" && argc == 5) {
        HWND control = nullptr;
        if (HWND hwnd = FindVisible(argv[2], argv[3])) control = GetDlgItem(hwnd, _wtoi(argv[4]));
        if (!control) return 1;
        RECT r;
        GetWindowRect(control, &r);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        return 0;
    }
    if (what == L"dialog" && argc == 2) {
        HWND hwnd = FindVisible(what, nullptr);
        if (!hwnd) return 1;
        wchar_t text[512];
        GetWindowTextW(hwnd, text, 512);
        PrintUtf8(text);
        GetDlgItemTextW(hwnd, 0xFFFF, text, 512);
        PrintUtf8(text);
        return 0;
    }
    if (what == L"frame" && argc == 3) {
        HWND hwnd = FindVisible(L"window", argv[2]);
        if (!hwnd) return 1;
        RECT r;
        GetWindowRect(hwnd, &r);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
        std::printf("%ld %ld %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom, monitor.rcWork.right,
                    monitor.rcWork.bottom);
        return 0;
    }
    if ((what != L"window" && what != L"message") || argc != 3) return 2;
    HWND hwnd = FindVisible(what, argv[2]);
    if (!hwnd) return 1;
    if (what == L"window") {
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        RECT client;
        GetClientRect(hwnd, &client);
        std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
    } else {
        wchar_t text[512];
        GetDlgItemTextW(hwnd, 0xFFFF, text, 512);  // the message box's text control
        PrintUtf8(text);
    }
    return 0;
}
