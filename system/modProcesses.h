#pragma once
#include <windows.h>

#include <string>

// The processes that run a given file: seen, and ended, by the full path of their image.
namespace modProcesses {

// True when a process other than this one runs the file aImage (full path), as far as
// query rights can see.
bool Running(const std::wstring& aImage);

// Ends every process but this one whose image is the file aImage, waiting a few
// seconds at most for each to end. A process that cannot be opened or ended is left
// running.
void EndProcesses(const std::wstring& aImage);

// Ends the process of aProcess, through that handle alone, when its image is the file
// aImage; waits a few seconds at most. True once it has ended.
bool EndIfImage(HANDLE aProcess, const std::wstring& aImage);

}  // namespace modProcesses
