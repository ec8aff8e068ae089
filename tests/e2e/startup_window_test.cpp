// Start-up to the shown window, as a user sees it.
#include <gtest/gtest.h>

#include <windows.h>

#include "control_ids.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

TPayloadOptions Options(uint8_t contentMode, bool withLicense) {
  TPayloadOptions options;
  options.ContentMode = contentMode;
  options.HasLicense = withLicense;
  options.SaverName = "Aquarium";
  return options;
}

HWND Control(HWND window, int id) { return driver::ChildById(window, id); }
bool Visible(HWND control) { return control && IsWindowVisible(control); }
int Height(const RECT& r) { return r.bottom - r.top; }
int Width(const RECT& r) { return r.right - r.left; }

void Resize(HWND window, int width, int height) {
  SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Sleep(200);
}

TEST(StartUpWindow, PictureWithLicenceShowsEverythingAsDesigned) {
  InstallerRun run(Options(cmPicture, true), PictureMembers(true));
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  run.Screenshot(window, "startup-picture-licence.bmp");

  EXPECT_TRUE(driver::ExStyle(window) & WS_EX_TOPMOST);
  EXPECT_TRUE(driver::Style(window) & WS_THICKFRAME);
  EXPECT_FALSE(driver::Style(window) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_EQ(Width(driver::WindowRect(window)), 359);
  EXPECT_EQ(Height(driver::ClientRect(window)), 322);

  HWND memo = Control(window, kLicenseId);
  EXPECT_TRUE(Visible(memo));
  EXPECT_EQ(driver::Text(memo), "Aquarium Screen Saver licence\r\n\r\nYou may use this screen "
                                "saver at home.\r\nNo warranty.\r\n");
  EXPECT_TRUE(driver::Style(memo) & ES_READONLY);
  EXPECT_EQ(driver::Text(Control(window, kInstallId)), "Accept and Install");
  EXPECT_EQ(driver::Text(Control(window, kDeclineId)), "&Decline");
  EXPECT_TRUE(Visible(Control(window, kDeclineId)));
  EXPECT_FALSE(Visible(Control(window, kLabCopyingId)));
  EXPECT_FALSE(Visible(Control(window, kLabFileId)));
  EXPECT_EQ(driver::ProgressPosition(Control(window, kProgressId)), 0);
  EXPECT_EQ(driver::ProgressMaximum(Control(window, kProgressId)), 10);
  EXPECT_TRUE(Visible(Control(window, kImageId)));
  EXPECT_EQ(driver::RectInParent(Control(window, kImageId)).left, 1);

  // The picture is drawn: the image's corners carry the gradient, not the panel's grey.
  HDC screen = GetDC(nullptr);
  const RECT image = driver::WindowRect(Control(window, kImageId));
  const COLORREF topRight = GetPixel(screen, image.right - 3, image.top + 3);
  ReleaseDC(nullptr, screen);
  EXPECT_GT(GetBValue(topRight), 200) << std::hex << topRight;

  // Shrinking stops at 359 by 340; the memo never gets lower than 103.
  Resize(window, 200, 200);
  EXPECT_EQ(Width(driver::WindowRect(window)), 359);
  EXPECT_EQ(Height(driver::WindowRect(window)), 340);
  EXPECT_GE(Height(driver::WindowRect(memo)), 103);

  // Enlarging keeps the buttons at the bottom, Install at the right, the content panel's size.
  Resize(window, 600, 500);
  const RECT client = driver::ClientRect(window);
  const RECT panel = driver::RectInParent(Control(window, kButtonPanelId));
  EXPECT_EQ(panel.bottom, client.bottom);
  EXPECT_EQ(Width(panel), Width(client));
  EXPECT_EQ(driver::RectInParent(Control(window, kInstallId)).right, Width(client) - 2);
  EXPECT_EQ(Width(driver::WindowRect(Control(window, kContentPanelId))), 352);
  EXPECT_EQ(Height(driver::WindowRect(Control(window, kContentPanelId))), 152);
  EXPECT_EQ(Height(driver::WindowRect(memo)), panel.top - 152 - 6);

  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 1);  // closed without installing
}

TEST(StartUpWindow, WithoutLicenceTheWindowIsFixedAndShorter) {
  InstallerRun run(Options(cmPicture, false), PictureMembers(false));
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  run.Screenshot(window, "startup-picture.bmp");
  EXPECT_EQ(Height(driver::ClientRect(window)), 215);
  EXPECT_FALSE(driver::Style(window) & WS_THICKFRAME);
  EXPECT_EQ(driver::Text(Control(window, kInstallId)), "Install");
  EXPECT_FALSE(Visible(Control(window, kDeclineId)));
  EXPECT_FALSE(Visible(Control(window, kLicenseId)));
  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 1);  // closed without installing
}

