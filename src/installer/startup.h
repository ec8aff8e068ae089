// The start-up sequence, run as the installer window is created and before it is first shown:
// paths and staging copy, the payload header and the saver's folder, the document, the Flash
// Player, and then either the silent installation or the window's configuration for the payload.
#pragma once
#include <cstdint>
#include <string>

#include "feedback.h"
#include "status_codes.h"

// What the start-up asks of the window it prepares; the window shows the feedback of a windowed
// run.
class TStartUpWindow : public TFeedbackSink {
 public:
  virtual void ShowTitle(const std::string& title) = 0;
  // Without a licence the memo and Decline go and the window keeps its size; with one, the text
  // of the file at path is shown and Install reads "Accept and Install".
  virtual void ShowLicense(bool hasLicense, const std::string& path) = 0;
  // The picture or the movie of the content slot, extracted to path; -1 when the movie control
  // could not be set up.
  virtual TStatus ShowContent(uint8_t contentMode, const std::string& path) = 0;
  virtual void FinishLayout() = 0;
  // The silent installation: the window hidden and sized 0 by 0 before anything runs.
  virtual void HideForSilentRun() = 0;
};

// Process-wide state of the install command.
struct TInstallerState {
  bool InstallRunning = false;  // true exactly while an installation runs, pauses included
  // The process's exit code, for those who run installers from scripts: 0 installed, 1 declined
  // or closed without installing, 2 start-up or the installation failed.
  int ExitCode = 1;
};
extern TInstallerState InstallerState;

// Runs the start-up and, for a silent payload, the installation. Failures are shown as they
// happen. Returns true when the program ends now (a failed start-up, a silent run), false when
// the window is to be shown (in the state reached, after a failure that is not a status code).
bool RunStartUp(TStartUpWindow& window);
