// The installer window: its controls, layout and commands. Its creation runs the start-up
// sequence (startup.h) before it is first shown; it shows the feedback of a windowed run.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "dataStructures_shared.h"
#include "startup.h"
#include "status_codes.h"
#include "win32_handles.h"

class TInstallerForm final : public TStartUpWindow {
 public:
  // Creates the window and runs FormCreate (and with it the start-up) before returning.
  static std::unique_ptr<TInstallerForm> Create();
  ~TInstallerForm() override;

  HWND Handle() const { return handle_; }

  // Asks FormCloseQuery, then runs FormClose and destroys the window.
  void Close();

  // Feedback during long work.
  void SetStatus(const std::string& text) override;
  void StepProgress() override;
  void Pause() override;
  void BringBack() override;

  // What the start-up configures.
  void ShowTitle(const std::string& title) override;
  void ShowLicense(bool hasLicense, const std::string& path) override;
  TStatus ShowContent(uint8_t contentMode, const std::string& path) override;
  void FinishLayout() override;
  void HideForSilentRun() override;

 private:
  TInstallerForm() = default;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id);

  void FormCreate();
  void CreateControls();
  void LoadLicenseText(const std::string& path);
  void LoadPicture(const std::string& path);
  bool LicenseShown() const;
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

  bool closed_ = false;
};
