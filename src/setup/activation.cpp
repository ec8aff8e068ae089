#include "activation.h"

#include <windows.h>

#include "general_error.h"
#include "member_extraction.h"
#include "replace_files.h"
#include "run_paths.h"
#include "win32_handles.h"

namespace {

std::string ProgramPath() {
  return RunPaths.WindowsDir + MemberFileName(PayloadHeader.Members[msSaverEngine]);
}

void SetString(HKEY key, const char* name, const std::string& value) {
  if (RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS)
    throw EGeneralFailure(std::string("Failed to set data for '") + name + "'");
}

}  // namespace

std::string UninstallKeyPath() {
  return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + RunPaths.SaverName;
}

TStatus ActivateSaver() {
  const std::string path = ProgramPath();
  std::string value = path;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    value = found.cAlternateFileName[0] ? found.cAlternateFileName : found.cFileName;
  }
  if (!WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", value.c_str(), "system.ini"))
    RaiseGeneralFailure("Unable to write to", "system.ini");
  return SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_SENDWININICHANGE) ? kOk
                                                                                           : kSaverNotActivated;
}

TStatus WriteUninstallEntry() {
  if (RunPaths.SaverName.empty()) return kOk;
  HKEY raw = nullptr;
  const std::string keyPath = UninstallKeyPath();
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS)
    RaiseGeneralFailure("Failed to create key", keyPath);
  RegKey key(raw);
  SetString(key.Get(), "DisplayName", RunPaths.SaverName + " Screen Saver");
  // Quoted: a path with blanks is otherwise run ambiguously.
  SetString(key.Get(), "UninstallString", "\"" + RunPaths.WindowsDir + RunPaths.SaverName + ".scr\" /u");
  return kOk;
}

void RemoveUninstallEntry() {
  if (RunPaths.SaverName.empty()) return;
  const std::string keyPath = UninstallKeyPath();
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) return;
  {
    RegKey key(raw);
    RegDeleteValueA(key.Get(), "DisplayName");
    RegDeleteValueA(key.Get(), "UninstallString");
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

void UndoInstallation() {
  RemoveFile(ProgramPath(), false);
  RemoveUninstallEntry();
}
