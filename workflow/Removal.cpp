#include "workflow/Removal.h"

#include <windows.h>

#include <optional>

#include "runtime/app.h"
#include "runtime/desktop.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/settings.h"
#include "system/basRegistry.h"
#include "system/clsExitWindows.h"
#include "system/modElevation.h"
#include "system/modInstall.h"
#include "system/modProcesses.h"
#include "system/modWorld.h"
#include "workflow/Unattended.h"

namespace workflow {
namespace {

using runtime::Resume;
using namespace steps;
namespace app = runtime::app;

// What the user is told when a step is not seen done, and the program runs as
// administrator already, so that running it as one cannot help.
constexpr wchar_t kIncomplete[] = L"Eliminación incompleta";
constexpr wchar_t kFileNotDeleted[] = L"No se ha podido eliminar el archivo del virus.";
constexpr wchar_t kTrayXNotDeleted[] = L"No se ha podido borrar el valor TrayX del inicio de Windows.";
constexpr wchar_t kNotRegistered[] = L"No se ha podido registrar este programa para el próximo inicio de Windows.";
constexpr wchar_t kNotUnregistered[] = L"No se ha podido quitar este programa del inicio de Windows.";
constexpr wchar_t kStateNotSaved[] = L"No se ha podido guardar el estado de la eliminación.";

// A check in continue-on-error mode: one that cannot run counts as not done.
template <typename Check>
bool Seen(Check&& check)
{
    bool done = false;
    Resume([&] { done = check(); });
    return done;
}

std::wstring OwnExecutable() { return runtime::JoinPath(app::Path(), app::ExeName() + L".exe"); }

// Asks QUESTION and, on Yes, starts PROGRAM again as administrator. True once the new
// instance has started.
bool OfferAdministrator(window::frmMain& form, const wchar_t* question, const std::wstring& program)
{
    if (runtime::MsgBox(question, MB_ICONEXCLAMATION | MB_YESNO, kIncomplete) != IDYES) return false;
    // The run after the restart has no window to own the prompt, and makes none for it.
    HWND owner = form.Hidden() ? nullptr : form.hWnd();
    return modElevation::RunAsAdministrator(owner, program, program.substr(0, program.find_last_of(L'\\')));
}

// What Windows starts at logon: the copy under Program Files where there is one, which
// only administrators may change; else this file.
std::wstring Registrable()
{
    std::wstring copy;
    Resume([&] { copy = RecordedCopy().file; });
    return !copy.empty() && !FileAbsent(copy) ? copy : OwnExecutable();
}

void TellRestartNeeded()
{
    runtime::MsgBox(L"No se ha podido reiniciar el equipo. Reinícielo usted para terminar la eliminación del virus.",
                    MB_ICONEXCLAMATION, L"Reinicio necesario");
}

// Forces the restart; true when Windows refused it, after telling the user so. A
// run-time error on the way is raised again. The restart ends the process without a
// word: what the run did goes to LOG's file first.
bool RestartRefused(runtime::Log& log)
{
    log.Line(L"se reinicia Windows");
    log.Flush();
    clsExitWindows exitWindows;
    const clsExitWindows::Status status = exitWindows.ExitWindows(2);
    if (status.error) runtime::Raise(status.error);
    if (!status.refused) return false;
    log.Line(L"Windows ha rechazado el reinicio");
    TellRestartNeeded();
    return true;
}

// A first phase that did not complete: the offer to run as administrator, which may
// help, or what failed. UNREGISTERED: no Run value of this press is left.
void Refuse(window::frmMain& form, const wchar_t* failed, bool unregistered)
{
    if (!modElevation::Elevated()) {
        if (OfferAdministrator(form, L"No se ha podido completar la primera fase de la eliminación: puede que este "
                                     L"programa necesite permisos de administrador. ¿Desea ejecutarlo ahora como "
                                     L"administrador?",
                               OwnExecutable())) {
            form.Unload();
            runtime::End();
        }
    } else {
        runtime::MsgBox(unregistered ? std::wstring(failed) : std::wstring(failed) + L"\n" + kNotUnregistered,
                        MB_ICONEXCLAMATION, kIncomplete);
    }
}

}  // namespace

// Runs in continue-on-error mode: a statement that fails is skipped.
void Removal::Form_Load(window::frmMain& form)
{
    Resume([&] { form.cmdBegin.Tag = runtime::GetSetting(app::Title, FlagSection, FlagKey); });
    if (form.cmdBegin.Tag != L"1") return;
    // An unattended run under way (a startup script) may be finishing this removal:
    // when it has, there is nothing left to show.
    WaitForUnattendedRun();
    if (!FlagIs(L"1")) {
        Resume([&] { form.Unload(); });
        Resume([&] { runtime::End(); });
        return;
    }
    Complete(form);
}

// The run after the restart, inside Form_Load: the window is never shown. Each step
// counts only once it is seen done; at the first that is not, the later ones are not
// taken, so that the Run value and the flag still bring the next start back here.
void Removal::Complete(window::frmMain& form)
{
    Resume([&] { form.Hide(); });
    std::optional<WindowChange> changing(std::in_place);
    const bool elevated = Seen(modElevation::Elevated);
    // An administrator may then end a copy of the worm in any account's session.
    if (elevated) Resume(modElevation::EnableDebugPrivilege);
    const wchar_t* failed = nullptr;
    const std::wstring file = WormFilePath();
    const std::vector<RunKey> keys = TrayXKeys(false);
    if (file.empty()) {
        failed = kFileNotDeleted;
    } else {
        // A copy of the worm that runs (it wrote "TrayX" back before the restart, or
        // another account started it) holds its file.
        EndWorm(file, log_);
        if (!Seen([&] { return DeleteWormFile(file, log_) == ERROR_SUCCESS; })) failed = kFileNotDeleted;
    }
    if (!failed) {  // and again the start-up values that such a copy may have written
        for (const RunKey& key : keys) Resume([&] { DeleteTrayX(key, log_); });
        if (!Seen([&] { return TrayXGone(keys); })) failed = kTrayXNotDeleted;
    }
    if (!failed && DeleteOwnValue(log_) != ERROR_SUCCESS) failed = kNotUnregistered;
    if (!failed && SetFlag(L"0", log_) != ERROR_SUCCESS) failed = kStateNotSaved;
    // The copy has done its work: Windows deletes it, and the folder made for it, at
    // the next restart.
    if (!failed) CopyAtRestart(log_);
    changing.reset();

    if (!failed) {
        Resume([&] {
            runtime::MsgBox(L"Virus eliminado por completo. No olvide visitar nuestra web donde encontrará otros "
                            L"productos de su utilidad.",
                            MB_ICONINFORMATION, L"Eliminación completada.");
        });
    } else if (!elevated) {
        Resume([&] {
            OfferAdministrator(form,
                               L"No se ha podido completar la eliminación del virus. ¿Desea ejecutar ahora este "
                               L"programa como administrador para terminarla?",
                               Registrable());
        });
    } else if (failed == kFileNotDeleted && !file.empty() &&
               MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        // Held open by what even an administrator cannot end: Windows deletes it at the
        // restart, before anything starts; the flag and the Run value bring this run back.
        Resume([&] {
            if (runtime::MsgBox(L"El archivo del virus está en uso y se eliminará al reiniciar el equipo. ¿Desea "
                                L"reiniciarlo ahora?",
                                MB_ICONQUESTION | MB_YESNO, kIncomplete) == IDYES)
                RestartRefused(log_);
        });
    } else {
        Resume([&] { runtime::MsgBox(failed, MB_ICONEXCLAMATION, kIncomplete); });
    }
    Resume([&] { form.Unload(); });
    Resume([&] { runtime::End(); });
}

// Untrapped: a run-time error ends the program with the runtime's report.
void Removal::cmdBegin_Click(window::frmMain& form)
{
    // A machine without the worm is left as it is: a forced restart would cost the
    // user's unsaved work for nothing.
    const std::vector<RunKey> keys = TrayXKeys(false);
    if (!WormFound(keys, log_)) {
        runtime::MsgBox(L"No se ha encontrado el virus Zelvy.F en su PC. No se ha realizado ningún cambio.",
                        MB_ICONINFORMATION);
        return;
    }
    // What starts at every logon, for every account, is a copy that only administrators
    // may change: the file the user started (in Downloads, on a stick) anything the user
    // runs could replace, and a stick pulled out would leave the second phase undone.
    const std::wstring first = modInstall::CopyPath(1);
    // Windows reads the Run value back through the ANSI code page: a path that does not
    // survive that would start another program, or none, at every logon. Known before
    // anything is written.
    if (!first.empty() && !modInstall::RunPath(first)) {
        runtime::MsgBox(L"El nombre de la carpeta de programas de Windows, " + modInstall::ProgramFiles() +
                            L", contiene caracteres que no se pueden registrar para el inicio de Windows. No se ha "
                            L"realizado ningún cambio.",
                        MB_ICONEXCLAMATION, kIncomplete);
        return;
    }
    std::optional<WindowChange> changing(std::in_place);
    // A running copy of the worm would write "TrayX" back between its deletion and the
    // check, or before the restart. An administrator may end one in any account's session.
    if (Seen(modElevation::Elevated)) Resume(modElevation::EnableDebugPrivilege);
    const std::wstring file = WormFilePath();
    if (!file.empty()) EndWorm(file, log_);
    std::optional<modInstall::Placed> placed;
    std::optional<std::wstring> executable;
    if (!first.empty()) Resume([&] { placed = modInstall::Install(image_.get(), RecordedFolder()); });
    if (placed) executable = modInstall::RunPath(placed->copy);
    if (!executable) {
        if (placed) modInstall::Undo(placed->made);
        changing.reset();
        // An older copy that runs (started by hand, or at a logon) cannot be replaced:
        // running as administrator would not help.
        const std::wstring own = RecordedCopy().file;
        if (!own.empty() && Seen([&] { return modProcesses::Running(own); }))
            runtime::MsgBox(L"No se ha podido sustituir la copia de este programa que está en marcha, " + own +
                                L". Ciérrela y vuelva a intentarlo. No se ha realizado ningún cambio.",
                            MB_ICONEXCLAMATION, kIncomplete);
        else
            Refuse(form, kNotRegistered, true);
        return;
    }
    if (!Seen([&] { return modInstall::KeepsAccessLists(placed->copy); }))
        log_.Line(L"el volumen de " + placed->copy +
                  L" no guarda listas de acceso: cualquier cuenta puede cambiar la copia");
    // Quoted: with spaces in an unquoted path, Windows would try "C:\Program.exe"
    // and the like first, at every logon.
    const std::wstring quoted = L"\"" + *executable + L"\"";
    runtime::Variant command = quoted;
    HKEY machine = HKEY_LOCAL_MACHINE;
    std::wstring ownKey = OwnRunKey, ownName = OwnRunValue;
    long type = REG_SZ;

    log_.Did(L"copiar este programa a " + placed->copy, ERROR_SUCCESS);
    basRegistry::WriteValue(machine, ownKey, ownName, command, type);
    log_.Did(L"escribir HKLM\\" + ownKey + L"\\" + ownName, Registered(quoted) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    for (const RunKey& key : keys) DeleteTrayX(key, log_);
    // Without administrator rights the machine-wide Run key is read-only: a restart
    // would close the user's programs for nothing, and the worm would start again.
    const wchar_t* failed = !Registered(quoted) ? kNotRegistered : !TrayXGone(keys) ? kTrayXNotDeleted : nullptr;
    if (!failed) {
        if (SetFlag(L"1", log_) != ERROR_SUCCESS) failed = kStateNotSaved;
    }
    if (!failed) {
        // Which folder is the program's own, for the second phase to delete and a later
        // press to use, once the flag is set.
        Resume([&] { runtime::SaveSetting(app::Title, FlagSection, CopyFolderKey, std::to_wstring(placed->number)); });
    }
    if (failed) {
        // Left behind, the Run value would open this window at every logon of every user.
        const bool unregistered = Seen([&] { return Unregister(quoted); });
        modInstall::Undo(placed->made);
        changing.reset();
        Refuse(form, failed, unregistered);
        return;
    }
    // The file stays for the run after the restart to delete, but that run may lack
    // the rights (Run-key programs start with the user's filtered token): Windows
    // deletes it at the restart too, before anyone logs on. Refused, that run still does.
    if (!file.empty() && !FileAbsent(file)) MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    changing.reset();
    runtime::MsgBox(L"El virus ha sido eliminado con éxito de su equipo. Ahora se reiniciará su PC.",
                    MB_ICONINFORMATION, L"Virus eliminado");
    // Refused, the flag and the Run value stay: a restart by hand finishes the removal.
    if (RestartRefused(log_)) {
        form.Unload();
        runtime::End();
        return;
    }
    restartAsked_ = true;
}

// Windows only starts a restart: programs may refuse it and the user may cancel it.
void Removal::Form_EndSession(window::frmMain& form, bool ending)
{
    if (ending || !restartAsked_) return;
    TellRestartNeeded();
    form.Unload();
    runtime::End();
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
