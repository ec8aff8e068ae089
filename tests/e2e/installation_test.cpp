// Whole installations, clicked through as a user does, and silent ones.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "control_ids.h"
#include "data_file_writer.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

const std::string kSaver = "Aquarium";

std::string ShortName(const std::string& path) {
  char shortPath[MAX_PATH];
  const DWORD n = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
  const std::string full(shortPath, n);
  return full.substr(full.rfind('\\') + 1);
}

// The reference shape: a licence, Display Properties opened, slot 5 empty with leftovers, the
// program and both libraries imploded, a data file whose one entry copies the content movie.
struct ReferencePayload {
  TPayloadOptions options;
  TMemberInputs members;

  explicit ReferencePayload(uint8_t contentMode) {
    options.ContentMode = contentMode;
    options.HasLicense = 1;
    options.OpenDisplayProperties = 1;
    options.SaverName = "Aquarium";
    members = PictureMembers(true);
    members[msContent] = Member("installer.scf", TextBytes(5000), 5);
    TDataEntryInput entry;
    entry.Name = "screensaver.swf";
    members[msDataFile] = Member("Aquarium.ssd", BuildDataFile({}, 3, {entry}), 4);
  }

  // A data file whose one entry is written from its chunk: what a silent installation needs,
  // since it extracts no content movie to copy.
  void WithPlainDataFile() {
    TDataEntryInput entry;
    entry.Name = "screensaver.swf";
    entry.Stored = TextBytes(5000);
    entry.FileSize = 5000;
    members[msDataFile] = Member("Aquarium.ssd", BuildDataFile({}, 0, {entry}), 4);
  }

  std::vector<uint8_t> Image() const {
    auto image = BuildInstallerImage(BuiltInstallExe(), options, members);
    // Slot 5 empty, with leftovers in its other fields, as authoring tools leave it.
    auto* header = reinterpret_cast<TPayloadHeader*>(image.data() + kPayloadOffset);
    header->Members[msDocument].Compressed = 1;
    header->Members[msDocument].StartOffset = header->Members[msSaverEngine].StartOffset;
    header->Members[msDocument].EndOffset = header->Members[msSaverEngine].StartOffset;
    return image;
  }
};

class Installation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    CopyFileA(driver::HostPath(DESK_CPL).c_str(), (std::string(system) + "\\desk.cpl").c_str(), FALSE);
  }

  void SetUp() override {
    log = TempFolder() + "standin.log";
    SetEnvironmentVariableA("STANDIN_LOG", log.c_str());
    DeleteFileA((WindowsFolder() + "Aquarium.scr").c_str());
    DeleteUninstallEntry(kSaver);
  }

  void TearDown() override {
    // Display Properties stays open after the installer ends; close it for the next test.
    HWND display = driver::WaitForWindow("Display Properties", 0, 3000);
    if (display) SendDlgItemMessageA(display, IDCANCEL, BM_CLICK, 0, 0);
  }

  const std::string saverDir = WindowsFolder() + "Aquarium dir\\";
  std::string log;
};

// Reads the status line while the installer runs, in the order the texts appear, and how long
// the bar stood full before the process ended.
std::vector<std::string> WatchStatus(InstallerRun& run, HWND window, DWORD& fullBarMs) {
  std::vector<std::string> seen;
  HWND status = driver::ChildById(window, kLabCopyingId);
  HWND bar = driver::ChildById(window, kProgressId);
  DWORD fullSince = 0;
  while (WaitForSingleObject(run.process.handle, 20) == WAIT_TIMEOUT) {
    if (!IsWindow(status)) continue;
    const std::string text = IsWindowVisible(status) ? driver::Text(status) : "";
    if (!text.empty() && (seen.empty() || seen.back() != text)) seen.push_back(text);
    if (!fullSince && driver::ProgressPosition(bar) == 10) fullSince = GetTickCount();
  }
  fullBarMs = fullSince ? GetTickCount() - fullSince : 0;
  return seen;
}

