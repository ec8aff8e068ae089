// Member extraction from real payloads built with the project's writer, into folders of the
// test's own; the codec library, when a test needs it, lies in the prefix's Windows folder.
#include <gtest/gtest.h>

#include "dcl.h"
#include "member_extraction.h"
#include "run_paths.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string folder = TempFolder();
    RunPaths.WindowsDir = folder + "win\\";
    RunPaths.SaverDir = folder + "Aquarium dir\\";
    CreateDirectoryA(RunPaths.WindowsDir.c_str(), nullptr);
    CreateDirectoryA(RunPaths.SaverDir.c_str(), nullptr);
    RunPaths.SaverIniPath = RunPaths.SaverDir + "saver.ini";
    RunPaths.StagingFile = folder + "temp1.dat";
    FilesJournal.Open(RunPaths.SaverIniPath);
    FilesJournal.JournalIndex = 0;
    members[msCompressionLib] = Member("impborl.dat", BuiltCodec(), 3);
  }

  void WritePayload() {
    WriteAll(RunPaths.StagingFile, BuildInstallerImage(std::vector<uint8_t>(64, 'S'), options, members));
  }

  // Reads the header as start-up does, with the codec written to the Windows folder.
  TStatus Start() {
    WritePayload();
    return ReadPayloadHeader();
  }

  std::vector<std::string> Journal() {
    std::vector<std::string> entries;
    for (int i = 0;; ++i) {
      char value[1024];
      const DWORD n = GetPrivateProfileStringA("Files", std::to_string(i).c_str(), "\x01", value,
                                               sizeof value, RunPaths.SaverIniPath.c_str());
      if (std::string(value, n) == "\x01") return entries;
      entries.emplace_back(value, n);
    }
  }

  // Rewrites one member record of the staging copy in place.
  template <typename Change>
  void ChangeRecord(int slot, Change change) {
    auto image = ReadAll(RunPaths.StagingFile);
    auto* header = reinterpret_cast<TPayloadHeader*>(image.data() + kPayloadOffset);
    change(header->Members[slot]);
    WriteAll(RunPaths.StagingFile, image);
    PayloadHeader = *header;
  }

  TPayloadOptions options;
  TMemberInputs members;
  CapturedBoxes boxes;
};

TEST_F(Extraction, HeaderReadWritesTheCodecIntoTheWindowsFolderWithoutJournal) {
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(ReadAll(RunPaths.WindowsDir + "impborl.dll"), BuiltCodec());
  EXPECT_EQ(FilesJournal.JournalIndex, 0);
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(Extraction, ShortHeaderIsMinus31ReportedOnceNamingTheStagingCopy) {
  WriteAll(RunPaths.StagingFile, std::vector<uint8_t>(kPayloadOffset + 3000, 0));
  EXPECT_EQ(ReadPayloadHeader(), -31);
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0], "Installation Error: Problem using " + RunPaths.StagingFile + ". \r\n\r\n");
}

TEST_F(Extraction, AFailingCodecMemberIsReportedTwice) {
  WritePayload();
  ChangeRecord(msCompressionLib, [](TPayloadMember& m) { m.EndOffset += 1000000; });
  EXPECT_EQ(ReadPayloadHeader(), -30);
  ASSERT_EQ(boxes.texts.size(), 2u);
  EXPECT_NE(boxes.texts[0].find(RunPaths.WindowsDir + "impborl.dll"), std::string::npos);
  EXPECT_NE(boxes.texts[1].find(RunPaths.StagingFile), std::string::npos);
}

TEST_F(Extraction, BusyCodecLibraryIsKeptAndCountsAsExtracted) {
  const std::string dll = RunPaths.WindowsDir + "impborl.dll";
  WriteAll(dll, {9, 9, 9});
  BusyFile busy(dll);
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(ReadAll(dll), (std::vector<uint8_t>{9, 9, 9}));
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(Extraction, MemberPastTheEndIsMinus30WithTheDestinationCleared) {
  members[msLicense] = Member("agreement.txt", TextBytes(500), 5);
  ASSERT_EQ(Start(), 0);
  ChangeRecord(msLicense, [](TPayloadMember& m) { m.EndOffset += 10; });
  const std::string path = RunPaths.SaverDir + "agreement.txt";
  WriteAll(path, {1, 2, 3});
  EXPECT_EQ(ExtractLicense(), -30);
  EXPECT_FALSE(FileExists(path));
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0], "Installation Error: Problem using " + path + ". \r\n\r\n");
  EXPECT_EQ(FilesJournal.JournalIndex, 0);
}

TEST_F(Extraction, ReversedOffsetsAreAShortReadNotAHugeAllocation) {
  members[msLicense] = Member("agreement.txt", TextBytes(500), 5);
  ASSERT_EQ(Start(), 0);
  ChangeRecord(msLicense, [](TPayloadMember& m) { m.EndOffset = m.StartOffset - 1000; });
  EXPECT_EQ(ExtractLicense(), -30);
}

