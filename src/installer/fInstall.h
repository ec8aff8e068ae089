// The installer window: its creation runs the whole start-up sequence before it is first shown.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>

#include "dataStructures_shared.h"
#include "status_codes.h"

// Process-wide state of the install command.
struct TInstallerState {
  bool InstallRunning = false;  // true exactly while an installation runs, pauses included
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

 private:
  TInstallerForm() = default;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void FormCreate();
  void RunStartUp();
  bool FormCloseQuery() const;
  void FormClose();
  void ShowCentred();

  HWND handle_ = nullptr;
  HFONT font_ = nullptr;
  // The window's copies of the header's option bytes.
  uint8_t contentMode_ = 0;
  uint8_t hasLicense_ = 0;
  uint8_t showDocument_ = 0;
  bool closed_ = false;
};
