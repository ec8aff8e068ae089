// The installer window. Its creation runs the whole start-up sequence before it is first shown:
// paths and staging copy, the payload header, the members the window needs, the Flash Player,
// and the window's configuration for the payload's content.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "dataStructures_shared.h"
#include "status_codes.h"
#include "win32_handles.h"

// Process-wide state of the install command.
struct TInstallerState {
  bool InstallRunning = false;  // true exactly while an installation runs, pauses included
  // The process's exit code, for those who run installers from scripts: 0 installed, 1 declined
  // or closed without installing, 2 start-up or the installation failed.
  int ExitCode = 1;
};
extern TInstallerState InstallerState;

class TInstallerForm {
 public:
  // Creates the window and runs FormCreate (and with it the start-up) before returning.
  static std::unique_ptr<TInstallerForm> Create();
  ~TInstallerForm();

  HWND Handle() const { return handle_; }
  uint8_t ContentMode() const { return contentMode_; }

  // Asks FormCloseQuery, then runs FormClose and destroys the window.
  void Close();

  // Feedback during long work; nothing in silent mode.
  void SetStatus(const std::string& text);
  void StepProgress();
  void Pause();
  void HideForSilentRun();
  void BringBack();

 private:
  TInstallerForm() = default;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id);

  void FormCreate();
  void CreateControls();
  void RunStartUp();
  TStatus CheckFlashPlayer();
  TStatus ConfigureLicense();
  TStatus ShowContent();
  void LoadLicenseText(const std::string& path);
  void LoadPicture(const std::string& path);
  void SetResizable(bool resizable);

  void LayoutWindow();
  void FitWindowHeight();
  void FormResize();

  void installBtnClick();
  TStatus RunInstallationReportingFailures();
  void declineBtnClick();
  bool FormCloseQuery() const;
  void FormClose();
  void pauseTimerTimer();
  void ShowCentred();

  HWND handle_ = nullptr;
  GdiObject font_;
  GdiObject picture_;
  HWND licenseScrollBox_ = nullptr;
  HWND contentPanel_ = nullptr;
  HWND bmpPanel_ = nullptr;
  HWND buttonPanel_ = nullptr;
  HWND labFile_ = nullptr;
  HWND labCopying_ = nullptr;
  HWND progressBar_ = nullptr;
  HWND declineBtn_ = nullptr;
  HWND installBtn_ = nullptr;
  bool pauseTimerEnabled_ = false;

  // The window's copies of the header's option bytes.
  uint8_t contentMode_ = 0;
  uint8_t hasLicense_ = 0;
  uint8_t showDocument_ = 0;
  bool closed_ = false;
};

// The one installer window, while it exists.
extern TInstallerForm* InstallerForm;
