#pragma once
#include <windows.h>

#include "runtime/handles.h"

namespace runtime {

// A window of the program, as the routines that take "a form" see it.
class Form {
public:
    // The native handle; raises 364 once the window has been unloaded.
    HWND hWnd() const;
    // Takes the window off the screen; a window hidden before it was first shown stays unseen.
    void Hide();
    // Destroys the window, and with it everything it made.
    void Unload();
    bool Hidden() const { return hidden_; }

protected:
    Form() = default;
    ~Form() = default;
    HWND Window() const { return window_.get(); }

    UniqueWindow owner_;   // hidden, so that the window gets no taskbar button
    UniqueWindow window_;

private:
    bool hidden_ = false;
};

}  // namespace runtime
