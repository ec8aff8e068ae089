// The real boxes, shown modally in this process and read and closed by the driver from a
// second thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "application.h"
#include "driver.h"
#include "error_boxes.h"

namespace {

struct SeenBox {
  bool found = false;
  std::string text;
  std::vector<std::string> buttons;
  bool defaultButton = false;
  bool topmost = false;
  bool hasIcon = false;
  int offCentreX = 0, offCentreY = 0;
  bool closed = false;
};

enum class CloseBy { Button, CloseBox };

// Waits for a box with this caption, reads it, then closes it by its button or its close box.
SeenBox Watch(const std::string& caption, CloseBy how, const std::string& buttonText,
              const std::string& screenshot) {
  SeenBox seen;
  HWND box = driver::WaitForWindow(caption, GetCurrentProcessId());
  if (!box) return seen;
  seen.found = true;
  if (!screenshot.empty()) {
    Sleep(100);  // let it paint
    driver::SaveScreenshot(box, driver::HostPath(ARTEFACT_DIR "/" + screenshot));
  }
  HWND button = nullptr;
  for (HWND child : driver::Children(box)) {
    const std::string cls = driver::ClassName(child);
    if (_stricmp(cls.c_str(), "Button") == 0) {
      seen.buttons.push_back(driver::Text(child));
      seen.defaultButton |= (driver::Style(child) & 0xF) == BS_DEFPUSHBUTTON;
      if (driver::Text(child) == buttonText) button = child;
    } else if (_stricmp(cls.c_str(), "Static") == 0) {
      if ((driver::Style(child) & SS_TYPEMASK) == SS_ICON) seen.hasIcon = true;
      else if (!driver::Text(child).empty()) seen.text = driver::Text(child);
    }
  }
  seen.topmost = (driver::ExStyle(box) & WS_EX_TOPMOST) != 0;
  const RECT r = driver::WindowRect(box);
  seen.offCentreX = (r.left + r.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
  seen.offCentreY = (r.top + r.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
  if (how == CloseBy::Button && button) driver::Click(button);
  else driver::PressCloseBox(box);
  seen.closed = driver::WaitUntilGone(box);
  return seen;
}

template <typename Show>
SeenBox ShowAndWatch(Show show, const std::string& caption, CloseBy how = CloseBy::Button,
                     const std::string& buttonText = "&Abort", const std::string& screenshot = "") {
  SeenBox seen;
  std::thread watcher([&] { seen = Watch(caption, how, buttonText, screenshot); });
  show();
  watcher.join();
  return seen;
}

void ExpectOurBox(const SeenBox& seen) {
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.buttons, std::vector<std::string>{"&Abort"});
  EXPECT_FALSE(seen.defaultButton);
  EXPECT_TRUE(seen.topmost);
  EXPECT_TRUE(seen.hasIcon);
  EXPECT_LE(std::abs(seen.offCentreX), 1);
  EXPECT_LE(std::abs(seen.offCentreY), 1);
  EXPECT_TRUE(seen.closed);
}

TEST(ErrorBox, FileErrorsShowTheirWordingWithOneAbortButton) {
  const std::string name = "C:\\windows\\Aquarium dir\\agreement.txt";
  struct Case { TStatus code; std::string text; } cases[] = {
      {-38, "Setup Error: Screen Saver file is busy.\r\n\r\n"
            "Please close the screen saver control panel and try again."},
      {-32, "Installation Error: \r\n\r\nFile " + name +
            " is busy and cannot be replaced. Please close any other application that may be "
            "using this file and try again."},
      {0, "Installation Error: Unspecified error."},
      {-30, "Installation Error: Problem using " + name + ". \r\n\r\n"},
  };
  for (const auto& c : cases) {
    const SeenBox seen =
        ShowAndWatch([&] { ShowFileError(c.code, name); }, "Error", CloseBy::Button, "&Abort",
                     "error-box" + std::to_string(c.code) + ".bmp");
    ExpectOurBox(seen);
    EXPECT_EQ(seen.text, c.text) << c.code;
  }
}

TEST(ErrorBox, AccessDeniedCarriesTheSystemTextWithoutItsFullStop) {
  const std::string systemText = SystemErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(systemText.empty());
  EXPECT_NE(systemText.back(), '.');
  EXPECT_NE(systemText.back(), '\n');
  char raw[256];
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 ERROR_ACCESS_DENIED, 0, raw, sizeof raw, nullptr);
  EXPECT_EQ(std::string(raw).rfind(systemText, 0), 0u) << raw;
  EXPECT_TRUE(SystemErrorText(-531).empty());

  const SeenBox seen = ShowAndWatch([] { ShowFileError(5, "C:\\x.scr"); }, "Error");
  ExpectOurBox(seen);
  EXPECT_EQ(seen.text, "Installation Error: Problem using C:\\x.scr. \r\n\r\n" + systemText);
}

TEST(ErrorBox, TheCloseBoxEndsItToo) {
  const SeenBox seen = ShowAndWatch([] { ShowErrorBox("Closed by the box", TBoxKind::Error); },
                                    "Error", CloseBy::CloseBox);
  ExpectOurBox(seen);
  EXPECT_EQ(seen.text, "Closed by the box");
}

TEST(ErrorBox, InformationBoxHasItsCaptionAndTheSameButton) {
  const SeenBox seen = ShowAndWatch(
      [] { ShowErrorBox("The data file is already open.", TBoxKind::Information); },
      "Information");
  ExpectOurBox(seen);
}

TEST(ErrorBox, SystemErrorPutsTheCallersTextFirst) {
  const SeenBox seen = ShowAndWatch(
      [] { ShowSystemError(ERROR_FILE_NOT_FOUND, "Build Error: Problem copying a to b. "); },
      "Error");
  ExpectOurBox(seen);
  EXPECT_EQ(seen.text, "Build Error: Problem copying a to b. \r\n\r\n" +
                           SystemErrorText(ERROR_FILE_NOT_FOUND));
}

TEST(GeneralError, UsesTheApplicationTitleAndAnOkButton) {
  Application.SetTitle("Install Aquarium");
  const SeenBox seen = ShowAndWatch([] { ShowGeneralError("Unable to write to C:\\s.ini"); },
                                    "Install Aquarium", CloseBy::Button, "OK");
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, "Unable to write to C:\\s.ini.");
  EXPECT_TRUE(seen.closed);
}

}  // namespace
