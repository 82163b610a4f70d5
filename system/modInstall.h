#pragma once
#include <windows.h>

#include <optional>
#include <string>

// The copy of the program that starts at the next logon: in a folder under Program
// Files, which only administrators may change, so that nothing a user runs can
// replace what Windows starts for every account.
namespace modInstall {

// What Install made, so that exactly that is undone: a file or folder that was there
// before is never deleted.
struct Made {
    std::wstring file;    // the copy, when Install wrote it
    std::wstring folder;  // its folder, when Install created it
};

// "<Program Files>\Kestrova Zelvy Remover\tarquelin.exe" as a 32-bit program sees it
// ("Program Files (x86)" on 64-bit Windows); "" when the system does not say.
std::wstring CopyPath();

// Copies the program, read through aImage (its own image, opened so that nobody may
// change it), to aCopy and reads the copy back. Nothing to copy when aImage is aCopy
// itself or aCopy already holds the same bytes. A folder or file there that is a
// reparse point is refused. Empty when the copy cannot be made; then nothing is left.
std::optional<Made> Install(HANDLE aImage, const std::wstring& aCopy);

// Deletes what Install made, now.
void Undo(const Made& aMade);

// Has Windows delete what Install made at the next restart, the copy before its folder.
void UndoAtRestart(const Made& aMade);

}  // namespace modInstall
