// The installer that the studio's page built from the demo's files (the browser tests leave it in
// build/studio, and scripts/test runs this case after them with PAGE_BUILT_INSTALLER naming it):
// clicked through, it installs as saverpack's own build does.
#include <gtest/gtest.h>

#include "control_ids.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

TEST(PageBuilt, TheStudiosInstallerInstalls) {
  char path[MAX_PATH] = "";
  const DWORD length = GetEnvironmentVariableA("PAGE_BUILT_INSTALLER", path, sizeof path);
  if (length == 0 || length >= sizeof path || !FileExists(path)) GTEST_SKIP() << "no installer from the page";
  DeleteFileA((WindowsFolder() + "DemoSaver.scr").c_str());
  InstallerRun run(ReadAll(path));
  HWND window = run.WaitForWindow("Install DemoSaver", 20000);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(driver::Text(driver::ChildById(window, kInstallId)), "Accept and Install");
  driver::Click(driver::ChildById(window, kInstallId));
  EXPECT_EQ(run.WaitForExit(60000), 0);
  EXPECT_TRUE(FileExists(WindowsFolder() + "DemoSaver.scr"));
  EXPECT_EQ(ReadAll(WindowsFolder() + "DemoSaver dir\\bubbles.swf").size(), 29u);
  EXPECT_EQ(UninstallValue("DemoSaver", "DisplayName"), "DemoSaver Screen Saver");
}

}  // namespace
