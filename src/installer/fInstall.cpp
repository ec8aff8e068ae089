#include "fInstall.h"

#include <commctrl.h>

#include <new>

#include "application.h"
#include "control_ids.h"
#include "controls.h"
#include "error_boxes.h"
#include "feedback.h"
#include "flash_movie.h"
#include "general_error.h"
#include "layout_rules.h"
#include "messages.h"
#include "pipeline.h"
#include "run_paths.h"
#include "text_file.h"

namespace {

constexpr char kWindowClass[] = "TInstallerForm";
constexpr char kDesignCaption[] = "Quillview Installer";
constexpr int kDesignLeft = 332, kDesignTop = 210, kDesignWidth = 360, kDesignHeight = 348;
constexpr DWORD kSingleBorderStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr UINT_PTR kPauseTimerId = 1;
constexpr UINT kPauseInterval = 1000;

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

void Place(HWND control, const TRect& r) {
  SetWindowPos(control, nullptr, r.Left, r.Top, r.Width, r.Height, SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE ClientSize(HWND window) {
  RECT r;
  GetClientRect(window, &r);
  return {r.right - r.left, r.bottom - r.top};
}

}  // namespace

// ---- creation and messages

std::unique_ptr<TInstallerForm> TInstallerForm::Create() {
  RegisterFormClass(&TInstallerForm::WindowProc);
  RegisterControlClasses(Application.Instance());
  std::unique_ptr<TInstallerForm> form(new TInstallerForm());
  CreateWindowExA(WS_EX_TOPMOST | WS_EX_CONTROLPARENT, kWindowClass, kDesignCaption,
                  kSingleBorderStyle, kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight,
                  nullptr, nullptr, Application.Instance(), form.get());
  Application.SetMainWindow(form->handle_);
  form->FormCreate();
  return form;
}

TInstallerForm::~TInstallerForm() {
  SetFeedbackSink(nullptr);
  if (handle_) DestroyWindow(handle_);
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
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    ShowGeneralError(failure.what());
  } catch (const std::bad_alloc&) {
    ShowGeneralError("Out of memory");
  }
  return 0;
}

LRESULT TInstallerForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
      return 0;
    case WM_SIZE:
      FormResize();
      return 0;
    case WM_GETMINMAXINFO:
      if (LicenseShown()) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {kMinTrackWidth, kMinTrackHeight};
      }
      return 0;
    case WM_TIMER:
      if (wParam == kPauseTimerId) pauseTimerTimer();
      return 0;
    case WM_SETCURSOR:
      // The hourglass stays over the window for the whole installation, pauses included.
      if (InstallerState.InstallRunning && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        return TRUE;
      }
      return DefWindowProcA(handle_, message, wParam, lParam);
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

void TInstallerForm::OnCommand(int id) {
  if (id == kInstallId) installBtnClick();
  else if (id == kDeclineId) declineBtnClick();
}

