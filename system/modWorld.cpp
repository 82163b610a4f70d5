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

// Reads the full path of other processes' images. Vista and later answer with limited
// query rights; XP lacks that call and has only psapi's, which needs more.
class ImagePaths {
public:
    ImagePaths() : query_(sys::Proc<QueryImageFn>(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW"))
    {
        if (query_) return;
        // By its full path: XP cannot keep a DLL planted beside the program out of the
        // search. Like an import, it then stays loaded.
        wchar_t system[MAX_PATH];
        UINT n = GetSystemDirectoryW(system, MAX_PATH);
        if (n > 0 && n < MAX_PATH)
            moduleFileName_ = sys::Proc<ModuleFileNameFn>(
                LoadLibraryW(runtime::JoinPath(system, L"psapi.dll").c_str()), "GetModuleFileNameExW");
    }

    // "" when the process cannot be opened or read.
    std::wstring Of(DWORD pid) const
    {
        wchar_t path[MAX_PATH * 2];
        DWORD size = std::size(path);
        if (query_) {
            runtime::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
            return process && query_(process.get(), 0, path, &size) ? std::wstring(path, size) : std::wstring();
        }
        if (!moduleFileName_) return {};
        runtime::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
        return process ? std::wstring(path, moduleFileName_(process.get(), nullptr, path, size)) : std::wstring();
    }

private:
    QueryImageFn query_;
    ModuleFileNameFn moduleFileName_ = nullptr;
};

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
        std::wstring folder = runtime::app::Path();
        std::wstring verb = L"Open", parameters;
        runtime::AnsiRef verbArg(verb), fileArg(aAddress), parametersArg(parameters), folderArg(folder);
        // What the shell answers is not examined: it reports its own failures.
        sys::Entry(sys::api().ShellExecuteA)(owner, verbArg.get(), fileArg.get(), parametersArg.get(),
                                             folderArg.get(), SW_SHOWNORMAL);
    } catch (const runtime::Error&) {
        runtime::MsgBox(prompt, MB_ICONQUESTION | MB_OKCANCEL, title);  // OK and Cancel alike
    }
}

void EndProcesses(const std::wstring& aImage)
{
    runtime::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    const ImagePaths images;
    const std::wstring name = aImage.substr(aImage.find_last_of(L'\\') + 1);
    // As the file system compares names: without regard to case, in no one language.
    auto same = [](const wchar_t* a, const wchar_t* b) {
        return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
    };
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        // Only a process that bears the file's name is opened to read its full path, not
        // every process on the machine (on XP that reads each one's memory).
        if (entry.th32ProcessID == GetCurrentProcessId() || !same(entry.szExeFile, name.c_str())) continue;
        const std::wstring image = images.Of(entry.th32ProcessID);
        if (image.empty() || !same(image.c_str(), aImage.c_str())) continue;
        runtime::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && TerminateProcess(process.get(), 1)) WaitForSingleObject(process.get(), kEndWaitMs);
    }
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
