// A stand-in for a DLL that an attacker leaves next to a downloaded program, under the
// name of the shell library that the program loads by name on the web link's first
// click. Loaded, it leaves a mark beside itself, "shell32.dll.loaded"; the end-to-end
// run checks that no mark appears.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t mark[MAX_PATH + 8];
        DWORD n = GetModuleFileNameW(self, mark, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcatW(mark, L".loaded");
            CloseHandle(CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        }
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT)
{
    return reinterpret_cast<HINSTANCE>(42);
}
