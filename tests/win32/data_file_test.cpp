// The data file's expansion and the activation, against real files in folders of the test's own
// and the prefix's real system.ini and registry.
#include <gtest/gtest.h>

#include <cstring>

#include "activation.h"
#include "data_file_writer.h"
#include "dataFunctions_shared.h"
#include "general_error.h"
#include "member_extraction.h"
#include "placing.h"
#include "run_paths.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

class DataFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string folder = TempFolder();
    RunPaths.WindowsDir = folder;
    RunPaths.SaverDir = folder + "Aquarium dir\\";
    CreateDirectoryA(RunPaths.SaverDir.c_str(), nullptr);
    RunPaths.DataFilePath = RunPaths.SaverDir + "Aquarium.ssd";
    RunPaths.SaverIniPath = RunPaths.SaverDir + "saver.ini";
    FilesJournal.Open(RunPaths.SaverIniPath);
    FilesJournal.JournalIndex = 0;
    CloseDataFile();
  }

  TStatus Expand(const std::vector<uint8_t>& dataFile) {
    WriteAll(RunPaths.DataFilePath, dataFile);
    const TStatus header = ReadDataFileHeader();
    return header != kOk ? header : ExpandDataFile();
  }

  static TDataEntryInput Entry(const std::string& name, const std::vector<uint8_t>& content) {
    TDataEntryInput entry;
    entry.Name = name;
    entry.Stored = content;
    entry.FileSize = static_cast<int32_t>(content.size());
    return entry;
  }

  CapturedBoxes boxes;
};

TEST_F(DataFile, ShorterThanItsHeaderIs100AfterItsDialog) {
  EXPECT_EQ(Expand(std::vector<uint8_t>(1000, 0)), 100);
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0].rfind("Installation Error: Problem using " + RunPaths.DataFilePath + ". \r\n\r\n", 0), 0u);
}

TEST_F(DataFile, AChunkThatEndsEarlyIs100AndLeavesNoPartialFile) {
  auto file = BuildDataFile({}, 0, {Entry("notes.txt", TextBytes(3000))});
  file.resize(file.size() - 100);
  EXPECT_EQ(Expand(file), 100);
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0].rfind("Screen Saver Error: Problem reading a chunk of the screen saver data file:\r\n", 0), 0u);
  EXPECT_FALSE(FileExists(RunPaths.SaverDir + "notes.txt"));
  EXPECT_FALSE(DataFileReader.Open);  // closed, so the pipeline can remove it
}

TEST_F(DataFile, EntriesLoseTheirFolderPartsAndImplodedOnesExpand) {
  CodecInWindowsFolder codec;
  auto packed = Entry("..\\..\\fish.txt", TextBytes(4000));
  packed.Stored = Member("x", TextBytes(4000), 5, true).Stored;
  packed.Compressed = true;
  ASSERT_EQ(Expand(BuildDataFile({}, 0, {Entry("sub\\notes.txt", TextBytes(300)), packed})), 0);
  EXPECT_EQ(ReadAll(RunPaths.SaverDir + "notes.txt"), TextBytes(300));
  EXPECT_EQ(ReadAll(RunPaths.SaverDir + "fish.txt"), TextBytes(4000));
  EXPECT_FALSE(FileExists(RunPaths.WindowsDir + "fish.txt"));
}

