#include "flash_movie.h"

#include "run_paths.h"
#include "shell_open.h"

std::unique_ptr<TShockwaveFlash> FlashMovie;
std::unique_ptr<TShockwaveFlash> FlashProbe;

namespace {

constexpr int kMovieAttempts = 10000;
constexpr int kVersionAttempts = 1000;
constexpr int kAvailableAttempts = 10000;

// One attempt at a probe: the control is kept in FlashProbe even when it cannot answer.
bool ProbeOnce(int32_t& version) {
  try {
    FlashProbe = std::make_unique<TShockwaveFlash>();
    version = FlashProbe->FlashVersion();
  } catch (const EFlashError&) {
  }
  return FlashProbe != nullptr;
}

}  // namespace

TStatus CreateFlashMovie(std::unique_ptr<TShockwaveFlash>& variable, HWND panel, const std::string& path) {
  TStatus status = kOk;
  for (int attempts = 0; attempts < kMovieAttempts && !variable; ++attempts) {
    try {
      variable = std::make_unique<TShockwaveFlash>();
    } catch (const EFlashError&) {
      status = kNoAttempt;
      continue;
    }
    try {
      RECT panelRect;
      GetClientRect(panel, &panelRect);
      variable->SetBounds({1, 1, panelRect.right - 1, panelRect.bottom - 1});
      variable->PutMovie(path);
      variable->SetParent(panel);
      variable->SetVariable("WMode", "Opaque");
      variable->SetVariable(variable->SAlign(), "alClient");
      variable->PutMenu(false);
    } catch (const EFlashError&) {
      status = kNoAttempt;
    }
  }
  return status;
}

TStatus FreeFlashMovie(std::unique_ptr<TShockwaveFlash>& variable) {
  if (!variable) return kOk;
  TStatus status = kOk;
  // A control that cannot stop is freed all the same: closing must close.
  try {
    variable->StopPlay();
  } catch (const EFlashError&) {
    status = kNoAttempt;
  }
  variable.reset();
  return status;
}

int32_t InstalledFlashVersion() {
  int32_t version = 0;
  FlashProbe.reset();
  for (int attempts = 0; attempts < kVersionAttempts && !FlashProbe; ++attempts) ProbeOnce(version);
  FlashProbe.reset();
  return version;
}

bool FlashPlayerAvailable() {
  int32_t ignored = 0;
  for (int attempts = 0; attempts < kAvailableAttempts && !FlashProbe; ++attempts) ProbeOnce(ignored);
  const bool available = FlashProbe != nullptr;
  FlashProbe.reset();
  return available;
}

TStatus RunFlashInstaller() {
  const std::string path = RunPaths.WindowsDir + "flashax.exe";
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return kNoFlashInstaller;
  const INT_PTR result = ShellOpen(path.c_str(), "/Q", SW_HIDE);
  if (result > 32) return kOk;
  if (result == 0) return kNoMemory;
  return static_cast<TStatus>(result);
}
