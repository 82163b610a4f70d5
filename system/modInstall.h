#pragma once
#include <windows.h>

#include <optional>
#include <string>

// The copy of the program that starts at the next logon: in a folder under Program
// Files that the program made itself, with an access list that lets only administrators
// change it, so that nothing a user runs can replace what Windows starts for every
// account. A folder that someone else made is never used, whatever its access list says.
namespace modInstall {

// The folders the copy may have: 1 is "Kestrova Zelvy Remover", 2 to 9 that name
// followed by the number, for when the names before are taken.
inline constexpr int Folders = 9;

// The access list the folder is made with, not one inherited from a Program Files that
// others may change: Administrators and SYSTEM full control, Users read and execute,
// for the folder and the copy in it.
inline constexpr wchar_t FolderAccess[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// What Install made, so that exactly that is undone: a file or folder that was there
// before is never deleted.
struct Made {
    std::wstring file;    // the copy, when Install wrote it
    std::wstring folder;  // its folder, when Install created it
};

// Where Install put the copy.
struct Placed {
    int number;        // of its folder
    std::wstring copy;  // its path
    Made made;
};

// The Program Files folder as a 32-bit program sees it ("Program Files (x86)" on
// 64-bit Windows); "" when the system does not say.
std::wstring ProgramFiles();

// "<Program Files>\Kestrova Zelvy Remover[ N]\tarquelin.exe" for folder aNumber; "" when
// the system does not say, or for a number out of range.
std::wstring CopyPath(int aNumber);

// The folder that holds aCopy.
std::wstring FolderOf(const std::wstring& aCopy);

// aCopy as a Run value must name it, since Windows reads it back through the ANSI code
// page: Program Files as it is, or in its short form, joined with the copy's own ASCII
// names; empty when the code page can carry neither form.
std::optional<std::wstring> RunPath(const std::wstring& aCopy);

// Copies the program, read through aImage (its own image, opened so that nobody may
// change it), into the program's own folder: aRecorded, the one an earlier press made
// (0 for none), else one whose deletion Windows has pending (a press after the
// completion, before its restart), else a new one, made with FolderAccess under the
// first free name. A pending deletion of the copy or its folder is taken back, and
// what it named counts as made. The bytes go to a new file, are read back, and replace
// an older copy in one rename; nothing to copy when aImage is the copy itself or the
// copy holds the same bytes. A reparse point or a hard link there is refused. Empty
// when the copy cannot be put in place (one that runs cannot be replaced); then
// nothing is left.
std::optional<Placed> Install(HANDLE aImage, int aRecorded);

// Deletes what Install made, now, or at the next restart what cannot go now.
void Undo(const Made& aMade);

// Has Windows delete what Install made at the next restart, the copy before its folder.
void UndoAtRestart(const Made& aMade);

// False when the volume that holds aPath is known to keep no access lists (FAT): there
// any account may change the copy, as it may the Windows directory.
bool KeepsAccessLists(const std::wstring& aPath);

}  // namespace modInstall
