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

// A silent installer of the screen saver of this name, its program of these bytes.
std::vector<uint8_t> SilentInstaller(const std::string& name, const std::vector<uint8_t>& program) {
  TPayloadOptions options;
  options.ContentMode = cmSilent;
  options.SaverName = name;
  TMemberInputs members = PictureMembers(false);
  members[msSaverEngine] = Member(name + ".scr", program, 2);
  TDataEntryInput entry;
  entry.Name = "notes.txt";
  entry.Stored = TextBytes(50);
  entry.FileSize = 50;
  members[msDataFile] = Member(name + ".ssd", BuildDataFile({}, 0, {entry}), 4);
  return BuildInstallerImage(BuiltInstallExe(), options, members);
}

// Screen savers these tests install, taken away before and after.
class LookAlikeName : public ::testing::Test {
 protected:
  void SetUp() override { Remove(); }
  void TearDown() override { Remove(); }
  static void Remove() {
    for (const char* name : {"Genuine", "Intruder"}) {
      DeleteFileA((WindowsFolder() + name + ".scr").c_str());
      DeleteUninstallEntry(name);
    }
  }
};

// U+FF33 FULLWIDTH LATIN CAPITAL LETTER S: the ANSI code page has no such letter, and the
// system's best fit for it is "S". The file started is the one read, whatever its ANSI spelling
// names.
TEST_F(LookAlikeName, TheInstallerStartedIsTheOneThatInstalls) {
  const std::string start = TempFolder();
  const std::wstring started = Widened(start) + L"\uFF33aver-Setup.exe";
  ASSERT_EQ(AnsiSpelling(started), start + "Saver-Setup.exe");
  WriteAll(start + "Saver-Setup.exe", SilentInstaller("Intruder", TextBytes(700)));
  InstallerRun run(started, SilentInstaller("Genuine", TextBytes(900)));
  ASSERT_NE(run.process.handle, nullptr);
  const auto boxes = run.AnswerBoxesUntilExit(60000);
  EXPECT_FALSE(FileExists(WindowsFolder() + "Intruder.scr"));
  EXPECT_EQ(UninstallValue("Intruder", "DisplayName"), "<none>");
  // Refusing would be sound too; this installer can read itself, and installs.
  EXPECT_TRUE(boxes.empty()) << boxes[0];
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_EQ(ReadAll(WindowsFolder() + "Genuine.scr"), TextBytes(900));
  EXPECT_EQ(UninstallValue("Genuine", "DisplayName"), "Genuine Screen Saver");
}

// A folder whose name the ANSI code page cannot spell (a user's download folder named in another
// script) still installs: nothing is opened by its ANSI spelling.
TEST_F(LookAlikeName, AFolderNamedOutsideTheCodePageStillInstalls) {
  const std::wstring folder = Widened(TempFolder()) + L"\uFF33avers \u65E5\u672C\\";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
  InstallerRun run(folder + L"Setup.exe", SilentInstaller("Genuine", TextBytes(900)));
  ASSERT_NE(run.process.handle, nullptr);
  const auto boxes = run.AnswerBoxesUntilExit(60000);
  EXPECT_TRUE(boxes.empty()) << boxes[0];
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_EQ(ReadAll(WindowsFolder() + "Genuine.scr"), TextBytes(900));
}

}  // namespace
