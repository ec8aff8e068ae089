// The installation pipeline on a real payload in folders of the test's own: what a failure, a
// refusal after the work is done, or a lack of memory leaves.
#include <gtest/gtest.h>

#include <stdexcept>

#include "activation.h"
#include "data_file_writer.h"
#include "dcl.h"
#include "failing_allocation.h"
#include "member_extraction.h"
#include "pipeline.h"
#include "run_paths.h"
#include "test_paths.h"
#include "win32_fixtures.h"

namespace {

// A window titled like the Display control panel whose Cancel counts its clicks.
class DisplayPropertiesWindow {
 public:
  DisplayPropertiesWindow() {
    WNDCLASSA cls{};
    cls.lpfnWndProc = &Proc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "PipelineTestPanel";
    RegisterClassA(&cls);
    window_ = CreateWindowA("PipelineTestPanel", "Display Properties", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                            100, nullptr, nullptr, cls.hInstance, nullptr);
    CreateWindowA("BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 80, 24, window_,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), cls.hInstance, nullptr);
    Cancels = 0;
  }
  ~DisplayPropertiesWindow() { DestroyWindow(window_); }

  static inline int Cancels = 0;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) ++Cancels;
    return DefWindowProcA(window, message, wParam, lParam);
  }
  HWND window_;
};

class Pipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    RunPaths.WindowsDir = TempFolder();
    RunPaths.StagingFile = RunPaths.WindowsDir + "temp1.dat";
    options.SaverName = "Aquarium Test";
    members[msCompressionLib] = Member("impborl.dat", BuiltCodec(), 3);
    members[msSaverEngine] = Member("Aquarium Test.scr", TextBytes(3000), 2);
    members[msExtraFile] = Member("bubbles.scf", TextBytes(10), 5);
    members[msSaverLib1] = Member("saver1.dll", TextBytes(20), 5);
    members[msSaverLib2] = Member("saver2.dll", TextBytes(30), 5);
    members[msDataFile] = Member("Aquarium.ssd", BuildDataFile({}, 0, {}), 4);
  }

  // Stages the payload and runs the start-up's part in it: header, codec, saver's folder.
  void Stage() {
    WriteAll(RunPaths.StagingFile, BuildInstallerImage(std::vector<uint8_t>(64, 'S'), options, members));
    ASSERT_EQ(ReadPayloadHeader(), 0);
    PrepareSaverDir(PayloadHeader);
  }

  std::string Program() const { return RunPaths.WindowsDir + "Aquarium Test.scr"; }

  TPayloadOptions options;
  TMemberInputs members;
  CapturedBoxes boxes;
};

TEST_F(Pipeline, ARefusedUninstallEntryIsShownAndTheInstallationStands) {
  Stage();
  // The registry refuses a key name of more than 255 characters.
  RunPaths.SaverName = std::string(300, 'k');
  EXPECT_EQ(RunInstallation(), 0);
  ASSERT_EQ(boxes.general.size(), 1u);
  EXPECT_EQ(boxes.general[0].rfind("Failed to create key", 0), 0u) << boxes.general[0];
  EXPECT_EQ(ReadAll(Program()), TextBytes(3000));  // not taken back
  EXPECT_FALSE(FileExists(RunPaths.SaverIniPath));
}

TEST_F(Pipeline, AFailedAllocationInTheLastStepIsShownAndTheInstallationStands) {
  Stage();
  DisplayPropertiesWindow panel;
  // A name of a length of its own: the uninstall entry's key path is the run's one allocation of
  // its size, made in the last step, after the files are in place.
  RunPaths.SaverName = std::string(180, 'n');
  const size_t keyPathSize = UninstallKeyPath().size() + 1;
  {
    FailingAllocation noKeyPath(keyPathSize, 0);
    EXPECT_EQ(RunInstallation(), 0);
  }
  EXPECT_EQ(boxes.general, std::vector<std::string>{"Out of memory."});
  EXPECT_FALSE(UninstallEntryExists(RunPaths.SaverName));  // the step that failed wrote nothing
  // What the installation wrote stands: a failed run would take the program back and close
  // Display Properties a second time.
  EXPECT_EQ(ReadAll(Program()), TextBytes(3000));
  for (const char* name : {"bubbles.scf", "saver1.dll", "saver2.dll"})
    EXPECT_TRUE(FileExists(RunPaths.SaverDir + name)) << name;
  EXPECT_EQ(DisplayPropertiesWindow::Cancels, 1);
  // The run's ending ran: the journal and the data file are gone.
  EXPECT_FALSE(FileExists(RunPaths.SaverIniPath));
  EXPECT_FALSE(FileExists(RunPaths.DataFilePath));
  DeleteUninstallEntry(RunPaths.SaverName);
}

// Whatever else the last step throws is shown by the general error display, and the run goes on
// to its ending.
TEST_F(Pipeline, AnyOtherFailureInTheLastStepIsShownAndGoesNoFurther) {
  RunFinishingStep([] { throw std::length_error("basic_string::_M_create"); });
  RunFinishingStep([] { throw 42; });
  EXPECT_EQ(boxes.general, (std::vector<std::string>{"basic_string::_M_create.", "Unexpected failure."}));
}

TEST_F(Pipeline, OutOfMemoryIsMinus7WithTheUsualEnding) {
  CodecInWindowsFolder codec;
  // Bytes that barely compress: a stored size that no other allocation of the run has.
  std::vector<uint8_t> noise(40000);
  uint32_t state = 12345;
  for (auto& byte : noise) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  members[msSaverLib1] = Member("saver1.dll", noise, 5, true);
  const size_t stored = dcl::Implode(noise).size();
  Stage();
  {
    // The stored bytes are read; their copy for the library cannot be had.
    FailingAllocation noCopy(stored, 1);
    EXPECT_EQ(RunInstallation(), -7);
  }
  EXPECT_FALSE(FileExists(Program()));  // taken back
  EXPECT_FALSE(FileExists(RunPaths.SaverIniPath));
  EXPECT_FALSE(FileExists(RunPaths.DataFilePath));
}

TEST_F(Pipeline, AFailureClosesDisplayPropertiesAgain) {
  members[msDataFile] = Member("Aquarium.ssd", std::vector<uint8_t>(10, 0), 4);  // shorter than its header
  Stage();
  DisplayPropertiesWindow panel;
  EXPECT_EQ(RunInstallation(), 100);
  EXPECT_EQ(DisplayPropertiesWindow::Cancels, 2);  // before the work and after the failure
  EXPECT_FALSE(FileExists(Program()));
}

TEST_F(Pipeline, TheDocumentIsJournalledAtStartUpAndAgainWhenInstalled) {
  options.ShowDocument = 1;
  members[msDocument] = Member("readme.txt", TextBytes(50), 5);
  Stage();
  ASSERT_EQ(ExtractDocument(), 0);
  ASSERT_EQ(ExtractRemainingMembers(RunPaths.StagingFile), 0);
  const std::string doc = RunPaths.SaverDir + "readme.txt";
  std::vector<std::string> journal;
  for (int i = 0; i < 4; ++i) {
    char value[MAX_PATH] = "";
    GetPrivateProfileStringA("Files", std::to_string(i).c_str(), "", value, MAX_PATH, RunPaths.SaverIniPath.c_str());
    journal.emplace_back(value);
  }
  EXPECT_EQ(journal, (std::vector<std::string>{RunPaths.SaverIniPath, doc, RunPaths.StagingFile, doc}));
  EXPECT_EQ(ReadAll(doc), TextBytes(50));
}

}  // namespace
