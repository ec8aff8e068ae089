#include "layout_rules.h"

#include <algorithm>

int FittedClientHeight(bool hasLicense, int memoHeight) {
  const int contentBottom = kContentTop + kContentHeight;
  const int needed = hasLicense ? contentBottom + memoHeight + 4 : contentBottom;
  return needed + kButtonPanelHeight;
}

TWindowLayout LayoutForClient(int clientWidth, int clientHeight) {
  TWindowLayout layout;
  layout.ButtonPanel = {0, clientHeight - kButtonPanelHeight, clientWidth, kButtonPanelHeight};
  const int contentBottom = kContentTop + kContentHeight;
  const int memoHeight = std::max(kMemoMinHeight, layout.ButtonPanel.Top - contentBottom - 6);
  layout.Memo = {0, contentBottom + 2, clientWidth, memoHeight};
  layout.ContentPanel = {(clientWidth - kDesignClientWidth) / 2, kContentTop, kContentWidth,
                         kContentHeight};
  // Designed in a 350-wide panel: the bar from 1 to 348, Install from 241 to 348.
  layout.ProgressBar = {1, 20, clientWidth - 3, 11};
  layout.InstallButton = {clientWidth - 109, 34, 107, 25};
  return layout;
}