TEST_F(DataFile, NoEntriesSucceedsAndClosesTheFile) {
  // The archive mark then goes to the saver's folder itself; Wine keeps no such mark on folders,
  // so only the outcome is checked here.
  EXPECT_EQ(Expand(BuildDataFile({}, 0, {})), 0);
  EXPECT_FALSE(DataFileReader.Open);
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(DataFile, EveryEntryIsJournalledAndOnesWritingNoFilePassWhateverTheirName) {
  std::vector<TDataEntryInput> entries{Entry("first.txt", TextBytes(10)), Entry("..", {}), Entry(".", {}),
                                       Entry("sub\\", {}), Entry("last.txt", TextBytes(20))};
  EXPECT_EQ(Expand(BuildDataFile({}, 0, entries)), 0);
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(ReadAll(RunPaths.SaverDir + "last.txt"), TextBytes(20));
  const std::string& dir = RunPaths.SaverDir;
  std::vector<std::string> journal;
  for (int i = 0; i < 6; ++i) {
    char value[MAX_PATH] = "";
    GetPrivateProfileStringA("Files", std::to_string(i).c_str(), "", value, MAX_PATH, RunPaths.SaverIniPath.c_str());
    journal.emplace_back(value);
  }
  EXPECT_EQ(journal, (std::vector<std::string>{dir + "first.txt", dir + "..", dir + ".", dir, dir + "last.txt", ""}));
  // The first entry's file is marked for archiving.
  EXPECT_TRUE(GetFileAttributesA((dir + "first.txt").c_str()) & FILE_ATTRIBUTE_ARCHIVE);
  // A name that is not a file's still fails an entry that would write one.
  boxes.texts.clear();
  EXPECT_EQ(Expand(BuildDataFile({}, 0, {Entry("..", TextBytes(5))})), -533);
}

TEST_F(DataFile, CopyingTheMovieWithoutTheMovieIsMinus532) {
  EXPECT_EQ(Expand(BuildDataFile({}, 3, {Entry("screensaver.swf", {})})), -532);
  WriteAll(RunPaths.SaverDir + "installer.scf", TextBytes(64));
  TDataEntryInput copy = Entry("second.swf", {});
  copy.EntryKind = kCopiedEntry;
  EXPECT_EQ(Expand(BuildDataFile({}, 3, {Entry("screensaver.swf", {}), copy})), 0);
  EXPECT_EQ(ReadAll(RunPaths.SaverDir + "second.swf"), TextBytes(64));
}

TEST_F(DataFile, ATableThatCannotFitIsRefusedBeforeAnythingIsWritten) {
  for (int32_t count : {-1, 109, 100000}) {
    auto file = BuildDataFile({}, 0, {Entry("notes.txt", TextBytes(10))});
    std::memcpy(file.data() + offsetof(TDataFileHeader, EntryCount), &count, 4);
    boxes.texts.clear();
    EXPECT_EQ(Expand(file), -535) << count;
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Screen Saver Error: Problem opening screen saver data file:\r\n-535");
    EXPECT_FALSE(FileExists(RunPaths.SaverDir + "notes.txt"));
  }
}

TEST_F(DataFile, ReaderCodesForEntriesItCannotReach) {
  uint8_t kind = 9;
  WriteAll(RunPaths.DataFilePath, BuildDataFile({}, 0, {Entry("a.txt", {'a'})}));
  ASSERT_EQ(OpenDataFile(RunPaths.DataFilePath, true), 0);
  EXPECT_TRUE(DataFileReader.Open);
  EXPECT_EQ(OpenDataFile(RunPaths.DataFilePath, true), 0);
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"Screen Saver data file already in use."});
  EXPECT_EQ(boxes.kinds[0], TBoxKind::Information);
  EXPECT_EQ(ExtractDataFileEntry(RunPaths.SaverDir, 2, FilesJournal, &kind), -12);
  EXPECT_EQ(kind, 0);
  EXPECT_EQ(CloseDataFile(), 0);
  EXPECT_EQ(CloseDataFile(), 0);
  EXPECT_EQ(ExtractDataFileEntry(RunPaths.SaverDir, 1, FilesJournal, &kind), -15);
}

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    RunPaths.WindowsDir = WindowsFolder();
    RunPaths.SaverName = "Aquarium Test";
  }
  std::string SystemIni() {
    char value[MAX_PATH];
    GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", value, sizeof value, "system.ini");
    return value;
  }
};

TEST_F(Activation, SystemIniGetsTheShortNameTheLongOrTheFullPath) {
  const std::string longName = "Aquarium Long Name.scr";
  WriteAll(WindowsFolder() + longName, {1});
  SetMemberFileName(PayloadHeader.Members[msSaverEngine], longName);
  ASSERT_EQ(ActivateSaver(), 0);
  char shortPath[MAX_PATH];
  GetShortPathNameA((WindowsFolder() + longName).c_str(), shortPath, MAX_PATH);
  const std::string expected = std::string(shortPath).substr(std::string(shortPath).rfind('\\') + 1);
  EXPECT_EQ(SystemIni(), expected);
  EXPECT_NE(SystemIni(), longName);
  DeleteFileA((WindowsFolder() + longName).c_str());

  WriteAll(WindowsFolder() + "AQUA.SCR", {1});
  SetMemberFileName(PayloadHeader.Members[msSaverEngine], "AQUA.SCR");
  ASSERT_EQ(ActivateSaver(), 0);
  EXPECT_EQ(SystemIni(), "AQUA.SCR");
  DeleteFileA((WindowsFolder() + "AQUA.SCR").c_str());

  SetMemberFileName(PayloadHeader.Members[msSaverEngine], "Missing Saver.scr");
  ASSERT_EQ(ActivateSaver(), 0);
  EXPECT_EQ(SystemIni(), WindowsFolder() + "Missing Saver.scr");
}

