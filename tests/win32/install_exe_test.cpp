// install.exe as built: its size, its version record and manifest, and its window.
#include <gtest/gtest.h>

#include <windows.h>

#include "driver.h"
#include "test_paths.h"

namespace {

const std::string kInstallExe = driver::HostPath(INSTALL_EXE);

std::string VersionString(const std::vector<char>& info, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
    return {};
  return std::string(value, length && value[length - 1] == 0 ? length - 1 : length);
}

TEST(InstallExe, IsExactlyThePayloadOffsetLong) {
  EXPECT_EQ(FileSizeOf(kInstallExe), 420352);
}

TEST(InstallExe, CarriesItsVersionRecord) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(kInstallExe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(kInstallExe.c_str(), 0, size, info.data()));
  EXPECT_EQ(VersionString(info, "FileDescription"), "Screen Saver Installer");
  EXPECT_EQ(VersionString(info, "FileVersion"), "2.0.3.0");
  EXPECT_EQ(VersionString(info, "ProductVersion"), "2.0.3.0");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00030000u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
}

TEST(InstallExe, AsksForAdministratorRightsAndHasItsIcon) {
  HMODULE image = LoadLibraryExA(kInstallExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  HRSRC manifest = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(image, manifest)));
  const std::string xml(text, SizeofResource(image, manifest));
  EXPECT_NE(xml.find("requireAdministrator"), std::string::npos);
  EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(xml.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">false"),
            std::string::npos);
  EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)), nullptr);  // icon group
  FreeLibrary(image);
}

}  // namespace
