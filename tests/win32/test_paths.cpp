#include "test_paths.h"

#include <windows.h>

#include <cstdio>

std::string WindowsFolder() {
  char buffer[MAX_PATH];
  std::string folder(buffer, GetWindowsDirectoryA(buffer, MAX_PATH));
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

std::string TempFolder() {
  static int counter = 0;
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string folder = std::string(base) + "wt" + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(++counter) + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* in = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(in);
  }
  return bytes;
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (int64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}
