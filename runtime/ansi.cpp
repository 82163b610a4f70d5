#include "runtime/ansi.h"

#include <windows.h>

namespace runtime {

std::string ToAnsi(std::wstring_view text, bool* replaced)
{
    if (replaced) *replaced = false;
    if (text.empty()) return {};
    // Where the ANSI code page is UTF-8 (a Windows 10 option) nothing can be lost, and
    // the flag and the default-character arguments are not allowed.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int length = static_cast<int>(text.size());
    int n = WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, flags, text.data(), length, out.data(), n, nullptr, used);
    if (replaced) *replaced = usedDefault != FALSE;
    return out;
}

std::wstring FromAnsi(std::string_view text)
{
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

bool SurvivesAnsi(std::wstring_view text)
{
    bool replaced = false;
    const std::string ansi = ToAnsi(text, &replaced);
    return !replaced && FromAnsi(ansi) == text;
}

AnsiRef::~AnsiRef()
{
    try {
        text_ = FromAnsi(ansi_);
    } catch (...) {
        // Out of memory: the caller's variable keeps the text it had before the call.
    }
}

}  // namespace runtime
