#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    // The tests change machine-wide settings (the Run keys, the Session Manager's
    // pending renames, the Windows directory), which only a throwaway Wine prefix may bear.
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        std::fprintf(stderr, "unit_tests: refusing to run outside Wine: the tests change this machine's registry\n");
        return 2;
    }
    // Unbuffered, so that what a failing run printed survives a crash (under qemu a run
    // with a failure can end in a segmentation fault before its buffers are written).
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
