#include "system/modInstall.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "runtime/files.h"
#include "runtime/handles.h"
#include "system/api.h"

namespace modInstall {
namespace {

constexpr wchar_t kFolder[] = L"Kestrova Zelvy Remover";
constexpr wchar_t kFile[] = L"tarquelin.exe";
// The folder's own access list, not one inherited from a Program Files that others may
// change: Administrators and SYSTEM full control, Users read and execute, for the
// folder and the copy in it.
constexpr wchar_t kFolderAccess[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
// Rights over the folder, or over the copy that inherits them, that let an account put
// a program there, take one away, or decide who may.
constexpr ACCESS_MASK kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

runtime::UniqueLocal Sid(const wchar_t* text)
{
    runtime::UniqueLocal sid;
    ConvertStringSidToSidW(text, sid.put());
    return sid;
}

// The account this process runs as; empty when the token cannot be read.
std::vector<BYTE> UserOfToken()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    runtime::UniqueHandle token(raw);
    std::vector<BYTE> user(256);
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()), &size)) return {};
    return user;
}

bool FolderTrusted(const std::wstring& folder)
{
    const std::vector<BYTE> user = UserOfToken();
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (user.empty() || GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS)
        return false;
    runtime::UniqueLocal descriptor(raw);
    return Trusted(descriptor.get(), reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
}

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

// Windows' pending renames, as MoveFileEx keeps them: pairs of NT paths ("\??\C:\..."),
// source and target, each ended by a NUL; an empty target deletes the source.
LONG ReadPending(std::vector<wchar_t>& data)
{
    runtime::UniqueKey key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put());
    for (DWORD size = 0, type = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA;) {
        data.assign(size / sizeof(wchar_t) + 1, L'\0');  // never empty: the first call only measures
        status = RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                  &size);
        if (status == ERROR_SUCCESS && size / sizeof(wchar_t) < data.size()) {
            data.resize(size / sizeof(wchar_t));  // as stored: written back, a NUL more would end the list there
            return type == REG_MULTI_SZ ? ERROR_SUCCESS : ERROR_INVALID_DATA;
        }
        if (status == ERROR_SUCCESS) status = ERROR_MORE_DATA;  // grown since it was measured
    }
    return status;
}

// Takes out of DATA the deletions of FILE and FOLDER, leaving every other character as
// it was; tells which of the two were there.
void TakeOut(std::vector<wchar_t>& data, const std::wstring& file, const std::wstring& folder, bool& fileFound,
             bool& folderFound)
{
    auto names = [](const std::wstring& source, const std::wstring& path) {
        const std::wstring prefix = L"\\??\\";
        return source.compare(0, prefix.size(), prefix) == 0 &&
               lstrcmpiW(source.c_str() + prefix.size(), path.c_str()) == 0;
    };
    size_t at = 0;
    while (at < data.size() && data[at]) {
        const auto sourceEnd = std::find(data.begin() + at, data.end(), L'\0');
        const auto targetEnd = sourceEnd == data.end() ? data.end() : std::find(sourceEnd + 1, data.end(), L'\0');
        if (targetEnd == data.end()) return;  // not a whole pair: left as it is
        const std::wstring source(data.begin() + at, sourceEnd);
        const bool deletion = targetEnd == sourceEnd + 1;
        const bool ofFile = deletion && names(source, file), ofFolder = deletion && names(source, folder);
        fileFound |= ofFile;
        folderFound |= ofFolder;
        if (ofFile || ofFolder)
            data.erase(data.begin() + at, targetEnd + 1);
        else
            at = targetEnd + 1 - data.begin();
    }
}

