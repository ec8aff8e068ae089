// The program entry: the application titled "Install", the installer window (whose creation runs
// the start-up), and the message loop until the program ends (at once after a silent run).
#include <windows.h>
#include <ole2.h>

#include "application.h"
#include "fInstall.h"
#include "run_paths.h"
#include "startup.h"

namespace {

// Libraries come from the System folder only, never from the folder the installer was started
// from (often a download folder where anything may lie).
void HardenDllSearchPath() {
  SetDllDirectoryA("");
  using SetDefaultDirs = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefault = reinterpret_cast<SetDefaultDirs>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HardenDllSearchPath();
  // The file we run from is held from here on: nobody renames, replaces or writes it meanwhile.
  HoldRunningInstaller();
  // In-place activation of the movie control needs OLE on this thread.
  OleInitialize(nullptr);
  Application.Initialize(instance);
  Application.SetTitle("Install");
  auto form = TInstallerForm::Create();
  Application.Run();
  form.reset();
  OleUninitialize();
  return InstallerState.ExitCode;
}
