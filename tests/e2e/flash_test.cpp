// The Flash movie and the Flash Player check, with the stand-in control and runtime installer.
#include <gtest/gtest.h>

#include "control_ids.h"
#include "flash_environment.h"
#include "installer_run.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

std::vector<std::string> LogLines(const std::string& path) {
  const auto bytes = ReadAll(path);
  std::vector<std::string> lines;
  std::string line;
  for (char c : bytes) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  return lines;
}

bool Logged(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) return true;
  return false;
}

class Flash : public ::testing::Test {
 protected:
  void SetUp() override {
    log = TempFolder() + "standin.log";
    SetEnvironmentVariableA("STANDIN_LOG", log.c_str());
    SetEnvironmentVariableA("STANDIN_FLASH_VERSION", nullptr);
    SetEnvironmentVariableA("STANDIN_FLASH_FAIL_VERSION", nullptr);
    SetEnvironmentVariableA("STANDIN_FLASHAX_NOOP", nullptr);
    SetEnvironmentVariableA("STANDIN_FLASH_FAIL_CREATE", nullptr);
    SetEnvironmentVariableA("STANDIN_FLASH_FAIL_STOP", nullptr);
    DeleteFileA((WindowsFolder() + "flashax.exe").c_str());
    options.ContentMode = cmFlashMovieToo;
    options.HasLicense = 1;
    options.SaverName = "Aquarium";
    members = PictureMembers(true);
    members[msContent] = Member("installer.scf", TextBytes(2000), 5);
    members[msFlashInstaller] = Member("flashax.exe", ReadAll(driver::HostPath(FLASHAX_EXE)), 3);
  }
  void TearDown() override {
    SetEnvironmentVariableA("STANDIN_FLASH_FAIL_CREATE", nullptr);
    RegisterFlashStandIn();
  }

  // Runs the installer until its window shows (then closes it) or it ends by itself.
  std::vector<std::string> RunToWindowAndClose(HWND* windowOut = nullptr) {
    InstallerRun run(options, members);
    HWND window = run.WaitForWindow("Install Aquarium", 20000);
    if (windowOut) *windowOut = window;
    if (window) driver::PressCloseBox(window);
    run.WaitForExit();
    return LogLines(log);
  }

  std::string log;
  TPayloadOptions options;
  TMemberInputs members;
};

TEST_F(Flash, MovieShowsInsideTheContentPanelAndIsSetUpInOrder) {
  InstallerRun run(options, members);
  HWND window = run.WaitForWindow("Install Aquarium", 20000);
  ASSERT_NE(window, nullptr);
  HWND panel = driver::ChildById(window, kContentPanelId);
  HWND movie = driver::FindChild(panel, "StandInFlashMovie", WindowsFolder() + "Aquarium dir\\installer.scf");
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(GetParent(movie), panel);
  const RECT r = driver::RectInParent(movie);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 1);
  EXPECT_EQ(r.right - r.left, 350);
  EXPECT_EQ(r.bottom - r.top, 150);
  run.Screenshot(window, "flash-movie-licence.bmp");
  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(), 1);

  const auto lines = LogLines(log);
  // The movie is the last control created; its calls in their order.
  size_t start = 0;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind("flash create #", 0) == 0) start = i;
  const std::string movieOrdinal = lines[start].substr(std::string("flash create ").size());
  std::vector<std::string> calls;
  for (size_t i = start; i < lines.size(); ++i)
    if (lines[i].find("SetClientSite") == std::string::npos && lines[i].rfind("flash DoVerb", 0) != 0 &&
        lines[i].rfind("flash window", 0) != 0 && lines[i] != "flash Close" && lines[i] != "flash InPlaceDeactivate")
      calls.push_back(lines[i]);
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "flash create " + movieOrdinal,
                       "flash Movie=" + WindowsFolder() + "Aquarium dir\\installer.scf",
                       "flash SetVariable(WMode,Opaque)", "flash SAlign", "flash SetVariable(LT,alClient)",
                       "flash Menu=false", "flash StopPlay", "flash release " + movieOrdinal}));
  // Every probe was released and never got a window.
  int created = 0, released = 0, windows = 0;
  for (const auto& l : lines) {
    created += l.rfind("flash create #", 0) == 0 && l.find("refused") == std::string::npos;
    released += l.rfind("flash release #", 0) == 0;
    windows += l.rfind("flash window", 0) == 0;
  }
  EXPECT_EQ(created, released);
  EXPECT_EQ(windows, 1);
}

