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

std::string WindowsFolderPath();
std::string SystemFolderPath();
