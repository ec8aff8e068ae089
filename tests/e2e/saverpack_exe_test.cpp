// saverpack.exe, as an author on Windows runs it: a project built into an installer that then
// installs silently.
#include <gtest/gtest.h>

#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

void WriteText(const std::string& path, const std::string& text) { WriteAll(path, {text.begin(), text.end()}); }

TEST(SaverpackExe, BuildsAnInstallerThatInstalls) {
  const std::string dir = TempFolder();
  WriteAll(dir + "install.exe", BuiltInstallExe());
  WriteAll(dir + "impborl.dll", BuiltCodec());
  WriteAll(dir + "Packed.scr", TextBytes(20000));
  WriteAll(dir + "extra.scf", TextBytes(700));
  WriteAll(dir + "lib.dll", TextBytes(3000));
  WriteAll(dir + "notes.txt", TextBytes(400));
  WriteText(dir + "packed.toml", R"(name = "Packed"
content = "silent"
[files.program]
path = "Packed.scr"
[files.extra]
path = "extra.scf"
[files.library1]
path = "lib.dll"
name = "packed1.dll"
[files.library2]
path = "lib.dll"
name = "packed2.dll"
[data]
[[data.entries]]
name = "notes.txt"
path = "notes.txt"
)");
  // saverpack.exe takes install.exe and impborl.dll from beside itself.
  WriteAll(dir + "saverpack.exe", ReadAll(driver::HostPath(SAVERPACK_EXE)));
  driver::Process build = driver::Start("\"" + dir + "saverpack.exe\" build -q \"" + dir + "packed.toml\"");
  ASSERT_EQ(driver::WaitForExit(build, 60000), 0);
  driver::Process verify = driver::Start("\"" + dir + "saverpack.exe\" verify \"" + dir + "packed.exe\"");
  ASSERT_EQ(driver::WaitForExit(verify, 60000), 0);

  DeleteFileA((WindowsFolder() + "Packed.scr").c_str());
  driver::Process install = driver::Start("\"" + dir + "packed.exe\"");
  EXPECT_EQ(driver::WaitForExit(install, 60000), 0);
  EXPECT_EQ(ReadAll(WindowsFolder() + "Packed.scr"), TextBytes(20000));
  EXPECT_EQ(ReadAll(WindowsFolder() + "Packed dir\\notes.txt"), TextBytes(400));
}

}  // namespace
