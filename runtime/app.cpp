#include "runtime/app.h"

#include <windows.h>

namespace runtime::app {
namespace {

std::wstring ModuleFileName()
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n < name.size()) {
            name.resize(n);
            return name;
        }
        name.resize(name.size() * 2);  // truncated: the path is longer than the buffer
    }
}

}  // namespace

std::wstring Path()
{
    std::wstring file = ModuleFileName();
    std::wstring dir = file.substr(0, file.find_last_of(L'\\'));
    if (dir.size() == 2 && dir[1] == L':') dir += L'\\';
    return dir;
}

UniqueHandle OpenImage()
{
    return UniqueHandle(
        CreateFileW(ModuleFileName().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::wstring ExeName()
{
    std::wstring file = ModuleFileName();
    std::wstring base = file.substr(file.find_last_of(L'\\') + 1);
    return base.substr(0, base.find_last_of(L'.'));
}

}  // namespace runtime::app
