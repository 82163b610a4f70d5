#include "system/modInstall.h"

#include <sddl.h>
#include <shlobj.h>

#include <vector>

#include "runtime/files.h"
#include "runtime/handles.h"
#include "system/api.h"
#include "system/modPending.h"

namespace modInstall {
namespace {

constexpr wchar_t kFolder[] = L"Kestrova Zelvy Remover";
constexpr wchar_t kFile[] = L"tarquelin.exe";

bool IsFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

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

// A file with one name only, and not a reparse point: nothing outside the folder leads to it.
bool OnlyHere(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1 &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

runtime::UniqueHandle Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
{
    // A reparse point is opened as itself, never followed.
    return runtime::UniqueHandle(CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Writes BYTES over the file at PATH and reads them back; true when they are there.
bool WriteChecked(const std::wstring& path, const std::vector<char>& bytes)
{
    {
        runtime::UniqueHandle out = Open(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
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

// Puts BYTES at PATH whole or not at all: a write that fails halfway must not leave a
// broken program where an earlier Run value may still start it.
bool Replace(const std::wstring& path, const std::vector<char>& bytes)
{
    wchar_t fresh[MAX_PATH];
    if (!GetTempFileNameW(FolderOf(path).c_str(), L"tar", 0, fresh)) return false;
    if (WriteChecked(fresh, bytes) &&
        MoveFileExW(fresh, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(fresh);
    return false;
}

// The program's own folder that a pending deletion names (the completion asks for the
// copy's and the folder's); 0 for none.
int PendingFolder()
{
    for (int number = 1; number <= Folders; ++number) {
        const std::wstring copy = CopyPath(number);
        if (!copy.empty() && (modPending::DeletionPending(copy) || modPending::DeletionPending(FolderOf(copy))))
            return number;
    }
    return 0;
}

// The folder for the copy: OWN, the program's own, where it is there to use or can be
// made, else the first name of the others that is free; made with ACCESS.
std::optional<Placed> Folder(int own, SECURITY_ATTRIBUTES& access)
{
    for (int i = 0; i <= Folders; ++i) {
        const int number = i == 0 ? own : i;
        if (number == 0 || (i > 0 && number == own)) continue;
        const std::wstring copy = CopyPath(number), folder = FolderOf(copy);
        if (copy.empty()) return std::nullopt;
        if (sys::api().CreateDirectoryW(folder.c_str(), &access)) return Placed{number, copy, {L"", folder}};
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
        // Someone else's, whatever it is, and whatever access list it has: not looked at.
        if (number == own) return IsFolder(folder) ? std::optional<Placed>(Placed{number, copy, {}}) : std::nullopt;
    }
    return std::nullopt;
}

// The program's bytes at PLACED's copy: written there when there is none, or when the one
// there differs; a link that leads out of the folder is refused.
bool PutCopy(HANDLE image, const std::vector<char>& bytes, Placed& placed)
{
    bool same = false;
    {
        runtime::UniqueHandle there =
            Open(placed.copy, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        if (there) {
            if (!OnlyHere(there.get())) return false;
            same = SameFile(there.get(), image) || ReadAll(there.get()) == bytes;
        } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            placed.made.file = placed.copy;
        } else {
            return false;
        }
    }  // closed: Windows refuses to replace a file that is open
    return same || Replace(placed.copy, bytes);
}

// Takes back the deletions of PLACED's copy and folder that Windows has pending for
// the next restart, and counts what they named as made, so that the second phase
// deletes it again once done. False when they cannot be taken back.
bool KeepAtRestart(Placed& placed)
{
    const std::wstring folder = FolderOf(placed.copy);
    std::vector<bool> found;
    if (!modPending::TakeBack({placed.copy, folder}, found)) return false;
    if (found[0]) placed.made.file = placed.copy;
    if (found[1]) placed.made.folder = folder;
    return true;
}

}  // namespace

std::wstring ProgramFiles()
{
    auto folderPath = sys::api().SHGetFolderPathW;
    wchar_t programFiles[MAX_PATH] = L"";
    try {
        if (sys::Entry(folderPath)(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles) != S_OK)
            return L"";
    } catch (const runtime::Error&) {
        return L"";  // no shell to ask
    }
    return programFiles;
}

std::wstring CopyPath(int aNumber)
{
    const std::wstring programFiles = ProgramFiles();
    if (programFiles.empty() || aNumber < 1 || aNumber > Folders) return L"";
    const std::wstring folder = aNumber == 1 ? kFolder : kFolder + (L" " + std::to_wstring(aNumber));
    return runtime::JoinPath(runtime::JoinPath(programFiles, folder), kFile);
}

std::wstring FolderOf(const std::wstring& aCopy) { return aCopy.substr(0, aCopy.find_last_of(L'\\')); }

std::optional<std::wstring> RunPath(const std::wstring& aCopy)
{
    // The copy and its folder may not exist yet, but Program Files does: its short form
    // is there to be had, and the names below it are ASCII.
    const std::wstring folder = FolderOf(aCopy);
    const std::optional<std::wstring> programFiles = runtime::AnsiPath(FolderOf(folder));
    if (!programFiles) return std::nullopt;
    return runtime::JoinPath(runtime::JoinPath(*programFiles, folder.substr(folder.find_last_of(L'\\') + 1)),
                             aCopy.substr(aCopy.find_last_of(L'\\') + 1));
}

std::optional<Placed> Install(HANDLE aImage, int aRecorded)
{
    const std::optional<std::vector<char>> image = ReadAll(aImage);
    if (!image) return std::nullopt;
    runtime::UniqueLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(FolderAccess, SDDL_REVISION_1, descriptor.put(),
                                                              nullptr))
        return std::nullopt;
    SECURITY_ATTRIBUTES access{sizeof access, descriptor.get(), FALSE};
    std::optional<Placed> placed = Folder(aRecorded > 0 && aRecorded <= Folders ? aRecorded : PendingFolder(), access);
    if (!placed) return std::nullopt;
    if (PutCopy(aImage, *image, *placed) && KeepAtRestart(*placed)) return placed;
    Undo(placed->made);
    return std::nullopt;
}

void Undo(const Made& aMade)
{
    // What cannot go now (a copy that runs) goes at the restart: nothing of a failed press stays.
    if (!aMade.file.empty() && !DeleteFileW(aMade.file.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        MoveFileExW(aMade.file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!aMade.folder.empty() && !RemoveDirectoryW(aMade.folder.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        MoveFileExW(aMade.folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void UndoAtRestart(const Made& aMade)
{
    if (!aMade.file.empty()) MoveFileExW(aMade.file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!aMade.folder.empty()) MoveFileExW(aMade.folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool KeepsAccessLists(const std::wstring& aPath)
{
    wchar_t root[MAX_PATH];
    DWORD flags = 0;
    // Unknown counts as kept: only a volume seen to be without them is told of.
    return !GetVolumePathNameW(aPath.c_str(), root, MAX_PATH) ||
           !sys::api().GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
           (flags & FS_PERSISTENT_ACLS);
}

}  // namespace modInstall