TEST_F(Installation, AcceptAndInstallPlacesEverythingAndEndsQuietly) {
  ReferencePayload payload(cmFlashMovieToo);
  const auto stagingBefore = StagingCopies();
  InstallerRun run(payload.Image());
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  driver::Click(driver::ChildById(window, kInstallId));
  DWORD fullBarMs = 0;
  const auto texts = WatchStatus(run, window, fullBarMs);
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Preparing for installation...", "Writing screen saver files...",
                       "Expanding files...", "Opening Display Properties control panel...",
                       "Screen Saver Installation and Setup Complete."}));
  EXPECT_GE(fullBarMs, 1500u);  // two pauses of a second with the full bar

  EXPECT_EQ(ReadAll(WindowsFolder() + "Aquarium.scr"), TextBytes(30000));
  EXPECT_EQ(ReadAll(WindowsFolder() + "impborl.dll"), BuiltCodec());
  for (const char* name : {"installer.scf", "agreement.txt", "bubbles.scf", "saver1.dll", "saver2.dll"})
    EXPECT_TRUE(FileExists(saverDir + name)) << name;
  EXPECT_EQ(ReadAll(saverDir + "screensaver.swf"), ReadAll(saverDir + "installer.scf"));
  EXPECT_FALSE(FileExists(saverDir + "saver.ini"));
  EXPECT_FALSE(FileExists(saverDir + "Aquarium.ssd"));
  EXPECT_EQ(StagingCopies(), stagingBefore);
  EXPECT_EQ(SystemIniSaver(), ShortName(WindowsFolder() + "Aquarium.scr"));
  EXPECT_EQ(UninstallValue(kSaver, "DisplayName"), "Aquarium Screen Saver");
  EXPECT_EQ(UninstallValue(kSaver, "UninstallString"), "\"" + WindowsFolder() + "Aquarium.scr\" /u");
  EXPECT_NE(ReadLog(log).find("desk.cpl open page=1"), std::string::npos) << ReadLog(log);
}

TEST_F(Installation, SilentPayloadNeverShowsAWindowAndEndsWithZero) {
  ReferencePayload payload(cmSilent);
  // A silent installation extracts no content movie, so its data file cannot copy one (saverpack
  // refuses such a project): the entry is written from its chunk instead.
  payload.WithPlainDataFile();
  DeleteFileA((saverDir + "screensaver.swf").c_str());
  InstallerRun run(payload.Image());
  bool anyWindow = false;
  while (WaitForSingleObject(run.process.handle, 10) == WAIT_TIMEOUT)
    for (HWND w : driver::WindowsOf(run.process.id)) anyWindow |= driver::Text(w) != "";
  EXPECT_FALSE(anyWindow);
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_TRUE(FileExists(WindowsFolder() + "Aquarium.scr"));
  EXPECT_EQ(ReadAll(saverDir + "screensaver.swf"), TextBytes(5000));
  EXPECT_EQ(UninstallValue(kSaver, "DisplayName"), "Aquarium Screen Saver");
}

TEST_F(Installation, SilentPayloadWhoseDataFileCopiesTheMovieFailsWithMinus532) {
  // With no window there is no movie in the saver's folder to copy.
  DeleteFileA((saverDir + "installer.scf").c_str());
  ReferencePayload payload(cmSilent);
  InstallerRun run(payload.Image());
  EXPECT_EQ(run.AnswerBoxesUntilExit(), std::vector<std::string>{"Installer file is corrupted. Error -532. "});
  EXPECT_EQ(run.WaitForExit(), 2);
}

TEST_F(Installation, FailingSilentInstallationShowsTheStepsBoxAndTheSummaryAndEndsWithTwo) {
  ReferencePayload payload(cmSilent);
  payload.members[msSaverLib1]->FileSize += 1;  // expands one byte short of its record
  InstallerRun run(payload.Image());
  const auto texts = run.AnswerBoxesUntilExit();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "Installation Error: Problem using " + saverDir + "saver1.dll. \r\n\r\n");
  EXPECT_EQ(texts[1], "Installer file is corrupted. Error -13. ");
  EXPECT_EQ(run.WaitForExit(), 2);
  EXPECT_FALSE(FileExists(WindowsFolder() + "Aquarium.scr"));  // taken back
}

