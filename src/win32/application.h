// The application object: its title (the taskbar text and the general error display's caption),
// the message loop, and the termination request.
#pragma once
#include <windows.h>

#include <string>

class TApplication {
 public:
  void Initialize(HINSTANCE instance);
  HINSTANCE Instance() const { return instance_; }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }

  // The main window: its dialog keys (Tab, mnemonics) are handled by the loop.
  void SetMainWindow(HWND window) { mainWindow_ = window; }

  // Runs the message loop until Terminate.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }

 private:
  HINSTANCE instance_ = nullptr;
  HWND mainWindow_ = nullptr;
  std::string title_;
  bool terminated_ = false;
};

extern TApplication Application;
