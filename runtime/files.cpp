#include "runtime/files.h"

#include <windows.h>

#include "runtime/errors.h"

namespace runtime {

void Kill(const std::wstring& path)
{
    if (DeleteFileW(path.c_str())) return;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: Raise(err::FileNotFound);
    default: Raise(err::PathFileAccess);
    }
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (!folder.empty() && folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

}  // namespace runtime
