#include "system/modInstall.h"

#include <shlobj.h>

#include <vector>

#include "runtime/files.h"
#include "runtime/handles.h"
#include "system/api.h"

namespace modInstall {
namespace {

constexpr wchar_t kFolder[] = L"Kestrova Zelvy Remover";
constexpr wchar_t kFile[] = L"tarquelin.exe";

bool IsReparsePoint(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// The whole file read through FILE from its start; empty when it cannot be read.
std::optional<std::vector<char>> ReadAll(HANDLE file)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 64 * 1024 * 1024) return std::nullopt;
    std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
    LARGE_INTEGER start{};
    DWORD read = 0;
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        (!bytes.empty() && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                            read != bytes.size())))
        return std::nullopt;
    return bytes;
}

// True when A and B are one and the same file, whatever names lead to them.
bool SameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

runtime::UniqueHandle Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
{
    // A reparse point is opened as itself, never followed.
    return runtime::UniqueHandle(CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Writes BYTES over the file at PATH and reads them back; true when they are there.
bool WriteChecked(const std::wstring& path, DWORD disposition, const std::vector<char>& bytes)
{
    {
        runtime::UniqueHandle out = Open(path, GENERIC_WRITE, 0, disposition);
        DWORD written = 0;
        if (!out || (!bytes.empty() && (!WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                                   &written, nullptr) ||
                                        written != bytes.size())))
            return false;
        if (!FlushFileBuffers(out.get())) return false;
    }
    runtime::UniqueHandle back = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    return back && ReadAll(back.get()) == bytes;
}

}  // namespace

std::wstring CopyPath()
{
    auto folderPath = sys::api().SHGetFolderPathW;
    wchar_t programFiles[MAX_PATH] = L"";
    try {
        if (sys::Entry(folderPath)(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles) != S_OK)
            return L"";
    } catch (const runtime::Error&) {
        return L"";  // no shell to ask
    }
    if (!*programFiles) return L"";
    return runtime::JoinPath(runtime::JoinPath(programFiles, kFolder), kFile);
}

std::optional<Made> Install(HANDLE aImage, const std::wstring& aCopy)
{
    const std::optional<std::vector<char>> image = ReadAll(aImage);
    if (!image) return std::nullopt;
    Made made;
    const std::wstring folder = FolderOf(aCopy);
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
        made.folder = folder;  // with the access list it inherits: administrators write, users read
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
        return std::nullopt;
    }
    if (IsReparsePoint(folder) || IsReparsePoint(aCopy)) {
        Undo(made);
        return std::nullopt;
    }
    if (runtime::UniqueHandle there = Open(aCopy, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)) {
        // Installed there already, or this very file runs: it is not this press's to undo.
        if (SameFile(there.get(), aImage) || ReadAll(there.get()) == image) return made;
        there.reset();
        if (WriteChecked(aCopy, TRUNCATE_EXISTING, *image)) return made;  // another build of the program, replaced
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        made.file = aCopy;
        if (WriteChecked(aCopy, CREATE_NEW, *image)) return made;
    }
    Undo(made);
    return std::nullopt;
}

void Undo(const Made& aMade)
{
    if (!aMade.file.empty()) DeleteFileW(aMade.file.c_str());
    if (!aMade.folder.empty()) RemoveDirectoryW(aMade.folder.c_str());
}

void UndoAtRestart(const Made& aMade)
{
    if (!aMade.file.empty()) MoveFileExW(aMade.file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!aMade.folder.empty()) MoveFileExW(aMade.folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace modInstall
