// The staging copy in the prefix's real Windows folder.
#include <gtest/gtest.h>

#include <cstring>

#include "error_boxes.h"
#include "file_io.h"
#include "general_error.h"
#include "run_paths.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

const std::string kTempFolder = WindowsFolder() + "TEMP\\";
const std::string kStaging = kTempFolder + "QVF temp";

void ClearStaging() {
  RemoveStagingCopy();  // lets go of the run's folder: the next preparation chooses anew
  for (int n = 1; n <= 5; ++n) DeleteFileA((kStaging + "\\temp" + std::to_string(n) + ".dat").c_str());
  RemoveDirectoryA(kStaging.c_str());
  DeleteFileA(kStaging.c_str());
}

TEST(Staging, TakesTheFirstFreeNumber) {
  ClearStaging();
  PreparePaths();
  EXPECT_EQ(RunPaths.WindowsDir, WindowsFolder());
  EXPECT_EQ(RunPaths.StagingDir, kStaging);
  EXPECT_EQ(RunPaths.StagingFile, kStaging + "\\temp1.dat");
  WriteAll(kStaging + "\\temp1.dat", {1});
  WriteAll(kStaging + "\\temp2.dat", {2});
  PreparePaths();
  EXPECT_EQ(RunPaths.StagingFile, kStaging + "\\temp3.dat");
  CapturedBoxes boxes;
  ASSERT_EQ(MakeStagingCopy(), 0);
  EXPECT_EQ(FileSizeOf(RunPaths.StagingFile), FileSizeOf(RunPaths.ExePath));
  // Held: others may read the copy but not write, rename or delete it.
  EXPECT_EQ(ReadShared(RunPaths.StagingFile).size(), static_cast<size_t>(FileSizeOf(RunPaths.ExePath)));
  EXPECT_EQ(CreateFileA(RunPaths.StagingFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFileA(RunPaths.StagingFile.c_str(), (kStaging + "\\moved.dat").c_str()));
  EXPECT_FALSE(DeleteFileA(RunPaths.StagingFile.c_str()));
  RemoveStagingCopy();
  EXPECT_FALSE(FileExists(RunPaths.StagingFile));
  ClearStaging();
}

// A "QVF temp" that is not ours (a file, a folder anybody may write, a link to a folder elsewhere)
// is left as it is: the copy goes to a fresh folder of ours beside it.
void ExpectAFreshFolderOfOurs(const std::string& what) {
  PreparePaths();
  EXPECT_NE(RunPaths.StagingDir, kStaging) << what;
  EXPECT_EQ(RunPaths.StagingDir.rfind(kStaging + " ", 0), 0u) << what;
  EXPECT_EQ(RunPaths.StagingFile, RunPaths.StagingDir + "\\temp1.dat") << what;
  CapturedBoxes boxes;
  ASSERT_EQ(MakeStagingCopy(), 0) << what;
  EXPECT_EQ(ReadShared(RunPaths.StagingFile).size(), static_cast<size_t>(FileSizeOf(RunPaths.ExePath))) << what;
  EXPECT_FALSE(FileExists(kStaging + "\\temp1.dat")) << what;
  RemoveStagingCopy();
  EXPECT_FALSE(FileExists(RunPaths.StagingDir)) << what;
}

TEST(Staging, AFileOrAFolderAnybodyMayWriteInTheFoldersPlaceIsNotWrittenThrough) {
  ClearStaging();
  WriteAll(kStaging, {0});  // a file named "QVF temp"
  ExpectAFreshFolderOfOurs("a file");
  EXPECT_EQ(ReadAll(kStaging), std::vector<uint8_t>{0});
  ClearStaging();

  ASSERT_TRUE(CreateDirectoryA(kStaging.c_str(), nullptr));
  ASSERT_TRUE(MakeWritableByAll(kStaging));
  ExpectAFreshFolderOfOurs("a folder anybody may write");
  EXPECT_TRUE(FileExists(kStaging));
  ClearStaging();
}

TEST(Staging, AUnixLinkInTheFoldersPlaceIsNotWrittenThrough) {
  ClearStaging();
  const std::string elsewhere = TempFolder() + "elsewhere";
  ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
  ASSERT_TRUE(MakeUnixLink(elsewhere, kStaging));
  ExpectAFreshFolderOfOurs("a link");
  EXPECT_FALSE(FileExists(elsewhere + "\\temp1.dat"));
  RemoveUnixLink(kStaging);
  ClearStaging();
}

// Where no staging folder of ours can be had (the Windows folder's TEMP is a file), the copy
// fails with the system's own cause of the last attempt, its code and its text, not a stand-in.
TEST(Staging, NoFolderOfOursFailsWithTheSystemsCause) {
  ClearStaging();
  const std::string temp = kTempFolder.substr(0, kTempFolder.size() - 1);
  ASSERT_TRUE(MoveFileA(temp.c_str(), (temp + ".away").c_str())) << GetLastError();
  WriteAll(temp, {0});
  const BOOL probeMade = CreateDirectoryA((kStaging + " probe").c_str(), nullptr);
  const TStatus cause = static_cast<TStatus>(GetLastError());
  PreparePaths();
  CapturedBoxes boxes;
  const TStatus code = MakeStagingCopy();
  const std::string stagingDir = RunPaths.StagingDir;
  ClearStaging();
  DeleteFileA(temp.c_str());
  ASSERT_TRUE(MoveFileA((temp + ".away").c_str(), temp.c_str())) << GetLastError();
  ASSERT_FALSE(probeMade);
  EXPECT_EQ(stagingDir, "");
  EXPECT_NE(cause, ERROR_CANNOT_MAKE);
  EXPECT_EQ(code, cause);
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"Build Error: Problem copying " + RunPaths.ExePath + " to " + kStaging +
                                                  "\\temp1.dat. \r\n\r\n" + SystemErrorText(cause)});
}

