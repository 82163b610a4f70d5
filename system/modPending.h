#pragma once
#include <string>
#include <vector>

// What Windows renames and deletes at the next restart, before anything starts:
// MoveFileEx's pending list, PendingFileRenameOperations, and its second,
// PendingFileRenameOperations2, where MoveFileEx appends once that one exists. The
// restart carries out both.
namespace modPending {

// Whether either list holds the deletion of aPath.
bool DeletionPending(const std::wstring& aPath);

// Takes the deletions of aPaths out of both lists, every other program's pair left as it
// was, in its order, byte for byte; FOUND tells, for each path, whether one was there.
// False when a list cannot be read or written, or still holds one of them afterwards.
bool TakeBack(const std::vector<std::wstring>& aPaths, std::vector<bool>& aFound);

}  // namespace modPending