// Takes back the deletions of MADE's copy and folder that Windows has pending for the
// next restart, and counts what they named as made, so that the second phase deletes
// it again once done. False when they cannot be taken back, or are seen still there.
bool KeepAtRestart(Made& made, const std::wstring& copy)
{
    std::vector<wchar_t> data;
    LONG status = ReadPending(data);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    bool file = false, folder = false;
    TakeOut(data, copy, FolderOf(copy), file, folder);
    if (!file && !folder) return true;
    runtime::UniqueKey key;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put());
    if (status != ERROR_SUCCESS) return false;
    // What is left, or no value at all when no rename is.
    if (data.empty() || !data[0]) {
        status = RegDeleteValueW(key.get(), kPendingRenames);
    } else {
        status = RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) return false;
    bool fileLeft = false, folderLeft = false;
    status = ReadPending(data);
    if (status == ERROR_SUCCESS) TakeOut(data, copy, FolderOf(copy), fileLeft, folderLeft);
    if ((status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) || fileLeft || folderLeft) return false;
    if (file) made.file = copy;
    if (folder) made.folder = FolderOf(copy);
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

std::wstring CopyPath()
{
    const std::wstring programFiles = ProgramFiles();
    return programFiles.empty() ? L"" : runtime::JoinPath(runtime::JoinPath(programFiles, kFolder), kFile);
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

bool Trusted(PSECURITY_DESCRIPTOR aFolder, PSID aUser)
{
    const runtime::UniqueLocal administrators = Sid(L"BA"), system = Sid(L"SY"),
                               installer = Sid(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"),
                               creatorOwner = Sid(L"S-1-3-0"), creatorGroup = Sid(L"S-1-3-1");
    auto among = [&](PSID sid, std::initializer_list<PSID> sids) {
        for (PSID one : sids)
            if (one && EqualSid(sid, one)) return true;
        return false;
    };
    const std::initializer_list<PSID> trusted = {administrators.get(), system.get(), installer.get(), aUser};
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(aFolder, &owner, &defaulted) || !owner || !among(owner, trusted)) return false;
    // No list at all lets everyone do anything.
    if (!GetSecurityDescriptorDacl(aFolder, &present, &dacl, &defaulted) || !present || !dacl) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return false;
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;  // a grant of a kind not read here
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &allowed->SidStart;
        // The creator of a file inside is one who may create it: an account already trusted.
        if ((allowed->Mask & kChanging) && !among(sid, trusted) &&
            !among(sid, {creatorOwner.get(), creatorGroup.get()}))
            return false;
    }
    return true;
}

std::optional<Made> Install(HANDLE aImage, const std::wstring& aCopy)
{
    const std::optional<std::vector<char>> image = ReadAll(aImage);
    if (!image) return std::nullopt;
    Made made;
    const std::wstring folder = FolderOf(aCopy);
    runtime::UniqueLocal access;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderAccess, SDDL_REVISION_1, access.put(), nullptr))
        return std::nullopt;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, access.get(), FALSE};
    if (sys::api().CreateDirectoryW(folder.c_str(), &attributes)) {
        made.folder = folder;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS || !IsFolder(folder) || !FolderTrusted(folder)) {
        return std::nullopt;
    }
    bool placed = false;
    if (runtime::UniqueHandle there = Open(aCopy, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)) {
        // Installed there already, or this very file runs: it is not this press's to undo.
        placed = OnlyHere(there.get()) &&
                 (SameFile(there.get(), aImage) || ReadAll(there.get()) == image || Replace(aCopy, *image));
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        made.file = aCopy;
        placed = Replace(aCopy, *image);
    }
    if (placed && KeepAtRestart(made, aCopy)) return made;
    Undo(made);
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

bool DeletionPending(const std::wstring& aPath)
{
    std::vector<wchar_t> data;
    bool found = false, none = false;
    if (ReadPending(data) == ERROR_SUCCESS) TakeOut(data, aPath, L"", found, none);
    return found;
}

void UndoAtRestart(const Made& aMade)
{
    if (!aMade.file.empty()) MoveFileExW(aMade.file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!aMade.folder.empty()) MoveFileExW(aMade.folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace modInstall