// A Windows folder longer than MAX_PATH (the system reports the size it needs) is read whole.
UINT WINAPI LongFolder(LPSTR buffer, UINT size) {
  const std::string folder = "C:\\" + std::string(300, 'w');
  if (size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return static_cast<UINT>(folder.size());
}

TEST(SystemFolders, AFolderLongerThanMaxPathIsReadWhole) {
  EXPECT_EQ(FolderFromSystem(&LongFolder), "C:\\" + std::string(300, 'w') + "\\");
  EXPECT_EQ(WindowsFolderPath(), WindowsFolder());
}

TEST(SaverFolder, NamedAfterTheSaverWithTheJournalAsEntryZero) {
  PreparePaths();
  TPayloadHeader header{};
  std::memcpy(header.SaverName, "Aquarium Test", 13);
  SetMemberFileName(header.Members[msDataFile], "Aquarium.ssd");
  FilesJournal.JournalIndex = 0;
  RunPaths.SaverName = SaverNameOf(header);  // as the header's reading sets it
  PrepareSaverDir(header);
  EXPECT_EQ(RunPaths.SaverDir, WindowsFolder() + "Aquarium Test dir\\");
  EXPECT_EQ(RunPaths.DataFilePath, RunPaths.SaverDir + "Aquarium.ssd");
  char value[512];
  GetPrivateProfileStringA("Files", "0", "", value, sizeof value, RunPaths.SaverIniPath.c_str());
  EXPECT_EQ(std::string(value), RunPaths.SaverIniPath);
  EXPECT_EQ(FilesJournal.JournalIndex, 1);

  TPayloadHeader unnamed{};
  RunPaths.SaverName = SaverNameOf(unnamed);
  PrepareSaverDir(unnamed);
  EXPECT_EQ(RunPaths.SaverDir, WindowsFolder() + "TempSaverDir dir\\");
  EXPECT_EQ(RunPaths.SaverName, "");
}

TEST(Journal, ARefusedWriteIsAGeneralFailureNamingTheJournal) {
  FilesJournal.Open(WindowsFolder() + "no such folder\\saver.ini");
  try {
    FilesJournal.Record("x");
    FAIL() << "no failure";
  } catch (const EGeneralFailure& failure) {
    EXPECT_EQ(std::string(failure.what()), "Unable to write to " + WindowsFolder() + "no such folder\\saver.ini");
  }
}

}  // namespace
