// The screen-saver launcher, end to end: a plain screen saver that knows nothing of /u, built by
// saverpack.exe with uninstall = "launcher", installed, run through the launcher as the system
// runs screen savers, and removed by the uninstall entry's command as Apps & features runs it;
// and removing nothing as a copy elsewhere, under another name, or through a link.
#include <gtest/gtest.h>

#include "driver.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

const std::string kName = "Aquarium Deluxe";

// Waits for a line of the log that starts with prefix; returns it without its line end. Messages
// are pumped meanwhile: a preview's saver makes its window a child of one of ours, and the system
// sends our thread messages for that.
std::string WaitForLine(const std::string& log, const std::string& prefix, int timeoutMs = 15000) {
  const DWORD start = GetTickCount();
  do {
    const std::string text = ReadLog(log);
    const size_t at = text.rfind(prefix);
    if (at != std::string::npos && text.find("\r\n", at) != std::string::npos)
      return text.substr(at, text.find("\r\n", at) - at);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
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

TEST_F(Launcher, AMissingProgramIsNamedAndTheRemovalLeavesNothingRunnableBehind) {
  Install();
  DeleteFileA((saverDir + kName + ".scr").c_str());
  driver::Process launcher = driver::Start("\"" + launcherPath + "\" /s");
  HWND box = driver::WaitForWindow(kName, launcher.id, 15000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(BoxText(box), "The screen saver program " + saverDir + kName + ".scr is missing.");
  driver::Click(driver::FindChild(box, "Button", "OK"));
  EXPECT_EQ(driver::WaitForExit(launcher, 15000), 1);

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const auto before = NamesMatching(std::string(temp) + "*.exe");
  long code = 0;
  Uninstall("&Yes", code);
  EXPECT_EQ(code, 0);
  // The launcher's file went out of the Windows folder at once; no copy of it runs or waits in
  // the user's TEMP.
  EXPECT_FALSE(FileExists(launcherPath));
  EXPECT_EQ(NamesMatching(std::string(temp) + "*.exe"), before);
}

// Runs a launcher file with arguments and returns the text of the box it shows under caption,
// clicking it.
std::string RefusalOf(const std::string& file, const std::string& arguments, const std::string& caption,
                      long& exitCode) {
  driver::Process run = driver::Start("\"" + file + "\" " + arguments);
  HWND box = driver::WaitForWindow(caption, run.id, 15000);
  const std::string text = box ? BoxText(box) : "";
  if (box) driver::Click(driver::FindChild(box, "Button", "OK"));
  exitCode = driver::WaitForExit(run, 15000);
  return text;
}

TEST_F(Launcher, RemovesOnlyAsTheProgramItsOwnUninstallEntryRuns) {
  Install();
  const std::vector<uint8_t> launcher = ReadAll(driver::HostPath(LAUNCHER_EXE));
  long code = 0;
  // A copy elsewhere.
  const std::string elsewhere = TempFolder() + kName + ".scr";
  WriteAll(elsewhere, launcher);
  EXPECT_EQ(RefusalOf(elsewhere, "/u", kName, code),
            elsewhere + " is not the " + kName + " screen saver's launcher in the Windows folder: nothing was removed.");
  EXPECT_EQ(code, 1);
  // A copy in the Windows folder under another product's name.
  const std::string other = WindowsFolder() + "Other Product.scr";
  SetUninstallValue("Other Product", "UninstallString", "C:\\Other\\uninstall.exe");
  WriteAll(other, launcher);
  EXPECT_EQ(RefusalOf(other, "/u confirmed", "Other Product", code),
            "The uninstall entry Other Product does not run " + other + ": nothing was removed.");
  EXPECT_EQ(UninstallValue("Other Product", "UninstallString"), "C:\\Other\\uninstall.exe");
  DeleteUninstallEntry("Other Product");
  DeleteFileA(other.c_str());
  // A file named ".scr": no name at all, and so not the Uninstall key itself.
  const std::string unnamed = WindowsFolder() + ".scr";
  WriteAll(unnamed, launcher);
  EXPECT_EQ(RefusalOf(unnamed, "/u", "Screen saver", code), unnamed + " has no screen-saver name: nothing was removed.");
  DeleteFileA(unnamed.c_str());
  EXPECT_TRUE(FileExists(saverDir + kName + ".scr"));
  EXPECT_TRUE(UninstallEntryExists(kName));

  // The confirmation counts only as the exact argument: anything else asks.
  for (const char* arguments : {"/u confirmedx", "/u please confirmed", "/u /confirmed"}) {
    driver::Process run = driver::Start("\"" + launcherPath + "\" " + arguments);
    HWND ask = driver::WaitForWindow(kName, run.id, 15000);
    ASSERT_NE(ask, nullptr) << arguments;
    EXPECT_EQ(BoxText(ask), "Remove the " + kName + " screen saver from this computer?") << arguments;
    driver::Click(driver::FindChild(ask, "Button", "&No"));
    EXPECT_EQ(driver::WaitForExit(run, 15000), 1) << arguments;
  }
  EXPECT_TRUE(UninstallEntryExists(kName));
}

// Runs a wide command line; answers the first box it shows with No (or OK) and returns
// "<caption>: <text>", or nothing when it ended without one.
std::string FirstBoxOf(const std::wstring& commandLine, long& exitCode) {
  driver::Process run = StartWide(commandLine);
  std::string seen;
  const DWORD start = GetTickCount();
  while (seen.empty() && WaitForSingleObject(run.handle, 50) == WAIT_TIMEOUT && GetTickCount() - start < 15000)
    for (HWND box : driver::WindowsOf(run.id)) {
      seen = driver::Text(box) + ": " + BoxText(box);
      HWND no = driver::FindChild(box, "Button", "&No");
      driver::Click(no ? no : driver::FindChild(box, "Button", "OK"));
      break;
    }
  exitCode = driver::WaitForExit(run, 15000);
  return seen;
}

// Names and arguments that the ANSI code page cannot spell are never taken for their best-fit
// look-alikes: a copy named "\uFF21quarium Deluxe.scr" ("Aquarium Deluxe.scr" in ANSI) is not the
// launcher it spells, and "\uFF0Fu" is not "/u".
TEST_F(Launcher, ALookAlikeNameOrArgumentRemovesNothing) {
  Install();
  const std::wstring lookAlike = Widened(WindowsFolder()) + L"\uFF21quarium Deluxe.scr";
  ASSERT_EQ(AnsiSpelling(lookAlike), launcherPath);
  WriteAllWide(lookAlike, ReadAll(driver::HostPath(LAUNCHER_EXE)));
  long code = 0;
  EXPECT_EQ(FirstBoxOf(L"\"" + lookAlike + L"\" /u", code),
            "?quarium Deluxe: " + WindowsFolder() + "?quarium Deluxe.scr has no screen-saver name: nothing was removed.");
  EXPECT_EQ(code, 1);
  DeleteFileW(lookAlike.c_str());

  // Not an uninstallation: the program runs with the argument, the look-alike as "?".
  EXPECT_EQ(FirstBoxOf(L"\"" + Widened(launcherPath) + L"\" \uFF0Fu", code), "");
  EXPECT_EQ(code, 7);
  EXPECT_NE(ReadLog(log).find("saver ?u in "), std::string::npos) << ReadLog(log);
  EXPECT_TRUE(FileExists(launcherPath));
  EXPECT_TRUE(FileExists(saverDir + kName + ".scr"));
  EXPECT_TRUE(UninstallEntryExists(kName));
}

// A saver's folder that is itself a link is removed as a link: what it points at stays.
TEST_F(Launcher, ASaverFolderThatIsALinkIsNotWalked) {
  Install();
  const std::string target = TempFolder() + "kept\\";
  CreateDirectoryA(target.c_str(), nullptr);
  WriteAll(target + "precious.txt", {1, 2, 3});
  const std::string folder = saverDir.substr(0, saverDir.size() - 1);
  // The saver's own folder, taken away and replaced by a link elsewhere.
  DeleteFileA((saverDir + kName + ".scr").c_str());
  DeleteFileA((saverDir + "saver.ini").c_str());
  ASSERT_TRUE(RemoveDirectoryA(folder.c_str())) << GetLastError();
  ASSERT_TRUE(MakeUnixLink(target.substr(0, target.size() - 1), folder));
  long code = 0;
  const std::string last = Uninstall("&Yes", code);
  EXPECT_EQ(ReadAll(target + "precious.txt"), (std::vector<uint8_t>{1, 2, 3}));
  // Windows removes a folder link with RemoveDirectory; Wine cannot remove a Unix link so, and
  // the last box names the link alone.
  if (FileExists(folder))
    EXPECT_EQ(last, "The " + kName + " screen saver was removed, but these could not be:\r\n" + folder);
  else
    EXPECT_EQ(last, "The " + kName + " screen saver was removed.");
  RemoveUnixLink(folder);
}

}  // namespace
