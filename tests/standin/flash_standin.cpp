// A stand-in for the Flash Player control: an in-process COM server registered under the
// player's class id. It answers the members the installer uses, draws the movie's path on a
// coloured background when activated in place, and logs every call with its arguments.
//
// Told through the environment: STANDIN_FLASH_VERSION (the version to report, decimal;
// default 11.2), STANDIN_FLASH_FAIL_CREATE (creations to refuse, by their 1-based order in the
// process, comma-separated, or "all"), STANDIN_FLASH_FAIL_VERSION (1: FlashVersion fails),
// STANDIN_FLASH_NEED_OLE (1: refuse in-place activation when OLE is not initialised),
// STANDIN_FLASH_FAIL_STOP (1: StopPlay fails).
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "standin_log.h"

namespace {

const CLSID kFlashClass = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const char kClassKey[] = "CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";
HINSTANCE module;
LONG liveObjects = 0;
int creations = 0;

std::string Env(const char* name) {
  char value[256];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n && n < sizeof value ? std::string(value, n) : std::string();
}

bool RefuseCreation(int ordinal) {
  const std::string list = "," + Env("STANDIN_FLASH_FAIL_CREATE") + ",";
  return list == ",all," || list.find("," + std::to_string(ordinal) + ",") != std::string::npos;
}

std::string Narrow(const wchar_t* text) {
  if (!text) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

LRESULT CALLBACK MovieWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT r;
  GetClientRect(window, &r);
  HBRUSH teal = CreateSolidBrush(RGB(0, 128, 128));
  FillRect(dc, &r, teal);
  DeleteObject(teal);
  char text[MAX_PATH];
  GetWindowTextA(window, text, sizeof text);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  DrawTextA(dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_WORDBREAK);
  EndPaint(window, &paint);
  return 0;
}

class FlashStandIn final : public IDispatch, public IOleObject, public IOleInPlaceObject, public IPersistStreamInit {
 public:
  explicit FlashStandIn(int ordinal) : ordinal_(ordinal) {
    InterlockedIncrement(&liveObjects);
    StandInLog("flash create #" + std::to_string(ordinal_));
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
    else if (iid == IID_IOleObject) *out = static_cast<IOleObject*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) *out = static_cast<IOleInPlaceObject*>(this);
    else if (iid == IID_IPersistStreamInit) *out = static_cast<IPersistStreamInit*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      StandInLog("flash release #" + std::to_string(ordinal_));
      if (window_) DestroyWindow(window_);
      if (site_) site_->Release();
      InterlockedDecrement(&liveObjects);
      delete this;
    }
    return left;
  }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    auto text = [&](UINT i) { return params->cArgs > i && params->rgvarg[i].vt == VT_BSTR ? Narrow(params->rgvarg[i].bstrVal) : std::string("?"); };
    switch (id) {
      case 102:  // Movie
        if (!(flags & DISPATCH_PROPERTYPUT)) return DISP_E_MEMBERNOTFOUND;
        movie_ = text(0);
        StandInLog("flash Movie=" + movie_);
        if (window_) SetWindowTextA(window_, movie_.c_str());
        return S_OK;
      case 126:  // StopPlay
        StandInLog("flash StopPlay");
        return Env("STANDIN_FLASH_FAIL_STOP") == "1" ? E_FAIL : S_OK;
      case 132:  // FlashVersion
        StandInLog("flash FlashVersion");
        if (Env("STANDIN_FLASH_FAIL_VERSION") == "1") return E_FAIL;
        if (result) {
          result->vt = VT_I4;
          const std::string v = Env("STANDIN_FLASH_VERSION");
          result->lVal = v.empty() ? 0x000B0002 : std::stol(v);
        }
        return S_OK;
      case 134:  // SAlign
        StandInLog("flash SAlign");
        if (result) {
          result->vt = VT_BSTR;
          result->bstrVal = SysAllocString(L"LT");
        }
        return S_OK;
      case 135:  // Menu
        StandInLog(std::string("flash Menu=") +
                   (params->cArgs && params->rgvarg[0].vt == VT_BOOL && params->rgvarg[0].boolVal ? "true" : "false"));
        return S_OK;
      case 151:  // SetVariable(name, value): arguments arrive last first
        StandInLog("flash SetVariable(" + text(1) + "," + text(0) + ")");
        return S_OK;
      default:
        StandInLog("flash Invoke " + std::to_string(id));
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override {
    StandInLog(site ? "flash SetClientSite" : "flash SetClientSite(null)");
    if (site_) site_->Release();
    site_ = site;
    if (site_) site_->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetClientSite(IOleClientSite** site) override {
    *site = site_;
    if (site_) site_->AddRef();
    return S_OK;
  }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD) override {
    StandInLog("flash Close");
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    return S_OK;
  }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* active, LONG, HWND, LPCRECT) override {
    StandInLog("flash DoVerb " + std::to_string(verb));
    if (Env("STANDIN_FLASH_NEED_OLE") == "1") {
      IDataObject* clipboard = nullptr;
      if (OleGetClipboard(&clipboard) == CO_E_NOTINITIALIZED) {
        StandInLog("flash DoVerb refused: OLE not initialised");
        return E_FAIL;
      }
      if (clipboard) clipboard->Release();
    }
    IOleClientSite* client = active ? active : site_;
    IOleInPlaceSite* site = nullptr;
    if (!client || FAILED(client->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
      return E_FAIL;
    HWND parent = nullptr;
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO info{sizeof info};
    HRESULT hr = site->CanInPlaceActivate();
    if (hr == S_OK) hr = site->OnInPlaceActivate();
    if (SUCCEEDED(hr)) hr = site->GetWindow(&parent);
    if (SUCCEEDED(hr)) hr = site->GetWindowContext(&frame, &document, &position, &clip, &info);
    if (frame) frame->Release();
    if (document) document->Release();
    site->Release();
    if (FAILED(hr)) return hr;
    WNDCLASSA cls{};
    cls.lpfnWndProc = MovieWindowProc;
    cls.hInstance = module;
    cls.lpszClassName = "StandInFlashMovie";
    RegisterClassA(&cls);
    window_ = CreateWindowExA(0, cls.lpszClassName, movie_.c_str(), WS_CHILD | WS_VISIBLE, position.left,
                              position.top, position.right - position.left, position.bottom - position.top,
                              parent, nullptr, module, nullptr);
    StandInLog("flash window " + std::to_string(position.left) + "," + std::to_string(position.top) + " " +
               std::to_string(position.right - position.left) + "x" + std::to_string(position.bottom - position.top));
    return window_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* id) override {
    *id = kFlashClass;
    return S_OK;
  }
  STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
  STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
    *status = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT;
    return S_OK;
  }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = window_;
    return window_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override {
    StandInLog("flash InPlaceDeactivate");
    return S_OK;
  }
  STDMETHODIMP UIDeactivate() override { return S_OK; }
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
    if (window_)
      MoveWindow(window_, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, TRUE);
    return S_OK;
  }
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

  // IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* id) override {
    *id = kFlashClass;
    return S_OK;
  }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(LPSTREAM) override { return S_OK; }
  STDMETHODIMP Save(LPSTREAM, BOOL) override { return S_OK; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP InitNew() override { return S_OK; }

 private:
  ULONG refs_ = 1;
  int ordinal_;
  IOleClientSite* site_ = nullptr;
  HWND window_ = nullptr;
  std::string movie_;
};

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    const int ordinal = ++creations;
    if (RefuseCreation(ordinal)) {
      StandInLog("flash create #" + std::to_string(ordinal) + " refused");
      return E_FAIL;
    }
    auto* object = new FlashStandIn(ordinal);
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
  if (id != kFlashClass) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return liveObjects == 0 ? S_OK : S_FALSE; }

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  char path[MAX_PATH];
  GetModuleFileNameA(module, path, MAX_PATH);
  HKEY key;
  const std::string server = std::string(kClassKey) + "\\InprocServer32";
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), lstrlenA(path) + 1);
  RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
  RegCloseKey(key);
  StandInLog("flash registered");
  return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\InprocServer32").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
  return S_OK;
}
