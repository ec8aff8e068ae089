// The shell's open, with shell32.dll loaded from the System folder only, after the search path
// has been hardened: imported at start-up, shell32 would pull libraries (shcore.dll) from the
// folder the installer was started from.
#pragma once
#include <windows.h>

// ShellExecuteA with no owner, the default verb and no working folder; 0 when the shell cannot
// be had, as the shell itself answers when out of resources.
INT_PTR ShellOpen(const char* file, const char* parameters, int show);
