#include "error_boxes.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "application.h"
#include "messages.h"
#include "win32_handles.h"

namespace {

class TRealPresenter final : public TMessagePresenter {
 public:
  void ShowBox(const std::string& text, TBoxKind kind) override { RunErrorBoxDialog(text, kind); }
  void ShowGeneral(const std::string& caption, const std::string& text) override {
    MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(),
                MB_OK | MB_ICONSTOP | MB_TOPMOST);
  }
};

TRealPresenter realPresenter;
TMessagePresenter* presenter = &realPresenter;

// Layout of the box, in pixels.
constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kMaxTextWidth = 420;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonId = IDABORT;

struct TBoxRequest {
  const std::string* text;
  TBoxKind kind;
  GdiObject font;
};

SIZE MeasureText(HWND dialog, HFONT font, const std::string& text) {
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, font);
  RECT bounds{0, 0, kMaxTextWidth, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  return {bounds.right, bounds.bottom};
}

HWND AddChild(HWND dialog, const char* cls, const char* text, DWORD style, RECT r, int id,
              HFONT font) {
  HWND child = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                               r.right - r.left, r.bottom - r.top, dialog,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               Application.Instance(), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

void PlaceCentred(HWND dialog, int clientWidth, int clientHeight) {
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE)));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(dialog, HWND_TOPMOST, x, y, width, height, SWP_NOACTIVATE);
}

void BuildBox(HWND dialog, TBoxRequest& request) {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  request.font.Reset(CreateFontIndirectA(&metrics.lfMessageFont));
  HFONT font = static_cast<HFONT>(request.font.Get());

  const SIZE text = MeasureText(dialog, font, *request.text);
  const int textLeft = kMargin + kIconSize + kMargin;
  const int bodyHeight = std::max<int>(kIconSize, text.cy);
  const int clientWidth = std::max<int>(textLeft + text.cx + kMargin, kButtonWidth + 2 * kMargin);
  const int buttonTop = kMargin + bodyHeight + kMargin;
  const int clientHeight = buttonTop + kButtonHeight + kMargin;

  HWND icon = AddChild(dialog, "STATIC", "", SS_ICON,
                       {kMargin, kMargin, kMargin + kIconSize, kMargin + kIconSize}, -1, font);
  const char* iconId = request.kind == TBoxKind::Error ? IDI_HAND : IDI_ASTERISK;
  SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, iconId)), 0);
  const int textTop = kMargin + (bodyHeight - text.cy) / 2;
  AddChild(dialog, "STATIC", request.text->c_str(), SS_LEFT | SS_NOPREFIX,
           {textLeft, textTop, textLeft + text.cx, textTop + text.cy}, -1, font);
  const int buttonLeft = (clientWidth - kButtonWidth) / 2;
  AddChild(dialog, "BUTTON", "&Abort", BS_PUSHBUTTON | WS_TABSTOP,
           {buttonLeft, buttonTop, buttonLeft + kButtonWidth, buttonTop + kButtonHeight},
           kButtonId, font);

  SetWindowTextA(dialog, request.kind == TBoxKind::Error ? "Error" : "Information");
  PlaceCentred(dialog, clientWidth, clientHeight);
}

INT_PTR CALLBACK BoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      BuildBox(dialog, *reinterpret_cast<TBoxRequest*>(lParam));
      // Focus stays on the box itself, so the dialog manager marks no button as the default.
      SetFocus(dialog);
      return FALSE;
    case WM_COMMAND:
      // Enter and Escape arrive as IDOK and IDCANCEL; the box has neither button.
      if (LOWORD(wParam) == kButtonId) EndDialog(dialog, kButtonId);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, IDCLOSE);
      return TRUE;
    default:
      return FALSE;
  }
}

// An empty dialog template: the box builds its controls in pixels when it opens.
std::vector<WORD> EmptyDialogTemplate() {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD) + 3, 0);
  auto* tmpl = reinterpret_cast<DLGTEMPLATE*>(words.data());
  tmpl->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  tmpl->dwExtendedStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
  tmpl->cx = 100;
  tmpl->cy = 50;
  return words;  // menu, class and title follow as empty words
}

}  // namespace

void RunErrorBoxDialog(const std::string& text, TBoxKind kind) {
  TBoxRequest request{&text, kind, GdiObject()};
  const std::vector<WORD> tmpl = EmptyDialogTemplate();
  HWND owner = GetActiveWindow();
  DialogBoxIndirectParamA(Application.Instance(),
                          reinterpret_cast<const DLGTEMPLATE*>(tmpl.data()), owner, BoxProc,
                          reinterpret_cast<LPARAM>(&request));
}

void SetMessagePresenter(TMessagePresenter* replacement) {
  presenter = replacement ? replacement : &realPresenter;
}

void ShowErrorBox(const std::string& text, TBoxKind kind) { presenter->ShowBox(text, kind); }

std::string SystemErrorText(TStatus code) {
  char buffer[256];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                     sizeof buffer, nullptr);
  return TrimSystemText(std::string_view(buffer, length));
}

void ShowFileError(TStatus code, std::string_view name) {
  ShowErrorBox(FileErrorText(code, name, SystemErrorText(code)));
}

void ShowSystemError(TStatus code, std::string_view text) {
  ShowErrorBox(SystemErrorMessage(text, SystemErrorText(code)));
}

void ShowGeneralError(std::string_view message) {
  presenter->ShowGeneral(Application.Title(), GeneralErrorText(message));
}