TEST_F(Flash, TheRequiredVersionRunsNothingAndAnOlderOneRunsTheRuntimeInstaller) {
  SetEnvironmentVariableA("STANDIN_FLASH_VERSION", "327722");
  HWND window = nullptr;
  auto lines = RunToWindowAndClose(&window);
  EXPECT_NE(window, nullptr);
  EXPECT_FALSE(Logged(lines, "flashax"));
  EXPECT_FALSE(FileExists(WindowsFolder() + "flashax.exe"));

  for (const char* old : {"327721", "0"}) {
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("STANDIN_FLASH_VERSION", old);
    lines = RunToWindowAndClose(&window);
    EXPECT_NE(window, nullptr) << old;
    // The installer starts the runtime installer and goes on without waiting for it: its line
    // may come after the installer has ended.
    for (int waited = 0; !Logged(lines, "flashax /Q") && waited < 5000; waited += 50) {
      Sleep(50);
      lines = LogLines(log);
    }
    EXPECT_TRUE(Logged(lines, "flashax /Q")) << old;
  }
  SetEnvironmentVariableA("STANDIN_FLASH_VERSION", "393216");  // 6.0: no installer
  DeleteFileA(log.c_str());
  lines = RunToWindowAndClose(&window);
  EXPECT_FALSE(Logged(lines, "flashax"));
}

TEST_F(Flash, AFailingVersionQuestionCountsAsTooOld) {
  SetEnvironmentVariableA("STANDIN_FLASH_FAIL_VERSION", "1");
  HWND window = nullptr;
  auto lines = RunToWindowAndClose(&window);
  // The installer does not wait for the runtime installer's process: its line may come later.
  for (int waited = 0; !Logged(lines, "flashax /Q") && waited < 5000; waited += 50) {
    Sleep(50);
    lines = LogLines(log);
  }
  EXPECT_TRUE(Logged(lines, "flashax /Q"));
}

TEST_F(Flash, NoPlayerAndAnInstallerThatRegistersNothingEndsWithMinus402) {
  // A player that cannot be created, whatever the runtime installer does.
  SetEnvironmentVariableA("STANDIN_FLASH_FAIL_CREATE", "all");
  SetEnvironmentVariableA("STANDIN_FLASHAX_NOOP", "1");
  InstallerRun run(options, members);
  const auto texts = run.AnswerBoxesUntilExit(120000);
  EXPECT_EQ(texts, std::vector<std::string>{"Installer file is corrupted. Error -402. "});
  EXPECT_EQ(run.WaitForExit(), 2);
  // The installer starts the runtime installer and waits for a player, not for the process: the
  // runtime installer may log after the installer has ended.
  const DWORD start = GetTickCount();
  while (!Logged(LogLines(log), "flashax /Q") && GetTickCount() - start < 10000) Sleep(100);
  EXPECT_TRUE(Logged(LogLines(log), "flashax /Q"));
}

TEST_F(Flash, TheRuntimeInstallerCanBringThePlayer) {
  ASSERT_EQ(UnregisterFlashStandIn(), S_OK);
  HWND window = nullptr;
  const auto lines = RunToWindowAndClose(&window);
  EXPECT_NE(window, nullptr);
  EXPECT_TRUE(Logged(lines, "flashax /Q"));
  EXPECT_TRUE(Logged(lines, "flash registered"));
}

TEST_F(Flash, AnOldPlayerWithoutARuntimeInstallerIsMinus402NotMinus531) {
  SetEnvironmentVariableA("STANDIN_FLASH_VERSION", "100");
  members[msFlashInstaller].reset();
  InstallerRun run(options, members);
  EXPECT_EQ(run.AnswerBoxesUntilExit(), std::vector<std::string>{"Installer file is corrupted. Error -402. "});
}

TEST_F(Flash, AMovieThatCannotStopStillLetsTheWindowCloseAndTheProgramEnd) {
  SetEnvironmentVariableA("STANDIN_FLASH_FAIL_STOP", "1");
  const auto stagingBefore = StagingCopies();
  InstallerRun run(options, members);
  HWND window = run.WaitForWindow("Install Aquarium", 20000);
  ASSERT_NE(window, nullptr);
  driver::PressCloseBox(window);
  EXPECT_EQ(run.WaitForExit(10000), 1);
  EXPECT_TRUE(Logged(LogLines(log), "flash StopPlay"));
  EXPECT_EQ(StagingCopies(), stagingBefore);
}

TEST_F(Flash, PictureModeClosesWithoutCallingAnyControl) {
  options.ContentMode = cmPicture;
  members = PictureMembers(true);
  HWND window = nullptr;
  const auto lines = RunToWindowAndClose(&window);
  EXPECT_NE(window, nullptr);
  EXPECT_FALSE(Logged(lines, "flash StopPlay"));
  EXPECT_FALSE(Logged(lines, "flash window"));
}

}  // namespace
