#pragma once
#include <string>

// The per-application settings store: each setting is a REG_SZ value named after
// its key, in HKEY_CURRENT_USER\Software\<application>\<section>.
namespace runtime {

// The stored text; the default when the value is missing or is not text.
std::wstring GetSetting(const std::wstring& application, const std::wstring& section, const std::wstring& key,
                        const std::wstring& fallback = L"");

// Creates or overwrites the setting; raises a run-time error when it cannot be stored.
void SaveSetting(const std::wstring& application, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value);

}  // namespace runtime
