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

std::vector<uint8_t> ReadShared(const std::string& path) {
  std::vector<uint8_t> bytes;
  HANDLE in = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return bytes;
  uint8_t chunk[65536];
  DWORD n = 0;
  while (ReadFile(in, chunk, sizeof chunk, &n, nullptr) && n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  CloseHandle(in);
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

namespace {

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

std::string UninstallEntryPath(const std::string& name) {
  std::string path = RunsUnderWow64() ? "Software\\WOW6432Node\\" : "Software\\";
  path += "Microsoft\\Windows\\CurrentVersion\\Uninstall";
  return name.empty() ? path : path + "\\" + name;
}

std::string UninstallValue(const std::string& name, const char* value) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallEntryPath(name).c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return "<none>";
  char text[1024];
  DWORD size = sizeof text;
  const LSTATUS read = RegGetValueA(key, nullptr, value, RRF_RT_REG_SZ, nullptr, text, &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS ? text : "<none>";
}

bool UninstallEntryExists(const std::string& name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallEntryPath(name).c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void SetUninstallValue(const std::string& name, const char* value, const std::string& text) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, UninstallEntryPath(name).c_str(), 0, nullptr, 0,
                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

void DeleteUninstallEntry(const std::string& name) {
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, UninstallEntryPath(name).c_str(), KEY_WOW64_64KEY, 0);
}

namespace {

// The Unix path of a Windows path, as Wine translates it (the final part need not exist).
std::string UnixPathOf(const std::string& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return {};
  wchar_t wide[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH)) return {};
  char* unixPath = toUnix(wide);
  if (!unixPath) return {};
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// Linux's symlink and unlink, called directly: the test plays a user of the machine who makes a
// link in the prefix with the system's own tools.
long LinuxCall(long number, const void* first, const void* second) {
  long result;
#if defined(__x86_64__)
  asm volatile("syscall" : "=a"(result) : "a"(number), "D"(first), "S"(second) : "rcx", "r11", "memory");
#else
  asm volatile("int $0x80" : "=a"(result) : "a"(number), "b"(first), "c"(second) : "memory");
#endif
  return result;
}

#if defined(__x86_64__)
constexpr long kSymlink = 88, kUnlink = 87, kChmod = 90;
#else
constexpr long kSymlink = 83, kUnlink = 10, kChmod = 15;
#endif

}  // namespace

bool MakeUnixLink(const std::string& target, const std::string& link) {
  const std::string to = UnixPathOf(target), at = UnixPathOf(link);
  return !to.empty() && !at.empty() && LinuxCall(kSymlink, to.c_str(), at.c_str()) == 0;
}

void RemoveUnixLink(const std::string& link) {
  const std::string at = UnixPathOf(link);
  if (!at.empty()) LinuxCall(kUnlink, at.c_str(), nullptr);
}

bool MakeWritableByAll(const std::string& path) {
  const std::string at = UnixPathOf(path);
  return !at.empty() && LinuxCall(kChmod, at.c_str(), reinterpret_cast<const void*>(0777)) == 0;
}