TEST_F(Extraction, ImplodedMemberOfTheWrongSizeIsMinus13AndTheFileStays) {
  CodecInWindowsFolder codec;
  members[msLicense] = Member("agreement.txt", TextBytes(5000), 5, true);
  ASSERT_EQ(Start(), 0);
  ChangeRecord(msLicense, [](TPayloadMember& m) { m.FileSize = 4999; });
  EXPECT_EQ(ExtractLicense(), -13);
  EXPECT_EQ(FileSizeOf(RunPaths.SaverDir + "agreement.txt"), 5000);
}

TEST_F(Extraction, AnExpansionFarLongerThanItsRecordStopsOneBytePastIt) {
  CodecInWindowsFolder codec;
  members[msLicense] = Member("agreement.txt", std::vector<uint8_t>(4000000, 'z'), 5, true);
  ASSERT_EQ(Start(), 0);
  ChangeRecord(msLicense, [](TPayloadMember& m) { m.FileSize = 100; });
  EXPECT_EQ(ExtractLicense(), -13);
  EXPECT_EQ(FileSizeOf(RunPaths.SaverDir + "agreement.txt"), 101);
}

TEST_F(Extraction, ImplodedMemberWithoutTheCodecIsMinus35) {
  DeleteFileA((WindowsFolder() + "impborl.dll").c_str());
  members[msLicense] = Member("agreement.txt", TextBytes(5000), 5, true);
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(ExtractLicense(), -35);
  EXPECT_FALSE(FileExists(RunPaths.SaverDir + "agreement.txt"));
}

TEST_F(Extraction, EmptySlotsAreMinus531SilentlyAtStartUpAndReportedDuringInstallation) {
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(ExtractLicense(), -531);
  EXPECT_EQ(ExtractFlashInstaller(), -531);
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(ExtractRemainingMembers(RunPaths.StagingFile), -531);
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0], "Installation Error: Problem using . \r\n\r\n");
}

TEST_F(Extraction, UpperCaseDllIsClearedLikeAnyFileAndABusyOneIsLeft) {
  members[msLicense] = Member("agreement.txt", TextBytes(100), 5);
  members[msSaverEngine] = Member("Aquarium.scr", TextBytes(300), 2);
  members[msExtraFile] = Member("LIB.DLL", TextBytes(200), 5);
  for (int slot : {msDataFile, msSaverLib1, msSaverLib2})
    members[slot] = Member("file" + std::to_string(slot) + ".dat", TextBytes(50), 5);
  ASSERT_EQ(Start(), 0);
  const std::string busyPath = RunPaths.SaverDir + "LIB.DLL";
  WriteAll(busyPath, {7});
  BusyFile busy(busyPath);
  FilesJournal.Record(RunPaths.SaverIniPath);
  ASSERT_EQ(ExtractLicense(), 0);
  EXPECT_EQ(ExtractRemainingMembers(RunPaths.StagingFile), 0);
  ASSERT_EQ(boxes.texts.size(), 1u);  // the busy-file dialog of the clearing
  EXPECT_NE(boxes.texts[0].find("File " + busyPath + " is busy"), std::string::npos);
  EXPECT_EQ(ReadAll(busyPath), std::vector<uint8_t>{7});
  EXPECT_EQ(ReadAll(RunPaths.WindowsDir + "Aquarium.scr"), TextBytes(300));
  // Everything the run created, in order, the busy file included.
  EXPECT_EQ(Journal(), (std::vector<std::string>{
                           RunPaths.SaverIniPath, RunPaths.SaverDir + "agreement.txt",
                           RunPaths.StagingFile, RunPaths.WindowsDir + "Aquarium.scr", busyPath,
                           RunPaths.SaverDir + "file8.dat", RunPaths.SaverDir + "file9.dat",
                           RunPaths.SaverDir + "file10.dat"}));
}

TEST_F(Extraction, NamesWithFolderPartsAreRefusedAndWriteNothing) {
  for (const char* name : {"..\\..\\evil.txt", "sub/evil.txt", "C:evil.txt", ".."}) {
    members[msLicense] = Member(name, TextBytes(10), 5);
    ASSERT_EQ(Start(), 0);
    boxes.texts.clear();
    EXPECT_EQ(ExtractLicense(), -533) << name;
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Installation Error: Problem using " + std::string(name) + ". \r\n\r\n");
  }
  EXPECT_FALSE(FileExists(RunPaths.SaverDir + "..\\..\\evil.txt"));
  EXPECT_FALSE(FileExists(RunPaths.SaverDir + "sub"));
}

TEST_F(Extraction, PictureModeWritesTheContentAsABitmapName) {
  members[msContent] = Member("installer.scf", TextBytes(100), 5);
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(ExtractContent(cmPicture), 0);
  EXPECT_TRUE(FileExists(RunPaths.SaverDir + "installer.bmp"));
  EXPECT_EQ(MemberFileName(PayloadHeader.Members[msContent]), "installer.bmp");
  ASSERT_EQ(Start(), 0);
  EXPECT_EQ(ExtractContent(cmFlashMovieToo), 0);
  EXPECT_TRUE(FileExists(RunPaths.SaverDir + "installer.scf"));
}

}  // namespace
