// A program that starts and ends at once: the reference for tarquelin.exe /Q on a
// machine without the worm, which a startup script runs at every boot.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
