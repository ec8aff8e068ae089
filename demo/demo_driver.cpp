// Runs the demo installer as a user would, under Wine, and tells what happened.
//   demo_driver INSTALLER OUTDIR STANDIN_DIR
// STANDIN_DIR holds our stand-ins for what Wine lacks: the Flash Player control (every start-up
// asks for a player) and the Display control panel.
#include <windows.h>

#include <cstdio>
#include <string>

#include "control_ids.h"
#include "driver.h"
#include "standin_registration.h"

namespace {

std::string WindowsFolder() {
  char folder[MAX_PATH];
  std::string path(folder, GetWindowsDirectoryA(folder, MAX_PATH));
  return path.back() == '\\' ? path : path + "\\";
}

void PrepareStandIns(const std::string& dir) {
  if (SUCCEEDED(CallStandInExport(dir + "\\flash_standin.dll", "DllRegisterServer")))
    std::printf("Wine has no Flash Player: our stand-in control is registered.\n");
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  CopyFileA((dir + "\\desk.cpl").c_str(), (std::string(system) + "\\desk.cpl").c_str(), FALSE);
}

void ListFolder(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      std::printf("  %s%s (%lu bytes)\n", folder.c_str(), found.cFileName, found.nFileSizeLow);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// The uninstall entry as the user's registry editor shows it: on 64-bit Windows a 32-bit
// installer's entry lands under WOW6432Node.
std::string UninstallKey(const char* name) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return std::string(wow64 ? "Software\\WOW6432Node\\" : "Software\\") +
         "Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
}

std::string Registry(const std::string& key, const char* name) {
  HKEY opened;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
    return "(none)";
  char value[1024];
  DWORD size = sizeof value;
  const LSTATUS read = RegGetValueA(opened, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size);
  RegCloseKey(opened);
  return read == ERROR_SUCCESS ? value : "(none)";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: demo_driver INSTALLER OUTDIR STANDIN_DIR\n");
    return 2;
  }
  const std::string installer = argv[1], out = argv[2];
  PrepareStandIns(argv[3]);
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  driver::Process process = driver::Start("\"" + installer + "\"");
  HWND window = driver::WaitForWindow("Install DemoSaver", process.id, 30000);
  if (!window) {
    std::printf("The installer window did not appear.\n");
    return 1;
  }
  std::printf("Window \"%s\" shows the picture, the licence and \"%s\" / \"%s\".\n", driver::Text(window).c_str(),
              driver::Text(driver::ChildById(window, kInstallId)).c_str(),
              driver::Text(driver::ChildById(window, kDeclineId)).c_str());
  Sleep(500);
  driver::SaveScreenshot(window, out + "\\before.bmp");

  std::printf("Clicking \"Accept and Install\"; the status line says:\n");
  driver::Click(driver::ChildById(window, kInstallId));
  HWND status = driver::ChildById(window, kLabCopyingId);
  std::string last;
  bool shot = false;
  int texts = 0;
  while (WaitForSingleObject(process.handle, 20) == WAIT_TIMEOUT) {
    if (!IsWindow(status) || !IsWindowVisible(status)) continue;
    const std::string text = driver::Text(status);
    if (text.empty() || text == last) continue;
    last = text;
    std::printf("  %s\n", text.c_str());
    if (++texts == 2 && !shot) {
      Sleep(300);
      shot = driver::SaveScreenshot(window, out + "\\during.bmp");
    }
  }
  const long code = driver::WaitForExit(process, 5000);
  std::printf("The installer ended with exit code %ld.\n\nInstalled files:\n", code);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExA((WindowsFolder() + "DemoSaver.scr").c_str(), GetFileExInfoStandard, &data))
    std::printf("  %sDemoSaver.scr (%lu bytes)\n", WindowsFolder().c_str(), data.nFileSizeLow);
  ListFolder(WindowsFolder() + "DemoSaver dir\\");
  char saver[MAX_PATH];
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "(none)", saver, MAX_PATH, "system.ini");
  std::printf("\nsystem.ini [boot] SCRNSAVE.EXE=%s\n", saver);
  const std::string key = UninstallKey("DemoSaver");
  std::printf("Uninstall entry HKLM\\%s:\n  DisplayName=%s\n  UninstallString=%s\n", key.c_str(),
              Registry(key, "DisplayName").c_str(), Registry(key, "UninstallString").c_str());
  HWND display = driver::WaitForWindow("Display Properties", 0, 3000);
  if (display) {
    std::printf("Display Properties opened on its screen-saver page (our stand-in panel); closing it.\n");
    SendDlgItemMessageA(display, IDCANCEL, BM_CLICK, 0, 0);
  }
  return code == 0 ? 0 : 1;
}
