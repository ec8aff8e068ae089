#include "startup.h"

#include <windows.h>

#include <new>

#include "error_boxes.h"
#include "flash_movie.h"
#include "general_error.h"
#include "member_extraction.h"
#include "messages.h"
#include "payload_checks.h"
#include "pipeline.h"
#include "run_paths.h"

TInstallerState InstallerState;

namespace {

// A player at least as recent as MinFlashVersion, starting the payload's runtime installer when
// it is older; every failure of the step is -402.
TStatus CheckFlashPlayer() {
  TStatus status = kOk;
  if (InstalledFlashVersion() < MinFlashVersion) {
    status = ExtractFlashInstaller();
    if (status == kOk) status = RunFlashInstaller();
  }
  const bool usable = status == kOk && FlashPlayerAvailable();
  return usable ? kOk : kNoFlashPlayer;
}

TStatus ConfigureLicense(TStartUpWindow& window) {
  if (!PayloadHeader.HasLicense) {
    window.ShowLicense(false, {});
    return kOk;
  }
  const TStatus status = ExtractLicense();
  if (status == kOk) window.ShowLicense(true, RunPaths.SaverDir + MemberFileName(PayloadHeader.Members[msLicense]));
  return status;
}

}  // namespace

bool RunStartUp(TStartUpWindow& window) {
  try {
    InstallerState.InstallRunning = false;
    TStatus status = kOk;

    PreparePaths();
    status = MakeStagingCopy();
    if (status == kOk) status = ReadPayloadHeader();
    // The name becomes a folder, the journal's path and the uninstall key: one that is not a
    // plain file name (folder parts, a drive) is refused before anything is made from it.
    if (status == kOk && !IsUsableSaverName(RunPaths.SaverName)) {
      status = kBadSaverName;
      ShowFileError(status, RunPaths.SaverName);
    }
    if (status == kOk) {
      PrepareSaverDir(PayloadHeader);
      // A silent run has no feedback and no window.
      if (!SilentRun()) SetFeedbackSink(&window);
    }
    if (status == kOk && PayloadHeader.ShowDocument) status = ExtractDocument();
    if (status == kOk) status = CheckFlashPlayer();
    if (status == kOk) {
      if (SilentRun()) {
        window.HideForSilentRun();
        status = RunInstallation();
        if (status == kOk) InstallerState.ExitCode = 0;
      } else {
        window.ShowTitle("Install " + RunPaths.SaverName);
      }
    }
    if (status == kOk && !SilentRun()) status = ConfigureLicense(window);
    if (status == kOk && !SilentRun()) status = ExtractContent(PayloadHeader.ContentMode);
    if (status == kOk && !SilentRun())
      status = window.ShowContent(PayloadHeader.ContentMode,
                                  RunPaths.SaverDir + MemberFileName(PayloadHeader.Members[msContent]));
    if (status == kOk && !SilentRun()) window.FinishLayout();

    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    if (status != kOk) {
      InstallerState.ExitCode = 2;
      ShowErrorBox(CorruptedInstallerText(status));
    }
    return status != kOk || SilentRun();
  } catch (const std::bad_alloc&) {
    // Out of memory ends the start-up like any failure with a code.
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    InstallerState.ExitCode = 2;
    ShowGeneralError("Out of memory");
    ShowErrorBox(CorruptedInstallerText(kNoMemory));
    return true;
  } catch (const EGeneralFailure& failure) {
    // The remaining steps are skipped; the window is shown in the state reached (a silent run
    // has no window to show and ends).
    InstallerState.ExitCode = 2;
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    ShowGeneralError(failure.what());
    return SilentRun();
  }
}
