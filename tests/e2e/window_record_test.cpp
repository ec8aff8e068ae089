// Records where the real window puts its controls, for a payload with a licence and one without,
// beside the installers themselves: the studio's browser test opens the same installers and
// holds its preview to these rectangles (build/<preset>/artefacts/window-rects.json).
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>

#include "control_ids.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

// A control's rectangle in the client coordinates of the top-level window.
std::string ClientRectJson(HWND window, HWND control) {
  RECT r = driver::WindowRect(control);
  MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
  std::ostringstream out;
  out << "{\"left\": " << r.left << ", \"top\": " << r.top << ", \"width\": " << r.right - r.left
      << ", \"height\": " << r.bottom - r.top << "}";
  return out.str();
}

// Runs the installer, reads its window and returns the record of it.
std::string RecordWindow(bool withLicense, const std::string& installerName) {
  TPayloadOptions options;
  options.ContentMode = cmPicture;
  options.HasLicense = withLicense;
  options.SaverName = "Aquarium";
  const auto image = BuildInstallerImage(BuiltInstallExe(), options, PictureMembers(withLicense));
  WriteAll(driver::HostPath(ARTEFACT_DIR "/" + installerName), image);
  InstallerRun run(image);
  HWND window = run.WaitForWindow("Install Aquarium");
  EXPECT_NE(window, nullptr);
  if (!window) return "null";
  const RECT client = driver::ClientRect(window);
  std::ostringstream out;
  out << "{\"installer\": \"" << installerName << "\", \"caption\": \"" << driver::Text(window)
      << "\", \"client\": {\"width\": " << client.right << ", \"height\": " << client.bottom << "}";
  const std::pair<const char*, int> controls[] = {
      {"content_panel", kContentPanelId}, {"image", kImageId}, {"memo", kLicenseId},
      {"button_panel", kButtonPanelId},   {"progress_bar", kProgressId},
      {"install_button", kInstallId},     {"decline_button", kDeclineId}};
  for (const auto& [name, id] : controls) {
    HWND control = driver::ChildById(window, id);
    if (control && IsWindowVisible(control)) out << ", \"" << name << "\": " << ClientRectJson(window, control);
  }
  out << ", \"install_caption\": \"" << driver::Text(driver::ChildById(window, kInstallId)) << "\"}";
  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 1);
  return out.str();
}

TEST(WindowRecord, ControlsOfTheRealWindowWithAndWithoutLicence) {
  const std::string withLicence = RecordWindow(true, "window-licence.exe");
  const std::string without = RecordWindow(false, "window-plain.exe");
  std::ofstream(driver::HostPath(ARTEFACT_DIR "/window-rects.json"))
      << "{\"licence\": " << withLicence << ",\n \"plain\": " << without << "}\n";
  EXPECT_NE(withLicence.find("\"decline_button\""), std::string::npos) << withLicence;
  EXPECT_EQ(without.find("\"memo\""), std::string::npos) << without;
}

}  // namespace
