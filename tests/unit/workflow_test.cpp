#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes.h"
#include "runtime/ansi.h"
#include "runtime/app.h"
#include "runtime/files.h"
#include "runtime/settings.h"
#include "system/modInstall.h"
#include "workflow/Removal.h"
#include "workflow/Unattended.h"

using namespace workflow;

namespace {

const std::wstring kRun = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kFlagKey = L"Software\\Kestrova Zelvy Remover\\BOOTED";

std::vector<UINT> exitRequests;
std::vector<std::string> openedPages;
struct Elevation {
    std::wstring verb, file, parameters, folder;
};
std::vector<Elevation> elevations;
BOOL elevationStarts = TRUE;
DWORD exitRefusal = 0;    // ExitWindowsEx fails with this
DWORD elevatedToken = 0;  // Wine's own tokens are all elevated
BOOL WINAPI RecordExit(UINT flags, DWORD)
{
    exitRequests.push_back(flags);
    SetLastError(exitRefusal);
    return exitRefusal == 0;
}
BOOL WINAPI ReportElevation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID info, DWORD, PDWORD)
{
    static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = elevatedToken;
    return TRUE;
}
HINSTANCE WINAPI RecordShell(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT)
{
    openedPages.push_back(file);
    return reinterpret_cast<HINSTANCE>(42);
}
BOOL WINAPI RecordShellEx(SHELLEXECUTEINFOW* info)
{
    elevations.push_back({info->lpVerb, info->lpFile, info->lpParameters ? info->lpParameters : L"(none)",
                          info->lpDirectory});
    return elevationStarts;
}
UINT WINAPI NoWindowsDirectory(LPSTR, UINT) { return 0; }
// Each folder the program made, with the owner and access list it asked for: Wine
// keeps neither, it derives both from the Unix mode bits.
std::vector<std::wstring> madeFolders;
BOOL WINAPI RecordFolder(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    wchar_t* text = nullptr;
    if (attributes)
        ConvertSecurityDescriptorToStringSecurityDescriptorW(attributes->lpSecurityDescriptor, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                             &text, nullptr);
    madeFolders.push_back(std::wstring(path) + L" " + (text ? text : L"(none)"));
    LocalFree(text);
    return CreateDirectoryW(path, attributes);
}
// A volume that keeps no access lists (FAT), which Wine cannot give; the root asked for.
std::wstring volumeAsked;
BOOL WINAPI NoAccessLists(LPCWSTR root, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD)
{
    volumeAsked = root;
    *flags = FS_CASE_IS_PRESERVED | FS_UNICODE_STORED_ON_DISK;
    return TRUE;
}
// A file whose own access list refuses its deletion, which Wine cannot keep: the worm's.
HANDLE WINAPI DeletionDenied(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                             DWORD flags, HANDLE model)
{
    const std::wstring name = path;
    if ((access & DELETE) && name.size() > 12 && lstrcmpiW(name.c_str() + name.size() - 12, L"winppr32.exe") == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, access, share, security, how, flags, model);
}
const std::wstring kOwnAccess = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// A Program Files folder of the tests' own, so that the copies they make never mix
// with a real installation.
std::wstring ProgramFiles()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return runtime::JoinPath(temp, L"tarquelin-programs");
}
HRESULT WINAPI ScratchProgramFiles(HWND, int, HANDLE, DWORD, LPWSTR path)
{
    CreateDirectoryW(ProgramFiles().c_str(), nullptr);
    lstrcpynW(path, ProgramFiles().c_str(), MAX_PATH);
    return S_OK;
}
std::wstring oddProgramFiles;
HRESULT WINAPI OddProgramFiles(HWND, int, HANDLE, DWORD, LPWSTR path)
{
    lstrcpynW(path, oddProgramFiles.c_str(), MAX_PATH);
    return S_OK;
}
const std::wstring kCopyFolder = ProgramFiles() + L"\\Kestrova Zelvy Remover";
const std::wstring kCopy = kCopyFolder + L"\\tarquelin.exe";

std::string Bytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

std::string Utf8(const std::wstring& text)
{
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, nullptr));
    return bytes;
}

std::wstring Self()
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return exe;
}

std::optional<std::wstring> Text(HKEY root, const std::wstring& key, const std::wstring& name)
{
    DWORD type;
    std::string bytes;
    if (!test::ReadValue(root, key, name, type, bytes)) return std::nullopt;
    return runtime::FromAnsi(std::string(bytes.c_str()));
}

void SetText(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value)
{
    HKEY h;
    RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

void Remove(HKEY root, const std::wstring& key, const std::wstring& name)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) return;
    RegDeleteValueW(h, name.c_str());
    RegCloseKey(h);
}

std::wstring WormPath()
{
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return runtime::JoinPath(dir, L"winppr32.exe");
}

