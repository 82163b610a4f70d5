#pragma once
#include <string>

#include "runtime/handles.h"

// What the program knows of itself.
namespace runtime::app {

inline constexpr wchar_t Title[] = L"Kestrova Zelvy Remover";

// The folder that holds the running executable. At the root of a drive it keeps
// its backslash ("C:\"); elsewhere it has none at the end.
std::wstring Path();

// The running executable's file name without its extension.
std::wstring ExeName();

// The running executable's file, open for reading; while it is open nobody may change,
// rename or delete it, so that what is read is what runs. Empty when it cannot be opened.
UniqueHandle OpenImage();

}  // namespace runtime::app
