// Drives Win32 programs from a test: finds windows by caption, reads their texts, positions and
// styles, clicks buttons without blocking on the boxes they open, and takes screenshots.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace driver {

// A top-level window with this exact caption, of the given process (0: any); null on time-out.
HWND WaitForWindow(const std::string& caption, DWORD processId = 0, int timeoutMs = 10000);
bool WaitUntilGone(HWND window, int timeoutMs = 10000);

std::string Text(HWND window);
std::string ClassName(HWND window);
std::vector<HWND> Children(HWND parent);  // all descendants, in Z order
// The first descendant of this class (empty: any) and caption.
HWND FindChild(HWND parent, const std::string& className, const std::string& text);

// The first descendant with this control identifier.
HWND ChildById(HWND parent, int id);

RECT WindowRect(HWND window);  // in screen coordinates
RECT RectInParent(HWND window);  // in the parent's client coordinates
RECT ClientRect(HWND window);
LONG Style(HWND window);
LONG ExStyle(HWND window);
int ProgressPosition(HWND bar);
int ProgressMaximum(HWND bar);

// Posts the click, so a modal box that it opens does not block the test.
void Click(HWND button);
// Asks the window to close as its close box does.
void PressCloseBox(HWND window);

// The visible top-level windows of a process, with their captions.
std::vector<HWND> WindowsOf(DWORD processId);

// Saves the window (or the whole screen for null) as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path);

struct Process {
  HANDLE handle = nullptr;
  DWORD id = 0;
};
Process Start(const std::string& commandLine);
// The exit code, or -1 when the process did not end in time.
long WaitForExit(Process& process, int timeoutMs = 30000);

// A Linux path of the build tree as Wine sees it: "Z:" + the path with backslashes.
std::string HostPath(const std::string& unixPath);

}  // namespace driver
