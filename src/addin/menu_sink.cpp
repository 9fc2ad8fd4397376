#include "addin/menu_sink.h"

#include <new>

#include "addin/Connect.h"
#include "ide/host.h"
#include "common/app.h"
#include "common/error.h"
#include "common/later_windows.h"

namespace quarnel {
namespace {

// Hands a failure of a click handler back to the IDE as the event's result.
HRESULT Raise(EXCEPINFO* excepinfo, HRESULT code, const std::wstring& description) {
  if (excepinfo) {
    *excepinfo = EXCEPINFO{};
    excepinfo->bstrSource = SysAllocString(kAppTitle);
    excepinfo->bstrDescription = SysAllocString(description.c_str());
    excepinfo->scode = FAILED(code) ? code : E_FAIL;
  }
  return DISP_E_EXCEPTION;
}

}  // namespace

STDMETHODIMP MenuSink::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, host::DIID_dispCommandBarControlEvents)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MenuSink::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) MenuSink::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP MenuSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP MenuSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

STDMETHODIMP MenuSink::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (i == 0 && names[0] && SameNoCase(names[0], L"Click")) {
      ids[0] = host::DISPID_CommandBarClick;
    } else {
      hr = DISP_E_UNKNOWNNAME;
    }
  }
  return hr;
}

STDMETHODIMP MenuSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                              EXCEPINFO* excepinfo, UINT*) {
  if (result) VariantInit(result);
  if (id != host::DISPID_CommandBarClick) return DISP_E_MEMBERNOTFOUND;
  // The control and the two flags are not needed: the flags go back as they came.
  Connect* owner = owner_;
  if (!owner) return S_OK;
  // The Connect stays alive while its handler runs, whatever the IDE does meanwhile.
  owner->AddRef();
  const auto release = scope_exit([owner] { owner->Release(); });
  try {
    if (command_ == Command::kFile) {
      owner->MenuHandler_Click();
    } else {
      owner->MenuHandlerAddin_Click();
    }
    return S_OK;
  } catch (const Error& error) {
    return Raise(excepinfo, error.code(), error.description());
  } catch (const std::bad_alloc&) {
    return Raise(excepinfo, E_OUTOFMEMORY, Error::Vb(7).description());
  } catch (...) {
    return Raise(excepinfo, E_UNEXPECTED, Error::FromHResult(E_UNEXPECTED).description());
  }
}

}  // namespace quarnel
