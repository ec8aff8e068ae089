#include "display_properties.h"

#include <windows.h>

#include <string>

#include "feedback.h"
#include "file_io.h"
#include "member_extraction.h"
#include "run_paths.h"
#include "shell_open.h"

namespace {

constexpr char kDisplayProperties[] = "Display Properties";

// rundll32 by its full path in the System folder: a bare name is looked for first in the folder
// the installer was started from.
std::string ControlPanelCommand() {
  return "\"" + SystemFolderPath() + "rundll32.exe\" shell32.dll,Control_RunDLL desk.cpl,,1";
}

}  // namespace

void CloseDisplayProperties() {
  HWND window = FindWindowA(nullptr, kDisplayProperties);
  if (window) SendDlgItemMessageA(window, IDCANCEL, BM_CLICK, 0, 0);
}

void LaunchDisplayProperties() {
  if (!PayloadHeader.OpenDisplayProperties) return;
  SetStatus("Opening Display Properties control panel...");
  WinExec(ControlPanelCommand().c_str(), SW_SHOWNORMAL);
  for (int i = 0; i < FindWindowPollLimit && !FindWindowA(nullptr, kDisplayProperties); ++i) {
  }
  // Both do nothing in a silent run, which has no window.
  BringInstallerWindowBack();
  StepProgress();
}

void OpenDocument() {
  if (!PayloadHeader.ShowDocument) return;
  const std::string path = RunPaths.SaverDir + MemberFileName(PayloadHeader.Members[msDocument]);
  ShellOpen(path.c_str(), nullptr, SW_SHOWNORMAL);
}
