#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace runtime {

// The two services that stop a test in its tracks when made for real: a modal
// message box and the end of the process. Unit tests put their own in place.
class Desktop {
public:
    virtual int ShowMessage(const std::wstring& text, UINT style, const std::wstring& title) = 0;
    virtual void EndProgram() = 0;

protected:
    ~Desktop() = default;
};

// Makes `replacement` the desktop for the life of this object.
class DesktopOverride {
public:
    explicit DesktopOverride(Desktop& replacement);
    ~DesktopOverride();
    DesktopOverride(const DesktopOverride&) = delete;
    DesktopOverride& operator=(const DesktopOverride&) = delete;

private:
    Desktop* previous_;
};

// Modal message box; without a title the application title is shown.
int MsgBox(const std::wstring& text, UINT style = MB_OK, const std::optional<std::wstring>& title = {});

// Ends the program at once: no further event code runs.
void End();

// Whether anyone can see and answer a window of this process: not on a window station
// that is not shown (a service's, a launcher's own), nor in session 0 since Vista, where
// only services run. On XP, session 0 is the console's: its window station decides.
bool SomeoneCanAnswer();

}  // namespace runtime