void PlantWorm(DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    CloseHandle(CreateFileW(WormPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
}

void Write(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool WormPresent() { return GetFileAttributesW(WormPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

const std::wstring kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

const wchar_t* const kPendingLists[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

// Whether Windows has been asked to delete, at the next restart, a file or folder whose
// path ends in PATH (by default the worm's file), in either list the restart carries
// out. Read as the restart reads a list: source and target in pairs, up to the first
// empty source.
bool DeletionPending(const std::wstring& path = L"\\winppr32.exe")
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    bool pending = false;
    for (const wchar_t* list : kPendingLists) {
        std::vector<wchar_t> data(32768);
        DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t) - 2 * sizeof(wchar_t));
        const LONG status = RegQueryValueExW(key, list, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
        for (const wchar_t* at = data.data(); status == ERROR_SUCCESS && *at;) {
            const std::wstring source = at, target = at + source.size() + 1;
            at += source.size() + target.size() + 2;
            if (target.empty() && source.size() >= path.size() &&
                lstrcmpiW(source.c_str() + source.size() - path.size(), path.c_str()) == 0)
                pending = true;
        }
    }
    RegCloseKey(key);
    return pending;
}

// Folder N under the tests' Program Files, as the program names it, and its copy.
std::wstring CopyFolder(int n)
{
    return n == 1 ? kCopyFolder : kCopyFolder + L" " + std::to_wstring(n);
}
std::wstring CopyIn(int n) { return CopyFolder(n) + L"\\tarquelin.exe"; }

void RemoveCopies()
{
    for (int n = 1; n <= 9; ++n) {
        SetFileAttributesW(CopyIn(n).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(CopyIn(n).c_str());
        DeleteFileW(CopyFolder(n).c_str());
        RemoveDirectoryW(CopyFolder(n).c_str());
    }
}

class Workflow : public testing::Test {
protected:
    void SetUp() override
    {
        exitRequests.clear();
        openedPages.clear();
        elevations.clear();
        elevationStarts = TRUE;
        exitRefusal = 0;
        elevatedToken = 0;  // started by a double click under User Account Control
        sys::api().GetTokenInformation = ReportElevation;
        sys::api().ExitWindowsEx = RecordExit;
        sys::api().ShellExecuteA = RecordShell;
        sys::api().ShellExecuteExW = RecordShellEx;
        sys::api().SHGetFolderPathW = ScratchProgramFiles;
        sys::api().CreateDirectoryW = RecordFolder;
        sys::api().GetVolumeInformationW = GetVolumeInformationW;
        madeFolders.clear();
        RemoveCopies();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Kestrova Zelvy Remover");
        Remove(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover");
        SetFileAttributesW(WormPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WormPath().c_str());
    }
    void TearDown() override
    {
        form.reset();
        SetUp();
        Remove(HKEY_LOCAL_MACHINE, kRun, L"TrayX");
        Remove(HKEY_CURRENT_USER, kRun, L"TrayX");
        Remove(HKEY_LOCAL_MACHINE, kRun, L"Other");
        for (const wchar_t* list : kPendingLists) Remove(HKEY_LOCAL_MACHINE, kSessionManager, list);
    }
    window::frmMain& Start()
    {
        form.emplace(GetModuleHandleW(nullptr), handlers);
        return *form;
    }
    // Presses Comenzar, as its click reaches the window.
    static void Begin(window::frmMain& f)
    {
        SendMessageW(f.hWnd(), WM_COMMAND, MAKEWPARAM(102, BN_CLICKED), reinterpret_cast<LPARAM>(f.cmdBegin.hwnd));
    }
    // The run after the restart, once for each answer, while another program holds the
    // worm's file open without delete sharing.
    void CompleteWhileTheFileIsHeld(std::initializer_list<int> answers)
    {
        PlantWorm();
        HANDLE lock = CreateFileW(WormPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        SetText(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover", L"\"C:\\x.exe\"");
        SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"1");
        for (int answer : answers) {
            desktop.answer = answer;
            Start();
        }
        CloseHandle(lock);
    }
    static void ExpectMessage(const test::Message& m, const std::wstring& text, UINT style, const std::wstring& title)
    {
        EXPECT_EQ(m.text, text);
        EXPECT_EQ(m.style, style);
        EXPECT_EQ(m.title, title);
    }
    std::vector<std::wstring> Titles()
    {
        std::vector<std::wstring> out;
        for (auto& m : desktop.messages) out.push_back(m.title);
        return out;
    }

    test::ApiOverride restore;
    test::RecordingDesktop desktop;
    runtime::Log log{false};
    Removal handlers{runtime::app::OpenImage(), log};
    std::optional<window::frmMain> form;
};

}  // namespace

TEST_F(Workflow, OnlyAFlagOfExactlyOneRunsTheCompletion)
{
    for (std::optional<std::wstring> flag : {std::optional<std::wstring>{}, {L""}, {L"0"}, {L"1 "}, {L"01"}}) {
        if (flag) SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", *flag);
        window::frmMain& f = Start();
        EXPECT_TRUE(IsWindowVisible(f.hWnd())) << (flag ? "'" : "") << (flag ? *flag : L"missing").c_str();
        EXPECT_EQ(f.cmdBegin.Tag, flag.value_or(L""));
        EXPECT_TRUE(desktop.messages.empty());
        form.reset();
    }
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"1");
    int made = 0;
    {
        test::CbtHook hook([&](int code, HWND) { return made += code == HCBT_CREATEWND, false; });
        window::frmMain& f = Start();
        EXPECT_TRUE(f.Unloaded());
    }
    EXPECT_EQ(made, 0);  // never shown, and not even made
    EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Eliminación completada."});
    EXPECT_EQ(desktop.ends, 1);
}

TEST_F(Workflow, BeginRegistersTheProgramDeletesTrayXAndRestarts)
{
    SetText(HKEY_LOCAL_MACHINE, kRun, L"TrayX", L"C:\\windows\\winppr32.exe");
    SetText(HKEY_CURRENT_USER, kRun, L"TrayX", L"C:\\windows\\winppr32.exe");
    SetText(HKEY_LOCAL_MACHINE, kRun, L"Other", L"keep me");
    PlantWorm();  // still there for a second press
    window::frmMain& f = Start();
    for (int press = 1; press <= 2; ++press) {  // a second press, as when the restart was refused
        Begin(f);
        // What starts at logon is a copy under Program Files, byte for byte this program.
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"), L"\"" + kCopy + L"\"");
        EXPECT_EQ(Bytes(kCopy), Bytes(Self()));
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder"), L"1");  // the program's own
        EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"TrayX"));
        EXPECT_FALSE(Text(HKEY_CURRENT_USER, kRun, L"TrayX"));
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Other"), L"keep me");
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");
        ASSERT_EQ(desktop.messages.size(), static_cast<size_t>(press));
        const test::Message& m = desktop.messages.back();
        EXPECT_EQ(m.text, L"El virus ha sido eliminado con éxito de su equipo. Ahora se reiniciará su PC.");
        EXPECT_EQ(m.style, 64u);
        EXPECT_EQ(m.title, L"Virus eliminado");
        EXPECT_EQ(exitRequests, std::vector<UINT>(press, 7u));
    }
    EXPECT_TRUE(IsWindowVisible(f.hWnd()));  // stays loaded until Windows ends it
    EXPECT_EQ(desktop.ends, 0);
    // The folder has an access list of its own, whatever Program Files would pass on.
    EXPECT_EQ(madeFolders, std::vector<std::wstring>(2, kCopyFolder + L" " + kOwnAccess));

    // Windows refuses the restart: said so, and the program ends with the flag and the
    // Run value in place, so that a restart by hand finishes the removal.
    exitRefusal = ERROR_PRIVILEGE_NOT_HELD;
    Begin(f);
    ASSERT_EQ(desktop.messages.size(), 4u);
    ExpectMessage(desktop.messages[3],
                  L"No se ha podido reiniciar el equipo. Reinícielo usted para terminar la eliminación del virus.",
                  48, L"Reinicio necesario");
    EXPECT_EQ(desktop.ends, 1);
    EXPECT_FALSE(IsWindow(f.cmdBegin.hwnd));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");
    EXPECT_TRUE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));

    // A restart request that fails with a run-time error ends the program with the report.
    sys::api().ExitWindowsEx = nullptr;
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"0");  // a fresh start, not the run after a restart
    Begin(Start());
    EXPECT_NE(desktop.messages.back().text.find(L"'453'"), std::wstring::npos);
    EXPECT_EQ(desktop.ends, 2);
}

