// The stand-ins append every call they receive to the file named by STANDIN_LOG (default
// C:\standin.log), one line each, so that tests can read back what the installer did.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

inline void StandInLog(const std::string& line) {
  char path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("STANDIN_LOG", path, MAX_PATH);
  const std::string file = n && n < MAX_PATH ? std::string(path, n) : "C:\\standin.log";
  if (FILE* out = std::fopen(file.c_str(), "ab")) {
    std::fprintf(out, "%s\r\n", line.c_str());
    std::fclose(out);
  }
}
