#include "system/modWorld.h"

#include <windows.h>
#include <tlhelp32.h>

#include <iterator>

#include "runtime/ansi.h"
#include "runtime/app.h"
#include "runtime/desktop.h"
#include "runtime/files.h"
#include "runtime/handles.h"
#include "system/api.h"

namespace modWorld {
namespace {

constexpr UINT kBufferSize = 145;
constexpr DWORD kEndWaitMs = 5000;

using QueryImageFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using CompareOrdinalFn = int(WINAPI*)(LPCWCH, int, LPCWCH, int, BOOL);

// Reads the full path of other processes' images and compares paths as the file
// system does. Vista and later answer with limited query rights and compare
// ordinally; XP lacks both calls and has only psapi's, which needs more rights.
class Images {
public:
    Images()
        : query_(sys::Proc<QueryImageFn>(Kernel(), "QueryFullProcessImageNameW")),
          ordinal_(sys::Proc<CompareOrdinalFn>(Kernel(), "CompareStringOrdinal"))
    {
        if (query_) return;
        // By its full path: XP cannot keep a DLL planted beside the program out of the
        // search. Like an import, it then stays loaded.
        wchar_t system[MAX_PATH];
        UINT n = GetSystemDirectoryW(system, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            const std::wstring psapi = runtime::JoinPath(system, L"psapi.dll");
            HMODULE module = GetModuleHandleW(psapi.c_str());
            moduleFileName_ =
                sys::Proc<ModuleFileNameFn>(module ? module : LoadLibraryW(psapi.c_str()), "GetModuleFileNameExW");
        }
    }

    // The rights that Of needs.
    DWORD Rights() const
    {
        return query_ ? PROCESS_QUERY_LIMITED_INFORMATION : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
    }

    // "" when the process cannot be read.
    std::wstring Of(HANDLE process) const
    {
        wchar_t path[MAX_PATH * 2];
        DWORD size = std::size(path);
        if (query_) return query_(process, 0, path, &size) ? std::wstring(path, size) : std::wstring();
        return moduleFileName_ ? std::wstring(path, moduleFileName_(process, nullptr, path, size)) : std::wstring();
    }

    // Without regard to case, in no one language.
    bool Same(std::wstring a, std::wstring b) const
    {
        if (ordinal_) return ordinal_(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
        CharUpperBuffW(a.data(), static_cast<DWORD>(a.size()));
        CharUpperBuffW(b.data(), static_cast<DWORD>(b.size()));
        return a == b;
    }

private:
    static HMODULE Kernel() { return GetModuleHandleW(L"kernel32.dll"); }

    QueryImageFn query_;
    CompareOrdinalFn ordinal_;
    ModuleFileNameFn moduleFileName_ = nullptr;
};

// True when the image of PROCESS is the file IMAGE.
bool ImageIs(HANDLE process, const std::wstring& image)
{
    const Images images;
    return images.Same(images.Of(process), image);
}

// Calls ACT with a handle to each process but this one that bears the file name of
// aImage, opened once with the rights to read its path and RIGHTS besides. ACT checks
// the path through that same handle, so that an id reused meanwhile cannot mislead.
template <typename Act>
void ForEachCopy(const std::wstring& aImage, DWORD rights, Act&& act)
{
    runtime::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    const Images images;
    const std::wstring name = aImage.substr(aImage.find_last_of(L'\\') + 1);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        // Only a process that bears the file's name is opened, not every process on
        // the machine (on XP reading the path reads each one's memory).
        if (entry.th32ProcessID == GetCurrentProcessId() || !images.Same(entry.szExeFile, name)) continue;
        runtime::UniqueHandle process(OpenProcess(images.Rights() | rights, FALSE, entry.th32ProcessID));
        if (process) act(process.get());
    }
}

}  // namespace

std::wstring GetWindowsDir()
{
    std::wstring buffer(kBufferSize, L'\0');
    {
        runtime::AnsiRef text(buffer);
        sys::Entry(sys::api().GetWindowsDirectoryA)(text.get(), kBufferSize);
    }
    return buffer.substr(0, buffer.find(L'\0'));
}

void OpenWebPage(runtime::Form& aForm, std::wstring& aAddress)
{
    const std::wstring prompt = L"Error en la dirección o en la conección internet " + aAddress;
    const std::wstring title = L"Vodider Iruvuvir";
    try {
        HWND owner = aForm.hWnd();
        // A folder that the ANSI code page cannot carry goes as its short form; failing
        // that, as none: the shell then starts the browser in the current folder.
        std::wstring folder = runtime::AnsiPath(runtime::app::Path()).value_or(L"");
        std::wstring verb = L"Open", parameters;
        runtime::AnsiRef verbArg(verb), fileArg(aAddress), parametersArg(parameters), folderArg(folder);
        // What the shell answers is not examined: it reports its own failures.
        sys::Entry(sys::api().ShellExecuteA)(owner, verbArg.get(), fileArg.get(), parametersArg.get(),
                                             folderArg.get(), SW_SHOWNORMAL);
    } catch (const runtime::Error&) {
        runtime::MsgBox(prompt, MB_ICONQUESTION | MB_OKCANCEL, title);  // OK and Cancel alike
    }
}

bool Running(const std::wstring& aImage)
{
    bool found = false;
    ForEachCopy(aImage, 0, [&](HANDLE process) { found = found || ImageIs(process, aImage); });
    return found;
}

void EndProcesses(const std::wstring& aImage)
{
    ForEachCopy(aImage, PROCESS_TERMINATE | SYNCHRONIZE, [&aImage](HANDLE process) { EndIfImage(process, aImage); });
}

bool EndIfImage(HANDLE aProcess, const std::wstring& aImage)
{
    if (!ImageIs(aProcess, aImage) || !TerminateProcess(aProcess, 1)) return false;
    return WaitForSingleObject(aProcess, kEndWaitMs) == WAIT_OBJECT_0;
}

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

void EnableDebugPrivilege()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
    runtime::UniqueHandle token(raw);
    TOKEN_PRIVILEGES debug{};
    debug.PrivilegeCount = 1;
    debug.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug.Privileges[0].Luid))
        AdjustTokenPrivileges(token.get(), FALSE, &debug, sizeof debug, nullptr, nullptr);
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

}  // namespace modWorld
