#include "workflow/Removal.h"

#include <windows.h>

#include "runtime/app.h"
#include "runtime/desktop.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/settings.h"
#include "system/basRegistry.h"
#include "system/clsExitWindows.h"
#include "system/modWorld.h"

namespace workflow {
namespace {

using runtime::Resume;
namespace app = runtime::app;

// True once the worm's file is gone from the Windows directory, or was never there.
// An unknown Windows directory deletes nothing: the path would name the drive root.
bool DeleteWormFile()
{
    std::wstring windows;
    Resume([&] { windows = modWorld::GetWindowsDir(); });
    if (windows.empty()) return false;
    const std::wstring file = runtime::JoinPath(windows, WormFile);

    // The worm may have made its file read-only, which DeleteFile refuses.
    DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        attributes &= ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesW(file.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    Resume([&] { runtime::Kill(file); });

    if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

// Runs in continue-on-error mode: a statement that fails is skipped.
void Removal::Form_Load(window::frmMain& form)
{
    Resume([&] { form.cmdBegin.Tag = runtime::GetSetting(app::Title, FlagSection, FlagKey); });
    if (form.cmdBegin.Tag != L"1") return;
    Complete(form);
}

// The run after the restart, inside Form_Load: the window is never shown.
void Removal::Complete(window::frmMain& form)
{
    Resume([&] { form.Hide(); });
    bool removed = false;
    Resume([&] { removed = DeleteWormFile(); });
    if (!removed) {
        // The Run value and the flag stay, so that the next start tries again.
        Resume([&] {
            runtime::MsgBox(L"No se ha podido eliminar el archivo del virus (winppr32.exe). Vuelva a ejecutar este "
                            L"programa como administrador para completar la eliminación.",
                            MB_ICONEXCLAMATION | MB_OK, L"Eliminación incompleta");
        });
        Resume([&] { form.Unload(); });
        Resume([&] { runtime::End(); });
        return;
    }
    Resume([&] {
        HKEY root = HKEY_LOCAL_MACHINE;
        std::wstring key = OwnRunKey, name = OwnRunValue;
        basRegistry::DeleteValue(root, key, name);
    });
    Resume([&] { runtime::SaveSetting(app::Title, FlagSection, FlagKey, L"0"); });
    Resume([&] {
        runtime::MsgBox(L"Virus eliminado por completo. No olvide visitar nuestra web donde encontrará otros "
                        L"productos de su utilidad.",
                        MB_ICONINFORMATION, L"Eliminación completada.");
    });
    Resume([&] { form.Unload(); });
    Resume([&] { runtime::End(); });
}

// Untrapped: a run-time error ends the program with the runtime's report.
void Removal::cmdBegin_Click(window::frmMain&)
{
    // Quoted: with spaces in an unquoted path, Windows would try "C:\Program.exe"
    // and the like first, at every logon.
    runtime::Variant command = L"\"" + runtime::JoinPath(app::Path(), app::ExeName() + L".exe") + L"\"";
    HKEY machine = HKEY_LOCAL_MACHINE, user = HKEY_CURRENT_USER;
    std::wstring ownKey = OwnRunKey, ownName = OwnRunValue, wormKey = WormRunKey, wormName = WormRunValue;
    long type = REG_SZ;

    basRegistry::WriteValue(machine, ownKey, ownName, command, type);
    basRegistry::DeleteValue(machine, wormKey, wormName);
    basRegistry::DeleteValue(user, wormKey, wormName);
    runtime::SaveSetting(app::Title, FlagSection, FlagKey, L"1");
    runtime::MsgBox(L"El virus ha sido eliminado con éxito de su equipo. Ahora se reiniciará su PC.",
                    MB_ICONINFORMATION, L"Virus eliminado");
    clsExitWindows exitWindows;
    if (long error = exitWindows.ExitWindows(2)) runtime::Raise(error);
}

void Removal::cmdExit_Click(window::frmMain& form)
{
    form.Unload();
    runtime::End();
}

void Removal::Label7_Click(window::frmMain& form)
{
    std::wstring address = HomePage;
    modWorld::OpenWebPage(form, address);
}

}  // namespace workflow
