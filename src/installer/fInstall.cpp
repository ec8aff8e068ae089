#include "fInstall.h"

#include "application.h"
#include "error_boxes.h"
#include "general_error.h"
#include "messages.h"

TInstallerState InstallerState;

namespace {

constexpr char kWindowClass[] = "TInstallerForm";
constexpr char kDesignCaption[] = "Quillview Installer";
constexpr int kDesignLeft = 332, kDesignTop = 210, kDesignWidth = 360, kDesignHeight = 348;
constexpr DWORD kSingleBorderStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;

void RegisterFormClass(WNDPROC proc) {
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = proc;
  cls.hInstance = Application.Instance();
  cls.hIcon = LoadIconA(Application.Instance(), MAKEINTRESOURCEA(1));
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = kWindowClass;
  RegisterClassExA(&cls);
}

}  // namespace

std::unique_ptr<TInstallerForm> TInstallerForm::Create() {
  RegisterFormClass(&TInstallerForm::WindowProc);
  std::unique_ptr<TInstallerForm> form(new TInstallerForm());
  CreateWindowExA(WS_EX_TOPMOST, kWindowClass, kDesignCaption, kSingleBorderStyle, kDesignLeft,
                  kDesignTop, kDesignWidth, kDesignHeight, nullptr, nullptr,
                  Application.Instance(), form.get());
  form->FormCreate();
  return form;
}

TInstallerForm::~TInstallerForm() {
  if (handle_) DestroyWindow(handle_);
  if (font_) DeleteObject(font_);
}

LRESULT CALLBACK TInstallerForm::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TInstallerForm*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    form->handle_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TInstallerForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!form) return DefWindowProcA(window, message, wParam, lParam);
  // A failure that is not a status code ends the handler it arose in and is shown here.
  try {
    return form->HandleMessage(message, wParam, lParam);
  } catch (const EGeneralFailure& failure) {
    ShowGeneralError(failure.what());
  } catch (const std::bad_alloc&) {
    ShowGeneralError("Out of memory");
  }
  return 0;
}

LRESULT TInstallerForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
      handle_ = nullptr;
      return 0;
    default:
      return DefWindowProcA(handle_, message, wParam, lParam);
  }
}

void TInstallerForm::FormCreate() {
  // Single border, a system menu with only the close box: set by the window's style.
  font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
  try {
    RunStartUp();
  } catch (const EGeneralFailure& failure) {
    // The remaining steps are skipped; the window is shown in the state reached.
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    ShowGeneralError(failure.what());
  }
  if (!closed_ && contentMode_ != cmSilent) ShowCentred();
}

void TInstallerForm::RunStartUp() {
  InstallerState.InstallRunning = false;
  hasLicense_ = 0;
  showDocument_ = 0;
  TStatus startStatus = kOk;
  bool silentRun = false;

  // The steps that fix the paths, copy the installer, read the payload, extract the window's
  // members, check the Flash Player and configure the window come here, in that order, each
  // running only while startStatus is 0.

  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  if (startStatus != kOk) {
    ShowErrorBox(CorruptedInstallerText(startStatus));
    Close();
    Application.Terminate();
  }
  if (silentRun) {
    Close();
    Application.Terminate();
  }
}

bool TInstallerForm::FormCloseQuery() const { return !InstallerState.InstallRunning; }

void TInstallerForm::FormClose() {}

void TInstallerForm::Close() {
  if (closed_ || !FormCloseQuery()) return;
  closed_ = true;
  FormClose();
  // The main window closing ends the program.
  Application.Terminate();
  DestroyWindow(handle_);
}

void TInstallerForm::ShowCentred() {
  RECT r;
  GetWindowRect(handle_, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  SetWindowPos(handle_, HWND_TOPMOST, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE);
  ShowWindow(handle_, SW_SHOW);
  UpdateWindow(handle_);
}
