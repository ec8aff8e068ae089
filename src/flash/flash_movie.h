// The Flash movie shown in the window's content panel, and the check for a usable Flash Player.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "ShockwaveFlashObjects_TLB.h"
#include "status_codes.h"

// The movie control, or nothing; at most one exists.
extern std::unique_ptr<TShockwaveFlash> FlashMovie;
// The short-lived probe that asks the player its version; empty outside the checks.
extern std::unique_ptr<TShockwaveFlash> FlashProbe;

constexpr int32_t MinFlashVersion = 327722;  // 5.0.42

// Creates the movie control 1 pixel inside panel and plays path in it: up to 10000 attempts at
// creating it, then the set-up calls in their order. -1 once any attempt failed (a partly set-up
// control stays in the variable), else 0; nothing when a control exists already.
TStatus CreateFlashMovie(std::unique_ptr<TShockwaveFlash>& variable, HWND panel, const std::string& path);

// Stops and frees the movie control, if there is one; harmless when called again. A control that
// refuses to stop is freed all the same (-1).
TStatus FreeFlashMovie(std::unique_ptr<TShockwaveFlash>& variable = FlashMovie);

// The installed player's version, 0 when no control could be created or asked (1000 attempts).
int32_t InstalledFlashVersion();
// Whether a player control can be created (10000 attempts).
bool FlashPlayerAvailable();
// Starts WindowsDir + "flashax.exe" "/Q" hidden: 0, -401 without the file, -7 when the shell is
// out of resources, or the shell's own error 1..32.
TStatus RunFlashInstaller();
