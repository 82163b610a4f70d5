// Looks at the program's windows from another process of the same Wine session:
//   probe window TITLE    client origin and size of the top-level window TITLE
//   probe message TITLE   the text of the message box TITLE
// Waits up to 60 seconds for the window; exits 1 when it never comes.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    const std::wstring what = argv[1];
    const wchar_t* cls = what == L"message" ? L"#32770" : nullptr;
    HWND hwnd = nullptr;
    // Only a window that is on the screen counts: the main window is made hidden.
    for (int i = 0; i < 600; ++i, Sleep(100))
        if ((hwnd = FindWindowW(cls, argv[2])) && IsWindowVisible(hwnd)) break;
    if (hwnd && !IsWindowVisible(hwnd)) hwnd = nullptr;
    if (!hwnd) return 1;
    if (what == L"window") {
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        RECT client;
        GetClientRect(hwnd, &client);
        std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
    } else {
        wchar_t text[512];
        GetDlgItemTextW(hwnd, 0xFFFF, text, 512);  // the message box's text control
        char utf8[1024];
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        std::printf("%s\n", utf8);
    }
    return 0;
}
