#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "runtime/log.h"
#include "system/modInstall.h"

// The removal's steps, one set for the window's two runs and the unattended one. Each
// step is seen done by reading back what it changed, and tells the log what it did
// with the Windows result code; ERROR_SUCCESS means seen done.
namespace workflow {

inline constexpr wchar_t OwnRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The worm's values sit under the same Run keys. No leading backslash: the NT family
// refuses such a path (ERROR_BAD_PATHNAME) and the values would survive.
inline constexpr wchar_t WormRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t OwnRunValue[] = L"Zelvy Remover";
inline constexpr wchar_t WormRunValue[] = L"TrayX";
inline constexpr wchar_t WormFile[] = L"winppr32.exe";
inline constexpr wchar_t FlagSection[] = L"BOOTED";
inline constexpr wchar_t FlagKey[] = L"Value";
// Beside the flag, the number of the folder under Program Files that the first phase
// made for its copy (modInstall), for the second to delete, and for a later press to use.
inline constexpr wchar_t CopyFolderKey[] = L"Folder";
// Beside the flag, "1" while the worm's file is left to the restart by an unattended run.
inline constexpr wchar_t WormAtRestartKey[] = L"WormAtRestart";

namespace steps {

// The worm's file in the Windows directory; "" when the directory is unknown, since
// the path would then name the drive root.
std::wstring WormFilePath();

// True when FILE is seen not to exist.
bool FileAbsent(const std::wstring& file);

// Deletes the worm's FILE (read-only too); ERROR_SUCCESS once it is gone, or was never there.
LONG DeleteWormFile(const std::wstring& file, runtime::Log& log);

// Whether FILE's own access list refuses this account its deletion, which a restart
// does not change; a file merely in use (held, or a running image) is not refused.
bool DeletionRefused(const std::wstring& file);

// Ends every process that runs FILE; ERROR_SUCCESS when none is seen running afterwards.
LONG EndWorm(const std::wstring& file, runtime::Log& log);

// A Run key where the worm's "TrayX" may be.
struct RunKey {
    HKEY root;
    std::wstring path;
    REGSAM view;  // KEY_WOW64_64KEY or KEY_WOW64_32KEY on 64-bit Windows; 32-bit Windows ignores them
    // Opened with backup and restore semantics: another account's key that refuses this
    // administrator, as the worm, running as that account, may make it.
    bool backup = false;
    std::wstring Name() const;
};

// Both views of the machine's Run key and the user's; with EVERYHIVE, also that of
// every user's hive loaded under HKEY_USERS: one that refuses this account is read with
// backup semantics by an administrator (whose backup and restore privileges are then
// enabled), and counted in SKIPPED and left alone by anyone else.
std::vector<RunKey> TrayXKeys(bool everyHive, int* skipped = nullptr);

// Whether "TrayX" is seen absent from KEY with read rights.
bool TrayXGoneFrom(const RunKey& key);
bool TrayXGone(const std::vector<RunKey>& keys);

// Deletes "TrayX" from KEY; ERROR_SUCCESS once it is seen gone.
LONG DeleteTrayX(const RunKey& key, runtime::Log& log);

// Whether the worm's file exists, runs, or "TrayX" is under one of KEYS, seen with read
// rights only; a place that cannot be read counts as infected. Each trace goes to LOG.
bool WormFound(const std::vector<RunKey>& keys, runtime::Log& log);

// The own Run value: whether it holds COMMAND, and the status of reading it.
LONG ReadOwnValue(const std::wstring& command, bool& holds);
bool Registered(const std::wstring& command);
// Whether there is no own Run value.
bool Unregistered();

// Deletes the own Run value, whatever it holds; ERROR_SUCCESS once it is seen gone.
LONG DeleteOwnValue(runtime::Log& log);

// Deletes the own Run value when it holds COMMAND; true once reading it back finds no
// such value. One that another copy of the program wrote is not this press's to delete.
bool Unregister(const std::wstring& command);

bool FlagIs(const wchar_t* value);
// Stores the flag VALUE; ERROR_SUCCESS once it reads back.
LONG SetFlag(const wchar_t* value, runtime::Log& log);

// The number of the folder that the first phase made, as its record says; 0 for none.
int RecordedFolder();

// The copy and folder that the record names; empty for none.
modInstall::Made RecordedCopy();

// Has Windows delete at the next restart what the first phase made, and forgets it.
void CopyAtRestart(runtime::Log& log);

}  // namespace steps
}  // namespace workflow
