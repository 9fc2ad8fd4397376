#include "ide/dispatch.h"

#include <algorithm>

#include "common/error.h"

namespace quarnel::host {
namespace {

// The error that a failed Invoke stands for, with the object's own description
// when it gave one.
Error InvokeError(HRESULT hr, EXCEPINFO& info) {
  if (hr != DISP_E_EXCEPTION) return Error::FromHResult(hr);
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  const unique_bstr description = unique_bstr::attach(info.bstrDescription);
  const unique_bstr source = unique_bstr::attach(info.bstrSource);
  const unique_bstr help = unique_bstr::attach(info.bstrHelpFile);
  HRESULT code = info.scode;
  if (code == S_OK) code = info.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode)
                                      : DISP_E_EXCEPTION;
  if (description.get() && SysStringLen(description.get()) > 0) return {code, description.str()};
  return Error::FromHResult(code);
}

// Resolves names with the object itself (no cache).
void ResolveNames(IDispatch* object, std::span<const wchar_t* const> names, DISPID* ids) {
  std::vector<LPOLESTR> raw;
  for (const wchar_t* name : names) raw.push_back(const_cast<LPOLESTR>(name));
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, raw.data(), static_cast<UINT>(raw.size()),
                                           LOCALE_USER_DEFAULT, ids);
  if (hr == DISP_E_UNKNOWNNAME && names.size() > 1 && ids[0] != DISPID_UNKNOWN) {
    throw Error::Vb(448);  // the member is there, one of the argument names is not
  }
  if (FAILED(hr)) throw Error::FromHResult(hr);
}

}  // namespace

unique_variant Text(std::wstring_view text) {
  unique_variant v;
  v->vt = VT_BSTR;
  v->bstrVal = unique_bstr(text).release();
  return v;
}

unique_variant Integer(short value) {
  unique_variant v;
  v->vt = VT_I2;
  v->iVal = value;
  return v;
}

unique_variant ObjectArg(IDispatch* object) {
  unique_variant v;
  v->vt = VT_DISPATCH;
  v->pdispVal = object;
  if (object) object->AddRef();
  return v;
}

void MemberCache::Resolve(IDispatch* object, std::span<const wchar_t* const> names, DISPID* ids) {
  std::wstring key;
  for (const wchar_t* name : names) {
    std::wstring part(name);
    CharLowerBuffW(part.data(), static_cast<DWORD>(part.size()));
    key += part;
    key += L'\n';
  }
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.key == key; });
  if (found != entries_.end()) {
    std::copy(found->ids.begin(), found->ids.end(), ids);
    return;
  }
  ResolveNames(object, names, ids);
  entries_.push_back({std::move(key), std::vector<DISPID>(ids, ids + names.size())});
}

unique_variant Object::Invoke(const wchar_t* name, WORD flags, std::span<const VARIANT> args,
                              std::initializer_list<NamedArg> named) const {
  if (!object_) throw Error::Vb(91);

  std::vector<const wchar_t*> names{name};
  for (const NamedArg& arg : named) names.push_back(arg.name);
  std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
  if (cache_) {
    cache_->Resolve(object_.Get(), names, ids.data());
  } else {
    ResolveNames(object_.Get(), names, ids.data());
  }

  // Named arguments first, in the order of their names; then the positional
  // ones, last first.
  std::vector<VARIANTARG> rgvarg;
  std::vector<DISPID> named_ids(ids.begin() + 1, ids.end());
  for (const NamedArg& arg : named) rgvarg.push_back(*arg.value);
  for (auto it = args.rbegin(); it != args.rend(); ++it) rgvarg.push_back(*it);
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) named_ids = {DISPID_PROPERTYPUT};
  return InvokeId(ids[0], flags, rgvarg, named_ids);
}

unique_variant Object::InvokeId(DISPID id, WORD flags, std::vector<VARIANTARG>& args,
                                std::vector<DISPID>& named_ids) const {
  if (!object_) throw Error::Vb(91);
  DISPPARAMS params{args.data(), named_ids.data(), static_cast<UINT>(args.size()),
                    static_cast<UINT>(named_ids.size())};
  unique_variant result;
  EXCEPINFO info{};
  UINT bad_arg = 0;
  const bool wants_result = !(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
  const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                     wants_result ? result.put() : nullptr, &info, &bad_arg);
  if (FAILED(hr)) throw InvokeError(hr, info);
  return result;
}

