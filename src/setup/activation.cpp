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

namespace {

// What the entry runs: the program slot's file, "<Windows>\<name>.scr", asked for /u.
std::string OurUninstallString() { return "\"" + RunPaths.WindowsDir + RunPaths.SaverName + ".scr\" /u"; }

// Whether an entry's key is this screen saver's: its UninstallString is the one the installer
// writes, or the same path unquoted as earlier installers of the format wrote it (another
// program's key of the same name is left as it is).
bool IsOurEntry(HKEY key) {
  char value[1024];
  DWORD type = 0, size = sizeof value - 1;
  if (RegQueryValueExA(key, "UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  value[size] = '\0';
  const std::string unquoted = RunPaths.WindowsDir + RunPaths.SaverName + ".scr /u";
  return lstrcmpiA(value, OurUninstallString().c_str()) == 0 || lstrcmpiA(value, unquoted.c_str()) == 0;
}

// Whether a key without an UninstallString holds nothing but what this installer writes: no
// subkey, and no value but our DisplayName. Such a key was left by us (a removal that could not
// delete the key, a writing that stopped before UninstallString), and is no other program's.
bool IsLeftByUs(HKEY key) {
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS ||
      subkeys != 0 || values > 1)
    return false;
  if (values == 0) return true;
  char value[1024];
  DWORD type = 0, size = sizeof value - 1;
  if (RegQueryValueExA(key, "DisplayName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  value[size] = '\0';
  return lstrcmpiA(value, (RunPaths.SaverName + " Screen Saver").c_str()) == 0;
}

}  // namespace

TStatus WriteUninstallEntry() {
  if (RunPaths.SaverName.empty()) return kOk;
  HKEY raw = nullptr;
  DWORD disposition = 0;
  const std::string keyPath = UninstallKeyPath();
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &raw,
                      &disposition) != ERROR_SUCCESS)
    RaiseGeneralFailure("Failed to create key", keyPath);
  RegKey key(raw);
  if (disposition == REG_OPENED_EXISTING_KEY && !IsOurEntry(key.Get()) && !IsLeftByUs(key.Get()))
    throw EGeneralFailure("No uninstall entry was written: HKEY_LOCAL_MACHINE\\" + keyPath +
                          " belongs to another program");
  SetString(key.Get(), "DisplayName", RunPaths.SaverName + " Screen Saver");
  // Quoted: a path with blanks is otherwise run ambiguously.
  SetString(key.Get(), "UninstallString", OurUninstallString());
  return kOk;
}

void RemoveUninstallEntry() {
  if (RunPaths.SaverName.empty()) return;
  const std::string keyPath = UninstallKeyPath();
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) return;
  {
    RegKey key(raw);
    if (!IsOurEntry(key.Get())) return;
    RegDeleteValueA(key.Get(), "DisplayName");
    RegDeleteValueA(key.Get(), "UninstallString");
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

void UndoInstallation() {
  RemoveFile(ProgramPath(), false);
  RemoveUninstallEntry();
}
