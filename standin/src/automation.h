#pragma once
// What every stand-in object shares: reference counting with the process-wide
// counts of live objects and references, and an IDispatch driven by the type
// library (ITypeInfo::Invoke through the object's own vtable), with the record of
// calls, injected failures and errors reported as EXCEPINFO and IErrorInfo.
//
//   class WindowObject final : public Automation<Window> {
//     STDMETHODIMP SetFocus() override {
//       return Run(L"SetFocus", DISPATCH_METHOD, [&](Core& core) { ... });
//     }
//   };
#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/owners.h"
#include "core.h"
#include "typelibs.h"

namespace standin::detail {

using quarnel::com_ptr;

// A failed host call: its status code and the description its caller is given.
struct HostError {
  HRESULT code;
  std::wstring description;
};

// Visual Basic's run-time errors, as the IDE raises them (FACILITY_CONTROL).
HostError VbError(WORD number, std::wstring description);
inline HostError InvalidArgument() { return VbError(5, L"Invalid procedure call or argument"); }
inline HostError SubscriptOutOfRange() { return VbError(9, L"Subscript out of range"); }
inline HostError InvalidPropertyValue() { return VbError(380, L"Invalid property value"); }

// What every object answers once the IDE is gone or has shut down: the failure
// of a server disconnected from its clients.
inline HostError Disconnected() {
  return {RPC_E_DISCONNECTED, L"The object invoked has disconnected from its clients."};
}

// Thrown when the part of the model behind an object is gone (a deleted control).
struct NodeGone {};

// The node behind an object, held for the length of a call; throws NodeGone.
template <class N>
std::shared_ptr<N> Alive(const std::weak_ptr<N>& node) {
  auto strong = node.lock();
  if (!strong) throw NodeGone{};
  return strong;
}

class ObjectBase;

// A private interface by which the stand-in knows its own objects among those a
// client passes in (a control given to CommandBarEvents, a project to putref).
struct IStandinObject : IUnknown {
  virtual ObjectBase* STDMETHODCALLTYPE Self() = 0;
};
inline constexpr GUID IID_IStandinObject = {0x6B0F3C1E, 0x7A52, 0x4D8B, {0x9E, 0x41, 0x2C, 0x5D, 0x8F, 0x1A, 0x7B, 0x30}};

// Counts itself among the live objects and its references among the outstanding
// ones; deletes itself at the last Release.
class ObjectBase {
 public:
  ObjectBase(const ObjectBase&) = delete;
  ObjectBase& operator=(const ObjectBase&) = delete;
  // The interface the object's IDispatch describes; null for one without.
  virtual const InterfaceType* type() const { return nullptr; }
  // The object's kind, for reports: its interface's name.
  virtual std::wstring kind() const { return type() ? type()->name() : L"enumerator"; }
  ULONG references() const { return refs_; }
  // Each stand-in object alive now in this process, with its references.
  static std::vector<std::pair<const ObjectBase*, ULONG>> Living();

 protected:
  ObjectBase() noexcept;
  virtual ~ObjectBase();
  ULONG AddRefImpl() noexcept;
  ULONG ReleaseImpl() noexcept;

 private:
  ULONG refs_ = 1;
};

// The stand-in object behind a client's pointer, if it is one of type T (the
// caller's own reference keeps it alive); else null.
template <class T>
T* Unwrap(IUnknown* unknown) {
  if (!unknown) return nullptr;
  IStandinObject* own = nullptr;
  if (FAILED(unknown->QueryInterface(IID_IStandinObject, reinterpret_cast<void**>(&own)))) return nullptr;
  T* object = dynamic_cast<T*>(own->Self());
  own->Release();
  return object;
}

// The interface of a stand-in object, for the record; null for a client's object.
const InterfaceType* TypeOfObject(IUnknown* unknown);

// Reports a failure to a vtable caller through IErrorInfo: `source` is the
// library's name, `iid` the interface called.
void SetErrorInfoFor(const wchar_t* source, const IID& iid, const std::wstring& description) noexcept;

// The IDispatch of one object and the bookkeeping of its calls.
class CallSite {
 public:
  CallSite(std::weak_ptr<Core> core, const InterfaceType& type) : core_(std::move(core)), type_(type) {}

  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) noexcept;
  HRESULT Invoke(IUnknown* self, DISPID dispid, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_error) noexcept;

  // Around each method body: Enter records the call (unless Invoke did), looks for
  // an injected failure and hands out the model; throws HostError. Leave reports
  // the outcome.
  std::shared_ptr<Core> Enter(const wchar_t* member, WORD flags, std::wstring (*args)(const void*),
                              const void* args_context);
  HRESULT Leave(HRESULT code, const std::wstring& description) noexcept;
  HRESULT LeaveGone(const wchar_t* member) noexcept;

  const std::weak_ptr<Core>& core() const { return core_; }
  const InterfaceType& type() const { return type_; }

