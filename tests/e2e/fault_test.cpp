// Faults of the machine: a disk that fills, files held busy by another program at every place
// the installer writes, a read-only destination.
#include <gtest/gtest.h>

#include <set>

#include "data_file_writer.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

const std::string kCorrupted = "Installer file is corrupted. Error ";
const std::string kSaverDir = WindowsFolder() + "Aquarium dir\\";


std::vector<uint8_t> SilentInstaller(const std::string& name, TMemberInputs members) {
  TPayloadOptions options;
  options.ContentMode = cmSilent;
  options.SaverName = name;
  TDataEntryInput entry;
  entry.Name = "notes.txt";
  entry.Stored = TextBytes(100);
  entry.FileSize = 100;
  members[msDataFile] = Member(name + ".ssd", BuildDataFile({}, 0, {entry}), 4);
  return BuildInstallerImage(BuiltInstallExe(), options, members);
}

TEST(Faults, ADiskThatFillsReportsTheShortWriteAndStillRemovesTheStagingCopy) {
  // scripts/test links a small tmpfs into the prefix as this saver's folder.
  const std::string tiny = WindowsFolder() + "Tiny dir\\";
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExA(tiny.c_str(), nullptr, &total, nullptr) || total.QuadPart > (1u << 20))
    GTEST_SKIP() << "no small disk at " << tiny;
  TMemberInputs members = PictureMembers(false);
  members[msExtraFile] = Member("big.dat", TextBytes(800000), 5);
  const auto before = StagingCopies();
  InstallerRun run(SilentInstaller("Tiny", members));
  const auto texts = run.AnswerBoxesUntilExit();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "Installation Error: Problem using " + tiny + "big.dat. \r\n\r\n" +
                          SystemErrorText(ERROR_DISK_FULL));
  EXPECT_EQ(texts[1], kCorrupted + std::to_string(ERROR_DISK_FULL) + ". ");
  EXPECT_EQ(run.WaitForExit(), 2);
  EXPECT_EQ(StagingCopies(), before);
  DeleteFileA((tiny + "big.dat").c_str());
}

TEST(Faults, ABusyJournalIsAGeneralErrorAndTheWindowCanBeClosed) {
  CreateDirectoryA(kSaverDir.c_str(), nullptr);
  WriteAll(kSaverDir + "saver.ini", {});
  HANDLE busy = CreateFileA((kSaverDir + "saver.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  TPayloadOptions options;
  options.ContentMode = cmPicture;
  options.SaverName = "Aquarium";
  InstallerRun run(options, PictureMembers(false));
  EXPECT_EQ(run.AnswerBox("Install", "OK"), "Unable to write to " + kSaverDir + "saver.ini.");
  HWND window = run.WaitForWindow("Quillview Installer");
  ASSERT_NE(window, nullptr);
  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 2);
  CloseHandle(busy);
}

TEST(Faults, ABusyDataFileFailsTheInstallationWithItsCode) {
  CreateDirectoryA(kSaverDir.c_str(), nullptr);
  WriteAll(kSaverDir + "Aquarium.ssd", {1});
  HANDLE busy = CreateFileA((kSaverDir + "Aquarium.ssd").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  InstallerRun run(SilentInstaller("Aquarium", PictureMembers(false)));
  const auto texts = run.AnswerBoxesUntilExit();
  CloseHandle(busy);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_NE(texts[0].find("File " + kSaverDir + "Aquarium.ssd is busy"), std::string::npos) << texts[0];
  EXPECT_EQ(texts[1].rfind("Installation Error: Problem using " + kSaverDir + "Aquarium.ssd. ", 0), 0u) << texts[1];
  EXPECT_EQ(texts[2], kCorrupted + std::to_string(ERROR_SHARING_VIOLATION) + ". ");
  EXPECT_EQ(run.WaitForExit(), 2);
}

TEST(Faults, ABusyDataFileEntryFailsTheInstallationWithTheChunkMessage) {
  CreateDirectoryA(kSaverDir.c_str(), nullptr);
  WriteAll(kSaverDir + "notes.txt", {1});
  HANDLE busy = CreateFileA((kSaverDir + "notes.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  InstallerRun run(SilentInstaller("Aquarium", PictureMembers(false)));
  const auto texts = run.AnswerBoxesUntilExit();
  CloseHandle(busy);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "Screen Saver Error: Problem reading a chunk of the screen saver data file:\r\n" +
                          SystemErrorText(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(texts[1], kCorrupted + std::to_string(ERROR_SHARING_VIOLATION) + ". ");
  EXPECT_EQ(run.WaitForExit(), 2);
}

TEST(Faults, AReadOnlyDestinationIsReplaced) {
  WriteAll(WindowsFolder() + "Aquarium.scr", {1});
  SetFileAttributesA((WindowsFolder() + "Aquarium.scr").c_str(), FILE_ATTRIBUTE_READONLY);
  InstallerRun run(SilentInstaller("Aquarium", PictureMembers(false)));
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_EQ(ReadAll(WindowsFolder() + "Aquarium.scr"), TextBytes(30000));
}

}  // namespace
