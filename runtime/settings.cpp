#include "runtime/settings.h"

#include "runtime/errors.h"
#include "runtime/handles.h"

namespace runtime {
namespace {

std::wstring SectionPath(const std::wstring& application, const std::wstring& section)
{
    return L"Software\\" + application + L"\\" + section;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

LONG QueryValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type, std::wstring& text,
                REGSAM view)
{
    text.clear();
    UniqueKey hkey;
    LONG status = RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, hkey.put());
    if (status != ERROR_SUCCESS) return status;
    DWORD bytes = 0;
    status = RegQueryValueExW(hkey.get(), name.c_str(), nullptr, &type, nullptr, &bytes);
    // The value may grow between the two calls; ask again until it fits.
    while (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && IsText(type))) {
        text.resize(bytes / sizeof(wchar_t) + 1);
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegQueryValueExW(hkey.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                  &bytes);
        if (status == ERROR_SUCCESS) {
            // Stored text need not end in a NUL, or may carry several.
            text.resize(bytes / sizeof(wchar_t));
            text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
            if (!IsText(type)) text.clear();
            return status;
        }
    }
    text.clear();
    return status;
}

std::wstring GetSetting(const std::wstring& application, const std::wstring& section, const std::wstring& key,
                        const std::wstring& fallback)
{
    DWORD type = REG_NONE;
    std::wstring text;
    if (QueryValue(HKEY_LOCAL_MACHINE, SectionPath(application, section), key, type, text) != ERROR_SUCCESS ||
        !IsText(type))
        return fallback;
    return text;
}

void SaveSetting(const std::wstring& application, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value)
{
    UniqueKey hkey;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, SectionPath(application, section).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, hkey.put(), nullptr) != ERROR_SUCCESS)
        Raise(err::InvalidCall);
    auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (RegSetValueExW(hkey.get(), key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) !=
        ERROR_SUCCESS)
        Raise(err::InvalidCall);
}

}  // namespace runtime
