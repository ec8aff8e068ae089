// The demo projects as authors build them with saverpack.exe: the Flash one shows its movie
// through the stand-in control and installs the movie as the screen saver's first file.
#include <gtest/gtest.h>

#include "control_ids.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

TEST(DemoProjects, TheFlashDemoShowsItsMovieAndInstalls) {
  // The project refers to ../dist; give it that shape in a folder of its own.
  const std::string root = TempFolder();
  const std::string demo = root + "demo\\", dist = root + "dist\\";
  CreateDirectoryA(demo.c_str(), nullptr);
  CreateDirectoryA(dist.c_str(), nullptr);
  const std::string source = driver::HostPath(DEMO_DIR) + "\\";
  for (const char* name : {"flash-demo.toml", "bubbles.swf", "licence.txt", "bubbles.ini", "fish.dat", "weeds.dat", "readme.txt"})
    WriteAll(demo + name, ReadAll(source + name));
  WriteAll(dist + "impborl.dll", BuiltCodec());
  WriteAll(dist + "install.exe", BuiltInstallExe());
  WriteAll(dist + "DemoSaver.scr", ReadAll(driver::HostPath(DEMO_SAVER)));
  WriteAll(dist + "saverpack.exe", ReadAll(driver::HostPath(SAVERPACK_EXE)));
  driver::Process build = driver::Start("\"" + dist + "saverpack.exe\" build -q \"" + demo + "flash-demo.toml\" -o \"" +
                                        root + "FlashDemo-Setup.exe\"");
  ASSERT_EQ(driver::WaitForExit(build, 60000), 0);

  InstallerRun run(ReadAll(root + "FlashDemo-Setup.exe"));
  HWND window = run.WaitForWindow("Install DemoSaver", 20000);
  ASSERT_NE(window, nullptr);
  HWND panel = driver::ChildById(window, kContentPanelId);
  EXPECT_NE(driver::FindChild(panel, "StandInFlashMovie", WindowsFolder() + "DemoSaver dir\\installer.scf"), nullptr);
  run.Screenshot(window, "flash-demo.bmp");
  driver::Click(driver::ChildById(window, kInstallId));
  EXPECT_EQ(run.WaitForExit(60000), 0);
  EXPECT_EQ(ReadAll(WindowsFolder() + "DemoSaver dir\\screensaver.swf"), ReadAll(source + "bubbles.swf"));
  EXPECT_TRUE(FileExists(WindowsFolder() + "DemoSaver.scr"));

  // The uninstall entry's command removes what the installer placed.
  const std::string command = UninstallValue("DemoSaver", "UninstallString");
  ASSERT_NE(command, "<none>");
  driver::Process uninstall = driver::Start(command);
  HWND done = driver::WaitForWindow("DemoSaver", uninstall.id, 15000);
  ASSERT_NE(done, nullptr);
  driver::Click(driver::FindChild(done, "Button", "OK"));
  EXPECT_EQ(driver::WaitForExit(uninstall, 15000), 0);
  EXPECT_FALSE(FileExists(WindowsFolder() + "DemoSaver dir"));
  EXPECT_FALSE(UninstallEntryExists("DemoSaver"));
  char saver[MAX_PATH];
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", saver, MAX_PATH, "system.ini");
  EXPECT_STREQ(saver, "");
}

}  // namespace
