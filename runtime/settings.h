#pragma once
#include <windows.h>

#include <string>

// The per-application settings store: each setting is a REG_SZ value named after
// its key, in HKEY_LOCAL_MACHINE\Software\<application>\<section>. Machine-wide,
// like the Run value that starts the run after the restart: whichever account logs
// on first, or elevates with another account's password, sees the same settings.
namespace runtime {

// The stored text; the default when the value is missing or is not text.
std::wstring GetSetting(const std::wstring& application, const std::wstring& section, const std::wstring& key,
                        const std::wstring& fallback = L"");

// Creates or overwrites the setting; raises a run-time error when it cannot be stored.
void SaveSetting(const std::wstring& application, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value);

// One registry value as stored, read with query rights only: ERROR_SUCCESS with its
// type and, for text, the text up to its first NUL; ERROR_FILE_NOT_FOUND when the
// key or the value does not exist; any other status when it cannot be read. VIEW
// picks a registry view of 64-bit Windows (KEY_WOW64_64KEY, KEY_WOW64_32KEY).
LONG QueryValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type, std::wstring& text,
                REGSAM view = 0);

}  // namespace runtime
