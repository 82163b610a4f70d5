#pragma once
#include <windows.h>

#include <string>

#include "runtime/form.h"
#include "runtime/handles.h"

namespace window {

class frmMain;

// The events of the main window that have handlers; every other event has none.
class frmMainEvents {
public:
    virtual void Form_Load(frmMain& form) = 0;
    virtual void cmdBegin_Click(frmMain& form) = 0;
    virtual void cmdExit_Click(frmMain& form) = 0;
    virtual void Label7_Click(frmMain& form) = 0;
    // Windows ends the session (ENDING) or, asked to, does not end it after all.
    virtual void Form_EndSession(frmMain& form, bool ending) = 0;

protected:
    ~frmMainEvents() = default;
};

struct CommandButton {
    HWND hwnd = nullptr;
    std::wstring Tag;  // a free text property, empty in the layout
};

// The one window of the program, made from its stored layout. Creating it raises
// the load event; unless the handler hid or unloaded it, the window is then made and
// shown with the focus on cmdBegin.
class frmMain final : public runtime::Form {
public:
    frmMain(HINSTANCE instance, frmMainEvents& events);
    // The window goes first: its last messages still reach the fonts and pictures below.
    ~frmMain() { Unload(); }
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    CommandButton cmdBegin;
    CommandButton cmdExit;

    // Gives the window's keyboard handling (Tab, access keys, Enter, Esc) its turn
    // at a message; true when the message was used.
    bool PreTranslate(MSG& msg);

private:
    void Create() override;
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void LayOut(UINT dpi);
    void FitLabels(UINT dpi);
    void FreeResources();
    void Command(int id, int code);

    HINSTANCE instance_;
    frmMainEvents& events_;
    HCURSOR hand_ = nullptr;  // a shared resource: not destroyed
    // Used by the window and its children until the last of them has gone (freed at
    // WM_NCDESTROY, which comes after the children's destruction).
    runtime::UniqueFont windowFont_, boldFont_, linkFont_;
    runtime::UniqueBitmap banner_, shownBanner_;  // the resource; its copy at this DPI, where not 96
    runtime::UniqueIcon bigIcon_, smallIcon_;
    UINT dpi_ = 96;
    HWND lastFocus_ = nullptr;
};

// Runs the message loop of the user-interface thread until WM_QUIT.
int RunMessageLoop(frmMain& form);

}  // namespace window
