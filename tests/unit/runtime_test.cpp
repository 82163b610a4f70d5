#include <gtest/gtest.h>

#include "fakes.h"
#include "runtime/ansi.h"
#include "runtime/app.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/settings.h"
#include "runtime/variant.h"

#include <optional>

using namespace runtime;

namespace {

long ErrorOf(auto&& statement)
{
    try {
        statement();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

}  // namespace

TEST(Settings, StoredMachineWideAsRegSzUnderSoftwareApplicationSection)
{
    test::ScratchKey scratch(L"App", HKEY_LOCAL_MACHINE);
    const std::wstring app = L"TarquelinTests\\App";
    EXPECT_EQ(GetSetting(app, L"BOOTED", L"Value"), L"");
    EXPECT_EQ(GetSetting(app, L"BOOTED", L"Value", L"dflt"), L"dflt");

    SaveSetting(app, L"BOOTED", L"Value", L"1");
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, scratch.path + L"\\BOOTED", L"Value", type, bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, std::string("1\0", 2));
    SaveSetting(app, L"BOOTED", L"Value", L"0");
    EXPECT_EQ(GetSetting(app, L"BOOTED", L"Value"), L"0");
}

TEST(Settings, ValueThatIsNotTextReadsAsDefault)
{
    test::ScratchKey scratch(L"App", HKEY_LOCAL_MACHINE);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (scratch.path + L"\\S").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD one = 1;
    RegSetValueExW(key, L"Value", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
    // Text stored without a terminating NUL still reads whole.
    RegSetValueExW(key, L"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"ab"), 2 * sizeof(wchar_t));
    RegCloseKey(key);
    EXPECT_EQ(GetSetting(L"TarquelinTests\\App", L"S", L"Value", L"d"), L"d");
    EXPECT_EQ(GetSetting(L"TarquelinTests\\App", L"S", L"Bare"), L"ab");
}

TEST(Conversions, TextAndIntegerForms)
{
    EXPECT_EQ(CStr(Variant{}), L"");
    EXPECT_EQ(CStr(Variant{42L}), L"42");
    EXPECT_EQ(CStr(Variant{2.5}), L"2.5");
    EXPECT_EQ(ErrorOf([] { CStr(Variant{Null{}}); }), err::InvalidUseOfNull);

    EXPECT_EQ(CLng(Variant{std::wstring(L" 12 ")}), 12);
    EXPECT_EQ(CLng(Variant{2.5}), 2);  // halves go to even
    EXPECT_EQ(CLng(Variant{3.5}), 4);
    EXPECT_EQ(CLng(Variant{-2147483648.0}), -2147483647L - 1);
    EXPECT_EQ(ErrorOf([] { CLng(Variant{2147483648.0}); }), err::Overflow);
    EXPECT_EQ(ErrorOf([] { CLng(Variant{std::wstring(L"12abc")}); }), err::TypeMismatch);
    EXPECT_EQ(ErrorOf([] { CLng(Variant{std::wstring(L"")}); }), err::TypeMismatch);
    EXPECT_EQ(ErrorOf([] { CLng(Variant{Null{}}); }), err::InvalidUseOfNull);
}

TEST(Ansi, WhatTheCodePageLacksIsReplacedNeverBestFitted)
{
    // Code page 1252 best-fits o with double acute to "o" and the full-width quotation
    // mark to a real one, which would end a quoted path; the CJK sign has no fit at all.
    std::wstring text = L"eliminará \u0151\uFF02\u4E2D";
    {
        AnsiRef arg(text);
        EXPECT_EQ(std::string(arg.get()), "eliminar\xE1 ???");
    }
    EXPECT_EQ(text, L"eliminará ???");
    bool replaced = false;
    EXPECT_EQ(ToAnsi(L"x\uFF02", &replaced), "x?");
    EXPECT_TRUE(replaced);
    EXPECT_EQ(ToAnsi(L"Eliminación", &replaced), "Eliminaci\xF3n");
    EXPECT_FALSE(replaced);
    EXPECT_TRUE(SurvivesAnsi(L"C:\\Descargas\\Eliminación"));
    EXPECT_FALSE(SurvivesAnsi(L"C:\\\u0410"));
}

TEST(Files, AnsiPathFallsBackToTheShortFormAndThenToNothing)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring plain = JoinPath(temp, L"Eliminación");
    EXPECT_EQ(AnsiPath(plain), plain);  // carried as it is, whether it exists or not

    const std::wstring odd = JoinPath(temp, L"x\uFF02 y \u0416");
    ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    std::optional<std::wstring> carried = AnsiPath(odd);
    ASSERT_TRUE(carried);
    EXPECT_TRUE(SurvivesAnsi(*carried));
    EXPECT_EQ(carried->find(L'"'), std::wstring::npos);
    wchar_t longForm[MAX_PATH];
    ASSERT_NE(GetLongPathNameW(carried->c_str(), longForm, MAX_PATH), 0u);  // the same folder
    EXPECT_EQ(_wcsicmp(longForm, odd.c_str()), 0);
    RemoveDirectoryW(odd.c_str());
    // Gone, it has no short form either: nothing can carry it.
    EXPECT_FALSE(AnsiPath(odd));
}

TEST(Files, KillRaisesForMissingAndUndeletableFiles)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring file = JoinPath(dir, L"tarquelin-kill.txt");
    EXPECT_EQ(ErrorOf([&] { Kill(file); }), err::FileNotFound);
    EXPECT_EQ(ErrorOf([&] { Kill(JoinPath(dir, L"no-such-folder\\x.txt")); }), err::FileNotFound);

    CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr));
    EXPECT_EQ(ErrorOf([&] { Kill(file); }), err::PathFileAccess);
    try {  // with Windows' own reason, for the log
        Kill(file);
    } catch (const Error& e) {
        EXPECT_EQ(e.system(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    }
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ErrorOf([&] { Kill(file); }), 0);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Files, JoinPathUsesExactlyOneBackslash)
{
    EXPECT_EQ(JoinPath(L"C:\\windows", L"winppr32.exe"), L"C:\\windows\\winppr32.exe");
    EXPECT_EQ(JoinPath(L"C:\\", L"winppr32.exe"), L"C:\\winppr32.exe");
}

