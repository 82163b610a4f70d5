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

// A check in continue-on-error mode: one that cannot run counts as not done.
template <typename Check>
bool Seen(Check&& check)
{
    bool done = false;
    Resume([&] { done = check(); });
    return done;
}

// The worm's file in the Windows directory; "" when the directory is unknown, since
// the path would then name the drive root.
std::wstring WormFilePath()
{
    std::wstring windows;
    Resume([&] { windows = modWorld::GetWindowsDir(); });
    return windows.empty() ? std::wstring() : runtime::JoinPath(windows, WormFile);
}

// True once FILE is gone, or was never there.
bool DeleteWormFile(const std::wstring& file)
{
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

std::wstring OwnExecutable() { return runtime::JoinPath(app::Path(), app::ExeName() + L".exe"); }

// A value that the registry says is not there: reading it is allowed and finds nothing.
bool Absent(HKEY root, const wchar_t* key, const wchar_t* name)
{
    DWORD type;
    std::wstring text;
    return runtime::QueryValue(root, key, name, type, text) == ERROR_FILE_NOT_FOUND;
}

// Asks for the worm's "TrayX" to be deleted from the machine's and the user's Run keys.
void DeleteTrayX()
{
    HKEY machine = HKEY_LOCAL_MACHINE, user = HKEY_CURRENT_USER;
    std::wstring key = WormRunKey, name = WormRunValue;
    basRegistry::DeleteValue(machine, key, name);
    basRegistry::DeleteValue(user, key, name);
}

bool TrayXGone()
{
    return Absent(HKEY_LOCAL_MACHINE, WormRunKey, WormRunValue) && Absent(HKEY_CURRENT_USER, WormRunKey, WormRunValue);
}

// What the first phase must have left before it may claim success and restart: the
// program starts at the next logon, and the worm does not.
bool FirstPhaseDone(const std::wstring& command)
{
    DWORD type = REG_NONE;
    std::wstring text;
    return runtime::QueryValue(HKEY_LOCAL_MACHINE, OwnRunKey, OwnRunValue, type, text) == ERROR_SUCCESS &&
           type == REG_SZ && text == command && TrayXGone();
}

// Asks QUESTION and, on Yes, starts the program again as administrator. True once the
// new instance has started.
bool OfferAdministrator(window::frmMain& form, const wchar_t* question)
{
    if (runtime::MsgBox(question, MB_ICONEXCLAMATION | MB_YESNO, L"Eliminación incompleta") != IDYES) return false;
    // The run after the restart has no window to own the prompt, and makes none for it.
    HWND owner = form.Hidden() ? nullptr : form.hWnd();
    return modWorld::RunAsAdministrator(owner, OwnExecutable(), app::Path());
}

}  // namespace

// Runs in continue-on-error mode: a statement that fails is skipped.
void Removal::Form_Load(window::frmMain& form)
{
    Resume([&] { form.cmdBegin.Tag = runtime::GetSetting(app::Title, FlagSection, FlagKey); });
    if (form.cmdBegin.Tag != L"1") return;
    Complete(form);
}

// The run after the restart, inside Form_Load: the window is never shown. Each step
// counts only once it is seen done; at the first that is not, the later ones are not
// taken, so that the Run value and the flag still bring the next start back here.
void Removal::Complete(window::frmMain& form)
{
    Resume([&] { form.Hide(); });
    bool done = false;
    std::wstring file;
    Resume([&] { file = WormFilePath(); });
    if (!file.empty()) {
        // A copy of the worm that runs (it wrote "TrayX" back before the restart, or
        // another account started it) holds its file.
        Resume([&] { modWorld::EndProcesses(file); });
        done = Seen([&] { return DeleteWormFile(file); });
    }
    if (done) {  // and again the start-up values that such a copy may have written
        Resume(DeleteTrayX);
        done = Seen(TrayXGone);
    }
    if (done) {
        Resume([&] {
            HKEY root = HKEY_LOCAL_MACHINE;
            std::wstring key = OwnRunKey, name = OwnRunValue;
            basRegistry::DeleteValue(root, key, name);
        });
        done = Seen([] { return Absent(HKEY_LOCAL_MACHINE, OwnRunKey, OwnRunValue); });
    }
    if (done) {
        Resume([&] { runtime::SaveSetting(app::Title, FlagSection, FlagKey, L"0"); });
        done = Seen([] { return runtime::GetSetting(app::Title, FlagSection, FlagKey) == L"0"; });
    }
    if (done) {
        Resume([&] {
            runtime::MsgBox(L"Virus eliminado por completo. No olvide visitar nuestra web donde encontrará otros "
                            L"productos de su utilidad.",
                            MB_ICONINFORMATION, L"Eliminación completada.");
        });
    } else {
        Resume([&] {
            OfferAdministrator(form, L"No se ha podido completar la eliminación del virus. ¿Desea ejecutar ahora este "
                                     L"programa como administrador para terminarla?");
        });
    }
    Resume([&] { form.Unload(); });
    Resume([&] { runtime::End(); });
}

// Untrapped: a run-time error ends the program with the runtime's report.
void Removal::cmdBegin_Click(window::frmMain& form)
{
    // Quoted: with spaces in an unquoted path, Windows would try "C:\Program.exe"
    // and the like first, at every logon.
    const std::wstring quoted = L"\"" + OwnExecutable() + L"\"";
    runtime::Variant command = quoted;
    HKEY machine = HKEY_LOCAL_MACHINE;
    std::wstring ownKey = OwnRunKey, ownName = OwnRunValue;
    long type = REG_SZ;

    basRegistry::WriteValue(machine, ownKey, ownName, command, type);
    DeleteTrayX();
    // Without administrator rights the machine-wide Run key is read-only: a restart
    // would close the user's programs for nothing, and the worm would start again.
    if (!FirstPhaseDone(quoted)) {
        if (OfferAdministrator(form, L"No se ha podido completar la primera fase de la eliminación: puede que este "
                                     L"programa necesite permisos de administrador. ¿Desea ejecutarlo ahora como "
                                     L"administrador?")) {
            form.Unload();
            runtime::End();
        }
        return;
    }
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
