#include "runtime/form.h"

#include "runtime/errors.h"

namespace runtime {

HWND Form::hWnd() const
{
    if (!window_) Raise(err::ObjectUnloaded);
    return window_.get();
}

void Form::Hide()
{
    hidden_ = true;
    if (window_) ShowWindow(window_.get(), SW_HIDE);
}

void Form::Unload()
{
    window_.reset();
    owner_.reset();
}

}  // namespace runtime