TEST(App, PathAndNameOfTheRunningExecutable)
{
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(JoinPath(app::Path(), app::ExeName() + L".exe"), module);
    EXPECT_EQ(app::ExeName(), L"unit_tests");
    EXPECT_NE(app::Path().back(), L'\\');
    EXPECT_STREQ(app::Title, L"Kestrova Zelvy Remover");
}

TEST(Errors, UntrappedErrorIsReportedWithItsNumberAndEndsTheProgram)
{
    test::RecordingDesktop desktop;
    bool after = false;
    RunHandler([&] {
        Raise(err::FileNotFound);
        after = true;
    });
    EXPECT_FALSE(after);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_NE(desktop.messages[0].text.find(L"'53'"), std::wstring::npos);
    EXPECT_NE(desktop.messages[0].text.find(L"No se encontró el archivo"), std::wstring::npos);
    EXPECT_EQ(desktop.messages[0].title, app::Title);
    EXPECT_EQ(desktop.ends, 1);

    int statements = 0;
    Resume([&] { Raise(err::Overflow); });
    Resume([&] { ++statements; });
    EXPECT_EQ(statements, 1);
    EXPECT_EQ(desktop.ends, 1);
}

TEST(Log, AppendsOneBlockPerRunAsUtf8AndKeepsTheOlderPartInOneRotatedFile)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring file = JoinPath(dir, L"tarquelin-test.log"), rotated = JoinPath(dir, L"tarquelin-test.old.log");
    EXPECT_EQ(Rotated(file), rotated);
    EXPECT_EQ(Rotated(L"C:\\a.b\\log"), L"C:\\a.b\\log.old");
    DeleteFileW(file.c_str());
    DeleteFileW(rotated.c_str());
    auto contents = [](const std::wstring& path) {
        std::string bytes(4096, '\0');
        DWORD read = 0;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return std::string("absent");
        ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
        CloseHandle(h);
        return bytes.substr(0, read);
    };
    const std::string bom = "\xEF\xBB\xBF";
    struct Step {
        bool kept;
        std::wstring line;
        std::string file, rotated;
    } steps[] = {
        {true, L"eliminación", bom + "eliminaci\xC3\xB3n\r\n", "absent"},  // new file: the mark, once
        {false, L"not kept", bom + "eliminaci\xC3\xB3n\r\n", "absent"},
        {true, L"dos", bom + "eliminaci\xC3\xB3n\r\ndos\r\n", "absent"},
        // Past the limit of 40 bytes: the older part moves aside, the new file starts over.
        {true, std::wstring(30, L'x'), bom + std::string(30, 'x') + "\r\n", bom + "eliminaci\xC3\xB3n\r\ndos\r\n"},
        {true, L"tres", bom + "tres\r\n", bom + std::string(30, 'x') + "\r\n"},  // and again, one file kept
    };
    for (const Step& step : steps) {
        Log log(step.kept);
        log.Line(step.line);
        EXPECT_TRUE(log.AppendTo(file, 40));
        EXPECT_EQ(contents(file), step.file);
        EXPECT_EQ(contents(rotated), step.rotated);
    }
    Log held(true);
    held.Line(L"cuatro");
    HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(held.AppendTo(file, 1024));  // held by a reader that shares nothing
    CloseHandle(reader);
    EXPECT_TRUE(held.AppendTo(file, 1024));   // the lines were kept for another try
    EXPECT_EQ(contents(file), bom + "tres\r\ncuatro\r\n");

    // A second name of another file where the rotated part goes: that file untouched,
    // and the log grows a little more instead.
    const std::wstring other = JoinPath(dir, L"tarquelin-test.ini");
    DeleteFileW(rotated.c_str());
    HANDLE made = CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    WriteFile(made, "[system]", 8, nullptr, nullptr);
    CloseHandle(made);
    ASSERT_TRUE(CreateHardLinkW(rotated.c_str(), other.c_str(), nullptr));
    Log grows(true);
    grows.Line(std::wstring(30, L'y'));
    EXPECT_TRUE(grows.AppendTo(file, 40));
    EXPECT_EQ(contents(other), "[system]");
    EXPECT_EQ(contents(file), bom + "tres\r\ncuatro\r\n" + std::string(30, 'y') + "\r\n");
    // And at the log's own place: nothing written, through either name.
    DeleteFileW(rotated.c_str());
    DeleteFileW(file.c_str());
    ASSERT_TRUE(CreateHardLinkW(file.c_str(), other.c_str(), nullptr));
    Log linked(true);
    linked.Line(L"cinco");
    EXPECT_FALSE(linked.AppendTo(file, 1024));
    EXPECT_EQ(contents(other), "[system]");
    DeleteFileW(file.c_str());
    DeleteFileW(other.c_str());

    // A file that someone else made, empty: no mark, which only its maker writes. What a
    // run tells after a flush (before a restart) is a block of its own.
    CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Log flushed(true);
    flushed.KeepIn(file, L"tarquelin 1.0");
    flushed.Line(L"antes");
    flushed.Flush();
    flushed.Line(L"después");
    flushed.Flush();
    const std::string text = contents(file);
    EXPECT_EQ(text.substr(0, 7), "antes\r\n");
    EXPECT_EQ(text.substr(7, 5), "---- ");
    EXPECT_NE(text.find(" tarquelin 1.0 (contin\xC3\xBA" "a)\r\ndespu\xC3\xA9s\r\n"), std::string::npos) << text;
    DeleteFileW(file.c_str());
    DeleteFileW(rotated.c_str());
}
