#include "ShockwaveFlashObjects_TLB.h"

#include "ole_site.h"

const CLSID TShockwaveFlash::ClassId = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

void Check(HRESULT result, const char* what) {
  if (FAILED(result)) throw EFlashError(what);
}

// A BSTR owned for the length of one call.
struct Bstr {
  explicit Bstr(const std::string& text) : value(SysAllocString(ToWide(text).c_str())) {}
  ~Bstr() { SysFreeString(value); }
  BSTR value;
};

}  // namespace

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

TShockwaveFlash::TShockwaveFlash() {
  Check(CoCreateInstance(ClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch_.ReceiveVoid()),
        "the Flash Player control cannot be created");
  Check(dispatch_->QueryInterface(IID_IOleObject, object_.ReceiveVoid()),
        "the Flash Player control is not an OLE object");
}

TShockwaveFlash::~TShockwaveFlash() {
  if (site_) {
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
  }
}

void TShockwaveFlash::SetParent(HWND parent) {
  if (!site_) {
    // The site is born with its one reference, which site_ owns.
    *site_.Receive() = new TOleSite(parent, bounds_);
    // The client site comes first; in-place activation asks it for the window and the bounds.
    Check(object_->SetClientSite(site_.Get()), "the Flash Player control refuses its site");
  }
  Check(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.Get(), 0, parent, &bounds_),
        "the Flash Player control cannot be activated in place");
}

VARIANT TShockwaveFlash::Invoke(DISPID id, WORD flags, VARIANT* args, UINT count) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{args, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, count,
                    flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  VARIANT result;
  VariantInit(&result);
  Check(dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, nullptr, nullptr),
        "a call of the Flash Player control failed");
  return result;
}

void TShockwaveFlash::PutMovie(const std::string& path) {
  Bstr text(path);
  VARIANT arg;
  arg.vt = VT_BSTR;
  arg.bstrVal = text.value;
  Invoke(kMovie, DISPATCH_PROPERTYPUT, &arg, 1);
}

std::string TShockwaveFlash::SAlign() {
  VARIANT result = Invoke(kSAlign, DISPATCH_PROPERTYGET, nullptr, 0);
  std::string text;
  if (result.vt == VT_BSTR && result.bstrVal) {
    const int length = WideCharToMultiByte(CP_ACP, 0, result.bstrVal, -1, nullptr, 0, nullptr, nullptr);
    text.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    WideCharToMultiByte(CP_ACP, 0, result.bstrVal, -1, text.data(), length, nullptr, nullptr);
  }
  VariantClear(&result);
  return text;
}

void TShockwaveFlash::PutMenu(bool on) {
  VARIANT arg;
  arg.vt = VT_BOOL;
  arg.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
  Invoke(kMenu, DISPATCH_PROPERTYPUT, &arg, 1);
}

void TShockwaveFlash::SetVariable(const std::string& name, const std::string& value) {
  Bstr nameText(name), valueText(value);
  VARIANT args[2];  // in reverse order
  args[0].vt = VT_BSTR;
  args[0].bstrVal = valueText.value;
  args[1].vt = VT_BSTR;
  args[1].bstrVal = nameText.value;
  Invoke(kSetVariable, DISPATCH_METHOD, args, 2);
}

void TShockwaveFlash::StopPlay() { Invoke(kStopPlay, DISPATCH_METHOD, nullptr, 0); }

int32_t TShockwaveFlash::FlashVersion() {
  VARIANT result = Invoke(kFlashVersion, DISPATCH_METHOD, nullptr, 0);
  VARIANT number;
  VariantInit(&number);
  const HRESULT converted = VariantChangeType(&number, &result, 0, VT_I4);
  VariantClear(&result);
  Check(converted, "the Flash Player reports no version number");
  return number.lVal;
}
