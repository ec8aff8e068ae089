// The folder an installer is started from is often a download folder where anything may lie:
// nothing there is ever loaded. Libraries planted under the names of every library the process
// looks for (the system's, the runtime's, the codec's) each record it when they are loaded.
#include <gtest/gtest.h>

#include "data_file_writer.h"
#include "dcl.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

const char* const kPlantedNames[] = {
    "kernel32.dll", "kernelbase.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll", "shell32.dll",
    "ole32.dll",    "oleaut32.dll",   "comctl32.dll", "msvcrt.dll",  "version.dll",  "uxtheme.dll",
    "imm32.dll",    "shlwapi.dll",    "combase.dll",  "rpcrt4.dll",  "sechost.dll",  "win32u.dll",
    "ucrtbase.dll", "shcore.dll",     "impborl.dll",  "libgcc_s_dw2-1.dll", "libstdc++-6.dll",
    "libwinpthread-1.dll", "rundll32.exe", "dwmapi.dll", "cryptbase.dll", "propsys.dll"};

TEST(StartFolder, NothingPlantedBesideTheInstallerIsEverLoaded) {
  const std::string start = TempFolder();
  const auto planted = ReadAll(driver::HostPath(PLANTED_DLL));
  for (const char* name : kPlantedNames) WriteAll(start + name, planted);
  DeleteFileA("C:\\planted.log");

  TPayloadOptions options;
  options.ContentMode = cmSilent;
  options.OpenDisplayProperties = 1;  // rundll32 too is started
  options.SaverName = "Aquarium";
  TMemberInputs members = PictureMembers(false);
  TDataEntryInput entry;
  entry.Name = "notes.txt";
  entry.Stored = dcl::Implode(TextBytes(500));  // the codec library is loaded and used
  entry.Compressed = true;
  entry.FileSize = 500;
  members[msDataFile] = Member("Aquarium.ssd", BuildDataFile({}, 0, {entry}), 4);
  WriteAll(start + "setup.exe", BuildInstallerImage(BuiltInstallExe(), options, members));

  STARTUPINFOA startup{sizeof startup};
  PROCESS_INFORMATION info{};
  std::string command = "\"" + start + "setup.exe\"";
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, start.c_str(),
                             &startup, &info));
  CloseHandle(info.hThread);
  driver::Process process{info.hProcess, info.dwProcessId};
  EXPECT_EQ(driver::WaitForExit(process, 60000), 0);
  EXPECT_TRUE(FileExists(WindowsFolder() + "Aquarium dir\\notes.txt"));
  const auto log = ReadAll("C:\\planted.log");
  EXPECT_TRUE(log.empty()) << std::string(log.begin(), log.end());
  HWND display = driver::WaitForWindow("Display Properties", 0, 3000);
  if (display) SendDlgItemMessageA(display, IDCANCEL, BM_CLICK, 0, 0);
}

}  // namespace
