#include "shell_open.h"

#include "file_io.h"

namespace {

// From the System folder only. Systems without the search flags (Windows XP, and Vista and 7
// without their 2011 update) refuse the flag: there the library is loaded by its full path.
HMODULE LoadShell() {
  HMODULE shell = LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!shell && GetLastError() == ERROR_INVALID_PARAMETER)
    shell = LoadLibraryA((SystemFolderPath() + "shell32.dll").c_str());
  return shell;
}

}  // namespace

INT_PTR ShellOpen(const char* file, const char* parameters, int show) {
  static HMODULE shell = LoadShell();
  using Execute = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
  auto execute = shell ? reinterpret_cast<Execute>(reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteA")))
                       : nullptr;
  if (!execute) return 0;
  return reinterpret_cast<INT_PTR>(execute(nullptr, nullptr, file, parameters, nullptr, show));
}
