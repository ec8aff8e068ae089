// The run's path rules, without system calls.
#pragma once
#include <string>
#include <string_view>

// The folder with exactly one trailing backslash.
std::string WithTrailingBackslash(std::string_view folder);

// The extension from the last dot of the file-name part, or empty.
std::string ExtensionOf(std::string_view path);

// ".scr" in any case: the screen-saver program, whose busy file has its own message.
bool HasScreenSaverExtension(std::string_view path);

// Exactly ".dll", case-sensitive: a library, cleared without asking and kept when busy.
bool HasLibraryExtension(std::string_view path);

// StagingDir + "\temp" + n + ".dat".
std::string StagingFileName(std::string_view stagingDir, int n);

// WindowsDir + (saverName, or "TempSaverDir" when empty) + " dir\".
std::string SaverDirFor(std::string_view windowsDir, std::string_view saverName);

// Windows' comparison of file names: the same letters in any case (ASCII).
bool SameFileName(std::string_view a, std::string_view b);