TEST(StartUpWindow, ContentModesWithoutContentShowNothingAndReportNothing) {
  for (uint8_t mode : {0, 5}) {
    InstallerRun run(Options(mode, false), PictureMembers(false));
    HWND window = run.WaitForWindow("Install Aquarium");
    ASSERT_NE(window, nullptr) << int(mode);
    EXPECT_FALSE(Visible(Control(window, kImageId)));
    EXPECT_EQ(driver::WindowsOf(run.process.id).size(), 1u);
    driver::PressCloseBox(window);
    EXPECT_EQ(run.WaitForExit(), 1);
  }
}

TEST(StartUpWindow, AnEmptyNameGivesTheBareTitle) {
  TPayloadOptions options = Options(0, false);
  options.SaverName = "";
  InstallerRun run(options, PictureMembers(false));
  HWND window = run.WaitForWindow("Install ");
  ASSERT_NE(window, nullptr);
  driver::PressCloseBox(window);
  run.WaitForExit();
  EXPECT_TRUE(FileExists(WindowsFolder() + "TempSaverDir dir\\saver.ini"));
}

TEST(StartUpFailure, ShortFileReportsMinus31ThenTheSummaryAndEnds) {
  auto image = BuildInstallerImage(BuiltInstallExe(), Options(cmPicture, false), PictureMembers(false));
  image.resize(kPayloadOffset + 3000);  // inside the header
  InstallerRun run(image);
  const auto texts = run.AnswerBoxesUntilExit();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("Installation Error: Problem using " + WindowsFolder() + "TEMP\\QVF temp\\temp", 0), 0u) << texts[0];
  EXPECT_EQ(texts[1], "Installer file is corrupted. Error -31. ");
  EXPECT_EQ(run.WaitForExit(), 2);
}

TEST(StartUpFailure, LicenceFlagWithoutLicenceIsMinus531) {
  InstallerRun run(Options(cmPicture, true), PictureMembers(false));
  const auto texts = run.AnswerBoxesUntilExit();
  EXPECT_EQ(texts, std::vector<std::string>{"Installer file is corrupted. Error -531. "});
}

// The fresh staging folders beside "QVF temp" ("QVF temp <hex>"), by name.
std::vector<std::string> FreshStagingFolders() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((WindowsFolder() + "TEMP\\QVF temp *").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.emplace_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// A file in place of the staging folder is left as it is: the copy goes to a fresh folder of ours
// beside it, which goes again when the window closes.
TEST(StartUp, AFileInPlaceOfTheStagingFolderIsLeftAndAnotherFolderUsed) {
  const std::string staging = WindowsFolder() + "TEMP\\QVF temp";
  RemoveDirectoryA(staging.c_str());
  WriteAll(staging, {0});
  InstallerRun run(Options(cmPicture, false), PictureMembers(false));
  HWND window = run.WaitForWindow("Install Aquarium");
  EXPECT_NE(window, nullptr);
  const auto fresh = FreshStagingFolders();
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_TRUE(FileExists(WindowsFolder() + "TEMP\\" + fresh[0] + "\\temp1.dat"));
  if (window) driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 1);
  EXPECT_EQ(ReadAll(staging), std::vector<uint8_t>{0});
  EXPECT_TRUE(FreshStagingFolders().empty());
  DeleteFileA(staging.c_str());
}

// Where no staging folder can be made at all (the Windows folder's TEMP is a file), the copy's
// failure is shown with the system's text, then the summary.
TEST(StartUpFailure, NoStagingFolderStopsStartUpWithTheSystemsText) {
  const std::string temp = WindowsFolder() + "TEMP";
  ASSERT_TRUE(MoveFileA(temp.c_str(), (temp + ".away").c_str())) << GetLastError();
  WriteAll(temp, {0});
  InstallerRun run(Options(cmPicture, false), PictureMembers(false));
  const auto texts = run.AnswerBoxesUntilExit();
  DeleteFileA(temp.c_str());
  MoveFileA((temp + ".away").c_str(), temp.c_str());
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("Build Error: Problem copying " + run.path + " to " + temp + "\\QVF temp ", 0), 0u)
      << texts[0];
  EXPECT_GT(texts[0].size(), texts[0].find("\r\n\r\n") + 4);  // the system's text follows
  EXPECT_EQ(texts[1].rfind("Installer file is corrupted. Error ", 0), 0u);
  EXPECT_NE(texts[1], "Installer file is corrupted. Error 0. ");
}

}  // namespace
