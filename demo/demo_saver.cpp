// DemoSaver.scr: a small screen saver of our own for the demo installer. Bubbles rise through a
// deep-blue sea.
//   /s       full screen until the mouse moves or a key is pressed
//   /p HWND  inside the Display Properties preview window
//   /c       a small settings box (there is nothing to set)
//   /u       removes what the installer placed: the saver's folder and its files, the system.ini
//            value that names this saver, the uninstall entry, and this program (after it ends)
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

constexpr char kName[] = "DemoSaver";
constexpr int kBubbles = 40;
struct Bubble {
  int x, y, r, speed;
};
Bubble bubbles[kBubbles];
POINT startMouse{-1, -1};
bool preview = false;

void Reset(Bubble& b, int width, int height, bool anywhere) {
  b.r = 4 + std::rand() % 14;
  b.x = std::rand() % (width > 0 ? width : 1);
  b.y = anywhere ? std::rand() % (height > 0 ? height : 1) : height + b.r;
  b.speed = 1 + std::rand() % 4;
}

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT r;
  GetClientRect(window, &r);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, r.right, r.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  for (int y = 0; y < r.bottom; y += 4) {  // the sea, darker with depth
    HBRUSH band = CreateSolidBrush(RGB(10, 40 + 60 * (r.bottom - y) / (r.bottom + 1), 90 + 100 * (r.bottom - y) / (r.bottom + 1)));
    RECT row{0, y, r.right, y + 4};
    FillRect(memory, &row, band);
    DeleteObject(band);
  }
  HPEN pen = CreatePen(PS_SOLID, 2, RGB(200, 235, 255));
  HGDIOBJ oldPen = SelectObject(memory, pen);
  SelectObject(memory, GetStockObject(NULL_BRUSH));
  for (const Bubble& b : bubbles) Ellipse(memory, b.x - b.r, b.y - b.r, b.x + b.r, b.y + b.r);
  SelectObject(memory, oldPen);
  DeleteObject(pen);
  BitBlt(dc, 0, 0, r.right, r.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  EndPaint(window, &paint);
}

LRESULT CALLBACK SaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  RECT r;
  GetClientRect(window, &r);
  switch (message) {
    case WM_CREATE:
      for (Bubble& b : bubbles) Reset(b, r.right, r.bottom, true);
      SetTimer(window, 1, 40, nullptr);
      return 0;
    case WM_TIMER:
      for (Bubble& b : bubbles)
        if ((b.y -= b.speed) < -b.r) Reset(b, r.right, r.bottom, false);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE:
      if (!preview) {
        POINT p{LOWORD(lParam), HIWORD(lParam)};
        if (startMouse.x < 0) startMouse = p;
        else if (std::abs(p.x - startMouse.x) + std::abs(p.y - startMouse.y) > 8) PostMessageA(window, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
      if (!preview) PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

int RunSaver(HINSTANCE instance, HWND parent) {
  WNDCLASSA cls{};
  cls.lpfnWndProc = SaverProc;
  cls.hInstance = instance;
  cls.hCursor = parent ? LoadCursorA(nullptr, IDC_ARROW) : nullptr;
  cls.lpszClassName = "DemoSaverWindow";
  RegisterClassA(&cls);
  preview = parent != nullptr;
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (parent) GetClientRect(parent, &r);
  CreateWindowExA(parent ? 0 : WS_EX_TOPMOST, cls.lpszClassName, kName, parent ? WS_CHILD | WS_VISIBLE : WS_POPUP | WS_VISIBLE,
                  0, 0, r.right, r.bottom, parent, nullptr, instance, nullptr);
  if (!parent) ShowCursor(FALSE);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

std::string WindowsFolder() {
  char folder[MAX_PATH];
  std::string path(folder, GetWindowsDirectoryA(folder, MAX_PATH));
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

int Uninstall() {
  const std::string folder = WindowsFolder() + kName + " dir\\";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesA((folder + found.cFileName).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((folder + found.cFileName).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());

  char self[MAX_PATH];
  const std::string program(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  char named[MAX_PATH];
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", named, MAX_PATH, "system.ini");
  char shortSelf[MAX_PATH];
  std::string shortName(shortSelf, GetShortPathNameA(program.c_str(), shortSelf, MAX_PATH));
  shortName = shortName.substr(shortName.rfind('\\') + 1);
  const std::string longName = program.substr(program.rfind('\\') + 1);
  const std::string value = named;
  if (_stricmp(value.c_str(), shortName.c_str()) == 0 || _stricmp(value.c_str(), longName.c_str()) == 0 ||
      _stricmp(value.c_str(), program.c_str()) == 0)
    WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", nullptr, "system.ini");

  RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kName).c_str());
  // A running program cannot delete itself: the system removes it at the next start.
  MoveFileExA(program.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MessageBoxA(nullptr, "DemoSaver has been removed.", kName, MB_OK | MB_ICONINFORMATION);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  std::string args(commandLine);
  for (char& c : args) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t slash = args.find_first_of("/-");
  const char mode = slash == std::string::npos ? 'c' : args[slash + 1];
  switch (mode) {
    case 's':
      return RunSaver(instance, nullptr);
    case 'p':
      return RunSaver(instance, reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(args.c_str() + slash + 2, nullptr, 10))));
    case 'u':
      return Uninstall();
    default:
      MessageBoxA(nullptr, "Bubbles rise through a deep-blue sea.\n\nThis demo screen saver has no settings.", kName,
                  MB_OK | MB_ICONINFORMATION);
      return 0;
  }
}
