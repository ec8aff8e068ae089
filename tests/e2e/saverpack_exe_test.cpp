// saverpack.exe, as an author on Windows runs it: projects built into installers that then
// install.
#include <gtest/gtest.h>

#include <set>

#include "control_ids.h"
#include "driver.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include "stb_image_write.h"
#pragma GCC diagnostic pop

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
uninstall = "program"
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

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// A name, an ordinary screen saver and a PNG, as the author's guide says, without the uninstall
// key: clicked through, it leaves our launcher as the program, the saver and the picture in the
// saver's folder (the filled-in slots leave nothing), and its uninstall entry removes it all.
TEST(SaverpackExe, AProgramAndAPngInstallWithTheLauncherAndUninstall) {
  const std::string dir = TempFolder();
  WriteAll(dir + "install.exe", BuiltInstallExe());
  WriteAll(dir + "impborl.dll", BuiltCodec());
  WriteAll(dir + "launcher.exe", ReadAll(driver::HostPath(LAUNCHER_EXE)));
  WriteAll(dir + "Mini.scr", ReadAll(driver::HostPath(PLAIN_SAVER)));
  std::vector<uint8_t> rgb(800 * 600 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i / 2400);
  ASSERT_TRUE(stbi_write_png((dir + "photo.png").c_str(), 800, 600, 3, rgb.data(), 800 * 3));
  WriteText(dir + "mini.toml", "name = \"Mini\"\ncontent = \"picture\"\n[files.program]\npath = \"Mini.scr\"\n"
                               "[files.content]\npath = \"photo.png\"\n");
  WriteAll(dir + "saverpack.exe", ReadAll(driver::HostPath(SAVERPACK_EXE)));
  driver::Process build = driver::Start("\"" + dir + "saverpack.exe\" build -q \"" + dir + "mini.toml\"");
  ASSERT_EQ(driver::WaitForExit(build, 60000), 0);

  DeleteFileA((WindowsFolder() + "Mini.scr").c_str());
  InstallerRun run(ReadAll(dir + "mini.exe"));
  HWND window = run.WaitForWindow("Install Mini");
  ASSERT_NE(window, nullptr);
  driver::Click(driver::ChildById(window, kInstallId));
  EXPECT_EQ(run.WaitForExit(60000), 0);
  EXPECT_EQ(ReadAll(WindowsFolder() + "Mini.scr"), ReadAll(driver::HostPath(LAUNCHER_EXE)));
  EXPECT_EQ(FilesIn(WindowsFolder() + "Mini dir\\"), (std::set<std::string>{"photo.bmp", "Mini.scr"}));

  driver::Process remove = driver::Start(UninstallValue("Mini", "UninstallString"));
  HWND ask = driver::WaitForWindow("Mini", remove.id, 15000);
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(BoxText(ask), "Remove the Mini screen saver from this computer?");
  driver::Click(driver::FindChild(ask, "Button", "&Yes"));
  driver::WaitUntilGone(ask, 5000);
  HWND done = driver::WaitForWindow("Mini", remove.id, 15000);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(BoxText(done), "The Mini screen saver was removed.");
  driver::Click(driver::FindChild(done, "Button", "OK"));
  EXPECT_EQ(driver::WaitForExit(remove, 15000), 0);
  EXPECT_FALSE(FileExists(WindowsFolder() + "Mini dir\\"));
  EXPECT_FALSE(UninstallEntryExists("Mini"));
}

}  // namespace
