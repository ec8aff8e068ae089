#include "pipeline.h"

#include <windows.h>

#include <exception>
#include <new>

#include "activation.h"
#include "display_properties.h"
#include "error_boxes.h"
#include "general_error.h"
#include "member_extraction.h"
#include "placing.h"
#include "replace_files.h"
#include "run_paths.h"

namespace {

// The steps that end every run: the journal released and removed with the data file, the cursor
// restored, and after a failure Display Properties closed and the program taken back. A plain
// function, run on every way out of the installation: a refusal in it reaches the caller's
// handler like any other.
void EndRun(HCURSOR cursor, bool failed) {
  FilesJournal.Close();
  RemoveFile(RunPaths.SaverIniPath, false);
  RemoveFile(RunPaths.DataFilePath, false);
  SetCursor(cursor);
  if (failed) {
    CloseDisplayProperties();
    UndoInstallation();
  }
}

TStatus InstallationSteps() {
  CloseDisplayProperties();
  TStatus result = ExtractRemainingMembers(RunPaths.StagingFile);
  if (result == kOk) result = ReadDataFileHeader();
  if (result == kOk) result = ExpandDataFile();
  if (result == kOk) result = ActivateSaver();
  return result;
}

}  // namespace

void RunFinishingStep(void (*operation)()) {
  try {
    operation();
  } catch (const EGeneralFailure& failure) {
    ShowGeneralError(failure.what());
  } catch (const std::bad_alloc&) {
    ShowGeneralError("Out of memory");
  } catch (const std::exception& failure) {
    ShowGeneralError(failure.what());
  } catch (...) {
    // Nothing may skip the run's ending (EndRun) after the installation stands.
    ShowGeneralError("Unexpected failure");
  }
}

TStatus RunInstallation() {
  const HCURSOR cursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  TStatus result = kOk;
  try {
    result = InstallationSteps();
  } catch (const std::bad_alloc&) {
    ShowGeneralError("Out of memory");
    result = kNoMemory;
  } catch (...) {
    // A failure that is not a code (a refused profile or registry write) fails the run too.
    EndRun(cursor, true);
    throw;
  }
  if (result == kOk) {
    RunFinishingStep([] { LaunchDisplayProperties(); });
    RunFinishingStep([] { OpenDocument(); });
    RunFinishingStep([] { WriteUninstallEntry(); });
  }
  EndRun(cursor, result != kOk);
  return result;
}
