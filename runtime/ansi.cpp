#include "runtime/ansi.h"

#include <windows.h>

namespace runtime {

std::string ToAnsi(std::wstring_view text)
{
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
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

AnsiRef::~AnsiRef()
{
    try {
        text_ = FromAnsi(ansi_);
    } catch (...) {
        // Out of memory: the caller's variable keeps the text it had before the call.
    }
}

}  // namespace runtime
