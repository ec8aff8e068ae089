// The window's own small control classes: a panel that passes its children's commands up to the
// window, and an image that stretches a bitmap over itself.
#pragma once
#include <windows.h>

#include "layout_rules.h"

constexpr char kPanelClass[] = "TPanel";
constexpr char kImageClass[] = "TImage";

void RegisterControlClasses(HINSTANCE instance);

// A child control at its designed place, with the window's font.
HWND AddControl(HWND parent, const char* cls, const char* text, DWORD style, DWORD exStyle,
                const TRect& r, int id, HFONT font);

// A lowered outer bevel, as the content panel has.
void SetPanelBevel(HWND panel, bool lowered);

// The bitmap an image shows, stretched to its size; the caller keeps it alive.
void SetImageBitmap(HWND image, HBITMAP bitmap);