TEST_F(Workflow, BeginEndsARunningWormFirstAndHasItsFileDeletedAtTheRestart)
{
    test::RunningCopy worm(WormPath());
    ASSERT_TRUE(worm.Alive());
    SetText(HKEY_CURRENT_USER, kRun, L"TrayX", L"C:\\windows\\winppr32.exe");
    window::frmMain& f = Start();
    test::DisableDebugPrivilege();
    Begin(f);
    EXPECT_FALSE(test::DebugPrivilegeEnabled());  // not elevated: it cannot help
    EXPECT_FALSE(worm.Alive());
    EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Virus eliminado"});
    EXPECT_TRUE(WormPresent());  // the run after the restart deletes it
    EXPECT_TRUE(DeletionPending());
    EXPECT_EQ(exitRequests, std::vector<UINT>{7u});

    // Windows refuses the deletion at the restart: the first phase goes on all the same.
    // Elevated, it may end a worm in any account's session first.
    Remove(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    test::KeyDacl readOnly(HKEY_LOCAL_MACHINE, kSessionManager, L"D:P(A;;KR;;;WD)");
    ASSERT_EQ(readOnly.status, ERROR_SUCCESS);
    ASSERT_FALSE(MoveFileExW(WormPath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    elevatedToken = 1;
    Begin(f);
    EXPECT_TRUE(test::DebugPrivilegeEnabled());
    EXPECT_EQ(Titles().back(), L"Virus eliminado");
    EXPECT_EQ(exitRequests, std::vector<UINT>(2, 7u));
}

TEST_F(Workflow, AFolderThatIsNotTheProgramsOwnIsNeverUsedNorChanged)
{
    // Every name taken by what someone else made: a file, then folders with anything in
    // them (Wine keeps no access lists: whatever they said, none is looked at). No copy,
    // and nothing else of the press.
    PlantWorm();
    CreateDirectoryW(ProgramFiles().c_str(), nullptr);
    Write(CopyFolder(1), "not a folder");
    for (int n = 2; n <= 9; ++n) {
        CreateDirectoryW(CopyFolder(n).c_str(), nullptr);
        Write(CopyIn(n), "someone else's");
    }
    window::frmMain& f = Start();
    for (DWORD elevated : {0u, 1u}) {
        elevatedToken = elevated;
        desktop.answer = IDNO;
        desktop.messages.clear();
        Begin(f);
        ASSERT_EQ(desktop.messages.size(), 1u);
        EXPECT_EQ(desktop.messages[0].text,
                  elevated ? L"No se ha podido registrar este programa para el próximo inicio de Windows."
                           : L"No se ha podido completar la primera fase de la eliminación: puede que este programa "
                             L"necesite permisos de administrador. ¿Desea ejecutarlo ahora como administrador?");
        EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
        EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"));
        EXPECT_FALSE(DeletionPending());
        EXPECT_TRUE(exitRequests.empty());
        for (int n = 2; n <= 9; ++n) EXPECT_EQ(Bytes(CopyIn(n)), "someone else's") << n;
    }
    EXPECT_EQ(madeFolders.size(), 18u);  // each name tried, with the program's own access list

    // One name free: the copy goes there, with a folder of its own making, and the
    // record says which. The others are left as they were, through the completion too.
    DeleteFileW(CopyIn(5).c_str());
    RemoveDirectoryW(CopyFolder(5).c_str());
    madeFolders.clear();
    Begin(f);
    EXPECT_EQ(Titles().back(), L"Virus eliminado");
    EXPECT_EQ(madeFolders.back(), CopyFolder(5) + L" " + kOwnAccess);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"), L"\"" + CopyIn(5) + L"\"");
    EXPECT_EQ(Bytes(CopyIn(5)), Bytes(Self()));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder"), L"5");
    form.reset();
    Start();  // the run after the restart
    EXPECT_EQ(Titles().back(), L"Eliminación completada.");
    EXPECT_TRUE(DeletionPending(CopyIn(5)));
    EXPECT_TRUE(DeletionPending(CopyFolder(5)));
    for (int n : {1, 2, 9}) EXPECT_FALSE(DeletionPending(CopyFolder(n))) << n;
    EXPECT_EQ(Bytes(CopyFolder(1)), "not a folder");
    EXPECT_EQ(Bytes(CopyIn(2)), "someone else's");
}

TEST_F(Workflow, TheCopyInTheProgramsOwnFolderIsReplacedUnlessItIsHeldOrALink)
{
    PlantWorm();
    elevatedToken = 1;
    CreateDirectoryW(ProgramFiles().c_str(), nullptr);
    CreateDirectoryW(kCopyFolder.c_str(), nullptr);
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder", L"1");  // made by an earlier press
    window::frmMain& f = Start();

    // A hard link where the copy belongs, to a file that someone may change through its
    // other name (or that Windows needs), whatever it holds: refused, and nothing
    // written through it.
    const std::wstring other = ProgramFiles() + L"\\other.exe";
    for (const std::string& there : {std::string("not the program"), Bytes(Self())}) {
        Write(other, there);
        ASSERT_TRUE(CreateHardLinkW(kCopy.c_str(), other.c_str(), nullptr));
        desktop.messages.clear();
        Begin(f);
        EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Eliminación incompleta"});
        EXPECT_EQ(Bytes(other), there);
        EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
        DeleteFileW(kCopy.c_str());
    }
    DeleteFileW(other.c_str());

    // An older build, held open by another program without delete sharing: it cannot
    // be replaced, and stays whole, with no new file left beside it.
    Write(kCopy, "an older build");
    HANDLE held = CreateFileW(kCopy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    desktop.messages.clear();
    Begin(f);
    CloseHandle(held);
    EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Eliminación incompleta"});
    EXPECT_EQ(Bytes(kCopy), "an older build");
    EXPECT_EQ(FilesIn(kCopyFolder), std::vector<std::wstring>{L"tarquelin.exe"});

    // Held by nobody: this build takes its place.
    Begin(f);
    EXPECT_EQ(Titles().back(), L"Virus eliminado");
    EXPECT_EQ(Bytes(kCopy), Bytes(Self()));
    EXPECT_EQ(FilesIn(kCopyFolder), std::vector<std::wstring>{L"tarquelin.exe"});
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"), L"\"" + kCopy + L"\"");
    EXPECT_TRUE(madeFolders.back().rfind(kCopyFolder + L" ", 0) == 0);  // tried, found, used

    // An older build that runs: said so, and nothing of the press is left.
    form.reset();
    Remove(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    Remove(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover");
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"0");
    {
        test::RunningCopy older(kCopy, TEXT(TARQUELIN_EXE));  // another build: not these bytes
        ASSERT_TRUE(older.Alive());
        ASSERT_NE(Bytes(kCopy), Bytes(Self()));
        desktop.messages.clear();
        Begin(Start());
        ASSERT_EQ(desktop.messages.size(), 1u);
        ExpectMessage(desktop.messages[0],
                      L"No se ha podido sustituir la copia de este programa que está en marcha, " + kCopy +
                          L". Ciérrela y vuelva a intentarlo. No se ha realizado ningún cambio.",
                      48, L"Eliminación incompleta");
        EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"0");
        EXPECT_FALSE(DeletionPending());
        EXPECT_EQ(FilesIn(kCopyFolder), std::vector<std::wstring>{L"tarquelin.exe"});
    }
}

TEST_F(Workflow, TheCopyMadeForTheRemovalGoesAtTheRestartAfterIt)
{
    PlantWorm();
    Begin(Start());
    ASSERT_EQ(Titles(), std::vector<std::wstring>{L"Virus eliminado"});
    form.reset();
    Start();  // the run after the restart
    EXPECT_EQ(Titles().back(), L"Eliminación completada.");
    EXPECT_TRUE(DeletionPending(kCopy));
    EXPECT_TRUE(DeletionPending(kCopyFolder));  // the folder too
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder"), L"");
    // A press once the worm is back: the copy's and the folder's deletions taken back.
    auto pressAgain = [&] {
        PlantWorm();
        form.reset();
        Begin(Start());
        EXPECT_EQ(Titles().back(), L"Virus eliminado");
        EXPECT_FALSE(DeletionPending(kCopy));
        EXPECT_FALSE(DeletionPending(kCopyFolder));
    };

    // The worm comes back before that restart, and another program has a deletion
    // pending too: a press takes back the copy's and the folder's, and only those, so
    // that the run after the restart comes, and schedules them again once done.
    const std::wstring another = ProgramFiles() + L"\\another.tmp";
    Write(another, "");
    ASSERT_TRUE(MoveFileExW(another.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    pressAgain();
    EXPECT_TRUE(DeletionPending(another));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder"), L"1");
    form.reset();
    Start();
    EXPECT_EQ(Titles().back(), L"Eliminación completada.");
    EXPECT_TRUE(DeletionPending(kCopy));
    EXPECT_TRUE(DeletionPending(another));
    DeleteFileW(another.c_str());

    // The same in Windows' second list, where MoveFileEx appends once it exists, between
    // another program's rename and deletion: those come through in their order, byte for
    // byte.
    const std::wstring others = L"\\??\\C:\\a.tmp" + std::wstring(1, L'\0') + L"!\\??\\C:\\b.dll" +
                                std::wstring(1, L'\0') + L"\\??\\C:\\c.tmp" + std::wstring(3, L'\0');
    const std::wstring seeded = L"\\??\\" + kCopy + std::wstring(2, L'\0') + others.substr(0, others.size() - 1) +
                                L"\\??\\" + kCopyFolder + std::wstring(3, L'\0');
    {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        RegDeleteValueW(key, kPendingLists[0]);
        RegSetValueExW(key, kPendingLists[1], 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(seeded.data()),
                       static_cast<DWORD>(seeded.size() * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    ASSERT_TRUE(DeletionPending(kCopy));
    pressAgain();
    std::wstring left(64, L'\0');
    DWORD type = 0, size = static_cast<DWORD>(left.size() * sizeof(wchar_t));
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager.c_str(), kPendingLists[1], RRF_RT_ANY | RRF_NOEXPAND,
                           &type, left.data(), &size),
              ERROR_SUCCESS);
    left.resize(size / sizeof(wchar_t));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(left, others);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder"), L"1");
    form.reset();
    Start();
    EXPECT_EQ(Titles().back(), L"Eliminación completada.");

    // Where the deletion cannot be taken back, the press fails and leaves it as it was.
    PlantWorm();
    form.reset();
    elevatedToken = 1;
    {
        test::KeyDacl readOnly(HKEY_LOCAL_MACHINE, kSessionManager, L"D:P(A;;KR;;;WD)");
        ASSERT_EQ(readOnly.status, ERROR_SUCCESS);
        Begin(Start());
    }
    EXPECT_EQ(desktop.messages.back().text,
              L"No se ha podido registrar este programa para el próximo inicio de Windows.");
    EXPECT_TRUE(DeletionPending(kCopy));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"0");

    // The record names a number, never a path: naming any other file or folder, or a
    // number past the last, it has nothing deleted at the restart.
    struct Record {
        std::wstring folder;
        int deleted;  // the folder whose copy and self go at the restart; 0 for none
    };
    const Record records[] = {{L"1", 1},
                              {L"7", 7},
                              {kCopyFolder, 1},  // as earlier versions wrote it
                              {L"C:\\windows\\system32", 0},
                              {L"10", 0},
                              {L"", 0}};
    for (const Record& record : records) {
        for (const wchar_t* list : kPendingLists) Remove(HKEY_LOCAL_MACHINE, kSessionManager, list);
        SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"1");
        SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder", record.folder);
        form.reset();
        Start();
        EXPECT_EQ(Titles().back(), L"Eliminación completada.");
        for (int n : {1, 7, 9}) {
            EXPECT_EQ(DeletionPending(CopyIn(n)), record.deleted == n) << record.folder.c_str() << " " << n;
            EXPECT_EQ(DeletionPending(CopyFolder(n)), record.deleted == n) << record.folder.c_str() << " " << n;
        }
        EXPECT_FALSE(DeletionPending(L"system32"));
    }
}

TEST_F(Workflow, AVolumeWithoutAccessListsGetsTheCopyAllTheSameAndTheLogSaysSo)
{
    PlantWorm();
    runtime::Log kept{true};
    Removal logged{runtime::app::OpenImage(), kept};
    const std::wstring file = ProgramFiles() + L"\\press.log";
    for (bool fat : {false, true}) {
        SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"0");  // a press again, not the run after it
        sys::api().GetVolumeInformationW = fat ? NoAccessLists : GetVolumeInformationW;
        std::optional<window::frmMain> f;
        f.emplace(GetModuleHandleW(nullptr), logged);
        Begin(*f);
        EXPECT_EQ(Titles().back(), L"Virus eliminado");
        EXPECT_EQ(Bytes(kCopy), Bytes(Self()));
        DeleteFileW(file.c_str());
        ASSERT_TRUE(kept.AppendTo(file));
        EXPECT_EQ(Bytes(file).find(Utf8(L"el volumen de " + kCopy + L" no guarda listas de acceso")) !=
                      std::string::npos,
                  fat);
    }
    EXPECT_EQ(volumeAsked, ProgramFiles().substr(0, 3));  // its root
    DeleteFileW(file.c_str());
}

TEST_F(Workflow, AProgramFilesNameOutsideTheCodePageIsRegisteredByItsShortFormOrNotAtAll)
{
    PlantWorm();
    elevatedToken = 1;
    oddProgramFiles = ProgramFiles() + L"\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b";
    sys::api().SHGetFolderPathW = OddProgramFiles;
    // Without a short form (not there to give one): said, before anything is written.
    window::frmMain& f = Start();
    Begin(f);
    ASSERT_EQ(desktop.messages.size(), 1u);
    ExpectMessage(desktop.messages[0],
                  L"El nombre de la carpeta de programas de Windows, " + oddProgramFiles +
                      L", contiene caracteres que no se pueden registrar para el inicio de Windows. No se ha "
                      L"realizado ningún cambio.",
                  48, L"Eliminación incompleta");
    EXPECT_TRUE(madeFolders.empty());
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"));
    EXPECT_FALSE(DeletionPending());

    // With one, that is what Windows is given, with the copy's own names after it.
    ASSERT_TRUE(CreateDirectoryW(oddProgramFiles.c_str(), nullptr));
    wchar_t shortForm[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(oddProgramFiles.c_str(), shortForm, MAX_PATH), 0u);
    ASSERT_TRUE(runtime::SurvivesAnsi(shortForm));
    Begin(f);
    EXPECT_EQ(Titles().back(), L"Virus eliminado");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"),
              L"\"" + std::wstring(shortForm) + L"\\Kestrova Zelvy Remover\\tarquelin.exe\"");
    const std::wstring oddFolder = oddProgramFiles + L"\\Kestrova Zelvy Remover";
    DeleteFileW((oddFolder + L"\\tarquelin.exe").c_str());
    RemoveDirectoryW(oddFolder.c_str());
    RemoveDirectoryW(oddProgramFiles.c_str());
}

// Windows' own judgement of the access list the folder is made with (Wine keeps none on
// files): what AccessCheck grants a standard user's filtered token, and an
// administrator's full one, for the folder and for the copy that inherits from it.
TEST(Install, TheFolderLetsOnlyAdministratorsChangeWhatIsInIt)
{
    HANDLE own = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &own));
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                         0, &administrators));
    SID_AND_ATTRIBUTES denied{administrators, 0};
    HANDLE filtered = nullptr;  // as Windows gives a double-clicked program under UAC
    ASSERT_TRUE(CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &denied, 0, nullptr, 0, nullptr, &filtered));
    HANDLE tokens[2] = {};
    ASSERT_TRUE(DuplicateToken(filtered, SecurityImpersonation, &tokens[0]));
    ASSERT_TRUE(DuplicateToken(own, SecurityImpersonation, &tokens[1]));

    // AccessCheck wants a group as well: the program's owner and list, with the owner as group.
    auto checkable = [](const wchar_t* sddl, SECURITY_DESCRIPTOR& out, runtime::UniqueLocal& parsed) {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, parsed.put(), nullptr) &&
               GetSecurityDescriptorOwner(parsed.get(), &owner, &defaulted) &&
               GetSecurityDescriptorDacl(parsed.get(), &present, &dacl, &defaulted) && present &&
               InitializeSecurityDescriptor(&out, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorOwner(&out, owner, FALSE) && SetSecurityDescriptorDacl(&out, TRUE, dacl, FALSE) &&
               SetSecurityDescriptorGroup(&out, owner, FALSE);
    };
    SECURITY_DESCRIPTOR folder, copy;
    runtime::UniqueLocal folderParsed, copyParsed;
    ASSERT_TRUE(checkable(modInstall::FolderAccess, folder, folderParsed));
    // What a file made inside inherits: the entries marked for objects (Wine's
    // CreatePrivateObjectSecurity works out no inheritance, so it is written here).
    ASSERT_TRUE(checkable(L"O:BAD:(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)", copy, copyParsed));
    GENERIC_MAPPING files{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    for (SECURITY_DESCRIPTOR* descriptor : {&folder, &copy}) {
        for (int full = 0; full < 2; ++full) {
            PRIVILEGE_SET privileges{};
            DWORD size = sizeof privileges, granted = 0;
            BOOL allowed = FALSE;
            ASSERT_TRUE(AccessCheck(descriptor, tokens[full], MAXIMUM_ALLOWED, &files, &privileges, &size, &granted,
                                    &allowed))
                << GetLastError();
            if (full) {
                EXPECT_TRUE(allowed);
                EXPECT_EQ(granted, static_cast<DWORD>(FILE_ALL_ACCESS));
            } else {
                EXPECT_EQ(granted & ~0x1200A9u, 0u) << std::hex << granted;
                EXPECT_EQ(granted, 0x1200A9u) << std::hex << granted;  // and may still read and run it
            }
        }
    }
    for (HANDLE h : {own, filtered, tokens[0], tokens[1]}) CloseHandle(h);
    FreeSid(administrators);
}

