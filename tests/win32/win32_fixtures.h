// Shared fixtures of the win32 tests: captured message boxes, busy files, installer payloads.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "error_boxes.h"
#include "payload_writer.h"

// Puts itself in place of the real presenter and records every box instead of showing it.
class CapturedBoxes : public TMessagePresenter {
 public:
  CapturedBoxes() { SetMessagePresenter(this); }
  ~CapturedBoxes() override { SetMessagePresenter(nullptr); }
  void ShowBox(const std::string& text, TBoxKind kind) override {
    texts.push_back(text);
    kinds.push_back(kind);
  }
  void ShowGeneral(const std::string&, const std::string& text) override { general.push_back(text); }

  std::vector<std::string> texts;
  std::vector<TBoxKind> kinds;
  std::vector<std::string> general;
};

// A file held open by a second handle that shares reading only: it cannot be deleted.
class BusyFile {
 public:
  explicit BusyFile(const std::string& path);
  ~BusyFile();

 private:
  HANDLE handle_;
};

// The built impborl.dll placed in the prefix's Windows folder, removed afterwards.
class CodecInWindowsFolder {
 public:
  CodecInWindowsFolder();
  ~CodecInWindowsFolder();
};

std::vector<uint8_t> BuiltInstallExe();
std::vector<uint8_t> BuiltCodec();

// A member stored plain, or imploded when compressed is set.
TMemberInput Member(const std::string& name, const std::vector<uint8_t>& content,
                    int32_t destination, bool compressed = false);
std::vector<uint8_t> TextBytes(size_t size);