TEST_F(Installation, BusyProgramFileFailsWithItsTextAndTakesTheOldEntryBack) {
  // An earlier installation of the same name left its entry.
  SetUninstallValue(kSaver, "DisplayName", "old");
  SetUninstallValue(kSaver, "UninstallString", "\"" + WindowsFolder() + kSaver + ".scr\" /u");
  WriteAll(WindowsFolder() + "Aquarium.scr", {1});
  BusyFile busy(WindowsFolder() + "Aquarium.scr");

  ReferencePayload payload(cmFlashMovieToo);
  InstallerRun run(payload.Image());
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  driver::Click(driver::ChildById(window, kInstallId));
  EXPECT_EQ(run.AnswerBox(), "Setup Error: Screen Saver file is busy.\r\n\r\n"
                             "Please close the screen saver control panel and try again.");
  HWND status = driver::ChildById(window, kLabCopyingId);
  const DWORD start = GetTickCount();
  while (IsWindowEnabled(driver::ChildById(window, kInstallId)) && GetTickCount() - start < 20000) Sleep(50);
  EXPECT_EQ(driver::Text(status), "Install failed. Please try again with new copy of the installer. Error: -38");
  EXPECT_EQ(driver::ProgressPosition(driver::ChildById(window, kProgressId)), 0);
  EXPECT_FALSE(IsWindowEnabled(driver::ChildById(window, kInstallId)));
  EXPECT_FALSE(IsWindowEnabled(driver::ChildById(window, kDeclineId)));
  EXPECT_EQ(UninstallValue(kSaver, "DisplayName"), "<none>");
  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 2);
}

TEST_F(Installation, OneInstallationForTwoClicksAndNoClosingMeanwhile) {
  ReferencePayload payload(cmFlashMovieToo);
  payload.options.OpenDisplayProperties = 0;
  InstallerRun run(payload.Image());
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  HWND install = driver::ChildById(window, kInstallId);
  driver::Click(install);
  driver::Click(install);
  Sleep(1500);
  driver::PressCloseBox(window);
  Sleep(500);
  EXPECT_TRUE(IsWindow(window));  // refused while the installation runs
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_EQ(ReadLog(log).find("desk.cpl"), std::string::npos);  // not asked for
}

TEST_F(Installation, DeclineRemovesTheStagingCopyAndInstallsNothing) {
  ReferencePayload payload(cmFlashMovieToo);
  const auto stagingBefore = StagingCopies();
  InstallerRun run(payload.Image());
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(StagingCopies().size(), stagingBefore.size() + 1);
  driver::Click(driver::ChildById(window, kDeclineId));
  EXPECT_EQ(run.WaitForExit(), 1);
  EXPECT_EQ(StagingCopies(), stagingBefore);
  EXPECT_FALSE(FileExists(WindowsFolder() + "Aquarium.scr"));
  EXPECT_EQ(UninstallValue(kSaver, "DisplayName"), "<none>");
}

TEST_F(Installation, AnOpenDisplayPropertiesIsClosedFirst) {
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  driver::Process panel = driver::Start(std::string(system) + "\\rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,1");
  ASSERT_NE(driver::WaitForWindow("Display Properties"), nullptr);
  ReferencePayload payload(cmSilent);
  payload.WithPlainDataFile();
  payload.options.OpenDisplayProperties = 0;
  InstallerRun run(payload.Image());
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_EQ(driver::WaitForExit(panel, 5000), 0);
  EXPECT_NE(ReadLog(log).find("desk.cpl cancel"), std::string::npos);
}

}  // namespace

