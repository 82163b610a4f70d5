#pragma once
#include <windows.h>

#include "runtime/handles.h"

namespace runtime {

// A window of the program, as the routines that take "a form" see it. The native
// window is made on its first need (shown, or its handle asked for), so that a run
// that never shows it never pays for it.
class Form {
public:
    // The native handle, making the window if it has not been made yet; raises 364
    // once the window has been unloaded, and 7 when it cannot be made.
    HWND hWnd();
    // Takes the window off the screen; a window hidden before it was first shown stays unseen.
    void Hide();
    // Destroys the window, and with it everything it made; a window never made is
    // only marked as gone.
    void Unload();
    bool Hidden() const { return hidden_; }
    bool Unloaded() const { return unloaded_; }

protected:
    Form() = default;
    ~Form() = default;
    // Makes window_ (and owner_, where there is one). Called once, by hWnd().
    virtual void Create() = 0;
    HWND Window() const { return window_.get(); }  // null until made
    // Windows destroyed the window itself: nothing left to free, and nothing to remake.
    void Destroyed();

    UniqueWindow owner_;   // hidden, so that the window gets no taskbar button
    UniqueWindow window_;

private:
    bool hidden_ = false;
    bool unloaded_ = false;
};

}  // namespace runtime
