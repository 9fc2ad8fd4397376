#include "automation.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>

#include "variant_text.h"

namespace standin {
namespace {
std::atomic<long> live_objects{0};
std::atomic<long> outstanding_references{0};

// The objects alive, for the report at shut-down.
std::mutex living_lock;
std::set<const detail::ObjectBase*>& LivingSet() {
  static auto* living = new std::set<const detail::ObjectBase*>();  // outlives every object
  return *living;
}
}  // namespace

long LiveObjects() { return live_objects.load(); }
long OutstandingReferences() { return outstanding_references.load(); }

namespace detail {
namespace {

std::wstring Hex(long value) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
  return text;
}

// Fills EXCEPINFO for a failure, unless the type information already did.
HRESULT Exception(EXCEPINFO* excep, const InterfaceType& type, HRESULT code, const std::wstring& description) {
  if (excep && !excep->bstrDescription) {
    SysFreeString(excep->bstrSource);
    *excep = EXCEPINFO{};
    excep->scode = code;
    excep->bstrSource = SysAllocString(type.library().c_str());
    excep->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  }
  return DISP_E_EXCEPTION;
}

quarnel::unique_variant Converted(const VARIANT& value, VARTYPE type) {
  quarnel::unique_variant out;
  const HRESULT hr = VariantChangeType(out.get(), const_cast<VARIANT*>(&value), 0, type);
  if (FAILED(hr)) {
    if (hr == DISP_E_OVERFLOW) throw VbError(6, L"Overflow");
    throw VbError(13, L"Type mismatch");
  }
  return out;
}

}  // namespace

HostError VbError(WORD number, std::wstring description) {
  return {MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number), std::move(description)};
}

bool IsMissing(const VARIANT& value) {
  const VARIANT* v = &value;
  while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
  return V_VT(v) == VT_EMPTY || (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND);
}

long ToLong(const VARIANT& value) { return V_I4(Converted(value, VT_I4).get()); }
bool ToBool(const VARIANT& value) { return V_BOOL(Converted(value, VT_BOOL).get()) != VARIANT_FALSE; }
std::wstring ToText(const VARIANT& value) { return Text(V_BSTR(Converted(value, VT_BSTR).get())); }

Index ToIndex(const VARIANT& value) {
  if (IsMissing(value)) throw InvalidArgument();
  quarnel::unique_variant plain;
  if (FAILED(VariantCopyInd(plain.get(), const_cast<VARIANT*>(&value)))) throw VbError(13, L"Type mismatch");
  Index index;
  if (V_VT(plain.get()) == VT_BSTR) {
    index.by_name = true;
    index.name = Text(V_BSTR(plain.get()));
  } else {
    index.position = ToLong(*plain.get());
  }
  return index;
}

BSTR AllocText(const std::wstring& text) {
  BSTR out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!out) throw std::bad_alloc();
  return out;
}

ObjectBase::ObjectBase() noexcept {
  ++live_objects;
  ++outstanding_references;
  try {
    const std::lock_guard lock(living_lock);
    LivingSet().insert(this);
  } catch (...) {
    // Only the report at shut-down misses it.
  }
}

ObjectBase::~ObjectBase() {
  --live_objects;
  const std::lock_guard lock(living_lock);
  LivingSet().erase(this);
}

std::vector<std::pair<const ObjectBase*, ULONG>> ObjectBase::Living() {
  std::vector<std::pair<const ObjectBase*, ULONG>> out;
  const std::lock_guard lock(living_lock);
  for (const ObjectBase* object : LivingSet()) out.emplace_back(object, object->refs_);
  return out;
}

ULONG ObjectBase::AddRefImpl() noexcept {
  ++outstanding_references;
  return ++refs_;
}

ULONG ObjectBase::ReleaseImpl() noexcept {
  --outstanding_references;
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

const InterfaceType* TypeOfObject(IUnknown* unknown) {
  IStandinObject* own = nullptr;
  if (!unknown || FAILED(unknown->QueryInterface(IID_IStandinObject, reinterpret_cast<void**>(&own)))) {
    return nullptr;
  }
  const InterfaceType* type = own->Self()->type();
  own->Release();
  return type;
}

void SetErrorInfoFor(const wchar_t* source, const IID& iid, const std::wstring& description) noexcept {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetGUID(iid);
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

HRESULT CallSite::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!names || !ids) return E_INVALIDARG;
  if (auto core = core_.lock(); core && core->shut_down) {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    try {
      Call call;
      call.kind = Call::Kind::kGetIDsOfNames;
      call.object = type_.name();
      call.member = count > 0 && names[0] ? names[0] : L"";
      call.result = RPC_E_DISCONNECTED;
      core->Record(std::move(call));
    } catch (...) {
    }
    return RPC_E_DISCONNECTED;
  }
  const HRESULT hr = type_.vtable_info()->GetIDsOfNames(names, count, ids);
  try {
    if (auto core = core_.lock(); core && count > 0) {
      Call call;
      call.kind = Call::Kind::kGetIDsOfNames;
      const Member* member = SUCCEEDED(hr) || ids[0] != DISPID_UNKNOWN ? type_.Find(ids[0]) : nullptr;
      call.object = member ? member->declared_by : type_.name();
      call.member = names[0] ? names[0] : L"";
      call.dispid = member ? ids[0] : DISPID_UNKNOWN;
      call.flags = 0;
      for (UINT i = 1; i < count; ++i) {
        if (i > 1) call.args += L", ";
        call.args += names[i] ? names[i] : L"";
      }
      call.result = hr;
      core->Record(std::move(call));
    }
  } catch (...) {
    // The record is for tests; the answer stands without it.
  }
  return hr;
}