void TInstallerForm::CreateControls() {
  font_.Reset(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
  const auto font = static_cast<HFONT>(font_.Get());
  // Created in tab order: the memo, the content panel, the button panel and inside it Decline,
  // Install and the bar.
  licenseScrollBox_ = AddControl(handle_, "EDIT", "", ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP,
                                 WS_EX_CLIENTEDGE, {0, 153, 350, 105}, kLicenseId, font);
  SendMessageA(licenseScrollBox_, EM_LIMITTEXT, 0, 0);
  contentPanel_ = AddControl(handle_, kPanelClass, "", WS_VISIBLE, WS_EX_CONTROLPARENT,
                             {0, 0, kContentWidth, kContentHeight}, kContentPanelId, font);
  SetPanelBevel(contentPanel_, true);
  bmpPanel_ = AddControl(contentPanel_, kImageClass, "", 0, 0, kImageRect, kImageId, font);
  buttonPanel_ = AddControl(handle_, kPanelClass, "", WS_VISIBLE, WS_EX_CONTROLPARENT,
                            {0, 256, 350, kButtonPanelHeight}, kButtonPanelId, font);
  labFile_ = AddControl(buttonPanel_, "STATIC", "C:\\Windowyyygggs", SS_LEFT | SS_NOPREFIX, 0,
                        {-1, 2, 190, 18}, kLabFileId, font);
  labCopying_ = AddControl(buttonPanel_, "STATIC", "C:\\Windowyyygggs", SS_LEFT | SS_NOPREFIX, 0,
                           {1, 3, 419, 13}, kLabCopyingId, font);
  declineBtn_ = AddControl(buttonPanel_, "BUTTON", "&Decline", BS_PUSHBUTTON | WS_TABSTOP, 0,
                           kDeclineButtonRect, kDeclineId, font);
  installBtn_ = AddControl(buttonPanel_, "BUTTON", "&Install", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE,
                           0, {241, 34, 107, 25}, kInstallId, font);
  progressBar_ = AddControl(buttonPanel_, PROGRESS_CLASSA, "", WS_VISIBLE, 0, {1, 20, 347, 11},
                            kProgressId, font);
  SendMessageA(progressBar_, PBM_SETRANGE32, 0, 100);
  SendMessageA(progressBar_, PBM_SETSTEP, 1, 0);
}

// ---- start-up

void TInstallerForm::FormCreate() {
  // The style gives the single border and a system menu with only the close box.
  CreateControls();
  if (RunStartUp(*this)) Close();
  else ShowCentred();
}

void TInstallerForm::ShowTitle(const std::string& title) {
  Application.SetTitle(title);
  SetWindowTextA(handle_, Application.Title().c_str());
}

void TInstallerForm::ShowLicense(bool hasLicense, const std::string& path) {
  if (!hasLicense) {
    SetWindowTextA(installBtn_, "Install");
    ShowWindow(declineBtn_, SW_HIDE);
    ShowWindow(licenseScrollBox_, SW_HIDE);
    SetResizable(false);
    return;
  }
  LoadLicenseText(path);
  ShowWindow(licenseScrollBox_, SW_SHOW);
  SetResizable(true);
  RECT memo;
  GetWindowRect(licenseScrollBox_, &memo);
  SetWindowPos(licenseScrollBox_, nullptr, 0, 0, memo.right - memo.left, kMemoMinHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowTextA(installBtn_, "Accept and Install");
  ShowWindow(declineBtn_, SW_SHOW);
}

TStatus TInstallerForm::ShowContent(uint8_t contentMode, const std::string& path) {
  switch (contentMode) {
    case cmPicture:
      LoadPicture(path);
      ShowWindow(bmpPanel_, SW_SHOW);
      SetWindowPos(bmpPanel_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      return kOk;
    case cmFlashMovie:
    case cmFlashMovieToo:
      return CreateFlashMovie(FlashMovie, contentPanel_, path);
    default:
      return kOk;
  }
}

void TInstallerForm::FinishLayout() {
  SendMessageA(progressBar_, PBM_SETRANGE32, 0, 10);
  LayoutWindow();
}

void TInstallerForm::LoadLicenseText(const std::string& path) {
  SetWindowTextA(licenseScrollBox_, LinesWithCrLf(ReadTextFile(path)).c_str());
}

void TInstallerForm::LoadPicture(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    RaiseGeneralFailure("Cannot open file", path);
  HANDLE bitmap = LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                             LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  if (!bitmap) throw EGeneralFailure("Bitmap image is not valid");
  picture_.Reset(bitmap);
  SetImageBitmap(bmpPanel_, static_cast<HBITMAP>(bitmap));
}

// The memo is created hidden and shown only for a payload with a licence: its style is where the
// window keeps that fact.
bool TInstallerForm::LicenseShown() const {
  return (GetWindowLongA(licenseScrollBox_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void TInstallerForm::SetResizable(bool resizable) {
  LONG style = GetWindowLongA(handle_, GWL_STYLE);
  style = resizable ? (style | WS_THICKFRAME) : (style & ~WS_THICKFRAME);
  SetWindowLongA(handle_, GWL_STYLE, style);
  SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// ---- layout

void TInstallerForm::LayoutWindow() {
  RECT r;
  GetWindowRect(handle_, &r);
  SetWindowPos(handle_, nullptr, 0, 0, kLayoutWidth, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  FitWindowHeight();
}

void TInstallerForm::FitWindowHeight() {
  RECT window, memo;
  GetWindowRect(handle_, &window);
  const int frameHeight = (window.bottom - window.top) - ClientSize(handle_).cy;
  GetWindowRect(licenseScrollBox_, &memo);
  const int needed = FittedClientHeight(LicenseShown(), memo.bottom - memo.top);
  SetWindowPos(handle_, nullptr, 0, 0, window.right - window.left, frameHeight + needed,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TInstallerForm::FormResize() {
  if (!buttonPanel_) return;
  const SIZE client = ClientSize(handle_);
  const TWindowLayout layout = LayoutForClient(client.cx, client.cy);
  Place(buttonPanel_, layout.ButtonPanel);
  Place(licenseScrollBox_, layout.Memo);
  Place(contentPanel_, layout.ContentPanel);
  Place(progressBar_, layout.ProgressBar);
  Place(installBtn_, layout.InstallButton);
}

// ---- feedback

void TInstallerForm::SetStatus(const std::string& text) {
  ShowWindow(labCopying_, SW_SHOW);
  SetWindowTextA(labCopying_, text.c_str());
  // Painted at once: the caller keeps the thread busy.
  RedrawWindow(labCopying_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void TInstallerForm::StepProgress() {
  SendMessageA(progressBar_, PBM_STEPIT, 0, 0);  // past the maximum it starts over
  Pause();
}

void TInstallerForm::Pause() {
  if (!handle_) return;
  pauseTimerEnabled_ = true;
  SetTimer(handle_, kPauseTimerId, kPauseInterval, nullptr);
  while (pauseTimerEnabled_) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageA(handle_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void TInstallerForm::pauseTimerTimer() {
  KillTimer(handle_, kPauseTimerId);
  pauseTimerEnabled_ = false;
}

void TInstallerForm::HideForSilentRun() {
  ShowWindow(handle_, SW_HIDE);
  SetWindowPos(handle_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TInstallerForm::BringBack() {
  SetFocus(handle_);
  RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  ShowWindow(handle_, SW_SHOW);
  SetForegroundWindow(handle_);
}

// ---- commands and closing

void TInstallerForm::installBtnClick() {
  if (InstallerState.InstallRunning) return;
  InstallerState.InstallRunning = true;
  EnableWindow(declineBtn_, FALSE);
  SetStatus("Preparing for installation...");
  StepProgress();
  const TStatus result = RunInstallationReportingFailures();
  SetStatus(result == kOk ? std::string("Screen Saver Installation and Setup Complete.")
                          : "Install failed. Please try again with new copy of the installer. Error: " +
                                std::to_string(result));
  const int maximum = static_cast<int>(SendMessageA(progressBar_, PBM_GETRANGE, FALSE, 0));
  SendMessageA(progressBar_, PBM_SETPOS, maximum, 0);
  Pause();
  Pause();
  SendMessageA(progressBar_, PBM_SETPOS, 0, 0);
  InstallerState.InstallRunning = false;
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  if (result == kOk) {
    InstallerState.ExitCode = 0;
    Close();
    Application.Terminate();
  } else {
    InstallerState.ExitCode = 2;
    EnableWindow(installBtn_, FALSE);
  }
}

// A failure that is not a status code (a profile or registry write refused) is shown by the
// general error display; the installation counts as failed, and the window can still be closed.
TStatus TInstallerForm::RunInstallationReportingFailures() {
  try {
    return RunInstallation();
  } catch (const EGeneralFailure& failure) {
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    ShowGeneralError(failure.what());
    return kNoAttempt;
  } catch (const std::bad_alloc&) {
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    ShowGeneralError("Out of memory");
    return kNoMemory;
  }
}

void TInstallerForm::declineBtnClick() { Close(); }

bool TInstallerForm::FormCloseQuery() const { return !InstallerState.InstallRunning; }

void TInstallerForm::FormClose() {
  FreeFlashMovie();
  RemoveStagingCopy();
}

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
