#include "system/api.h"

#include <shellapi.h>

namespace sys {

Api& api()
{
    static Api windows{::GetCurrentProcess, ::OpenProcessToken, ::LookupPrivilegeValueA, ::AdjustTokenPrivileges,
                       ::ExitWindowsEx,     ::GetWindowsDirectoryA, ::ShellExecuteA};
    return windows;
}

}  // namespace sys
