#include "workflow/Steps.h"

#include "runtime/app.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/handles.h"
#include "runtime/settings.h"
#include "system/api.h"
#include "system/basRegistry.h"
#include "system/modElevation.h"
#include "system/modProcesses.h"
#include "system/modWorld.h"

namespace workflow::steps {
namespace {

using runtime::Resume;
namespace app = runtime::app;

// A value that the registry says is not there: reading it is allowed and finds nothing.
bool Absent(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view = 0)
{
    DWORD type;
    std::wstring text;
    return runtime::QueryValue(root, key, name, type, text, view) == ERROR_FILE_NOT_FOUND;
}

// Opens KEY with ACCESS as it is to be opened; see RunKey::backup.
LONG Open(const RunKey& key, REGSAM access, runtime::UniqueKey& hkey)
{
    if (!key.backup) return RegOpenKeyExW(key.root, key.path.c_str(), 0, access | key.view, hkey.put());
    return RegCreateKeyExW(key.root, key.path.c_str(), 0, nullptr, REG_OPTION_BACKUP_RESTORE, access | key.view,
                           nullptr, hkey.put(), nullptr);
}

// ERROR_FILE_NOT_FOUND when "TrayX" is seen absent from KEY, ERROR_SUCCESS when it is
// there, another status when the key cannot be read.
LONG TrayXStatus(const RunKey& key)
{
    runtime::UniqueKey hkey;
    LONG status = Open(key, KEY_QUERY_VALUE, hkey);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(hkey.get(), WormRunValue, nullptr, nullptr, nullptr, nullptr);
    return status;
}

// Why a value is still there after its deletion: the status of opening its key to
// delete it, or, where that is allowed, that the value came back.
LONG WhyLeft(const RunKey& key)
{
    runtime::UniqueKey hkey;
    const LONG status = Open(key, KEY_SET_VALUE, hkey);
    return status != ERROR_SUCCESS ? status : ERROR_ACCESS_DENIED;
}

std::wstring RootName(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE ? L"HKLM" : root == HKEY_CURRENT_USER ? L"HKCU" : L"HKU";
}

}  // namespace

std::wstring WormFilePath()
{
    std::wstring windows;
    Resume([&] { windows = modWorld::GetWindowsDir(); });
    return windows.empty() ? std::wstring() : runtime::JoinPath(windows, WormFile);
}

bool FileAbsent(const std::wstring& file)
{
    if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

LONG DeleteWormFile(const std::wstring& file, runtime::Log& log)
{
    if (FileAbsent(file)) return ERROR_SUCCESS;
    // The worm may have made its file read-only, which DeleteFile refuses.
    DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        attributes &= ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesW(file.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    LONG result = ERROR_SUCCESS;
    try {
        runtime::Kill(file);
    } catch (const runtime::Error& e) {
        result = e.system() ? static_cast<LONG>(e.system()) : ERROR_ACCESS_DENIED;
    }
    if (result == ERROR_SUCCESS && !FileAbsent(file)) result = ERROR_ACCESS_DENIED;
    log.Did(L"borrar " + file, result);
    return result;
}

bool DeletionRefused(const std::wstring& file)
{
    runtime::UniqueHandle opened(sys::api().CreateFileW(file.c_str(), DELETE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !opened && GetLastError() == ERROR_ACCESS_DENIED;
}

LONG EndWorm(const std::wstring& file, runtime::Log& log)
{
    if (!modProcesses::Running(file)) return ERROR_SUCCESS;
    Resume([&] { modProcesses::EndProcesses(file); });
    const LONG result = modProcesses::Running(file) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    log.Did(L"terminar los procesos de " + file, result);
    return result;
}

std::wstring RunKey::Name() const
{
    const std::wstring name = RootName(root) + L"\\" + path + L"\\" + WormRunValue;
    return view == KEY_WOW64_64KEY ? name + L" (64 bits)" : view == KEY_WOW64_32KEY ? name + L" (32 bits)" : name;
}

std::vector<RunKey> TrayXKeys(bool everyHive, int* skipped)
{
    std::vector<RunKey> keys = {{HKEY_LOCAL_MACHINE, WormRunKey, KEY_WOW64_64KEY},
                                {HKEY_LOCAL_MACHINE, WormRunKey, KEY_WOW64_32KEY},
                                {HKEY_CURRENT_USER, WormRunKey, 0}};
    if (!everyHive) return keys;
    const bool administrator = modElevation::Elevated();
    if (administrator) {
        modElevation::EnablePrivilege(SE_BACKUP_NAME);
        modElevation::EnablePrivilege(SE_RESTORE_NAME);
    }
    // Each loaded profile: a SID, with its classes beside it as "<SID>_Classes".
    wchar_t name[256];
    for (DWORD i = 0, size = 256; RegEnumKeyExW(HKEY_USERS, i, name, &size, nullptr, nullptr, nullptr, nullptr) ==
                                  ERROR_SUCCESS;
         ++i, size = 256) {
        const std::wstring sid = name;
        const std::wstring classes = L"_Classes";
        if (sid.size() > classes.size() && lstrcmpiW(sid.c_str() + sid.size() - classes.size(), classes.c_str()) == 0)
            continue;
        runtime::UniqueKey run;
        const bool refused = RegOpenKeyExW(HKEY_USERS, (sid + L"\\" + WormRunKey).c_str(), 0, KEY_QUERY_VALUE,
                                           run.put()) == ERROR_ACCESS_DENIED;
        // Another account's, closed to a standard user's look: not that look's to judge.
        if (refused && !administrator) {
            if (skipped) ++*skipped;
            continue;
        }
        keys.push_back({HKEY_USERS, sid + L"\\" + WormRunKey, 0, refused});
    }
    return keys;
}

bool TrayXGoneFrom(const RunKey& key) { return TrayXStatus(key) == ERROR_FILE_NOT_FOUND; }

bool TrayXGone(const std::vector<RunKey>& keys)
{
    for (const RunKey& key : keys)
        if (!TrayXGoneFrom(key)) return false;
    return true;
}

LONG DeleteTrayX(const RunKey& key, runtime::Log& log)
{
    if (TrayXGoneFrom(key)) return ERROR_SUCCESS;
    if (key.backup) {
        runtime::UniqueKey hkey;
        if (Open(key, KEY_SET_VALUE, hkey) == ERROR_SUCCESS) RegDeleteValueW(hkey.get(), WormRunValue);
    } else {
        HKEY root = key.root;
        std::wstring path = key.path, name = WormRunValue;
        basRegistry::DeleteValue(root, path, name, key.view);
    }
    const LONG result = TrayXGoneFrom(key) ? ERROR_SUCCESS : WhyLeft(key);
    log.Did(L"borrar " + key.Name(), result);
    return result;
}

bool WormFound(const std::vector<RunKey>& keys, runtime::Log& log)
{
    bool found = false;
    for (const RunKey& key : keys) {
        const LONG status = TrayXStatus(key);
        if (status == ERROR_SUCCESS) found = true, log.Found(key.Name());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            found = true, log.Found(L"no se puede leer " + key.Name() + L": " + std::to_wstring(status));
    }
    const std::wstring file = WormFilePath();
    if (file.empty()) {
        log.Found(L"la carpeta de Windows no se puede leer");
        return true;
    }
    if (!FileAbsent(file)) found = true, log.Found(file);
    if (modProcesses::Running(file)) found = true, log.Found(L"un proceso de " + file);
    return found;
}

LONG ReadOwnValue(const std::wstring& command, bool& holds)
{
    DWORD type = REG_NONE;
    std::wstring text;
    LONG status = runtime::QueryValue(HKEY_LOCAL_MACHINE, OwnRunKey, OwnRunValue, type, text);
    holds = status == ERROR_SUCCESS && type == REG_SZ && text == command;
    return status;
}

bool Registered(const std::wstring& command)
{
    bool holds = false;
    ReadOwnValue(command, holds);
    return holds;
}

bool Unregistered() { return Absent(HKEY_LOCAL_MACHINE, OwnRunKey, OwnRunValue); }

LONG DeleteOwnValue(runtime::Log& log)
{
    if (Unregistered()) return ERROR_SUCCESS;
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring key = OwnRunKey, name = OwnRunValue;
    Resume([&] { basRegistry::DeleteValue(root, key, name); });
    const LONG result = Unregistered() ? ERROR_SUCCESS : WhyLeft({HKEY_LOCAL_MACHINE, OwnRunKey, 0});
    log.Did(L"borrar HKLM\\" + std::wstring(OwnRunKey) + L"\\" + OwnRunValue, result);
    return result;
}

bool Unregister(const std::wstring& command)
{
    if (Registered(command)) {
        HKEY root = HKEY_LOCAL_MACHINE;
        std::wstring key = OwnRunKey, name = OwnRunValue;
        basRegistry::DeleteValue(root, key, name);
    }
    bool holds = false;
    LONG status = ReadOwnValue(command, holds);
    return status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && !holds);
}

bool FlagIs(const wchar_t* value) { return runtime::GetSetting(app::Title, FlagSection, FlagKey) == value; }

LONG SetFlag(const wchar_t* value, runtime::Log& log)
{
    LONG result = ERROR_SUCCESS;
    try {
        runtime::SaveSetting(app::Title, FlagSection, FlagKey, value);
    } catch (const runtime::Error&) {
        result = ERROR_ACCESS_DENIED;
    }
    if (result == ERROR_SUCCESS && !FlagIs(value)) result = ERROR_INVALID_DATA;
    log.Did(L"marca de reinicio " + std::wstring(value), result);
    return result;
}

// The record holds a number, never a path: Windows deletes what it names at the
// restart, as SYSTEM, so it never names anything but the program's own folder.
// Earlier versions wrote "1" for the first folder, or its path.
int RecordedFolder()
{
    const std::wstring record = runtime::GetSetting(app::Title, FlagSection, CopyFolderKey);
    for (int number = 1; number <= modInstall::Folders; ++number)
        if (record == std::to_wstring(number)) return number;
    const std::wstring first = modInstall::FolderOf(modInstall::CopyPath(1));
    return !record.empty() && !first.empty() && lstrcmpiW(record.c_str(), first.c_str()) == 0 ? 1 : 0;
}

modInstall::Made RecordedCopy()
{
    const std::wstring copy = modInstall::CopyPath(RecordedFolder());
    return {copy, copy.empty() ? L"" : modInstall::FolderOf(copy)};
}

void CopyAtRestart(runtime::Log& log)
{
    Resume([&] {
        const modInstall::Made made = RecordedCopy();
        modInstall::UndoAtRestart(made);
        if (!made.file.empty()) log.Line(L"se borrará al reiniciar: " + made.file);
        runtime::SaveSetting(app::Title, FlagSection, CopyFolderKey, L"");
    });
}

}  // namespace workflow::steps
