#include "controls.h"

namespace {

// A panel's window data: 1 when it draws a lowered bevel.
LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
      return SendMessageA(GetParent(panel), message, wParam, lParam);
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(panel, &paint);
      RECT r;
      GetClientRect(panel, &r);
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      if (GetWindowLongPtrA(panel, GWLP_USERDATA)) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
      EndPaint(panel, &paint);
      return 0;
    }
    default:
      return DefWindowProcA(panel, message, wParam, lParam);
  }
}

LRESULT CALLBACK ImageProc(HWND image, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(image, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(image, &paint);
  RECT r;
  GetClientRect(image, &r);
  auto bitmap = reinterpret_cast<HBITMAP>(GetWindowLongPtrA(image, GWLP_USERDATA));
  BITMAP info{};
  if (bitmap && GetObjectA(bitmap, sizeof info, &info)) {
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, bitmap);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, 0, 0, r.right, r.bottom, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
  } else {
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  }
  EndPaint(image, &paint);
  return 0;
}

void RegisterClassOnce(HINSTANCE instance, const char* name, WNDPROC proc) {
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  if (GetClassInfoExA(instance, name, &cls)) return;
  cls.lpfnWndProc = proc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = name;
  RegisterClassExA(&cls);
}

}  // namespace

void RegisterControlClasses(HINSTANCE instance) {
  RegisterClassOnce(instance, kPanelClass, PanelProc);
  RegisterClassOnce(instance, kImageClass, ImageProc);
}

HWND AddControl(HWND parent, const char* cls, const char* text, DWORD style, DWORD exStyle,
                const TRect& r, int id, HFONT font) {
  HWND control = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_CLIPSIBLINGS | style, r.Left,
                                 r.Top, r.Width, r.Height, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)),
                                 nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

void SetPanelBevel(HWND panel, bool lowered) {
  SetWindowLongPtrA(panel, GWLP_USERDATA, lowered ? 1 : 0);
  InvalidateRect(panel, nullptr, TRUE);
}

void SetImageBitmap(HWND image, HBITMAP bitmap) {
  SetWindowLongPtrA(image, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bitmap));
  InvalidateRect(image, nullptr, TRUE);
}
