// Busy files are real here: a second handle that does not share deletion keeps them in place.
#include <gtest/gtest.h>

#include "replace_files.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

TEST(ReplaceFile, BusyFileGivesMinus32AfterItsAttemptsWithTheBusyText) {
  CapturedBoxes boxes;
  const std::string path = TempFolder() + "saver1.dll";
  WriteAll(path, {1, 2, 3});
  BusyFile busy(path);
  EXPECT_EQ(ReplaceFile(path, true, ReplaceAttempts), -32);
  EXPECT_TRUE(FileExists(path));
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0], "Installation Error: \r\n\r\nFile " + path +
                                " is busy and cannot be replaced. Please close any other "
                                "application that may be using this file and try again.");
}

TEST(ReplaceFile, BusyScreenSaverInAnyCaseGivesMinus38) {
  CapturedBoxes boxes;
  const std::string folder = TempFolder();
  for (const char* name : {"SAVER.SCR", "Saver.scr"}) {
    WriteAll(folder + name, {1});
    BusyFile busy(folder + name);
    EXPECT_EQ(ReplaceFile(folder + name, true, 10), -38) << name;
  }
  WriteAll(folder + "movie.scf", {1});
  BusyFile busy(folder + "movie.scf");
  EXPECT_EQ(ReplaceFile(folder + "movie.scf", false, 10), -32);
  ASSERT_EQ(boxes.texts.size(), 2u);
  EXPECT_EQ(boxes.texts[0], "Setup Error: Screen Saver file is busy.\r\n\r\n"
                            "Please close the screen saver control panel and try again.");
}

TEST(ReplaceFile, ReadOnlyFileGoesOnTheFirstAttemptAndMissingFileIsFine) {
  CapturedBoxes boxes;
  const std::string path = TempFolder() + "agreement.txt";
  WriteAll(path, {1});
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReplaceFile(path, true, 1), 0);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReplaceFile(path, true, 1), 0);
  EXPECT_TRUE(boxes.texts.empty());
}

TEST(ReplaceFile, NoAttemptsIsMinus1WithItsDialog) {
  CapturedBoxes boxes;
  const std::string path = TempFolder() + "x.txt";
  EXPECT_EQ(ReplaceFile(path, true, 0), -1);
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0], "Installation Error: Problem using " + path + ". \r\n\r\n");
  EXPECT_EQ(ReplaceFile(path, false, -5), -1);
  EXPECT_EQ(boxes.texts.size(), 1u);
}

TEST(RemoveFile, BusyFileMakesOneAttemptAndIsKept) {
  CapturedBoxes boxes;
  const std::string path = TempFolder() + "impborl.dll";
  WriteAll(path, {1});
  {
    BusyFile busy(path);
    EXPECT_EQ(RemoveFile(path, false), -32);
    EXPECT_TRUE(boxes.texts.empty());
  }
  EXPECT_EQ(RemoveFile(path, false), 0);
  EXPECT_FALSE(FileExists(path));
}

}  // namespace
