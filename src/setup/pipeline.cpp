#include "pipeline.h"

#include <windows.h>

#include <exception>

#include "activation.h"
#include "display_properties.h"
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

}  // namespace

TStatus RunInstallation() {
  TStatus result = kOk;
  Tidy tidy{SetCursor(LoadCursorA(nullptr, IDC_WAIT)), result};
  CloseDisplayProperties();
  result = ExtractRemainingMembers(RunPaths.StagingFile);
  if (result == kOk) result = ReadDataFileHeader();
  if (result == kOk) result = ExpandDataFile();
  if (result == kOk) result = ActivateSaver();
  if (result == kOk) {
    LaunchDisplayProperties();
    OpenDocument();
    WriteUninstallEntry();
  }
  return result;
}
