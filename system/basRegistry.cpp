#include "system/basRegistry.h"

#include <cstring>

#include "runtime/ansi.h"
#include "runtime/desktop.h"
#include "runtime/handles.h"

namespace basRegistry {
namespace {

// The open's status; the handle stays empty when the open fails.
LONG Open(HKEY root, std::wstring& subKey, runtime::UniqueKey& key, REGSAM view = 0)
{
    HKEY raw = nullptr;
    runtime::AnsiRef path(subKey);
    LONG status = RegOpenKeyExA(root, path.get(), 0, Access | view, &raw);
    key.reset(status == ERROR_SUCCESS ? raw : nullptr);
    return status;
}

}  // namespace

void CreateKey(std::wstring& aSubKey, HKEY& aKey)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    {
        runtime::AnsiRef path(aSubKey);
        if (RegCreateKeyExA(aKey, path.get(), 0, nullptr, REG_OPTION_NON_VOLATILE, Access, nullptr, &key,
                            &disposition) != ERROR_SUCCESS)
            key = nullptr;
    }
    runtime::UniqueKey closeOnReturn(key);
}

void WriteValue(HKEY& aKey, std::wstring& aSubKey, std::wstring& aValueName, runtime::Variant& aValue,
                long& aValueType)
{
    runtime::UniqueKey key;
    LONG status = Open(aKey, aSubKey, key);
    // A failed open does not end the routine: the write then goes to the empty handle.
    if (status != ERROR_SUCCESS) runtime::MsgBox(L"RegOpenKey error - " + runtime::Str(status), MB_OK);
    status = SetValueData(key.get(), aValueName, aValueType, aValue);
    if (status != ERROR_SUCCESS) runtime::MsgBox(L"SetValue error - " + runtime::Str(status), MB_OK);
}

LONG SetValueData(HKEY aKey, std::wstring& aValueName, long& aValueType, runtime::Variant& aValue)
{
    switch (aValueType) {
    case REG_SZ: {
        std::string data = runtime::ToAnsi(runtime::CStr(aValue));
        runtime::AnsiRef name(aValueName);
        return RegSetValueExA(aKey, name.get(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>(data.size() + 1));
    }
    case REG_DWORD: {
        auto number = static_cast<std::int32_t>(runtime::CLng(aValue));
        BYTE data[4];
        std::memcpy(data, &number, sizeof data);  // x86: little-endian, as REG_DWORD is
        runtime::AnsiRef name(aValueName);
        return RegSetValueExA(aKey, name.get(), 0, REG_DWORD, data, sizeof data);
    }
    default: return ERROR_SUCCESS;
    }
}

runtime::Variant DeleteValue(HKEY& aKey, std::wstring& aSubKey, std::wstring& aValueName, REGSAM aView)
{
    runtime::UniqueKey key;
    Open(aKey, aSubKey, key, aView);
    runtime::AnsiRef name(aValueName);
    RegDeleteValueA(key.get(), name.get());
    return {};
}

}  // namespace basRegistry