TEST_F(Workflow, ARestartThatDoesNotHappenIsReported)
{
    window::frmMain& f = Start();
    SendMessageW(f.hWnd(), WM_ENDSESSION, FALSE, 0);  // another program's shutdown, cancelled
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(IsWindowVisible(f.hWnd()));

    PlantWorm();
    Begin(f);
    ASSERT_EQ(exitRequests, std::vector<UINT>{7u});
    SendMessageW(f.hWnd(), WM_ENDSESSION, TRUE, 0);  // the restart goes ahead: Windows ends the program
    EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Virus eliminado"});
    // A program refused, or the user cancelled: the session goes on.
    SendMessageW(f.hWnd(), WM_ENDSESSION, FALSE, 0);
    ASSERT_EQ(desktop.messages.size(), 2u);
    ExpectMessage(desktop.messages[1],
                  L"No se ha podido reiniciar el equipo. Reinícielo usted para terminar la eliminación del virus.", 48,
                  L"Reinicio necesario");
    EXPECT_EQ(desktop.ends, 1);
    EXPECT_FALSE(IsWindow(f.cmdBegin.hwnd));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");
    EXPECT_TRUE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
}

TEST_F(Workflow, BeginOnAMachineWithoutTheWormChangesNothing)
{
    SetText(HKEY_LOCAL_MACHINE, kRun, L"Other", L"keep me");
    window::frmMain& f = Start();
    Begin(f);
    ASSERT_EQ(desktop.messages.size(), 1u);
    ExpectMessage(desktop.messages[0],
                  L"No se ha encontrado el virus Zelvy.F en su PC. No se ha realizado ningún cambio.",
                  64, L"Kestrova Zelvy Remover");
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Other"), L"keep me");
    EXPECT_TRUE(exitRequests.empty());
    EXPECT_TRUE(IsWindowVisible(f.hWnd()));
    EXPECT_EQ(desktop.ends, 0);

    // The worm's file alone is enough for the removal to run.
    PlantWorm();
    Begin(f);
    EXPECT_EQ(Titles().back(), L"Virus eliminado");
    EXPECT_EQ(exitRequests, std::vector<UINT>{7u});
}

