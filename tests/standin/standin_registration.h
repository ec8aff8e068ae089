// Registering the stand-in Flash control from a program of the tests, the demo or the benchmark:
// its own DllRegisterServer, called by loading it from its full path.
#pragma once
#include <windows.h>

#include <string>

// Calls DllRegisterServer or DllUnregisterServer of the library at path; E_FAIL when either is
// not to be had.
inline HRESULT CallStandInExport(const std::string& path, const char* name) {
  HMODULE dll = LoadLibraryA(path.c_str());
  using Entry = HRESULT(WINAPI*)();
  auto entry = dll ? reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, name))) : nullptr;
  return entry ? entry() : E_FAIL;
}
