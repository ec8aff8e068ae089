// A stand-in for the Display control panel: its window is titled "Display Properties", has a
// Cancel button (identifier 2) that closes it, and logs the page it was asked to open.
#include <windows.h>
#include <cpl.h>

#include <string>

#include "standin_log.h"

namespace {

HINSTANCE module;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    StandInLog("desk.cpl cancel");
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void ShowDisplayProperties(const std::string& page) {
  StandInLog("desk.cpl open page=" + page);
  WNDCLASSA cls{};
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = module;
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = "StandInDisplayProperties";
  RegisterClassA(&cls);
  HWND window = CreateWindowExA(0, cls.lpszClassName, "Display Properties",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 40, 40, 300,
                                200, nullptr, nullptr, module, nullptr);
  CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 200, 130, 80, 25,
                  window, reinterpret_cast<HMENU>(IDCANCEL), module, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) LONG CALLBACK CPlApplet(HWND, UINT message, LPARAM param1, LPARAM param2) {
  switch (message) {
    case CPL_INIT:
      return TRUE;
    case CPL_GETCOUNT:
      return 1;
    case CPL_INQUIRE: {
      auto* info = reinterpret_cast<CPLINFO*>(param2);
      info->idIcon = CPL_DYNAMIC_RES;
      info->idName = CPL_DYNAMIC_RES;
      info->idInfo = CPL_DYNAMIC_RES;
      info->lData = 0;
      return 0;
    }
    case CPL_NEWINQUIRE: {
      auto* info = reinterpret_cast<NEWCPLINFOW*>(param2);
      ZeroMemory(info, sizeof *info);
      info->dwSize = sizeof *info;
      info->hIcon = LoadIconA(nullptr, IDI_APPLICATION);
      lstrcpyW(info->szName, L"Display");
      lstrcpyW(info->szInfo, L"Stand-in Display Properties");
      return 0;
    }
    case CPL_STARTWPARMSA:
      ShowDisplayProperties(reinterpret_cast<const char*>(param2));
      return TRUE;
    case CPL_STARTWPARMSW:
      ShowDisplayProperties(Narrow(reinterpret_cast<const wchar_t*>(param2)));
      return TRUE;
    case CPL_DBLCLK:
      ShowDisplayProperties("applet " + std::to_string(param1));
      return 0;
    default:
      return 0;
  }
}
