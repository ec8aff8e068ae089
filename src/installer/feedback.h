// The feedback that long work gives the user: the status line, the progress bar and the
// one-second pause that keeps the window alive. All do nothing in silent mode, and when no
// installer window exists (the module tests).
#pragma once
#include <string>

void SetStatus(const std::string& text);
void StepProgress();
void Pause();

// The silent installation: the window hidden and sized 0 by 0 before anything runs.
void HideForSilentRun();
// After Display Properties has opened: the installer window takes the focus and comes to the
// front again.
void BringInstallerWindowBack();
