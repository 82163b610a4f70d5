#pragma once
#include <windows.h>

// <windows.h> defines ExitWindows as a macro for ExitWindowsEx; the method below
// takes its name.
#undef ExitWindows

// Logs off, shuts down, restarts or powers off, always by force, after enabling the
// shutdown privilege of the program's own process.
class clsExitWindows {
public:
    // aOption 0 log off, 1 shut down, 2 restart, 8 power off; anything else only
    // enables the privilege. Returns 0, or the number of the run-time error that
    // ended the call. What Windows answers is not examined.
    long ExitWindows(long aOption);

private:
    void EnableShutdownPrivilege();
};
