#include "reference_addin.h"

#include <ocidl.h>

#include <stdexcept>

namespace quarnel::bench {
namespace {

// The source interface of a command-bar event object.
constexpr IID kClickEvents = {0x0002E198, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw std::runtime_error(std::string("reference add-in: ") + what + " failed");
}

// DISPIDs resolved once per process, as a client with a cache would.
struct Ids {
  DISPID command_bars, events, item, controls, add, add_before, caption, paste_face, delete_,
      command_bar_events, save_as;
};

Ids& Resolved(IDispatch* application) {
  static Ids ids = [&] {
    Ids r{};
    r.command_bars = IdOf(application, L"CommandBars");
    r.events = IdOf(application, L"Events");
    const com_ptr<IDispatch> bars = GetObjectProperty(application, L"CommandBars");
    r.item = IdOf(bars.Get(), L"Item");
    return r;
  }();
  return ids;
}

HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> args_last_first,
               std::vector<DISPID> named, VARIANT* result) {
  DISPPARAMS params{args_last_first.data(), named.data(), static_cast<UINT>(args_last_first.size()),
                    static_cast<UINT>(named.size())};
  EXCEPINFO info{};
  const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info, nullptr);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  return hr;
}

com_ptr<IDispatch> AsObject(VARIANT& v) {
  com_ptr<IDispatch> object;
  if (v.vt == VT_DISPATCH) object = v.pdispVal;
  VariantClear(&v);
  if (!object) throw std::runtime_error("reference add-in: no object");
  return object;
}

com_ptr<IDispatch> GetById(IDispatch* object, DISPID id, std::vector<VARIANT> args = {}) {
  VARIANT result;
  VariantInit(&result);
  Check(Invoke(object, id, DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args), {}, &result), "a property get");
  return AsObject(result);
}

VARIANT Bstr(BSTR text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

HBITMAP DrawFace() {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, 16, 16};
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 128));
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

}  // namespace

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "GetIDsOfNames");
  return id;
}

com_ptr<IDispatch> GetObjectProperty(IDispatch* object, const wchar_t* name) {
  return GetById(object, IdOf(object, name));
}

class ReferenceAddin::Sink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, kClickEvents)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return S_OK;
  }

 private:
  LONG refs_ = 1;
};

ReferenceAddin::ReferenceAddin()
    : face_(DrawFace()),
      owner_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}

ReferenceAddin::~ReferenceAddin() {
  Disconnect();
  DeleteObject(face_);
  DestroyWindow(owner_);
}

void ReferenceAddin::Connect(IDispatch* application) {
  Ids& ids = Resolved(application);
  const com_ptr<IDispatch> bars = GetById(application, ids.command_bars);
  VARIANT file = Bstr(SysAllocString(L"File"));
  const com_ptr<IDispatch> bar = GetById(bars.Get(), ids.item, {file});
  VariantClear(&file);
  if (ids.controls == 0) ids.controls = IdOf(bar.Get(), L"Controls");
  const com_ptr<IDispatch> controls = GetById(bar.Get(), ids.controls);
  if (ids.add == 0) {
    DISPID both[2] = {DISPID_UNKNOWN, DISPID_UNKNOWN};
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Add"), const_cast<LPOLESTR>(L"Before")};
    Check(controls->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, both), "GetIDsOfNames Add");
    ids.add = both[0];
    ids.add_before = both[1];
  }
  VARIANT before;
  VariantInit(&before);
  before.vt = VT_I2;
  before.iVal = 7;
  VARIANT added;
  VariantInit(&added);
  Check(Invoke(controls.Get(), ids.add, DISPATCH_METHOD, {before}, {ids.add_before}, &added), "Controls.Add");
  control_ = AsObject(added);

  if (ids.caption == 0) {
    ids.caption = IdOf(control_.Get(), L"Caption");
    ids.paste_face = IdOf(control_.Get(), L"PasteFace");
    ids.delete_ = IdOf(control_.Get(), L"Delete");
  }
  VARIANT caption = Bstr(SysAllocString(L"Quarnel..."));
  Check(Invoke(control_.Get(), ids.caption, DISPATCH_PROPERTYPUT, {caption}, {DISPID_PROPERTYPUT}, nullptr),
        "Caption");
  VariantClear(&caption);

  // The face: a copy of the picture on the clipboard (whose data needs an
  // owner window), then PasteFace.
  HBITMAP copy = static_cast<HBITMAP>(CopyImage(face_, IMAGE_BITMAP, 0, 0, 0));
  if (!OpenClipboard(owner_)) {
    DeleteObject(copy);
    throw std::runtime_error("reference add-in: the clipboard is busy");
  }
  EmptyClipboard();
  if (!SetClipboardData(CF_BITMAP, copy)) DeleteObject(copy);
  CloseClipboard();
  Check(Invoke(control_.Get(), ids.paste_face, DISPATCH_METHOD, {}, {}, nullptr), "PasteFace");

  const com_ptr<IDispatch> events = GetById(application, ids.events);
  if (ids.command_bar_events == 0) ids.command_bar_events = IdOf(events.Get(), L"CommandBarEvents");
  VARIANT control_arg;
  VariantInit(&control_arg);
  control_arg.vt = VT_DISPATCH;
  control_arg.pdispVal = control_.Get();
  // The event object comes as VT_UNKNOWN: all it is asked for is its container.
  VARIANT source;
  VariantInit(&source);
  Check(Invoke(events.Get(), ids.command_bar_events, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {control_arg}, {},
               &source),
        "CommandBarEvents");
  com_ptr<IConnectionPointContainer> container;
  const HRESULT found = source.vt == VT_UNKNOWN && source.punkVal
                            ? source.punkVal->QueryInterface(IID_PPV_ARGS(&container))
                            : E_NOINTERFACE;
  VariantClear(&source);
  Check(found, "IConnectionPointContainer");
  Check(container->FindConnectionPoint(kClickEvents, &point_), "FindConnectionPoint");
  *sink_.GetAddressOf() = new Sink();
  Check(point_->Advise(sink_.Get(), &cookie_), "Advise");
}

void ReferenceAddin::Disconnect() {
  if (point_) point_->Unadvise(cookie_);
  point_.Reset();
  sink_.Reset();
  cookie_ = 0;
  if (control_) {
    // Resolved at the connection that made the control.
    Invoke(control_.Get(), Resolved(nullptr).delete_, DISPATCH_METHOD, {}, {}, nullptr);
  }
  control_.Reset();
}

void ReferenceSave(const std::vector<SaveItem>& items, IDispatch* project, const std::wstring& project_path) {
  static DISPID component_save = DISPID_UNKNOWN;
  static DISPID project_save = DISPID_UNKNOWN;
  for (const SaveItem& item : items) {
    if (component_save == DISPID_UNKNOWN) component_save = IdOf(item.component.Get(), L"SaveAs");
    VARIANT path = Bstr(SysAllocStringLen(item.path.data(), static_cast<UINT>(item.path.size())));
    Check(Invoke(item.component.Get(), component_save, DISPATCH_METHOD, {path}, {}, nullptr), "SaveAs");
    VariantClear(&path);
  }
  if (project_save == DISPID_UNKNOWN) project_save = IdOf(project, L"SaveAs");
  VARIANT path = Bstr(SysAllocStringLen(project_path.data(), static_cast<UINT>(project_path.size())));
  Check(Invoke(project, project_save, DISPATCH_METHOD, {path}, {}, nullptr), "project SaveAs");
  VariantClear(&path);
}

}  // namespace quarnel::bench
