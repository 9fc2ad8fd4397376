// Quarnel.dll's entry points: the module handle, the class factory of Connect,
// the unload test and registration.
#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include "Quarnel_h.h"
#include "addin/Connect.h"
#include "addin/module.h"
#include "addin/registration.h"
#include "addin/runtime_size.h"
#include "common/app.h"
#include "common/barrier.h"
#include "forms/frmAddIn.h"

namespace quarnel {
namespace {

HMODULE dll_module = nullptr;

// Makes a new Connect for each request; counted as an object of the module
// while anyone holds it.
class ClassFactory final : public IClassFactory {
 public:
  ClassFactory() = default;
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return Connect::Create(riid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ModuleAddRef();
    } else {
      ModuleRelease();
    }
    return S_OK;
  }

 private:
  ~ClassFactory() = default;
  volatile LONG refs_ = 1;
  ModuleObject counted_;
};

}  // namespace
}  // namespace quarnel

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      quarnel::dll_module = instance;
      return quarnel::RuntimeAttach();
    case DLL_THREAD_DETACH:
      quarnel::RuntimeThreadDetach();
      break;
    case DLL_PROCESS_DETACH:
      quarnel::RuntimeDetach();
      break;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Connect)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) quarnel::ClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, out);
  factory->Release();
  return hr;
}

// No object alive, no lock held, and no form window or message hook whose
// procedure is here: unloaded under one, the IDE would crash at its next message.
STDAPI DllCanUnloadNow() {
  return quarnel::ModuleCount() == 0 && !quarnel::frmAddIn::HoldModule() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  return quarnel::Barrier([] { return quarnel::RegisterServer(quarnel::AppFileName()); });
}

STDAPI DllUnregisterServer() {
  return quarnel::Barrier([] { return quarnel::UnregisterServer(quarnel::AppFileName()); });
}

// "regsvr32 [/u] /n /i:user": the whole registration, for the current user only
// (no administrator needed). "regsvr32 [/u] /n /i:addin": only the current user's
// entry in the IDE's add-in list, for a machine-wide installation (its Active
// Setup command); it keeps the values of an entry already there.
// "regsvr32 [/u] /n /i:machine": the machine's part of regsvr32's registration,
// without the entry (the installer's elevated copy). Any other command line is
// refused.
STDAPI DllInstall(BOOL install, LPCWSTR command_line) {
  if (!command_line) return E_INVALIDARG;
  quarnel::Scope scope;
  if (_wcsicmp(command_line, L"user") == 0) {
    scope = quarnel::Scope::kUser;
  } else if (_wcsicmp(command_line, L"addin") == 0) {
    scope = quarnel::Scope::kAddinEntry;
  } else if (_wcsicmp(command_line, L"machine") == 0) {
    scope = quarnel::Scope::kMachineOnly;
  } else {
    return E_INVALIDARG;
  }
  return quarnel::Barrier([&] {
    const std::wstring path = quarnel::AppFileName();
    return install ? quarnel::RegisterServer(path, scope) : quarnel::UnregisterServer(path, scope);
  });
}