TEST_F(Workflow, BeginWithoutWriteAccessToTheMachineRunKeyOffersToRunAsAdministrator)
{
    SetText(HKEY_LOCAL_MACHINE, kRun, L"TrayX", L"C:\\windows\\winppr32.exe");
    SetText(HKEY_CURRENT_USER, kRun, L"TrayX", L"C:\\windows\\winppr32.exe");
    auto readOnly = std::make_unique<test::KeyDacl>(HKEY_LOCAL_MACHINE, kRun, L"D:P(A;;KRWD;;;WD)");
    ASSERT_EQ(readOnly->status, ERROR_SUCCESS);
    window::frmMain& f = Start();
    desktop.answer = IDNO;
    Begin(f);
    ASSERT_EQ(desktop.messages.size(), 3u);
    EXPECT_EQ(desktop.messages[0].text, L"RegOpenKey error - 5");
    EXPECT_EQ(desktop.messages[1].text, L"SetValue error - 6");
    ExpectMessage(desktop.messages[2],
                  L"No se ha podido completar la primera fase de la eliminación: puede que este programa necesite "
                  L"permisos de administrador. ¿Desea ejecutarlo ahora como administrador?",
                  52, L"Eliminación incompleta");
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    EXPECT_TRUE(Text(HKEY_LOCAL_MACHINE, kRun, L"TrayX"));  // the worm would start again
    EXPECT_FALSE(Text(HKEY_CURRENT_USER, kRun, L"TrayX"));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"));
    EXPECT_TRUE(exitRequests.empty());
    EXPECT_TRUE(elevations.empty());
    EXPECT_TRUE(IsWindowVisible(f.hWnd()));
    // The copy made for the Run value is gone again, and its folder with it.
    EXPECT_EQ(GetFileAttributesW(kCopyFolder.c_str()), INVALID_FILE_ATTRIBUTES);

    // Yes, but the user declines the elevation prompt: the window stays.
    desktop.answer = IDYES;
    elevationStarts = FALSE;
    Begin(f);
    EXPECT_EQ(elevations.size(), 1u);
    EXPECT_TRUE(IsWindowVisible(f.hWnd()));
    EXPECT_EQ(desktop.ends, 0);

    elevationStarts = TRUE;
    Begin(f);
    ASSERT_EQ(elevations.size(), 2u);
    EXPECT_EQ(elevations[1].verb, L"runas");
    EXPECT_EQ(elevations[1].file, Self());
    EXPECT_EQ(elevations[1].parameters, L"(none)");
    EXPECT_EQ(elevations[1].folder, runtime::app::Path());
    EXPECT_EQ(desktop.ends, 1);
    EXPECT_FALSE(IsWindow(f.cmdBegin.hwnd));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"));
    EXPECT_TRUE(exitRequests.empty());
    for (const test::Message& m : desktop.messages) EXPECT_NE(m.title, L"Virus eliminado");

    // With no TrayX left, a Run value that a copy in another folder wrote earlier still
    // does not start this program at the next logon.
    ASSERT_EQ(readOnly->Restore(), ERROR_SUCCESS);
    Remove(HKEY_LOCAL_MACHINE, kRun, L"TrayX");
    PlantWorm();
    SetText(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover", L"\"C:\\old\\tarquelin.exe\"");
    readOnly = std::make_unique<test::KeyDacl>(HKEY_LOCAL_MACHINE, kRun, L"D:P(A;;KRWD;;;WD)");
    ASSERT_EQ(readOnly->status, ERROR_SUCCESS);
    desktop.answer = IDNO;
    desktop.messages.clear();
    window::frmMain& again = Start();
    Begin(again);
    EXPECT_EQ(Titles().back(), L"Eliminación incompleta");
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"), L"\"C:\\old\\tarquelin.exe\"");  // not this one's
    EXPECT_FALSE(DeletionPending());

    // Already an administrator: no offer, which could not help, but what failed.
    elevatedToken = 1;
    desktop.messages.clear();
    Begin(again);
    ASSERT_EQ(desktop.messages.size(), 3u);
    ExpectMessage(desktop.messages[2],
                  L"No se ha podido registrar este programa para el próximo inicio de Windows.",
                  48, L"Eliminación incompleta");
    EXPECT_EQ(elevations.size(), 2u);
    EXPECT_TRUE(IsWindowVisible(again.hWnd()));
}