 private:
  std::weak_ptr<Core> core_;
  const InterfaceType& type_;
  bool invoking_ = false;                 // Invoke is calling through the vtable
  std::optional<std::size_t> invoke_entry_;
  bool via_invoke_ = false;               // the running method came through Invoke
  std::optional<std::size_t> entry_;      // its record, when it came directly
  std::optional<HostError> pending_;      // its failure, for Invoke's EXCEPINFO
};

// An automation object whose default interface is `Interface` (a dual interface
// of the two libraries).
template <class Interface>
class Automation : public Interface, public ISupportErrorInfo, public IStandinObject, public ObjectBase {
 public:
  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || Answers(riid)) {
      *out = static_cast<Interface*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_IStandinObject)) {
      *out = static_cast<IStandinObject*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRefImpl();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    *info = site_.type().dispatch_info();
    (*info)->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return site_.GetIDsOfNames(riid, names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* arg_error) override {
    return site_.Invoke(static_cast<Interface*>(this), dispid, riid, flags, params, result, excep, arg_error);
  }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override { return Answers(riid) ? S_OK : S_FALSE; }

  // IStandinObject
  ObjectBase* STDMETHODCALLTYPE Self() override { return this; }

  const InterfaceType* type() const override { return &site_.type(); }

 protected:
  explicit Automation(std::weak_ptr<Core> core) : site_(std::move(core), TypeOf(__uuidof(Interface))) {}

  // The interfaces the object answers QueryInterface for, besides IUnknown and IDispatch.
  virtual bool Answers(REFIID riid) const { return IsEqualIID(riid, __uuidof(Interface)); }

  // Before each member's work: the time a slow IDE takes (none unless set).
  virtual void Delay(Core&) {}

  // Runs one method: `body(Core&)` does the work and throws HostError (or NodeGone)
  // to fail. `args()` gives the arguments as text for the record.
  template <class Body>
  HRESULT Run(const wchar_t* member, WORD flags, Body&& body) noexcept {
    return Run(member, flags, [] { return std::wstring(); }, std::forward<Body>(body));
  }
  template <class Args, class Body>
  HRESULT Run(const wchar_t* member, WORD flags, Args&& args, Body&& body) noexcept {
    try {
      auto text = [](const void* context) -> std::wstring { return (*static_cast<const std::remove_reference_t<Args>*>(context))(); };
      std::shared_ptr<Core> core = site_.Enter(member, flags, text, &args);
      Delay(*core);
      body(*core);
      return site_.Leave(S_OK, {});
    } catch (const HostError& error) {
      return site_.Leave(error.code, error.description);
    } catch (const NodeGone&) {
      return site_.LeaveGone(member);
    } catch (const std::bad_alloc&) {
      return site_.Leave(E_OUTOFMEMORY, L"Out of memory");
    } catch (...) {
      return site_.Leave(E_UNEXPECTED, L"Unexpected error");
    }
  }

  // The model, for code outside Run (destructors); null once the Ide is gone.
  std::shared_ptr<Core> core() const { return site_.core().lock(); }
  const std::weak_ptr<Core>& weak_core() const { return site_.core(); }

 private:
  CallSite site_;
};

// Takes over the one reference of a new object. (com_ptr::Attach of MinGW's WRL
// adds a reference of its own, so it is not used for this.)
//   com_ptr<EventsObject> events = Adopt(new EventsObject(core));
template <class T>
com_ptr<T> Adopt(T* fresh) noexcept {
  com_ptr<T> owner;
  *owner.GetAddressOf() = fresh;
  return owner;
}

// Hands a new reference to a caller's out-parameter.
template <class T, class Out>
void Hand(const com_ptr<T>& object, Out** out) {
  object.Get()->AddRef();
  *out = static_cast<Out*>(object.Get());
}

// The one object that stands for a node: the living one, or a new one.
//   com_ptr<ControlObject> control = ObjectFor<ControlObject>(core, node);
template <class Object, class Node>
com_ptr<Object> ObjectFor(const std::weak_ptr<Core>& core, const std::shared_ptr<Node>& node) {
  com_ptr<Object> object;
  if (node->object) {
    object = node->object;  // AddRef
  } else {
    object = Adopt(new Object(core, node));
    node->object = object.Get();
  }
  return object;
}

// Text and boolean values across the interfaces.
BSTR AllocText(const std::wstring& text);
inline VARIANT_BOOL Bool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }
inline std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// Arguments in VARIANTs, as the IDE reads them; the conversions throw HostError
// (type mismatch) for a value that does not convert.
bool IsMissing(const VARIANT& value);  // omitted, or Empty
long ToLong(const VARIANT& value);
bool ToBool(const VARIANT& value);
std::wstring ToText(const VARIANT& value);
// An Item index: a name when text is passed, else a 1-based position.
struct Index {
  bool by_name = false;
  std::wstring name;
  long position = 0;
};
Index ToIndex(const VARIANT& value);

}  // namespace standin::detail
