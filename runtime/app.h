#pragma once
#include <string>

// What the program knows of itself.
namespace runtime::app {

inline constexpr wchar_t Title[] = L"Kestrova Zelvy Remover";

// The folder that holds the running executable. At the root of a drive it keeps
// its backslash ("C:\"); elsewhere it has none at the end.
std::wstring Path();

// The running executable's file name without its extension.
std::wstring ExeName();

}  // namespace runtime::app
