#include <gtest/gtest.h>

#include "path_rules.h"

namespace {

TEST(PathRules, FoldersGetExactlyOneTrailingBackslash) {
  EXPECT_EQ(WithTrailingBackslash("C:\\WINDOWS"), "C:\\WINDOWS\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\"), "C:\\");  // a drive root as the Windows folder
}

TEST(PathRules, StagingAndSaverFolders) {
  EXPECT_EQ(StagingFileName("C:\\WINDOWS\\TEMP\\QVF temp", 3), "C:\\WINDOWS\\TEMP\\QVF temp\\temp3.dat");
  EXPECT_EQ(SaverDirFor("C:\\WINDOWS\\", "Aquarium"), "C:\\WINDOWS\\Aquarium dir\\");
  EXPECT_EQ(SaverDirFor("C:\\WINDOWS\\", ""), "C:\\WINDOWS\\TempSaverDir dir\\");
}

TEST(PathRules, ScreenSaversInAnyCaseLibrariesOnlyInLowerCase) {
  EXPECT_TRUE(HasScreenSaverExtension("C:\\W\\SAVER.SCR"));
  EXPECT_TRUE(HasScreenSaverExtension("a.Scr"));
  EXPECT_FALSE(HasScreenSaverExtension("movie.scf"));
  EXPECT_FALSE(HasScreenSaverExtension("C:\\a.scr\\file"));
  EXPECT_TRUE(HasLibraryExtension("C:\\W\\impborl.dll"));
  EXPECT_FALSE(HasLibraryExtension("C:\\W\\LIB.DLL"));
  EXPECT_FALSE(HasLibraryExtension("dll"));
}

}  // namespace
