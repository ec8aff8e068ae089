// Getting an existing, possibly busy file out of the way before writing, and removing the run's
// temporary files. Attempts follow one another at once, with no pause and no message handling.
#pragma once
#include <windows.h>

#include <string>

#include "status_codes.h"

// The system's headers name their own ReplaceFile (ReplaceFileA) with a macro; ours is another
// operation and keeps its name.
#undef ReplaceFile

constexpr int32_t ReplaceAttempts = 5000;

// 0 when no file was there or it was deleted (its read-only attribute reset if need be); -38 for a
// busy file whose extension is ".scr" in any case, -32 for any other busy file; -1 when attempts
// is 0 or less. With showDialog, a failure is shown with its file error box.
TStatus ReplaceFile(const std::string& path, bool showDialog, int32_t attempts);

// One attempt: 0, or -32 for a busy file.
TStatus RemoveFile(const std::string& path, bool showDialog);
