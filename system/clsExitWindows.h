#pragma once
#include <windows.h>

// <windows.h> defines ExitWindows as a macro for ExitWindowsEx; the method below
// takes its name.
#undef ExitWindows

// Logs off, shuts down, restarts or powers off, always by force, after enabling the
// shutdown privilege of the program's own process.
class clsExitWindows {
public:
    struct Status {
        long error = 0;     // the number of the run-time error that ended the call
        DWORD refused = 0;  // why Windows refused: the privilege not held, or the request failing
    };

    // aOption 0 log off, 1 shut down, 2 restart, 8 power off; anything else only
    // enables the privilege. A shutdown of any kind is not asked for without the
    // privilege, which Windows would refuse anyway; a log-off needs none.
    Status ExitWindows(long aOption);

private:
    // Windows' status for the adjustment: ERROR_NOT_ALL_ASSIGNED when the token lacks it.
    DWORD EnableShutdownPrivilege();
};