HRESULT CallSite::Invoke(IUnknown* self, DISPID dispid, REFIID riid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excep, UINT* arg_error) noexcept {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  try {
    const Member* member = type_.Find(dispid);
    const std::wstring object = member ? member->declared_by : type_.name();
    const std::wstring name = member ? member->name : L"DISPID " + Hex(dispid);
    std::shared_ptr<Core> core = core_.lock();
    std::optional<std::size_t> entry;
    if (core) {
      Call call;
      call.kind = Call::Kind::kInvoke;
      call.object = object;
      call.member = name;
      call.dispid = dispid;
      call.flags = flags;
      call.args = DispParamsText(params, member);
      if (core->shut_down) call.result = RPC_E_DISCONNECTED;
      entry = core->Record(std::move(call));
      if (core->shut_down) return RPC_E_DISCONNECTED;
      if (auto failure = core->DueFailure(object + L"." + name, Core::Stage::kEntry)) {
        const HRESULT hr = Exception(excep, type_, failure->code, failure->description);
        core->SetResult(*entry, hr);
        return hr;
      }
    }
    pending_.reset();
    invoking_ = true;
    invoke_entry_ = entry;
    HRESULT hr = type_.vtable_info()->Invoke(self, dispid, flags, params, result, excep, arg_error);
    invoking_ = false;
    invoke_entry_.reset();
    // An object whose default interface is IUnknown-based goes out as what it is.
    if (SUCCEEDED(hr) && result && member && member->result_is_unknown && V_VT(result) == VT_DISPATCH) {
      V_VT(result) = VT_UNKNOWN;
    }
    if (FAILED(hr) && pending_) hr = Exception(excep, type_, pending_->code, pending_->description);
    pending_.reset();
    if (entry) core->SetResult(*entry, hr);
    return hr;
  } catch (const std::bad_alloc&) {
    invoking_ = false;
    return E_OUTOFMEMORY;
  } catch (...) {
    invoking_ = false;
    return E_UNEXPECTED;
  }
}

std::shared_ptr<Core> CallSite::Enter(const wchar_t* member, WORD flags, std::wstring (*args)(const void*),
                                      const void* args_context) {
  via_invoke_ = std::exchange(invoking_, false);
  entry_.reset();
  std::shared_ptr<Core> core = core_.lock();
  if (!core) throw Disconnected();
  const Member* found = type_.Find(std::wstring_view(member));
  const std::wstring object = found ? found->declared_by : type_.name();
  const std::wstring operation = object + L"." + member;
  if (!via_invoke_) {
    Call call;
    call.kind = Call::Kind::kVtable;
    call.object = object;
    call.member = member;
    call.dispid = found ? found->dispid : DISPID_UNKNOWN;
    call.flags = flags;
    call.args = args(args_context);
    entry_ = core->Record(std::move(call));
    if (core->shut_down) throw Disconnected();
    if (auto failure = core->DueFailure(operation, Core::Stage::kEntry)) {
      throw HostError{failure->code, failure->description};
    }
  }
  if (auto failure = core->DueFailure(operation, Core::Stage::kExecution)) {
    throw HostError{failure->code, failure->description};
  }
  return core;
}

HRESULT CallSite::Leave(HRESULT code, const std::wstring& description) noexcept {
  if (FAILED(code)) {
    SetErrorInfoFor(type_.library().c_str(), type_.iid(), description);
    if (via_invoke_) {
      try {
        pending_ = HostError{code, description};
      } catch (...) {
        pending_.reset();
      }
    }
  } else {
    SetErrorInfo(0, nullptr);
  }
  if (!via_invoke_ && entry_) {
    if (auto core = core_.lock()) core->SetResult(*entry_, code);
  }
  entry_.reset();
  return code;
}

HRESULT CallSite::LeaveGone(const wchar_t* member) noexcept {
  try {
    // What a Visual Basic client shows for a call on a deleted Office control.
    return Leave(E_FAIL, L"Method '" + std::wstring(member) + L"' of object '" + type_.name() + L"' failed");
  } catch (...) {
    return Leave(E_FAIL, {});
  }
}

}  // namespace detail
}  // namespace standin
