// Handing the user over to the system's screen-saver settings, and the accompanying document.
#pragma once

constexpr int FindWindowPollLimit = 1000;

// Clicks Cancel (identifier 2) of an open "Display Properties" window.
void CloseDisplayProperties();
// Starts the Display control panel on its screen-saver page when the payload asks for it, looks
// for its window a bounded number of times, and brings the installer window back unless silent.
void LaunchDisplayProperties();
// Opens the document of slot 5 with the shell when the payload asks for it.
void OpenDocument();
