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

LONG SetKeyDacl(HKEY root, const std::wstring& path, const wchar_t* sddl)
{
    HKEY key;
    LONG status = RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key);
    if (status != ERROR_SUCCESS) return status;
    PSECURITY_DESCRIPTOR sd = nullptr;
    status = ERROR_INVALID_PARAMETER;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
        LocalFree(sd);
    }
    RegCloseKey(key);
    return status;
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

ULONG_PTR NextKeyHandle()
{
    HKEY h = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &h);
    auto value = reinterpret_cast<ULONG_PTR>(h);
    RegCloseKey(h);
    return value;
}

}  // namespace test
