#include "runtime/log.h"

#include <cwchar>
#include <string>

#include "runtime/handles.h"

namespace runtime {

namespace {

// The log at PATH, opened as itself: a reparse point is never followed, and one, or a
// file with more than one name, is refused, as a link there could lead a run as SYSTEM
// to write where the one who made it may not. CREATED: this call made the file.
UniqueHandle OpenOwn(const std::wstring& path, bool& created)
{
    const DWORD access = GENERIC_READ | GENERIC_WRITE, share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    UniqueHandle file(CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW, flags, nullptr));
    created = static_cast<bool>(file);
    if (!file && GetLastError() == ERROR_FILE_EXISTS)
        file.reset(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return UniqueHandle();
    return file;
}

// Writes BYTES at OFFSET, or at the end of the file as it is then (-1: others append
// too, and each block must go in whole).
bool WriteAt(HANDLE file, const std::string& bytes, LONGLONG offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &at) && written == bytes.size();
}

// Hands the LENGTH bytes of LOG to the rotated file FILE and cuts LOG, through handles;
// false, with LOG as it was, when the rotated file cannot take them.
bool Rotate(HANDLE log, LONGLONG length, const std::wstring& file)
{
    if (length > 64 * 1024 * 1024) return false;  // not a log of this program's
    bool created = false;
    UniqueHandle rotated = OpenOwn(Rotated(file), created);
    std::string older(static_cast<size_t>(length), '\0');
    OVERLAPPED start{};
    DWORD read = 0;
    LARGE_INTEGER zero{};
    return rotated && ReadFile(log, older.data(), static_cast<DWORD>(older.size()), &read, &start) &&
           read == older.size() && SetFilePointerEx(rotated.get(), zero, nullptr, FILE_BEGIN) &&
           SetEndOfFile(rotated.get()) && WriteAt(rotated.get(), older, 0) &&
           SetFilePointerEx(log, zero, nullptr, FILE_BEGIN) && SetEndOfFile(log);
}

}  // namespace

void Log::Line(const std::wstring& text)
{
    if (!kept_) return;
    if (text_.empty() && flushed_) text_ = L"---- " + UtcNow() + L" " + title_ + L" (continúa)\r\n";
    text_ += text + L"\r\n";
}

bool Log::AppendTo(const std::wstring& aFile, LONGLONG aLimit)
{
    if (!kept_ || text_.empty()) return true;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text_.data(), static_cast<int>(text_.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text_.data(), static_cast<int>(text_.size()), bytes.data(), size, nullptr,
                        nullptr);
    bool created = false;
    UniqueHandle file = OpenOwn(aFile, created);
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length)) return false;
    // Begun again once its older part is in the rotated file; one that cannot be
    // opened there (held, or a link), and the log grows a little more.
    if (length.QuadPart > 0 && length.QuadPart + size > aLimit && Rotate(file.get(), length.QuadPart, aFile))
        created = true;
    if (created) bytes.insert(0, "\xEF\xBB\xBF");
    if (!WriteAt(file.get(), bytes, -1)) return false;
    text_.clear();
    return true;
}

void Log::KeepIn(const std::wstring& aFile, const std::wstring& aTitle)
{
    file_ = aFile;
    title_ = aTitle;
}

void Log::Flush()
{
    if (file_.empty() || text_.empty()) return;
    AppendTo(file_);
    flushed_ = true;
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
