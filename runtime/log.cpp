#include "runtime/log.h"

#include <cwchar>
#include <string>

#include "runtime/handles.h"

namespace runtime {

void Log::Line(const std::wstring& text)
{
    if (kept_) text_ += text + L"\r\n";
}

bool Log::AppendTo(const std::wstring& aFile, LONGLONG aLimit)
{
    if (!kept_ || text_.empty()) return true;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text_.data(), static_cast<int>(text_.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text_.data(), static_cast<int>(text_.size()), bytes.data(), size, nullptr,
                        nullptr);
    auto open = [&] {
        // Others may read it meanwhile, and append: each block goes in one write.
        return UniqueHandle(CreateFileW(aFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    UniqueHandle file = open();
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length)) return false;
    if (length.QuadPart > 0 && length.QuadPart + size > aLimit) {
        file.reset();
        // Not renamed (read by someone without delete sharing): it grows a little more.
        MoveFileExW(aFile.c_str(), Rotated(aFile).c_str(), MOVEFILE_REPLACE_EXISTING);
        file = open();
        if (!file || !GetFileSizeEx(file.get(), &length)) return false;
    }
    if (length.QuadPart == 0) bytes.insert(0, "\xEF\xBB\xBF");
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        return false;
    text_.clear();
    return true;
}

std::wstring Rotated(const std::wstring& aFile)
{
    const size_t name = aFile.find_last_of(L"\\/") + 1, dot = aFile.find_last_of(L'.');
    if (dot == std::wstring::npos || dot < name) return aFile + L".old";
    return aFile.substr(0, dot) + L".old" + aFile.substr(dot);
}

std::wstring UtcNow()
{
    SYSTEMTIME t;
    GetSystemTime(&t);
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

}  // namespace runtime
