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

// The steps that end every run: the journal released and removed with the data file, the
// cursor restored, and after a failure Display Properties closed and the program taken back.
struct Tidy {
  HCURSOR cursor;
  const TStatus& result;
  ~Tidy() {
    FilesJournal.Close();
    RemoveFile(RunPaths.SaverIniPath, false);
    RemoveFile(RunPaths.DataFilePath, false);
    SetCursor(cursor);
    // A failure that is not a code (a refused profile or registry write) fails the run too.
    if (result != kOk || std::uncaught_exceptions() > 0) {
      CloseDisplayProperties();
      UndoInstallation();
    }
  }
};

// The last step's operations follow a finished installation and never undo it: a refusal (the
// uninstall entry's key, the shell) is shown by the general error display and the run goes on.
template <typename Operation>
void Finish(Operation operation) {
  try {
    operation();
  } catch (const EGeneralFailure& failure) {
    ShowGeneralError(failure.what());
  }
}

}  // namespace

TStatus RunInstallation() {
  TStatus result = kOk;
  Tidy tidy{SetCursor(LoadCursorA(nullptr, IDC_WAIT)), result};
  try {
    CloseDisplayProperties();
    result = ExtractRemainingMembers(RunPaths.StagingFile);
    if (result == kOk) result = ReadDataFileHeader();
    if (result == kOk) result = ExpandDataFile();
    if (result == kOk) result = ActivateSaver();
  } catch (const std::bad_alloc&) {
    ShowGeneralError("Out of memory");
    result = kNoMemory;
  }
  if (result == kOk) {
    Finish([] { LaunchDisplayProperties(); });
    Finish([] { OpenDocument(); });
    Finish([] { WriteUninstallEntry(); });
  }
  return result;
}