namespace {

std::string NewStagingCopy(const std::set<std::string>& before) {
  for (const std::string& name : StagingCopies())
    if (!before.count(name)) return WindowsFolder() + "TEMP\\QVF temp\\" + name;
  return {};
}

TEST_F(Installation, TheStagingCopyAndTheInstallerCanBeReadButNotWrittenRenamedOrDeletedUntilTheEnd) {
  ReferencePayload payload(cmFlashMovieToo);
  payload.options.OpenDisplayProperties = 0;
  const auto stagingBefore = StagingCopies();
  InstallerRun run(payload.Image());
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  const std::string copy = NewStagingCopy(stagingBefore);
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(ReadShared(copy).size(), ReadAll(run.path).size());
  // The installer's own file, held since the start, can be neither renamed nor written.
  EXPECT_FALSE(MoveFileA(run.path.c_str(), (run.path + ".moved").c_str()));
  EXPECT_EQ(CreateFileA(run.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFileA(copy.c_str(), (copy + ".swapped").c_str()));
  EXPECT_FALSE(DeleteFileA(copy.c_str()));
  driver::Click(driver::ChildById(window, kInstallId));
  EXPECT_EQ(run.WaitForExit(60000), 0);
  EXPECT_EQ(StagingCopies(), stagingBefore);
}

// The cursor the installer's thread shows when the mouse moves over its window, read through
// input shared with it. (Cursor handles are the process's own: only equality within one
// installer process can be compared.)
HCURSOR CursorOver(HWND window) {
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  AttachThreadInput(GetCurrentThreadId(), thread, TRUE);
  SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  HCURSOR cursor = GetCursor();
  AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
  return cursor;
}

TEST_F(Installation, TheHourglassStaysThroughThePausesAndTheArrowComesBack) {
  // A picture window whose data file wants the movie copied: the installation fails at -532 and
  // the window stays (no movie from an earlier test may lie in the saver's folder).
  DeleteFileA((saverDir + "installer.scf").c_str());
  ReferencePayload payload(cmPicture);
  payload.members[msContent] = Member("installer.scf", GradientBitmap(350, 150), 5);
  payload.options.OpenDisplayProperties = 0;
  InstallerRun run(payload.Image());
  HWND window = run.WaitForWindow("Install Aquarium");
  ASSERT_NE(window, nullptr);
  const HCURSOR arrow = CursorOver(window);
  driver::Click(driver::ChildById(window, kInstallId));
  Sleep(1500);  // inside a pause: the mouse moves over the window
  EXPECT_NE(CursorOver(window), arrow);
  const DWORD start = GetTickCount();
  while (IsWindowEnabled(driver::ChildById(window, kInstallId)) && GetTickCount() - start < 20000) Sleep(50);
  EXPECT_EQ(CursorOver(window), arrow);
  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 2);
}

TEST_F(Installation, TheDocumentIsOpenedWithTheShellAfterTheInstallation) {
  // Wine has no handler for this type: ours records what the shell asks it to open.
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, ".aqdoc", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("AquariumDoc"), 12);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "AquariumDoc\\shell\\open\\command", 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            0);
  const std::string command = "\"" + driver::HostPath(FLASHAX_EXE) + "\" /open \"%1\"";
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                 static_cast<DWORD>(command.size() + 1));
  RegCloseKey(key);

  ReferencePayload payload(cmSilent);
  payload.WithPlainDataFile();
  payload.options.OpenDisplayProperties = 0;
  payload.options.ShowDocument = 1;
  payload.members[msDocument] = Member("readme.aqdoc", TextBytes(70), 5);
  auto image = BuildInstallerImage(BuiltInstallExe(), payload.options, payload.members);
  InstallerRun run(image);
  EXPECT_EQ(run.WaitForExit(60000), 0);
  EXPECT_EQ(ReadAll(saverDir + "readme.aqdoc"), TextBytes(70));
  const DWORD start = GetTickCount();
  while (ReadLog(log).find("/open") == std::string::npos && GetTickCount() - start < 10000) Sleep(100);
  EXPECT_NE(ReadLog(log).find("flashax /open \"" + saverDir + "readme.aqdoc\""), std::string::npos) << ReadLog(log);
}

}  // namespace
