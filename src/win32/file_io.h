// Whole reads and writes on an open file, and the folders of the system, each with one trailing
// backslash.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "status_codes.h"

// Moves to offset from the start: 0, or the system's error code (a negative offset is refused
// with ERROR_NEGATIVE_SEEK).
TStatus SeekTo(HANDLE file, int64_t offset);
// Reads exactly count bytes: 0, shortCode when the file ends first, or the system's error code.
TStatus ReadExactly(HANDLE file, void* buffer, size_t count, TStatus shortCode);
// Writes exactly count bytes: 0, shortCode when the system writes nothing, or its error code.
TStatus WriteExactly(HANDLE file, const void* buffer, size_t count, TStatus shortCode);
// The file's size, -1 when the system cannot tell.
int64_t FileSizeOf(HANDLE file);

// The Windows and System folders with a trailing "\", at whatever length the system reports them.
std::string WindowsFolderPath();
std::string SystemFolderPath();
// The folder that a GetWindowsDirectoryA-like function gives: a first call into a buffer of
// MAX_PATH + 1 and, when the folder is longer, a second at the size it asked for.
std::string FolderFromSystem(UINT(WINAPI* get)(LPSTR, UINT));
