// The window's layout as arithmetic on rectangles, without system calls.
#pragma once

struct TRect {
  int Left, Top, Width, Height;
  bool operator==(const TRect&) const = default;
};

// Designed sizes, in pixels at 96 dpi.
constexpr int kDesignClientWidth = 352;
constexpr int kContentTop = 0, kContentWidth = 352, kContentHeight = 152;
constexpr int kButtonPanelHeight = 63;
constexpr int kMemoMinHeight = 103;
constexpr int kLayoutWidth = 359;      // the window's width after layout
constexpr int kMinTrackWidth = 359, kMinTrackHeight = 340;
constexpr TRect kImageRect{1, 1, 350, 150};         // the picture, inside the content panel
constexpr TRect kDeclineButtonRect{2, 35, 78, 25};  // Decline, inside the button panel

// The client height that fits the content: 215 without a licence, 322 with the 103-pixel memo.
int FittedClientHeight(bool hasLicense, int memoHeight);

struct TWindowLayout {
  TRect ContentPanel;
  TRect Memo;
  TRect ButtonPanel;
  TRect ProgressBar;  // inside the button panel
  TRect InstallButton;
};

// Places the controls for a client area: the button panel along the bottom, the memo between it
// and the content panel (2 pixels above, 4 below, never lower than 103), the content panel at the
// top, centred as the client width changes, the bar stretched and Install kept at the right.
TWindowLayout LayoutForClient(int clientWidth, int clientHeight);