TEST_F(Workflow, AFirstPhaseThatFailsLeavesNoRunValueOfItsOwn)
{
    // The worm's user owns that key and may lock it.
    SetText(HKEY_CURRENT_USER, kRun, L"TrayX", L"C:\\windows\\winppr32.exe");
    test::KeyDacl readOnly(HKEY_CURRENT_USER, kRun, L"D:P(A;;KRWD;;;WD)");
    ASSERT_EQ(readOnly.status, ERROR_SUCCESS);
    desktop.answer = IDNO;
    window::frmMain& f = Start();
    Begin(f);
    EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Eliminación incompleta"});
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"));
    EXPECT_TRUE(exitRequests.empty());

    elevatedToken = 1;
    Begin(f);
    EXPECT_EQ(desktop.messages.back().text, L"No se ha podido borrar el valor TrayX del inicio de Windows.");
    EXPECT_EQ(desktop.messages.back().style, 48u);
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    EXPECT_TRUE(elevations.empty());
}

TEST_F(Workflow, ARefusedFlagWriteIsNeverTakenForSuccess)
{
    PlantWorm();
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"0");
    auto readOnly = std::make_unique<test::KeyDacl>(HKEY_LOCAL_MACHINE, kFlagKey, L"D:P(A;;KRWD;;;WD)");
    ASSERT_EQ(readOnly->status, ERROR_SUCCESS);
    window::frmMain& f = Start();
    for (DWORD elevated : {0u, 1u}) {
        elevatedToken = elevated;
        desktop.messages.clear();
        Begin(f);
        ASSERT_EQ(desktop.messages.size(), 1u);  // no "Virus eliminado"
        EXPECT_EQ(desktop.messages[0].title, L"Eliminación incompleta");
        if (elevated) {
            EXPECT_EQ(desktop.messages[0].text, L"No se ha podido guardar el estado de la eliminación.");
        }
        EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"0");
    }
    EXPECT_EQ(desktop.ends, 0);
    EXPECT_TRUE(exitRequests.empty());

    // After the restart: the flag cannot be cleared, so the removal is not complete.
    ASSERT_EQ(readOnly->Restore(), ERROR_SUCCESS);
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"1");
    readOnly = std::make_unique<test::KeyDacl>(HKEY_LOCAL_MACHINE, kFlagKey, L"D:P(A;;KRWD;;;WD)");
    ASSERT_EQ(readOnly->status, ERROR_SUCCESS);
    for (DWORD elevated : {0u, 1u}) {
        elevatedToken = elevated;
        desktop.messages.clear();
        Start();
        EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Eliminación incompleta"});
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");
    }
    EXPECT_EQ(desktop.messages[0].text, L"No se ha podido guardar el estado de la eliminación.");
    EXPECT_EQ(desktop.messages[0].style, 48u);
}

