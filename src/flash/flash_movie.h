// The Flash movie shown in the window's content panel.
#pragma once

// Stops and frees the movie control, if there is one; harmless when called again.
void FreeFlashMovie();
