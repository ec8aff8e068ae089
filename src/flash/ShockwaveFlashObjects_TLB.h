// TShockwaveFlash: the Flash Player ActiveX control, created by its class id and called through
// IDispatch by the dispatch ids of its type library. Hosted in a panel through a small OLE site
// of our own, or created bare as a probe that never gets a window. Every failing call throws
// EFlashError.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <memory>
#include <string>

#include "general_error.h"
#include "win32_handles.h"

// A failing call of the control. The operations that use the control handle it as they must;
// one that reaches a window handler is shown by the general error display.
class EFlashError : public EGeneralFailure {
 public:
  explicit EFlashError(const char* what) : EGeneralFailure(what) {}
};

class TOleSite;

class TShockwaveFlash {
 public:
  // {D27CDB6E-AE6D-11CF-96B8-444553540000}
  static const CLSID ClassId;
  enum DispatchId : DISPID {
    kMovie = 102,
    kStopPlay = 126,
    kFlashVersion = 132,
    kSAlign = 134,
    kMenu = 135,
    kSetVariable = 151,
  };

  // The control, created but neither sited nor shown.
  TShockwaveFlash();
  ~TShockwaveFlash();
  TShockwaveFlash(const TShockwaveFlash&) = delete;
  TShockwaveFlash& operator=(const TShockwaveFlash&) = delete;

  // Where the control will sit in its parent, in the parent's client coordinates.
  void SetBounds(const RECT& bounds) { bounds_ = bounds; }
  // Sites the control and activates it in place as a child window of parent, within the bounds.
  void SetParent(HWND parent);

  void PutMovie(const std::string& path);
  std::string SAlign();
  void PutMenu(bool on);
  void SetVariable(const std::string& name, const std::string& value);
  void StopPlay();
  int32_t FlashVersion();

 private:
  VARIANT Invoke(DISPID id, WORD flags, VARIANT* args, UINT count);

  // Released in reverse order: the site, the object, the dispatch interface.
  ComPtr<IDispatch> dispatch_;
  ComPtr<IOleObject> object_;
  ComPtr<TOleSite> site_;
  RECT bounds_{};
};

// Wide text from the system's code page.
std::wstring ToWide(const std::string& text);
