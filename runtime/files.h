#pragma once
#include <string>

namespace runtime {

// Deletes one file, named by its exact path. Raises 53 when there is no such file
// and 75 when it cannot be deleted.
void Kill(const std::wstring& path);

// A folder and a name joined by exactly one backslash, whether or not the folder
// ends in one (a drive root does).
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

}  // namespace runtime
