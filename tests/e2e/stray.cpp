// A program that a mangled command line would start instead of the one it names (a
// path cut short at a quotation mark). Started, it leaves a mark beside itself,
// "<its name>.started"; the end-to-end run checks that no mark appears.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t mark[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(nullptr, mark, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    lstrcatW(mark, L".started");
    CloseHandle(CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return 0;
}
