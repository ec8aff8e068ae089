// A stand-in Flash runtime installer: run with "/Q" it registers the stand-in Flash control
// named by STANDIN_FLASH_DLL, unless STANDIN_FLASHAX_NOOP is 1; it logs how it was run. Run with
// "/open FILE" (the tests register it as a document type's handler) it only logs.
#include <windows.h>

#include <string>

#include "standin_log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  StandInLog(std::string("flashax ") + commandLine);
  if (std::string(commandLine).rfind("/open ", 0) == 0) return 0;
  char flag[8];
  if (GetEnvironmentVariableA("STANDIN_FLASHAX_NOOP", flag, sizeof flag) && flag[0] == '1') return 0;
  char dll[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("STANDIN_FLASH_DLL", dll, MAX_PATH);
  if (!n || n >= MAX_PATH) return 1;
  HMODULE module = LoadLibraryA(dll);
  using Register = HRESULT(WINAPI*)();
  auto reg = module ? reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer"))) : nullptr;
  const HRESULT hr = reg ? reg() : E_FAIL;
  return SUCCEEDED(hr) ? 0 : 2;
}
