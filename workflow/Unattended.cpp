#include "workflow/Unattended.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <csignal>

#include "runtime/app.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/settings.h"
#include "system/modElevation.h"
#include "system/modPending.h"
#include "system/modProcesses.h"
#include "system/modWorld.h"
#include "window/resource.h"
#include "workflow/Steps.h"

namespace workflow {
namespace {

using namespace steps;
namespace app = runtime::app;

// Owned by an unattended run from its start to its end, and by a window run while a
// phase changes something.
constexpr wchar_t kUnattendedMutex[] = L"Global\\KestrovaZelvyRemover.Unattended";
constexpr wchar_t kWindowMutex[] = L"Global\\KestrovaZelvyRemover.Window";
// Owned by Administrators, which no standard user's token may set, so that a name taken
// first by a user, or by the worm, holds off no run; anyone may wait for it, as the
// run at logon, with the user's rights, waits for the one a startup script began.
constexpr wchar_t kUnattendedAccess[] = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100001;;;WD)";
// The window run is any account's, and the unattended one, SYSTEM or an
// administrator, must be able to wait for it; it makes nobody wait for long.
constexpr wchar_t kWindowAccess[] = L"D:(A;;GA;;;WD)";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
constexpr wchar_t kSystem[] = L"S-1-5-18";
constexpr DWORD kWaitForOtherRunMs = 60000;
// Beside the flag, for a deployment tool's detection rule.
constexpr wchar_t kLastExitCode[] = L"LastExitCode";
constexpr wchar_t kLastRun[] = L"LastRun";

constexpr wchar_t kUsage[] =
    L"Uso: tarquelin.exe [/Q] [/N] [/LOG=archivo] [/?]\n\n"
    L"/Q\tSin ventana ni mensajes; nunca reinicia Windows. Elimina el virus solo con permisos de "
    L"administrador.\n"
    L"/N\tSolo busca el virus: no cambia nada.\n"
    L"/LOG=archivo\tAñade el registro de la ejecución a ese archivo.\n"
    L"/?\tMuestra esta ayuda.\n\n"
    L"Códigos de salida:\n"
    L"0\tNingún rastro del virus, o todos eliminados\n"
    L"3010\tEliminado; su archivo se borrará al reiniciar Windows\n"
    L"6\tRastros encontrados (/N)\n"
    L"5\tSin permisos de administrador (/Q)\n"
    L"1\tNo se ha podido eliminar un rastro: véase el registro\n"
    L"87\tModificador desconocido\n"
    L"1618\tOtra ejecución con /Q está en marcha\n\n"
    L"Donde nadie puede ver una ventana (la sesión 0, una cuenta de servicio), no se muestra ninguna: sin /Q no se "
    L"cambia nada y el código es 87.";

// The run's log while it lasts, for the handlers of a crash, which get no argument.
RunLog* crashLog = nullptr;

void CrashEnd()
{
    if (crashLog) {
        crashLog->log.Line(L"error interno: la ejecución termina");
        crashLog->Close(exitcode::Failed);
    }
    ExitProcess(exitcode::Failed);
}

void OnAbort(int) { CrashEnd(); }

LONG WINAPI OnException(EXCEPTION_POINTERS*)
{
    CrashEnd();
    return EXCEPTION_EXECUTE_HANDLER;
}

bool Named(const std::wstring& argument, const wchar_t* name)
{
    return lstrcmpiW(argument.c_str() + 1, name) == 0;
}

// "SYSTEM", "administrador" or "usuario estándar", and whether the token is elevated.
std::wstring Account()
{
    HANDLE raw = nullptr;
    std::wstring account = L"usuario estándar";
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        runtime::UniqueHandle token(raw);
        BYTE user[256];
        TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
        DWORD size = 0;
        runtime::UniqueLocal system;
        ConvertStringSidToSidW(L"S-1-5-18", system.put());
        if (GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size) && system &&
            EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, system.get()))
            account = L"SYSTEM";
        else if (modElevation::Elevated() ||
                 (GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size) &&
                  type == TokenElevationTypeLimited))
            account = L"administrador";
    }
    return account + (modElevation::Elevated() ? L", elevado" : L", sin elevar");
}

