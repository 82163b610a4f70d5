#pragma once
#include <windows.h>

#include <optional>
#include <string>

// The copy of the program that starts at the next logon: in a folder under Program
// Files that only administrators may change, so that nothing a user runs can replace
// what Windows starts for every account.
namespace modInstall {

// What Install made, so that exactly that is undone: a file or folder that was there
// before is never deleted.
struct Made {
    std::wstring file;    // the copy, when Install wrote it
    std::wstring folder;  // its folder, when Install created it
};

// The Program Files folder as a 32-bit program sees it ("Program Files (x86)" on
// 64-bit Windows); "" when the system does not say.
std::wstring ProgramFiles();

// "<Program Files>\Kestrova Zelvy Remover\tarquelin.exe"; "" when the system does not say.
std::wstring CopyPath();

// The folder that holds aCopy.
std::wstring FolderOf(const std::wstring& aCopy);

// aCopy as a Run value must name it, since Windows reads it back through the ANSI code
// page: Program Files as it is, or in its short form, joined with the copy's own ASCII
// names; empty when the code page can carry neither form.
std::optional<std::wstring> RunPath(const std::wstring& aCopy);

// Whether a folder with the security descriptor aFolder may hold the copy: owned by
// Administrators, SYSTEM, TrustedInstaller or aUser, and no other account may put a
// file there, delete one, or change who may.
bool Trusted(PSECURITY_DESCRIPTOR aFolder, PSID aUser);

// Copies the program, read through aImage (its own image, opened so that nobody may
// change it), to aCopy, in a folder made with an access list of its own or one found
// Trusted. The bytes go to a new file, are read back, and replace aCopy in one rename.
// Nothing to copy when aImage is aCopy itself or aCopy already holds the same bytes. A
// reparse point there, or a file with another name (a hard link), is refused. A
// deletion of the copy or its folder that Windows has pending for the next restart is
// taken back, and what it named counts as made. Empty when the copy cannot be made;
// then nothing is left.
std::optional<Made> Install(HANDLE aImage, const std::wstring& aCopy);

// Deletes what Install made, now, or at the next restart what cannot go now.
void Undo(const Made& aMade);

// Whether Windows has the deletion of aPath pending for the next restart.
bool DeletionPending(const std::wstring& aPath);

// Has Windows delete what Install made at the next restart, the copy before its folder.
void UndoAtRestart(const Made& aMade);

}  // namespace modInstall
