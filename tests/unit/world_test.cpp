#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "runtime/app.h"
#include "runtime/ansi.h"
#include "runtime/files.h"
#include "system/modElevation.h"
#include "system/modProcesses.h"
#include "system/modWorld.h"

namespace {

struct ShellCall {
    HWND hwnd;
    std::string verb, file, parameters, directory;
    bool parametersNull;
    INT show;
};
std::vector<ShellCall> shellCalls;

HINSTANCE WINAPI FakeShellExecute(HWND hwnd, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show)
{
    shellCalls.push_back({hwnd, verb, file, parameters ? parameters : "", directory, parameters == nullptr, show});
    return reinterpret_cast<HINSTANCE>(2);  // "file not found": the routine does not look
}
UINT WINAPI RootWindowsDirectory(LPSTR buffer, UINT)
{
    lstrcpyA(buffer, "D:\\");
    return 3;
}
UINT WINAPI FailingWindowsDirectory(LPSTR, UINT) { return 0; }

// A form whose window is a plain static control, enough for routines that take a form.
class TestForm final : public runtime::Form {
    void Create() override
    {
        window_.reset(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    }
};

class World : public testing::Test {
protected:
    void SetUp() override { shellCalls.clear(); }
    test::ApiOverride restore;
    test::RecordingDesktop desktop;
};

}  // namespace

TEST_F(World, WindowsDirectoryAsTheSystemGivesIt)
{
    char expected[MAX_PATH];
    GetWindowsDirectoryA(expected, MAX_PATH);
    EXPECT_EQ(modWorld::GetWindowsDir(), runtime::FromAnsi(expected));
    EXPECT_NE(modWorld::GetWindowsDir().back(), L'\\');

    sys::api().GetWindowsDirectoryA = RootWindowsDirectory;
    EXPECT_EQ(modWorld::GetWindowsDir(), L"D:\\");
    sys::api().GetWindowsDirectoryA = FailingWindowsDirectory;
    EXPECT_EQ(modWorld::GetWindowsDir(), L"");
}

TEST_F(World, OpenWebPageHandsTheAddressToTheShellUnchanged)
{
    sys::api().ShellExecuteA = FakeShellExecute;
    TestForm form;
    for (std::wstring address : {L"http://www.kestrova.example/", L"www.kestrova.example/a b?c=\"d\""}) {
        std::wstring copy = address;
        modWorld::OpenWebPage(form, copy);
        EXPECT_EQ(copy, address);
    }
    ASSERT_EQ(shellCalls.size(), 2u);
    const ShellCall& call = shellCalls[0];
    EXPECT_EQ(call.hwnd, form.hWnd());
    EXPECT_EQ(call.verb, "Open");
    EXPECT_EQ(call.file, "http://www.kestrova.example/");
    EXPECT_FALSE(call.parametersNull);
    EXPECT_EQ(call.parameters, "");
    EXPECT_EQ(call.directory, runtime::ToAnsi(runtime::app::Path()));
    EXPECT_EQ(call.show, SW_SHOWNORMAL);
    EXPECT_EQ(shellCalls[1].file, "www.kestrova.example/a b?c=\"d\"");
    EXPECT_TRUE(desktop.messages.empty());  // a failing shell shows nothing
}

TEST_F(World, RunTimeErrorShowsThePromptAndGoesNoFurther)
{
    sys::api().ShellExecuteA = nullptr;  // the shell's entry point cannot be found
    TestForm form;
    for (int answer : {IDOK, IDCANCEL}) {
        desktop.answer = answer;
        std::wstring address = L"http://www.kestrova.example/";
        EXPECT_NO_THROW(modWorld::OpenWebPage(form, address));
    }
    ASSERT_EQ(desktop.messages.size(), 2u);
    for (const test::Message& m : desktop.messages) {
        EXPECT_EQ(m.text, L"Error en la dirección o en la conección internet http://www.kestrova.example/");
        EXPECT_EQ(m.style, 33u);
        EXPECT_EQ(m.title, L"Vodider Iruvuvir");
    }

    sys::api().ShellExecuteA = FakeShellExecute;
    form.Unload();  // an unloaded form has no handle to give
    std::wstring address = L"x";
    modWorld::OpenWebPage(form, address);
    EXPECT_TRUE(shellCalls.empty());
    EXPECT_EQ(desktop.messages.size(), 3u);
}

namespace {

std::wstring TempFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return runtime::JoinPath(temp, name);
}

BOOL WINAPI NotElevated(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID info, DWORD, PDWORD)
{
    static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = 0;
    return TRUE;
}
BOOL WINAPI NoElevationClass(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD)
{
    SetLastError(ERROR_INVALID_PARAMETER);  // XP
    return FALSE;
}

}  // namespace

TEST(Processes, OnlyTheWormsImageIsSeenAndEndedAndOnlyThroughTheHandleThatWasChecked)
{
    test::RunningCopy worm(TempFolder(L"tarquelin-worm\\winppr32.exe")),
        decoy(TempFolder(L"tarquelin-decoy\\winppr32.exe"));
    ASSERT_TRUE(worm.Alive() && decoy.Alive());
    std::wstring upper = worm.image;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    EXPECT_TRUE(modProcesses::Running(worm.image));
    EXPECT_TRUE(modProcesses::Running(upper));
    EXPECT_FALSE(modProcesses::Running(TempFolder(L"tarquelin-none\\winppr32.exe")));

    // A handle that may read the path but not end the process: a new open by its id
    // would be granted more, and end it.
    HANDLE limited = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, worm.process.dwProcessId);
    EXPECT_FALSE(modProcesses::EndIfImage(limited, worm.image));
    CloseHandle(limited);
    EXPECT_TRUE(worm.Alive());
    EXPECT_FALSE(modProcesses::EndIfImage(decoy.process.hProcess, worm.image));  // another image
    EXPECT_TRUE(decoy.Alive());

    modProcesses::EndProcesses(upper);
    EXPECT_FALSE(worm.Alive());
    EXPECT_TRUE(decoy.Alive());
    EXPECT_FALSE(modProcesses::Running(worm.image));
}

TEST(Processes, ElevationAndTheDebugPrivilege)
{
    test::ApiOverride restore;
    EXPECT_TRUE(modElevation::Elevated());  // Wine gives every process a full token
    sys::api().GetTokenInformation = NoElevationClass;
    EXPECT_TRUE(modElevation::Elevated());  // a member of Administrators
    sys::api().GetTokenInformation = NotElevated;
    EXPECT_FALSE(modElevation::Elevated());

    test::DisableDebugPrivilege();
    ASSERT_FALSE(test::DebugPrivilegeEnabled());
    modElevation::EnableDebugPrivilege();
    EXPECT_TRUE(test::DebugPrivilegeEnabled());
}
