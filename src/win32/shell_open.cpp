#include "shell_open.h"

INT_PTR ShellOpen(const char* file, const char* parameters, int show) {
  static HMODULE shell = LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  using Execute = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
  auto execute = shell ? reinterpret_cast<Execute>(reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteA")))
                       : nullptr;
  if (!execute) return 0;
  return reinterpret_cast<INT_PTR>(execute(nullptr, nullptr, file, parameters, nullptr, show));
}