unique_variant Object::GetById(DISPID id) const {
  std::vector<VARIANTARG> none;
  std::vector<DISPID> no_names;
  return InvokeId(id, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, no_names);
}

unique_variant Object::Get(const wchar_t* name, std::span<const VARIANT> args) const {
  // A Visual Basic expression `obj.Member(args)` may be a property or a function.
  return Invoke(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args, {});
}

Object Object::GetObject(const wchar_t* name, std::span<const VARIANT> args,
                         MemberCache* cache) const {
  return ToObject(*Get(name, args).get(), cache);
}

com_ptr<IUnknown> Object::GetUnknown(const wchar_t* name, std::span<const VARIANT> args) const {
  return ToUnknown(*Get(name, args).get());
}

namespace {
unique_variant Coerce(unique_variant value, VARTYPE type) {
  if (value->vt == type) return value;
  unique_variant out;
  const HRESULT hr = VariantChangeType(out.get(), value.get(), 0, type);
  if (FAILED(hr)) throw Error::Vb(13);
  return out;
}
}  // namespace

std::wstring Object::GetText(const wchar_t* name, std::span<const VARIANT> args) const {
  const unique_variant v = Coerce(Get(name, args), VT_BSTR);
  return v->bstrVal ? std::wstring(v->bstrVal, SysStringLen(v->bstrVal)) : std::wstring();
}

bool Object::GetBool(const wchar_t* name) const {
  return Coerce(Get(name), VT_BOOL)->boolVal != VARIANT_FALSE;
}

long Object::GetLong(const wchar_t* name) const { return Coerce(Get(name), VT_I4)->lVal; }

void Object::Put(const wchar_t* name, const VARIANT& value) const {
  Invoke(name, DISPATCH_PROPERTYPUT, std::span<const VARIANT>(&value, 1), {});
}

void Object::PutRef(const wchar_t* name, IDispatch* value) const {
  const unique_variant v = ObjectArg(value);
  Invoke(name, DISPATCH_PROPERTYPUTREF, std::span<const VARIANT>(v.get(), 1), {});
}

unique_variant Object::Call(const wchar_t* name, std::span<const VARIANT> args,
                            std::initializer_list<NamedArg> named) const {
  return Invoke(name, DISPATCH_METHOD, args, named);
}

Object Object::CallObject(const wchar_t* name, std::span<const VARIANT> args,
                          std::initializer_list<NamedArg> named, MemberCache* cache) const {
  return ToObject(*Invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, named).get(), cache);
}

Object Object::As(REFIID iid, MemberCache* cache) const {
  if (!object_) return {};  // Set x = Nothing is allowed
  com_ptr<IDispatch> converted;
  const HRESULT hr = object_->QueryInterface(iid, reinterpret_cast<void**>(converted.GetAddressOf()));
  if (FAILED(hr) || !converted) throw Error::Vb(13);
  return Object(std::move(converted), cache);
}

Error CallError(IUnknown* object, REFIID iid, HRESULT hr) {
  com_ptr<ISupportErrorInfo> supports;
  if (object && SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&supports))) &&
      supports->InterfaceSupportsErrorInfo(iid) == S_OK) {
    com_ptr<IErrorInfo> info;
    unique_bstr description;
    if (GetErrorInfo(0, &info) == S_OK && info && SUCCEEDED(info->GetDescription(description.put())) &&
        description.get() && SysStringLen(description.get()) > 0) {
      return {hr, description.str()};
    }
  }
  return Error::FromHResult(hr);
}

com_ptr<IUnknown> ToUnknown(const VARIANT& value) {
  const VARIANT* v = &value;
  if (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  if (v->vt == VT_DISPATCH) return com_ptr<IUnknown>(v->pdispVal);
  if (v->vt == VT_UNKNOWN) return com_ptr<IUnknown>(v->punkVal);
  throw Error::Vb(424);
}

Object ToObject(const VARIANT& value, MemberCache* cache) {
  const VARIANT* v = &value;
  if (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  // An IDispatch is called as it came, not as whatever QueryInterface gives.
  if (v->vt == VT_DISPATCH) return Object(com_ptr<IDispatch>(v->pdispVal), cache);
  const com_ptr<IUnknown> unknown = ToUnknown(*v);
  if (!unknown) return {};
  com_ptr<IDispatch> object;
  if (FAILED(unknown->QueryInterface(IID_PPV_ARGS(&object)))) throw Error::Vb(424);
  return Object(std::move(object), cache);
}

}  // namespace quarnel::host
