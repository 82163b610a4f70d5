#include "runtime/files.h"

#include <windows.h>

#include "runtime/ansi.h"
#include "runtime/errors.h"

namespace runtime {

void Kill(const std::wstring& path)
{
    if (DeleteFileW(path.c_str())) return;
    const DWORD error = GetLastError();
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: Raise(err::FileNotFound, error);
    default: Raise(err::PathFileAccess, error);
    }
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (!folder.empty() && folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

std::optional<std::wstring> AnsiPath(const std::wstring& path)
{
    if (SurvivesAnsi(path)) return path;
    std::wstring shortPath(MAX_PATH, L'\0');
    DWORD n = GetShortPathNameW(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    if (n >= shortPath.size()) {
        shortPath.resize(n);
        n = GetShortPathNameW(path.c_str(), shortPath.data(), n);
    }
    if (n == 0 || n >= shortPath.size()) return std::nullopt;
    shortPath.resize(n);
    if (!SurvivesAnsi(shortPath)) return std::nullopt;
    return shortPath;
}

}  // namespace runtime