TEST_F(Activation, AnEmptyNameWritesAndRemovesNoUninstallEntry) {
  RunPaths.SaverName = "";
  EXPECT_EQ(WriteUninstallEntry(), 0);
  RemoveUninstallEntry();
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallEntryPath("").c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key),
            ERROR_SUCCESS);
  DWORD values = 99;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  EXPECT_EQ(values, 0u);  // no DisplayName or UninstallString on the Uninstall key itself
}

TEST_F(Activation, ASecondInstallationOverwritesItsOwnEntry) {
  ASSERT_EQ(WriteUninstallEntry(), 0);
  SetUninstallValue("Aquarium Test", "DisplayName", "changed");
  ASSERT_EQ(WriteUninstallEntry(), 0);
  EXPECT_EQ(UninstallValue("Aquarium Test", "DisplayName"), "Aquarium Test Screen Saver");
  EXPECT_EQ(UninstallValue("Aquarium Test", "UninstallString"), "\"" + WindowsFolder() + "Aquarium Test.scr\" /u");
  RemoveUninstallEntry();
  EXPECT_FALSE(UninstallEntryExists("Aquarium Test"));

  // An entry of an earlier installer of the format, its path unquoted, is this screen saver's.
  SetUninstallValue("Aquarium Test", "UninstallString", WindowsFolder() + "AQUARIUM TEST.scr /u");
  ASSERT_EQ(WriteUninstallEntry(), 0);
  EXPECT_EQ(UninstallValue("Aquarium Test", "UninstallString"), "\"" + WindowsFolder() + "Aquarium Test.scr\" /u");
  RemoveUninstallEntry();
  EXPECT_FALSE(UninstallEntryExists("Aquarium Test"));
}

// Another program's key of the same name is neither written nor taken back, by an installation
// or by a failed one.
TEST_F(Activation, AnotherProgramsEntryOfTheSameNameIsLeftAsItIs) {
  SetUninstallValue("Aquarium Test", "DisplayName", "Aquarium Test 2000");
  SetUninstallValue("Aquarium Test", "UninstallString", "C:\\Other\\uninstall.exe");
  try {
    WriteUninstallEntry();
    ADD_FAILURE() << "another program's entry was written";
  } catch (const EGeneralFailure& failure) {
    EXPECT_EQ(std::string(failure.what()), "No uninstall entry was written: HKEY_LOCAL_MACHINE\\" + UninstallKeyPath() +
                                               " belongs to another program");
  }
  UndoInstallation();
  EXPECT_EQ(UninstallValue("Aquarium Test", "DisplayName"), "Aquarium Test 2000");
  EXPECT_EQ(UninstallValue("Aquarium Test", "UninstallString"), "C:\\Other\\uninstall.exe");
  DeleteUninstallEntry("Aquarium Test");
}

// A key that an earlier removal could not take away (its values gone, or the writing stopped
// before UninstallString) holds nothing of anybody else's: the installation writes its entry
// there. A key with any other value stays another program's.
TEST_F(Activation, AKeyWithoutAnUninstallStringIsOursWhenItHoldsNothingElse) {
  const auto written = [] {
    try {
      WriteUninstallEntry();
      return true;
    } catch (const EGeneralFailure&) {
      return false;
    }
  };
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, UninstallEntryPath("Aquarium Test").c_str(), 0, nullptr, 0,
                            KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(written()) << "an empty key";
  EXPECT_EQ(UninstallValue("Aquarium Test", "UninstallString"), "\"" + WindowsFolder() + "Aquarium Test.scr\" /u");
  DeleteUninstallEntry("Aquarium Test");

  SetUninstallValue("Aquarium Test", "DisplayName", "Aquarium Test Screen Saver");
  EXPECT_TRUE(written()) << "our name alone";
  EXPECT_EQ(UninstallValue("Aquarium Test", "UninstallString"), "\"" + WindowsFolder() + "Aquarium Test.scr\" /u");
  DeleteUninstallEntry("Aquarium Test");

  SetUninstallValue("Aquarium Test", "DisplayName", "Aquarium Test Screen Saver");
  SetUninstallValue("Aquarium Test", "Publisher", "Other Corp");
  EXPECT_FALSE(written()) << "another value beside our name";
  EXPECT_EQ(UninstallValue("Aquarium Test", "UninstallString"), "<none>");
  DeleteUninstallEntry("Aquarium Test");
  SetUninstallValue("Aquarium Test", "DisplayName", "Aquarium Test 2000");
  EXPECT_FALSE(written()) << "another name";
  EXPECT_EQ(UninstallValue("Aquarium Test", "UninstallString"), "<none>");
  DeleteUninstallEntry("Aquarium Test");
}

}  // namespace
