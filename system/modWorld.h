#pragma once
#include <string>

#include "runtime/form.h"

namespace modWorld {

// The Windows directory as the system gives it: no separator added, and "" when
// the system wrote nothing into the buffer.
std::wstring GetWindowsDir();

// Opens aAddress with the shell's "Open" verb, normally in the default browser.
// A run-time error on the way is shown as a prompt and goes no further.
void OpenWebPage(runtime::Form& aForm, std::wstring& aAddress);

}  // namespace modWorld
