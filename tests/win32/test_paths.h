// Paths the win32 tests work with, as Wine sees them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

std::string WindowsFolder();  // with its trailing backslash
std::string TempFolder();     // a fresh folder of the test's own, with a trailing backslash
std::vector<uint8_t> ReadAll(const std::string& path);
// Reads a file that its owner holds with delete sharing (a copy deleted when its handle closes).
std::vector<uint8_t> ReadShared(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
int64_t FileSizeOf(const std::string& path);  // -1 when missing

// The uninstall entries as a user's own tools see them on 64-bit Windows (regedit, Apps &
// features): a 32-bit program's entry lands under WOW6432Node, a 64-bit program's does not.
// `name` is the key under ...\CurrentVersion\Uninstall ("" for that key itself).
std::string UninstallEntryPath(const std::string& name);  // under HKEY_LOCAL_MACHINE, 64-bit view
std::string UninstallValue(const std::string& name, const char* value);  // "<none>" when missing
bool UninstallEntryExists(const std::string& name);
void SetUninstallValue(const std::string& name, const char* value, const std::string& text);
void DeleteUninstallEntry(const std::string& name);

// A Unix symbolic link at `link` to the folder `target`, made in the prefix behind Wine's back
// (as a user of the machine could), and its removal.
bool MakeUnixLink(const std::string& target, const std::string& link);
void RemoveUnixLink(const std::string& link);
// Lets every user of the machine write in a folder (its Unix mode 0777, which Wine shows as an
// entry for Everyone that may write).
bool MakeWritableByAll(const std::string& path);
