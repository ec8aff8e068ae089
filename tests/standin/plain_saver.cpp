// A plain screen saver of the tests' own: it knows /s, /c, /p and /a, nothing of /u, and logs how
// it was started and where ("saver <arguments> in <working folder> pid <id>"). Started to run
// (/s) or to preview (/p), it stays until it is ended, at most a minute.
#include <windows.h>

#include <string>

#include "standin_log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  char folder[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
  StandInLog("saver " + std::string(arguments) + " in " + std::string(folder, length) + " pid " +
             std::to_string(GetCurrentProcessId()));
  const std::string first = std::string(arguments).substr(0, 2);
  if (first == "/s" || first == "/p") Sleep(60000);
  return 7;
}
