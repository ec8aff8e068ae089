// Paths the win32 tests work with, as Wine sees them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

std::string WindowsFolder();  // with its trailing backslash
std::string TempFolder();     // a fresh folder of the test's own, with a trailing backslash
std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
int64_t FileSizeOf(const std::string& path);  // -1 when missing