TEST_F(Workflow, CompletionDeletesAReadOnlyWormFileAndUndoesTheStartUpEntry)
{
    PlantWorm(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetText(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover", L"\"C:\\x.exe\"");
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"1");
    Start();
    EXPECT_FALSE(WormPresent());
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"0");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, L"Virus eliminado por completo. No olvide visitar nuestra web donde "
                                        L"encontrará otros productos de su utilidad.");
    EXPECT_EQ(desktop.messages[0].style, 64u);
    EXPECT_EQ(desktop.ends, 1);

    // Without the worm file or the Run value (started by hand), the rest runs the same.
    desktop.messages.clear();
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Value", L"1");
    Start();
    EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Eliminación completada."});
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"0");
}

TEST_F(Workflow, AnIncompleteCompletionKeepsTheFlagAndTheRunValueAndOffersToRunAsAdministrator)
{
    const std::wstring question = L"No se ha podido completar la eliminación del virus. ¿Desea ejecutar ahora este "
                                  L"programa como administrador para terminarla?";
    // Started by hand from where it was first run: the offer names the copy that
    // Windows starts at logon, which only administrators may change.
    CreateDirectoryW(ProgramFiles().c_str(), nullptr);
    CreateDirectoryW(kCopyFolder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(Self().c_str(), kCopy.c_str(), FALSE));
    SetText(HKEY_LOCAL_MACHINE, kFlagKey, L"Folder", L"1");
    CompleteWhileTheFileIsHeld({IDNO, IDYES});
    EXPECT_TRUE(WormPresent());
    ASSERT_EQ(desktop.messages.size(), 2u);
    ExpectMessage(desktop.messages[0], question, 52, L"Eliminación incompleta");
    EXPECT_EQ(desktop.ends, 2);  // with either answer
    ASSERT_EQ(elevations.size(), 1u);
    EXPECT_EQ(elevations[0].verb, L"runas");
    EXPECT_EQ(elevations[0].file, kCopy);
    EXPECT_EQ(elevations[0].folder, kCopyFolder);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"), L"\"C:\\x.exe\"");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");

    // The Run value cannot be deleted: the flag stays "1" with it.
    test::KeyDacl readOnly(HKEY_LOCAL_MACHINE, kRun, L"D:P(A;;KRWD;;;WD)");
    ASSERT_EQ(readOnly.status, ERROR_SUCCESS);
    desktop.messages.clear();
    Start();
    EXPECT_FALSE(WormPresent());
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"), L"\"C:\\x.exe\"");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, question);

    // An unknown Windows directory deletes nothing, not even at the drive root.
    sys::api().GetWindowsDirectoryA = NoWindowsDirectory;
    CloseHandle(CreateFileW(L"\\winppr32.exe", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    desktop.messages.clear();
    Start();
    EXPECT_NE(GetFileAttributesW(L"\\winppr32.exe"), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(L"\\winppr32.exe");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, question);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");
}

TEST_F(Workflow, AnAdministratorIsToldWhatFailedAndAFileInUseGoesAtTheRestart)
{
    elevatedToken = 1;
    CompleteWhileTheFileIsHeld({IDNO, IDYES});
    ASSERT_EQ(desktop.messages.size(), 2u);
    ExpectMessage(desktop.messages[0],
                  L"El archivo del virus está en uso y se eliminará al reiniciar el equipo. ¿Desea reiniciarlo ahora?",
                  36, L"Eliminación incompleta");
    EXPECT_TRUE(DeletionPending());
    EXPECT_EQ(exitRequests, std::vector<UINT>{7u});  // on Yes only
    EXPECT_EQ(desktop.ends, 2);
    EXPECT_TRUE(elevations.empty());
    EXPECT_TRUE(WormPresent());
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"), L"\"C:\\x.exe\"");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");

    // Windows refuses even the deletion at the restart.
    Remove(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    {
        test::KeyDacl readOnly(HKEY_LOCAL_MACHINE, kSessionManager, L"D:P(A;;KR;;;WD)");
        ASSERT_EQ(readOnly.status, ERROR_SUCCESS);
        ASSERT_FALSE(MoveFileExW(WormPath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
        desktop.messages.clear();
        CompleteWhileTheFileIsHeld({IDYES});
        ASSERT_EQ(readOnly.Restore(), ERROR_SUCCESS);
    }
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, L"No se ha podido eliminar el archivo del virus.");
    EXPECT_EQ(desktop.messages[0].style, 48u);
    EXPECT_EQ(exitRequests, std::vector<UINT>{7u});  // no second restart

    // The Run value cannot be deleted: said as such, and the flag stays.
    test::KeyDacl readOnly(HKEY_LOCAL_MACHINE, kRun, L"D:P(A;;KRWD;;;WD)");
    ASSERT_EQ(readOnly.status, ERROR_SUCCESS);
    desktop.messages.clear();
    Start();
    EXPECT_FALSE(WormPresent());
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, L"No se ha podido quitar este programa del inicio de Windows.");
    EXPECT_EQ(desktop.messages[0].style, 48u);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, L"Value"), L"1");
    EXPECT_TRUE(elevations.empty());
}

