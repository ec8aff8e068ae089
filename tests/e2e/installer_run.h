// Builds real installers (install.exe as built, our impborl.dll, members made here) and runs them
// as their own processes, answering their error boxes.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "driver.h"
#include "payload_writer.h"

// A 24-bit bitmap with gradients, of our own making.
std::vector<uint8_t> GradientBitmap(int width, int height);

// Members of an installer that shows a picture, with a licence or not, and every installation
// slot filled.
TMemberInputs PictureMembers(bool withLicense);
std::string LicenseText();

struct InstallerRun {
  // Writes the installer into a fresh folder and starts it.
  InstallerRun(const TPayloadOptions& options, const TMemberInputs& members);
  // Runs a file of these bytes: a damaged or cut installer.
  explicit InstallerRun(const std::vector<uint8_t>& image);
  // Runs these bytes from a file of this wide name, which the ANSI code page may not spell,
  // started by that name in its folder as Explorer starts it (path: its ANSI spelling).
  InstallerRun(const std::wstring& widePath, const std::vector<uint8_t>& image);
  ~InstallerRun();

  // Waits for a box of the installer with the caption, reads its text and clicks its button.
  std::string AnswerBox(const std::string& caption = "Error", const std::string& button = "&Abort");
  // Answers every error box until the process ends; returns their texts.
  std::vector<std::string> AnswerBoxesUntilExit(int timeoutMs = 30000);
  HWND WaitForWindow(const std::string& caption, int timeoutMs = 15000);
  long WaitForExit(int timeoutMs = 30000) { return driver::WaitForExit(process, timeoutMs); }
  void Screenshot(HWND window, const std::string& name);

  std::string path;
  driver::Process process;
};

// The staging copies present now in the prefix's staging folder: a run must leave them as it
// found them.
// The names of the files and folders that a pattern with wildcards matches.
std::vector<std::string> NamesMatching(const std::string& pattern);
// The staging copies in every staging folder ("QVF temp" and fresh ones beside it), by path.
std::set<std::string> StagingCopies();

// The whole stand-in log, and the screen saver system.ini names ("<none>" when it names none).
std::string ReadLog(const std::string& path);
std::string SystemIniSaver();

// The text of a box: its static control that carries text.
std::string BoxText(HWND box);

// Names that the ANSI code page may not spell: a wide text, and its ANSI spelling as the system
// gives it (characters outside the code page become their best-fit look-alikes or "?").
std::wstring Widened(const std::string& text);
std::string AnsiSpelling(const std::wstring& text);
void WriteAllWide(const std::wstring& path, const std::vector<uint8_t>& bytes);
// Starts a wide command line through CreateProcessW, in the folder given (none: ours).
driver::Process StartWide(const std::wstring& commandLine, const std::wstring& folder = {});
