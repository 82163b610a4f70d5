// The simplest message box, with the completion message's icon: the reference for
// tarquelin.exe's run after the restart.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    MessageBoxW(nullptr, L"Bare message", L"Bare message", MB_ICONINFORMATION);
    return 0;
}
