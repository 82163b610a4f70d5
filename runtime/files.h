#pragma once
#include <optional>
#include <string>

namespace runtime {

// Deletes one file, named by its exact path. Raises 53 when there is no such file
// and 75 when it cannot be deleted, with Windows' own code.
void Kill(const std::wstring& path);

// A folder and a name joined by exactly one backslash, whether or not the folder
// ends in one (a drive root does).
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// PATH in a form that the ANSI code page carries exactly, for an "A" call or a text
// that Windows reads back: the path itself, else its short (8.3) form, else nothing
// (no short name on the volume, or one that the code page cannot hold either).
std::optional<std::wstring> AnsiPath(const std::wstring& path);

}  // namespace runtime
