// The screen-saver launcher, end to end: a plain screen saver that knows nothing of /u, built by
// saverpack.exe with uninstall = "launcher", installed, run through the launcher as the system
// runs screen savers, and removed by the uninstall entry's command as Apps & features runs it.
#include <gtest/gtest.h>

#include "driver.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

const std::string kName = "Aquarium Deluxe";

// Waits for a line of the log that starts with prefix; returns it without its line end.
std::string WaitForLine(const std::string& log, const std::string& prefix, int timeoutMs = 15000) {
  const DWORD start = GetTickCount();
  do {
    const std::string text = ReadLog(log);
    const size_t at = text.rfind(prefix);
    if (at != std::string::npos && text.find("\r\n", at) != std::string::npos)
      return text.substr(at, text.find("\r\n", at) - at);
    Sleep(50);
  } while (GetTickCount() - start < static_cast<DWORD>(timeoutMs));
  return {};
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    log = TempFolder() + "standin.log";
    SetEnvironmentVariableA("STANDIN_LOG", log.c_str());
  }

  // Builds the project with saverpack.exe (install.exe, impborl.dll and launcher.exe beside it)
  // and installs it silently.
  void Install() {
    const std::string dir = TempFolder();
    WriteAll(dir + "install.exe", BuiltInstallExe());
    WriteAll(dir + "impborl.dll", BuiltCodec());
    WriteAll(dir + "launcher.exe", ReadAll(driver::HostPath(LAUNCHER_EXE)));
    WriteAll(dir + "saverpack.exe", ReadAll(driver::HostPath(SAVERPACK_EXE)));
    WriteAll(dir + "aqua.scr", ReadAll(driver::HostPath(PLAIN_SAVER)));
    const std::string project = "name = \"" + kName + "\"\ncontent = \"silent\"\nuninstall = \"launcher\"\n"
                                "[files.program]\npath = \"aqua.scr\"\n";
    WriteAll(dir + "deluxe.toml", {project.begin(), project.end()});
    driver::Process build = driver::Start("\"" + dir + "saverpack.exe\" build -q \"" + dir + "deluxe.toml\"");
    ASSERT_EQ(driver::WaitForExit(build, 60000), 0);
    driver::Process install = driver::Start("\"" + dir + "deluxe.exe\"");
    ASSERT_EQ(driver::WaitForExit(install, 60000), 0);
  }

  // Starts the launcher with arguments; the saver it started logs its line.
  std::string RunSaver(const std::string& arguments, driver::Process& launcher) {
    launcher = driver::Start("\"" + launcherPath + "\" " + arguments);
    return WaitForLine(log, "saver " + arguments);
  }

  // Runs the uninstall entry's command and answers its question; returns its last box's text.
  std::string Uninstall(const char* answer, long& exitCode) {
    driver::Process run = driver::Start(UninstallValue(kName, "UninstallString"));
    HWND ask = driver::WaitForWindow(kName, run.id, 15000);
    EXPECT_EQ(BoxText(ask), "Remove the " + kName + " screen saver from this computer?");
    driver::Click(driver::FindChild(ask, "Button", answer));
    std::string last;
    if (std::string(answer) == "&Yes") {
      driver::WaitUntilGone(ask, 5000);
      HWND done = driver::WaitForWindow(kName, run.id, 15000);
      last = BoxText(done);
      driver::Click(driver::FindChild(done, "Button", "OK"));
    }
    exitCode = driver::WaitForExit(run, 15000);
    return last;
  }

  std::string log;
  const std::string launcherPath = WindowsFolder() + kName + ".scr";
  const std::string saverDir = WindowsFolder() + kName + " dir\\";
};

