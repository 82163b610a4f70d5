#include "system/modProcesses.h"

#include <tlhelp32.h>

#include <iterator>

#include "runtime/files.h"
#include "runtime/handles.h"
#include "system/api.h"

namespace modProcesses {
namespace {

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

}  // namespace modProcesses