std::wstring WindowsVersion()
{
    using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    // Asked of the kernel: GetVersionEx answers what the manifest allows.
    auto get = reinterpret_cast<GetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!get || get(&version) != 0) return L"?";
    std::wstring text = std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) +
                        L"." + std::to_wstring(version.dwBuildNumber);
    return version.szCSDVersion[0] ? text + L" " + version.szCSDVersion : text;
}

// The owner of kernel object OBJECT, as a SID string; "" when it cannot be read.
std::wstring OwnerOf(HANDLE object)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!object || GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                   nullptr, &raw) != ERROR_SUCCESS)
        return L"";
    runtime::UniqueLocal descriptor(raw);
    runtime::UniqueLocal text;
    if (!owner || !ConvertSidToStringSidW(owner, reinterpret_cast<LPWSTR*>(text.put()))) return L"";
    return static_cast<const wchar_t*>(text.get());
}

// Whether another unattended run is under way, which MARK, this run's own, found: a
// mark there already counts only when Administrators or SYSTEM own it.
bool AnotherRun(const RunMark& mark, runtime::Log& log)
{
    if (mark.Owned()) return false;
    runtime::UniqueHandle opened;
    if (!mark.get()) opened.reset(OpenMutexW(READ_CONTROL, FALSE, kUnattendedMutex));
    const std::wstring owner = OwnerOf(mark.get() ? mark.get() : opened.get());
    if (owner == kAdministrators || owner == kSystem) return true;
    log.Line(std::wstring(L"el nombre ") + kUnattendedMutex + L" ya existe (" + std::to_wstring(mark.status()) +
             L"), de " + (owner.empty() ? L"un dueño que no se puede leer" : owner) +
             L": no es otra ejecución del programa; se continúa");
    return false;
}