TEST_F(Workflow, ExitTouchesNothingAndTheLinkOpensThePageEachClick)
{
    window::frmMain& f = Start();
    HWND link = GetDlgItem(f.hWnd(), 107);
    SendMessageW(f.hWnd(), WM_COMMAND, MAKEWPARAM(107, STN_CLICKED), reinterpret_cast<LPARAM>(link));
    SendMessageW(f.hWnd(), WM_COMMAND, MAKEWPARAM(107, STN_CLICKED), reinterpret_cast<LPARAM>(link));
    EXPECT_EQ(openedPages, (std::vector<std::string>{"http://www.kestrova.example/", "http://www.kestrova.example/"}));
    EXPECT_TRUE(IsWindowVisible(f.hWnd()));

    SendMessageW(f.hWnd(), WM_COMMAND, MAKEWPARAM(101, BN_CLICKED), reinterpret_cast<LPARAM>(f.cmdExit.hwnd));
    EXPECT_EQ(desktop.ends, 1);
    EXPECT_FALSE(IsWindow(f.cmdExit.hwnd));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kRun, L"Zelvy Remover"));
    HKEY settings;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kestrova Zelvy Remover", 0, KEY_READ, &settings),
              ERROR_SUCCESS);
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(exitRequests.empty());
}

TEST_F(Workflow, AnUnattendedRunPromisesARestartOnlyWhereTheRestartCanDeleteTheFile)
{
    elevatedToken = 1;
    PlantWorm();
    HANDLE held = CreateFileW(WormPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);  // in use: no deletion now
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::wstring logFile = ProgramFiles() + L"\\quiet.log";
    auto quiet = [&] { return RunUnattended(ReadSwitches({L"/Q", L"/LOG=" + logFile})).value_or(-1); };
    auto logged = [&](const std::wstring& line) { return Bytes(logFile).find(Utf8(line)) != std::string::npos; };
    const std::wstring record = L"WormAtRestart";
    // Its own access list refuses: a restart would change nothing.
    sys::api().CreateFileW = DeletionDenied;
    EXPECT_EQ(quiet(), 1);
    EXPECT_FALSE(DeletionPending());
    EXPECT_TRUE(logged(L"la lista de acceso de " + WormPath() + L" impide borrarlo: 5"));
    EXPECT_FALSE(Text(HKEY_LOCAL_MACHINE, kFlagKey, record));
    // Merely in use: Windows deletes it at the restart, once asked, and that is recorded.
    sys::api().CreateFileW = CreateFileW;
    for (int run = 0; run < 2; ++run) EXPECT_EQ(quiet(), 3010) << run;
    EXPECT_TRUE(DeletionPending());
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, record), L"1");
    // The restart came and left it: no second promise.
    Remove(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    EXPECT_EQ(quiet(), 1);
    EXPECT_TRUE(logged(L"el reinicio no ha borrado " + WormPath() + L", aunque se pidió"));
    CloseHandle(held);
    EXPECT_EQ(quiet(), 0);
    EXPECT_FALSE(WormPresent());
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kFlagKey, record), L"");
    DeleteFileW(logFile.c_str());
}

TEST(Switches, InAnyCaseWithSlashOrDashAndAnythingElseIsMalformed)
{
    struct Case {
        std::vector<std::wstring> arguments;
        bool valid, quiet, detect, help;
        std::wstring log, bad;
    } cases[] = {
        {{L"/Q"}, true, true, false, false, L"", L""},
        {{L"-quiet", L"/n"}, true, true, true, false, L"", L""},
        {{L"-N"}, true, false, true, false, L"", L""},
        {{L"/?"}, true, false, false, true, L"", L""},
        {{L"/log=C:\\Registro de limpieza\\z.log", L"/Q"}, true, true, false, false,
         L"C:\\Registro de limpieza\\z.log", L""},
        {{L"/Q", L"/X"}, false, true, false, false, L"", L"/X"},
        {{L"Q"}, false, false, false, false, L"", L"Q"},
        {{L"/QQ"}, false, false, false, false, L"", L"/QQ"},
        {{L"/LOG="}, false, false, false, false, L"", L"/LOG="},
        {{L"/LOG=a", L"/LOG=b"}, false, false, false, false, L"a", L"/LOG=b"},
        {{L"/"}, false, false, false, false, L"", L"/"},
        {{L""}, false, false, false, false, L"", L""},
    };
    for (const Case& c : cases) {
        const Switches s = ReadSwitches(c.arguments);
        const std::string what = ::testing::PrintToString(c.arguments.front());
        EXPECT_TRUE(s.any) << what;
        EXPECT_EQ(s.valid, c.valid) << what;
        EXPECT_EQ(s.quiet, c.quiet) << what;
        EXPECT_EQ(s.detect, c.detect) << what;
        EXPECT_EQ(s.help, c.help) << what;
        EXPECT_EQ(s.log, c.log) << what;
        EXPECT_EQ(s.bad, c.bad) << what;
    }
    EXPECT_FALSE(ReadSwitches({}).any);  // the window, as ever

    // A /LOG= that is no whole path lands in the default log's folder, not in a deployment
    // tool's working folder, which is deleted afterwards.
    const std::wstring fallback = DefaultLogFile(), folder = fallback.substr(0, fallback.find_last_of(L'\\'));
    const struct {
        std::wstring given, file;
    } logs[] = {{L"", fallback},
                {L"D:\\registros\\z.log", L"D:\\registros\\z.log"},
                {L"d:/registros/z.log", L"d:/registros/z.log"},
                {L"\\\\servidor\\limpieza\\z.log", L"\\\\servidor\\limpieza\\z.log"},
                {L"z.log", folder + L"\\z.log"},
                {L"registros\\z.log", folder + L"\\registros\\z.log"},
                {L"\\registros\\z.log", L"\\registros\\z.log"},
                {L"C:z.log", folder + L"\\z.log"}};
    for (const auto& log : logs) EXPECT_EQ(LogFile(log.given), log.file) << log.given.c_str();
}
