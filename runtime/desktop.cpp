#include "runtime/desktop.h"

#include "runtime/app.h"

namespace runtime {
namespace {

class RealDesktop final : public Desktop {
public:
    int ShowMessage(const std::wstring& text, UINT style, const std::wstring& title) override
    {
        // Owned by the active window of this thread, so that it is modal to it.
        return MessageBoxW(GetActiveWindow(), text.c_str(), title.c_str(), style);
    }
    void EndProgram() override { ExitProcess(0); }
};

RealDesktop realDesktop;
Desktop* current = &realDesktop;

}  // namespace

DesktopOverride::DesktopOverride(Desktop& replacement) : previous_(current) { current = &replacement; }
DesktopOverride::~DesktopOverride() { current = previous_; }

int MsgBox(const std::wstring& text, UINT style, const std::optional<std::wstring>& title)
{
    return current->ShowMessage(text, style, title.value_or(app::Title));
}

void End() { current->EndProgram(); }

bool SomeoneCanAnswer()
{
    USEROBJECTFLAGS flags{};
    if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return false;
    DWORD session = 1;
    // GetVersion's major number, bent by the manifest or not, is 6 or more from Vista on.
    return !(ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0 &&
             LOBYTE(LOWORD(GetVersion())) >= 6);
}

}  // namespace runtime
