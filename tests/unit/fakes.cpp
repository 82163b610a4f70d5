#include "fakes.h"

#include <sddl.h>

namespace test {
namespace {
CbtHook* activeHook = nullptr;  // a hook procedure has no context of its own
}

CbtHook::CbtHook(std::function<bool(int, HWND)> see)
    : see_(std::move(see)), hook_(SetWindowsHookExW(WH_CBT, Procedure, nullptr, GetCurrentThreadId()))
{
    activeHook = this;
}

CbtHook::~CbtHook()
{
    UnhookWindowsHookEx(hook_);
    activeHook = nullptr;
}

LRESULT CALLBACK CbtHook::Procedure(int code, WPARAM wParam, LPARAM lParam)
{
    if (activeHook && (code == HCBT_CREATEWND || code == HCBT_DESTROYWND) &&
        activeHook->see_(code, reinterpret_cast<HWND>(wParam)))
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

ScratchKey::ScratchKey(const std::wstring& name, HKEY r) : root(r), path(L"Software\\TarquelinTests\\" + name)
{
    RegDeleteTreeW(root, path.c_str());
    HKEY key;
    RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
}

ScratchKey::~ScratchKey() { RegDeleteTreeW(root, path.c_str()); }

namespace {

LONG SetDacl(HKEY root, const std::wstring& path, PSECURITY_DESCRIPTOR descriptor)
{
    HKEY key;
    LONG status = RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    RegCloseKey(key);
    return status;
}

}  // namespace

KeyDacl::KeyDacl(HKEY root, std::wstring path, const wchar_t* sddl) : root_(root), path_(std::move(path))
{
    HKEY key;
    status = RegOpenKeyExW(root_, path_.c_str(), 0, READ_CONTROL, &key);
    if (status != ERROR_SUCCESS) return;
    DWORD size = 0;
    status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
        found_.resize(size);
        status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, found_.data(), &size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        found_.clear();  // nothing read, so nothing is changed
        return;
    }
    PSECURITY_DESCRIPTOR wanted = nullptr;
    status = ERROR_INVALID_PARAMETER;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &wanted, nullptr)) {
        status = SetDacl(root_, path_, wanted);
        LocalFree(wanted);
    }
    if (status != ERROR_SUCCESS) found_.clear();
}

LONG KeyDacl::Restore()
{
    if (found_.empty()) return ERROR_SUCCESS;
    LONG restored = SetDacl(root_, path_, found_.data());
    found_.clear();
    return restored;
}

RunningCopy::RunningCopy(const std::wstring& path, const std::wstring& from) : image(path)
{
    CreateDirectoryW(image.substr(0, image.find_last_of(L'\\')).c_str(), nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CopyFileW(from.empty() ? self : from.c_str(), image.c_str(), FALSE);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring line = L"\"" + image + L"\"";
    if (!CreateProcessW(image.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                        &process))
        process = {};
}

RunningCopy::~RunningCopy()
{
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DeleteFileW(image.c_str());
}

std::wstring DaclText(HKEY root, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS) return L"";
    BYTE descriptor[4096];
    DWORD size = sizeof descriptor;
    LONG status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size);
    RegCloseKey(key);
    wchar_t* text = nullptr;
    if (status != ERROR_SUCCESS || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                       descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"";
    std::wstring out = text;
    LocalFree(text);
    return out;
}

bool ReadValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type, std::string& bytes)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        bytes.assign(size, '\0');
        status = RegQueryValueExA(h, std::string(name.begin(), name.end()).c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(bytes.data()), &size);
        bytes.resize(size);
    }
    RegCloseKey(h);
    return status == ERROR_SUCCESS;
}

bool DebugPrivilegeEnabled()
{
    HANDLE token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    PRIVILEGE_SET set{1, PRIVILEGE_SET_ALL_NECESSARY, {{{0, 0}, 0}}};
    LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &set.Privilege[0].Luid);
    BOOL enabled = FALSE;
    PrivilegeCheck(token, &set, &enabled);
    CloseHandle(token);
    return enabled;
}

void DisableDebugPrivilege()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES off{1, {{{0, 0}, 0}}};
    LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &off.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &off, sizeof off, nullptr, nullptr);
    CloseHandle(token);
}

ULONG_PTR NextKeyHandle()
{
    HKEY h = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &h);
    auto value = reinterpret_cast<ULONG_PTR>(h);
    RegCloseKey(h);
    return value;
}

}  // namespace test
