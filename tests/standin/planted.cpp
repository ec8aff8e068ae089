// A planted library: copied under the names of system libraries into the folder an installer is
// started from. Loaded, it records its own path in C:\planted.log; nothing may ever load it.
#include <windows.h>

#include <cstdio>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH], process[MAX_PATH];
    GetModuleFileNameA(instance, path, MAX_PATH);
    GetModuleFileNameA(nullptr, process, MAX_PATH);
    if (FILE* log = std::fopen("C:\\planted.log", "ab")) {
      std::fprintf(log, "%s loaded by %s\r\n", path, process);
      std::fclose(log);
    }
  }
  return TRUE;
}
