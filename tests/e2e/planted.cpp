// A stand-in for a DLL that an attacker leaves next to a downloaded program, under the
// name of the shell library that the program loads by name on the web link's first
// click. It only answers; the end-to-end run checks that it is never the one loaded.
#include <windows.h>

extern "C" __declspec(dllexport) HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT)
{
    return reinterpret_cast<HINSTANCE>(42);
}
