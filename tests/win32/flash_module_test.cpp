// The movie and probe operations against the stand-in control, hosted in a panel of this process.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include "driver.h"
#include "flash_movie.h"
#include "run_paths.h"
#include "standin_registration.h"
#include "test_paths.h"

namespace {

int CreationsLogged(const std::string& log) {
  const auto bytes = ReadAll(log);
  const std::string text(bytes.begin(), bytes.end());
  int count = 0;
  for (size_t at = 0; (at = text.find("flash create #", at)) != std::string::npos; ++at) ++count;
  return count;
}

class FlashModule : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    CallStandInExport(driver::HostPath(FLASH_STANDIN_DLL), "DllRegisterServer");
    log = TempFolder() + "standin.log";
    SetEnvironmentVariableA("STANDIN_LOG", log.c_str());
    SetEnvironmentVariableA("STANDIN_FLASH_FAIL_CREATE", nullptr);
    panel = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 352, 152, nullptr, nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    FreeFlashMovie(FlashMovie);
    DestroyWindow(panel);
    SetEnvironmentVariableA("STANDIN_FLASH_FAIL_CREATE", nullptr);
  }
  std::string log;
  HWND panel = nullptr;
};

TEST_F(FlashModule, AControlInTheVariableMeansNoAttempt) {
  ASSERT_EQ(CreateFlashMovie(FlashMovie, panel, "C:\\movie.swf"), 0);
  const int before = CreationsLogged(log);
  EXPECT_EQ(CreateFlashMovie(FlashMovie, panel, "C:\\other.swf"), 0);
  EXPECT_EQ(CreationsLogged(log), before);
}

TEST_F(FlashModule, AFailedFirstCreationLeavesMinus1WithTheMoviePlaying) {
  // The stand-in counts creations per process: refuse the next one only.
  std::unique_ptr<TShockwaveFlash> counter = std::make_unique<TShockwaveFlash>();
  counter.reset();
  const auto bytes = ReadAll(log);
  const std::string text(bytes.begin(), bytes.end());
  const size_t at = text.rfind("flash create #") + 14;
  const int next = std::stoi(text.substr(at)) + 1;
  SetEnvironmentVariableA("STANDIN_FLASH_FAIL_CREATE", std::to_string(next).c_str());
  EXPECT_EQ(CreateFlashMovie(FlashMovie, panel, "C:\\movie.swf"), -1);
  ASSERT_NE(FlashMovie, nullptr);
  EXPECT_NE(driver::FindChild(panel, "StandInFlashMovie", "C:\\movie.swf"), nullptr);
}

TEST_F(FlashModule, FreeingTwiceIsHarmless) {
  ASSERT_EQ(CreateFlashMovie(FlashMovie, panel, "C:\\movie.swf"), 0);
  EXPECT_EQ(FreeFlashMovie(FlashMovie), 0);
  EXPECT_EQ(FlashMovie, nullptr);
  EXPECT_EQ(FreeFlashMovie(FlashMovie), 0);
}

TEST_F(FlashModule, NoPlayerAtAllFailsEveryAttempt) {
  SetEnvironmentVariableA("STANDIN_FLASH_FAIL_CREATE", "all");
  EXPECT_EQ(CreateFlashMovie(FlashMovie, panel, "C:\\movie.swf"), -1);
  EXPECT_EQ(FlashMovie, nullptr);
  EXPECT_EQ(InstalledFlashVersion(), 0);
  EXPECT_FALSE(FlashPlayerAvailable());
  EXPECT_EQ(FlashProbe, nullptr);
}

TEST(RunFlashInstaller, WithoutTheFileIsMinus401) {
  RunPaths.WindowsDir = TempFolder();
  EXPECT_EQ(RunFlashInstaller(), -401);
  WriteAll(RunPaths.WindowsDir + "flashax.exe", ReadAll(driver::HostPath(FLASHAX_EXE)));
  SetEnvironmentVariableA("STANDIN_FLASHAX_NOOP", "1");
  EXPECT_EQ(RunFlashInstaller(), 0);
  SetEnvironmentVariableA("STANDIN_FLASHAX_NOOP", nullptr);
}

}  // namespace
