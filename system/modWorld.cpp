#include "system/modWorld.h"

#include <windows.h>

#include "runtime/ansi.h"
#include "runtime/app.h"
#include "runtime/desktop.h"
#include "runtime/files.h"
#include "system/api.h"

namespace modWorld {
namespace {

constexpr UINT kBufferSize = 145;

}  // namespace

std::wstring GetWindowsDir()
{
    std::wstring buffer(kBufferSize, L'\0');
    {
        runtime::AnsiRef text(buffer);
        sys::Entry(sys::api().GetWindowsDirectoryA)(text.get(), kBufferSize);
    }
    return buffer.substr(0, buffer.find(L'\0'));
}

void OpenWebPage(runtime::Form& aForm, std::wstring& aAddress)
{
    const std::wstring prompt = L"Error en la dirección o en la conección internet " + aAddress;
    const std::wstring title = L"Vodider Iruvuvir";
    try {
        HWND owner = aForm.hWnd();
        // A folder that the ANSI code page cannot carry goes as its short form; failing
        // that, as none: the shell then starts the browser in the current folder.
        std::wstring folder = runtime::AnsiPath(runtime::app::Path()).value_or(L"");
        std::wstring verb = L"Open", parameters;
        runtime::AnsiRef verbArg(verb), fileArg(aAddress), parametersArg(parameters), folderArg(folder);
        // What the shell answers is not examined: it reports its own failures.
        sys::Entry(sys::api().ShellExecuteA)(owner, verbArg.get(), fileArg.get(), parametersArg.get(),
                                             folderArg.get(), SW_SHOWNORMAL);
    } catch (const runtime::Error&) {
        runtime::MsgBox(prompt, MB_ICONQUESTION | MB_OKCANCEL, title);  // OK and Cancel alike
    }
}

}  // namespace modWorld
