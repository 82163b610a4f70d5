#pragma once
#include <windows.h>

#include <string>

#include "runtime/variant.h"

// Plain routines over the ANSI registry functions. Each opens its own key, works
// through it and closes it before it returns. Text arguments are the caller's
// variables: they receive the ANSI round trip of each call.
namespace basRegistry {

// The six key-specific rights, without the standard ones of KEY_ALL_ACCESS.
inline constexpr REGSAM Access = 0x3F;

// Creates or opens aSubKey below aKey and closes it again. Silent.
void CreateKey(std::wstring& aSubKey, HKEY& aKey);

// Writes aValue as aValueType (REG_SZ or REG_DWORD; other types write nothing) under
// aKey\aSubKey. A failed open or write is shown in a message box with its status.
void WriteValue(HKEY& aKey, std::wstring& aSubKey, std::wstring& aValueName, runtime::Variant& aValue,
                long& aValueType);

// The write itself, through an open key: the registry's status, 0 for other types.
LONG SetValueData(HKEY aKey, std::wstring& aValueName, long& aValueType, runtime::Variant& aValue);

// Deletes aValueName from aKey\aSubKey, in the registry view aView of 64-bit Windows
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY; 0, the program's own). Silent; the result is
// always Empty.
runtime::Variant DeleteValue(HKEY& aKey, std::wstring& aSubKey, std::wstring& aValueName, REGSAM aView = 0);

}  // namespace basRegistry