TEST_F(Launcher, APlainScreenSaverRunsThroughItAndIsRemovedByTheUninstallEntry) {
  Install();
  EXPECT_EQ(ReadAll(launcherPath), ReadAll(driver::HostPath(LAUNCHER_EXE)));
  EXPECT_EQ(ReadAll(saverDir + kName + ".scr"), ReadAll(driver::HostPath(PLAIN_SAVER)));
  EXPECT_EQ(UninstallValue(kName, "UninstallString"), "\"" + launcherPath + "\" /u");
  EXPECT_NE(SystemIniSaver(), "<none>");

  // Run as the system runs it: the same arguments, in the saver's folder; ending the launcher
  // ends the program.
  driver::Process launcher;
  std::string line = RunSaver("/s", launcher);
  EXPECT_EQ(line.rfind("saver /s in " + saverDir.substr(0, saverDir.size() - 1) + " pid ", 0), 0u) << line;
  HANDLE saver = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(line.substr(line.rfind(' ') + 1)));
  ASSERT_NE(saver, nullptr);
  TerminateProcess(launcher.handle, 0);
  EXPECT_EQ(WaitForSingleObject(saver, 10000), WAIT_OBJECT_0);
  CloseHandle(saver);

  HWND preview = CreateWindowA("STATIC", "preview", WS_POPUP, 0, 0, 100, 80, nullptr, nullptr, nullptr, nullptr);
  const std::string previewArgs = "/p " + std::to_string(reinterpret_cast<uintptr_t>(preview));
  line = RunSaver(previewArgs, launcher);
  EXPECT_FALSE(line.empty()) << ReadLog(log);
  TerminateProcess(launcher.handle, 0);
  driver::WaitForExit(launcher, 5000);
  DestroyWindow(preview);
  // A settings run ends by itself, and the launcher with the program's exit code.
  RunSaver("/c", launcher);
  EXPECT_EQ(driver::WaitForExit(launcher, 15000), 7);

  // No: nothing changes.
  long code = 0;
  Uninstall("&No", code);
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(FileExists(saverDir + kName + ".scr"));
  EXPECT_TRUE(UninstallEntryExists(kName));
  EXPECT_NE(SystemIniSaver(), "<none>");

  // Yes: the folder, the system.ini value, the entry and the launcher go; the codec stays.
  EXPECT_EQ(Uninstall("&Yes", code), "The " + kName + " screen saver was removed.");
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(FileExists(saverDir));
  EXPECT_FALSE(UninstallEntryExists(kName));
  EXPECT_EQ(SystemIniSaver(), "<none>");
  const DWORD start = GetTickCount();
  while (FileExists(launcherPath) && GetTickCount() - start < 15000) Sleep(100);
  EXPECT_FALSE(FileExists(launcherPath));
  EXPECT_TRUE(FileExists(WindowsFolder() + "impborl.dll"));
}

TEST_F(Launcher, AMissingProgramIsNamedAndASecondRemovalEndsCleanly) {
  Install();
  DeleteFileA((saverDir + kName + ".scr").c_str());
  driver::Process launcher = driver::Start("\"" + launcherPath + "\" /s");
  HWND box = driver::WaitForWindow(kName, launcher.id, 15000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(BoxText(box), "The screen saver program " + saverDir + kName + ".scr is missing.");
  driver::Click(driver::FindChild(box, "Button", "OK"));
  EXPECT_EQ(driver::WaitForExit(launcher, 15000), 1);

  long code = 0;
  Uninstall("&Yes", code);
  EXPECT_EQ(code, 0);
  // A copy of the launcher run with /u once more finds nothing left and says it is done.
  const std::string copy = TempFolder() + kName + ".scr";
  WriteAll(copy, ReadAll(driver::HostPath(LAUNCHER_EXE)));
  driver::Process again = driver::Start("\"" + copy + "\" /u");
  HWND ask = driver::WaitForWindow(kName, again.id, 15000);
  driver::Click(driver::FindChild(ask, "Button", "&Yes"));
  driver::WaitUntilGone(ask, 5000);
  HWND done = driver::WaitForWindow(kName, again.id, 15000);
  EXPECT_EQ(BoxText(done), "The " + kName + " screen saver was removed.");
  driver::Click(driver::FindChild(done, "Button", "OK"));
  EXPECT_EQ(driver::WaitForExit(again, 15000), 0);
}

}  // namespace