// Waits, a minute at most, for the run that owns the mutex NAME to let it go (or end:
// an abandoned mutex), and lets it go at once; false when the minute ran out.
bool WaitForMark(const wchar_t* name)
{
    runtime::UniqueHandle mark(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
    if (!mark) return true;
    const DWORD waited = WaitForSingleObject(mark.get(), kWaitForOtherRunMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    ReleaseMutex(mark.get());
    return true;
}

// Whether the worm's file is left to the restart ("1"), for the run after it to see
// whether that restart deleted it.
void RecordWormAtRestart(const wchar_t* value)
{
    runtime::Resume([&] { runtime::SaveSetting(app::Title, FlagSection, WormAtRestartKey, value); });
}

// The removal in one pass, for a machine found infected, or where a window run began
// one. Each step is read back; what cannot go now Windows deletes at the restart.
int Remove(const std::vector<RunKey>& keys, bool begun, runtime::Log& log)
{
    bool failed = false, atRestart = false;
    const std::wstring file = WormFilePath();
    if (!file.empty()) EndWorm(file, log);
    int hives = 0;
    for (const RunKey& key : keys) hives += key.root == HKEY_USERS && !TrayXGoneFrom(key);
    for (const RunKey& key : keys) failed |= DeleteTrayX(key, log) != ERROR_SUCCESS;
    log.Line(L"perfiles de usuario limpiados: " + std::to_wstring(hives));
    const bool scheduledBefore = runtime::GetSetting(app::Title, FlagSection, WormAtRestartKey) == L"1";
    if (file.empty()) {
        failed = true;
    } else if (DeleteWormFile(file, log) == ERROR_SUCCESS) {
        if (scheduledBefore) RecordWormAtRestart(L"");
    } else if (modPending::DeletionPending(file)) {
        // Held by what could not be ended. Asked once: a second run changes nothing.
        log.Line(L"ya se borrará al reiniciar: " + file);
        atRestart = true;
    } else if (scheduledBefore) {
        log.Line(L"el reinicio no ha borrado " + file + L", aunque se pidió");
        failed = true;
    } else if (DeletionRefused(file)) {
        // The file's own access list: a restart would leave it as it is.
        log.Did(L"la lista de acceso de " + file + L" impide borrarlo", ERROR_ACCESS_DENIED);
        failed = true;
    } else {
        const BOOL scheduled = MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        log.Did(L"borrar al reiniciar " + file, scheduled ? ERROR_SUCCESS : static_cast<LONG>(GetLastError()));
        atRestart = scheduled && modPending::DeletionPending(file);
        if (atRestart) RecordWormAtRestart(L"1");
        failed |= !atRestart;
    }
    if (begun) {  // what the window run left for its run at logon, which then has nothing to do
        failed |= DeleteOwnValue(log) != ERROR_SUCCESS;
        if (FlagIs(L"1")) failed |= SetFlag(L"0", log) != ERROR_SUCCESS;
        CopyAtRestart(log);
    }
    // Seen once more, all of it: a copy of the worm that could not be ended writes back.
    if (!TrayXGone(keys) || (!file.empty() && (modProcesses::Running(file) || (!atRestart && !FileAbsent(file)))))
        failed = true;
    return failed ? exitcode::Failed : atRestart ? exitcode::RestartNeeded : exitcode::Clean;
}

// What the switches ask for, once the log is open.
int Run(const Switches& switches, RunLog& run)
{
    runtime::Log& log = run.log;
    if (!switches.valid) {
        log.Line(L"modificador no válido: " + switches.bad);
        if (!switches.quiet) runtime::MsgBox(kUsage, MB_ICONEXCLAMATION);
        return exitcode::BadSwitch;
    }
    if (switches.help) {
        if (!switches.quiet) runtime::MsgBox(kUsage, MB_ICONINFORMATION);
        return exitcode::Clean;
    }
    const bool elevated = modElevation::Elevated();
    std::optional<RunMark> mark;
    if (!switches.detect) {
        if (!elevated) {
            log.Line(L"sin permisos de administrador: no se ha cambiado nada");
            return exitcode::NotAdministrator;
        }
        mark.emplace(kUnattendedMutex, kUnattendedAccess);
        if (AnotherRun(*mark, log)) {
            log.Line(L"otra ejecución con /Q está en marcha: no se ha cambiado nada");
            return exitcode::Busy;
        }
        // A window run changing something: waited for, then gone on.
        if (!WaitForMark(kWindowMutex))
            log.Line(L"una ventana del programa sigue cambiando algo tras un minuto: se continúa");
        // A copy of the worm may run in any session.
        modElevation::EnableDebugPrivilege();
    }
    int skipped = 0;
    const std::vector<RunKey> keys = TrayXKeys(true, &skipped);
    log.Line(L"perfiles de usuario cargados: " + std::to_wstring(keys.size() - 3));
    if (skipped)
        log.Line(L"perfiles de otras cuentas que esta cuenta no puede leer, no mirados: " + std::to_wstring(skipped));
    const bool found = WormFound(keys, log);
    const bool begun = FlagIs(L"1") || !Unregistered() || RecordedFolder() != 0;
    if (begun)
        log.Line(L"la segunda fase de una eliminación comenzada en la ventana espera al próximo inicio de sesión");
    int code = switches.detect ? (found ? exitcode::Found : exitcode::Clean)
                               : !found && !begun ? exitcode::Clean : Remove(keys, begun, log);
    if (switches.detect && !switches.quiet)
        runtime::MsgBox(code == exitcode::Clean
                            ? L"No se ha encontrado el virus Zelvy.F en su PC. No se ha realizado ningún cambio."
                            : L"Se han encontrado rastros del virus Zelvy.F en su PC. No se ha realizado ningún "
                              L"cambio.",
                        code == exitcode::Clean ? MB_ICONINFORMATION : MB_ICONEXCLAMATION);
    // A message that no one saw: whatever it said went unanswered.
    if (run.messages && code != exitcode::Failed) code = exitcode::Failed;
    runtime::Resume([&] {
        runtime::SaveSetting(app::Title, FlagSection, kLastExitCode, std::to_wstring(code));
        runtime::SaveSetting(app::Title, FlagSection, kLastRun, runtime::UtcNow());
    });
    return code;
}

}  // namespace

Switches ReadSwitches(const std::vector<std::wstring>& arguments)
{
    Switches switches;
    for (const std::wstring& argument : arguments) {
        switches.any = true;
        const bool marked = !argument.empty() && (argument[0] == L'/' || argument[0] == L'-');
        const std::wstring head = argument.substr(0, 5);
        if (marked && (Named(argument, L"Q") || Named(argument, L"QUIET"))) {
            switches.quiet = true;
        } else if (marked && Named(argument, L"N")) {
            switches.detect = true;
        } else if (marked && Named(argument, L"?")) {
            switches.help = true;
        } else if (marked && Named(head, L"LOG=") && argument.size() > 5 && switches.log.empty()) {
            switches.log = argument.substr(5);
        } else if (switches.valid) {
            switches.valid = false;
            switches.bad = argument;
        }
    }
    return switches;
}

RunLog::RunLog(const std::wstring& file, bool quiet) : quiet_(quiet)
{
    log.KeepIn(file, L"tarquelin " VER_TEXT);
    log.Line(L"---- " + runtime::UtcNow() + L" tarquelin " VER_TEXT);
    log.Line(L"línea de órdenes: " + std::wstring(GetCommandLineW()));
    log.Line(L"cuenta: " + Account());
    log.Line(L"Windows " + WindowsVersion());
}

int RunLog::ShowMessage(const std::wstring& text, UINT style, const std::wstring& title)
{
    log.Line(L"mensaje: " + title + L": " + text);
    if (!quiet_) return MessageBoxW(GetActiveWindow(), text.c_str(), title.c_str(), style);
    ++messages;
    return (style & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

void RunLog::EndProgram()
{
    // A quiet run comes here only through the runtime's report of an error.
    const int code = quiet_ ? exitcode::Failed : exitcode::Clean;
    Close(code);
    ExitProcess(code);
}

void RunLog::Close(int code)
{
    log.Line(L"código de salida: " + std::to_wstring(code));
    log.Flush();
}

std::optional<int> RunUnattended(const Switches& given)
{
    // Where no one can answer a window (a startup script, a deployment tool as SYSTEM),
    // nothing is shown, whatever the switches, and nothing waits for a person.
    const bool unseen = !runtime::SomeoneCanAnswer();
    const bool window = !given.any || (given.valid && !given.quiet && !given.detect && !given.help);
    if (window && !unseen) return std::nullopt;
    Switches switches = given;
    switches.quiet |= unseen;
    if (switches.quiet) SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // A malformed command line may have named no file, or the wrong one.
    RunLog run(LogFile(switches.valid ? switches.log : L""), switches.quiet);
    if (switches.quiet) {
        crashLog = &run;
        std::signal(SIGABRT, OnAbort);
        SetUnhandledExceptionFilter(OnException);
    }
    int code = exitcode::Failed;
    try {
        if (window) {
            run.log.Line(L"nadie puede ver la ventana de este programa aquí: no se ha cambiado nada; añada /Q");
            code = exitcode::BadSwitch;
        } else {
            code = Run(switches, run);
        }
    } catch (const runtime::Error& e) {
        run.log.Line(L"error " + std::to_wstring(e.number()) + L": " + runtime::Describe(e.number()));
    } catch (const std::bad_alloc&) {
        run.log.Line(runtime::Describe(runtime::err::OutOfMemory));
    }
    run.Close(code);
    crashLog = nullptr;
    return code;
}

RunMark::RunMark(const wchar_t* name, const wchar_t* access)
{
    runtime::UniqueLocal descriptor;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, descriptor.put(), nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    mutex_.reset(CreateMutexW(&attributes, TRUE, name));
    status_ = GetLastError();
    owned_ = mutex_ && status_ != ERROR_ALREADY_EXISTS;
    if (owned_) status_ = ERROR_SUCCESS;
}

RunMark::~RunMark()
{
    if (owned_) ReleaseMutex(mutex_.get());
}

WindowChange::WindowChange() : RunMark(kWindowMutex, kWindowAccess) {}

void WaitForUnattendedRun() { WaitForMark(kUnattendedMutex); }

std::wstring DefaultLogFile()
{
    if (modElevation::Elevated()) {
        const std::wstring windows = modWorld::GetWindowsDir();
        if (!windows.empty()) return runtime::JoinPath(runtime::JoinPath(windows, L"Debug"), L"tarquelin.log");
    }
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    return runtime::JoinPath(n > 0 && n <= MAX_PATH ? std::wstring(temp, n) : std::wstring(), L"tarquelin.log");
}

std::wstring LogFile(const std::wstring& given)
{
    // From a drive's root ("D:\\...", "\\...", "\\\\server\\..."): as given.
    const bool drive = given.size() > 1 && given[1] == L':';
    const size_t start = drive ? 2 : 0;
    if (given.size() > start && (given[start] == L'\\' || given[start] == L'/')) return given;
    const std::wstring fallback = DefaultLogFile();
    if (given.empty()) return fallback;
    // Relative to a folder (a drive's current one, for "D:z.log"): the default log's.
    return runtime::JoinPath(fallback.substr(0, fallback.find_last_of(L'\\')), given.substr(start));
}

}  // namespace workflow
