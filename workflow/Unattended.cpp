#include "workflow/Unattended.h"

#include <windows.h>
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

// Held by an unattended run that may change something, and by every window run.
constexpr wchar_t kUnattendedMutex[] = L"Global\\KestrovaZelvyRemover.Unattended";
constexpr wchar_t kWindowMutex[] = L"Global\\KestrovaZelvyRemover.Window";
// Administrators and SYSTEM own it; anyone may wait for it: the run at logon has the
// user's rights, and waits for the one a startup script began as SYSTEM.
constexpr wchar_t kMutexAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100000;;;WD)";
constexpr DWORD kWaitForUnattendedMs = 60000;
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
    L"1618\tOtra copia del programa está en marcha";

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

// Where the unattended runs meet: true when another run holds them off (a window run,
// another unattended one, or a mutex this run may not open). HELD keeps this run's own.
bool OtherRun(runtime::UniqueHandle& held)
{
    runtime::UniqueLocal access;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexAccess, SDDL_REVISION_1, access.put(), nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, access.get(), FALSE};
    held.reset(CreateMutexW(&attributes, FALSE, kUnattendedMutex));
    if (!held || GetLastError() == ERROR_ALREADY_EXISTS) return true;
    runtime::UniqueHandle window(OpenMutexW(SYNCHRONIZE, FALSE, kWindowMutex));
    return window || GetLastError() != ERROR_FILE_NOT_FOUND;
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
    if (file.empty()) {
        failed = true;
    } else if (DeleteWormFile(file, log) != ERROR_SUCCESS) {
        // Held by what could not be ended. Asked once: a second run changes nothing.
        if (modPending::DeletionPending(file)) {
            log.Line(L"ya se borrará al reiniciar: " + file);
            atRestart = true;
        } else {
            const BOOL scheduled = MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            log.Did(L"borrar al reiniciar " + file, scheduled ? ERROR_SUCCESS : static_cast<LONG>(GetLastError()));
            atRestart = scheduled && modPending::DeletionPending(file);
            failed |= !atRestart;
        }
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
    runtime::UniqueHandle held;
    if (!switches.detect) {
        if (!elevated) {
            log.Line(L"sin permisos de administrador: no se ha cambiado nada");
            return exitcode::NotAdministrator;
        }
        if (OtherRun(held)) {
            log.Line(L"otra copia del programa está en marcha: no se ha cambiado nada");
            return exitcode::Busy;
        }
        // A copy of the worm may run in any session.
        modElevation::EnableDebugPrivilege();
    }
    const std::vector<RunKey> keys = TrayXKeys(true);
    log.Line(L"perfiles de usuario cargados: " + std::to_wstring(keys.size() - 3));
    const bool found = WormFound(keys, log);
    const bool begun = FlagIs(L"1") || !Unregistered() || RecordedFolder() != 0;
    if (begun) log.Found(L"una eliminación comenzada en la ventana");
    int code = !found && !begun ? exitcode::Clean : switches.detect ? exitcode::Found : Remove(keys, begun, log);
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

RunLog::RunLog(std::wstring file, bool quiet) : file_(std::move(file)), quiet_(quiet)
{
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
    Close(exitcode::Clean);
    ExitProcess(exitcode::Clean);
}

void RunLog::Close(int code)
{
    log.Line(L"código de salida: " + std::to_wstring(code));
    log.AppendTo(file_);
}

std::optional<int> RunUnattended(const Switches& switches)
{
    if (!switches.any || (switches.valid && !switches.quiet && !switches.detect && !switches.help))
        return std::nullopt;
    // Nothing waits for a person: not Windows' own boxes for a missing disk or a crash either.
    if (switches.quiet) SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // A malformed command line may have named no file, or the wrong one.
    RunLog run(switches.valid && !switches.log.empty() ? switches.log : DefaultLogFile(), switches.quiet);
    if (switches.quiet) {
        crashLog = &run;
        std::signal(SIGABRT, OnAbort);
        SetUnhandledExceptionFilter(OnException);
    }
    int code = exitcode::Failed;
    try {
        code = Run(switches, run);
    } catch (const runtime::Error& e) {
        run.log.Line(L"error " + std::to_wstring(e.number()) + L": " + runtime::Describe(e.number()));
    } catch (const std::bad_alloc&) {
        run.log.Line(runtime::Describe(runtime::err::OutOfMemory));
    }
    run.Close(code);
    crashLog = nullptr;
    return code;
}

runtime::UniqueHandle MarkWindowRun() { return runtime::UniqueHandle(CreateMutexW(nullptr, FALSE, kWindowMutex)); }

void WaitForUnattendedRun()
{
    runtime::UniqueHandle unattended(OpenMutexW(SYNCHRONIZE, FALSE, kUnattendedMutex));
    if (unattended) WaitForSingleObject(unattended.get(), kWaitForUnattendedMs);
}

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

}  // namespace workflow
