#include "runtime/form.h"

#include "runtime/errors.h"

namespace runtime {

HWND Form::hWnd()
{
    if (unloaded_) Raise(err::ObjectUnloaded);
    if (!window_) {
        Create();
        if (!window_) Raise(err::OutOfMemory);
    }
    return window_.get();
}

void Form::Hide()
{
    hidden_ = true;
    if (window_) ShowWindow(window_.get(), SW_HIDE);
}

void Form::Unload()
{
    unloaded_ = true;
    window_.reset();
    owner_.reset();
}

void Form::Destroyed()
{
    unloaded_ = true;
    window_.release();
}

}  // namespace runtime
