#include <gtest/gtest.h>

#include "messages.h"

namespace {

TEST(FileErrorText, BusyScreenSaverNeverNamesTheFile) {
  EXPECT_EQ(FileErrorText(-38, "C:\\WINDOWS\\Aqua.scr", "ignored"),
            "Setup Error: Screen Saver file is busy.\r\n\r\n"
            "Please close the screen saver control panel and try again.");
}

TEST(FileErrorText, BusyFileNamesItAfterABlankLine) {
  EXPECT_EQ(FileErrorText(-32, "C:\\x\\a.dll", ""),
            "Installation Error: \r\n\r\nFile C:\\x\\a.dll is busy and cannot be replaced. "
            "Please close any other application that may be using this file and try again.");
}

TEST(FileErrorText, ZeroIsUnspecifiedAndOtherCodesGetTheSystemText) {
  EXPECT_EQ(FileErrorText(0, "name", "x"), "Installation Error: Unspecified error.");
  EXPECT_EQ(FileErrorText(-30, "C:\\a.txt", ""),
            "Installation Error: Problem using C:\\a.txt. \r\n\r\n");
  EXPECT_EQ(FileErrorText(5, "C:\\a.txt", "Access denied"),
            "Installation Error: Problem using C:\\a.txt. \r\n\r\nAccess denied");
}

TEST(SystemText, TrailingControlsBlanksAndStopsAreStripped) {
  EXPECT_EQ(TrimSystemText("Access is denied.\r\n"), "Access is denied");
  EXPECT_EQ(TrimSystemText("Done. . \t\r\n"), "Done");
  EXPECT_EQ(TrimSystemText("v1.5 ready"), "v1.5 ready");
  EXPECT_EQ(TrimSystemText(""), "");
  EXPECT_EQ(TrimSystemText(". \r\n"), "");
}

TEST(GeneralErrorText, FullStopOnlyAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(GeneralErrorText("Unable to write to C:\\a\\saver.ini"),
            "Unable to write to C:\\a\\saver.ini.");
  EXPECT_EQ(GeneralErrorText("Code 5"), "Code 5.");
  EXPECT_EQ(GeneralErrorText("Ends with colon:"), "Ends with colon:.");
  EXPECT_EQ(GeneralErrorText("Already."), "Already.");
  EXPECT_EQ(GeneralErrorText("Blank "), "Blank ");
  EXPECT_EQ(GeneralErrorText("Line\n"), "Line\n");
  EXPECT_EQ(GeneralErrorText("(bracket)"), "(bracket)");  // ')' sorts before '.'
  EXPECT_EQ(GeneralErrorText(""), "");
}

TEST(CorruptedInstallerText, EndsWithABlank) {
  EXPECT_EQ(CorruptedInstallerText(-531), "Installer file is corrupted. Error -531. ");
  EXPECT_EQ(CorruptedInstallerText(100), "Installer file is corrupted. Error 100. ");
}

}  // namespace
