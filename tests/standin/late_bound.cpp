#include "late_bound.h"

#include <gtest/gtest.h>

#include <vector>

namespace standin::test {

Arg::Arg(const wchar_t* text) {
  VariantInit(&value_);
  V_VT(&value_) = VT_BSTR;
  V_BSTR(&value_) = SysAllocString(text);
}

Arg::Arg(short value) {
  VariantInit(&value_);
  V_VT(&value_) = VT_I2;
  V_I2(&value_) = value;
}

Arg::Arg(long value) {
  VariantInit(&value_);
  V_VT(&value_) = VT_I4;
  V_I4(&value_) = value;
}

Arg::Arg(bool value) {
  VariantInit(&value_);
  V_VT(&value_) = VT_BOOL;
  V_BOOL(&value_) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Arg::Arg(IDispatch* object) {
  VariantInit(&value_);
  V_VT(&value_) = VT_DISPATCH;
  V_DISPATCH(&value_) = object;
  if (object) object->AddRef();
}

Arg::Arg(const Arg& other) : name_(other.name_) {
  VariantInit(&value_);
  VariantCopy(&value_, const_cast<VARIANT*>(&other.value_));
}

Arg::~Arg() { VariantClear(&value_); }

Arg Named(std::wstring name, const Arg& value) {
  Arg named(value);
  named.name_ = std::move(name);
  return named;
}

com_ptr<IDispatch> Outcome::object() const {
  com_ptr<IDispatch> object;
  if (V_VT(value.get()) == VT_DISPATCH) object = V_DISPATCH(value.get());
  return object;
}

com_ptr<IUnknown> Outcome::unknown() const {
  com_ptr<IUnknown> object;
  if (V_VT(value.get()) == VT_UNKNOWN) object = V_UNKNOWN(value.get());
  if (V_VT(value.get()) == VT_DISPATCH) object = V_DISPATCH(value.get());
  return object;
}

std::wstring Outcome::text() const {
  quarnel::unique_variant converted;
  if (FAILED(VariantChangeType(converted.put(), const_cast<VARIANT*>(value.get()), 0, VT_BSTR))) return L"<not text>";
  return V_BSTR(converted.get()) ? V_BSTR(converted.get()) : L"";
}

long Outcome::number() const {
  quarnel::unique_variant converted;
  if (FAILED(VariantChangeType(converted.put(), const_cast<VARIANT*>(value.get()), 0, VT_I4))) return -999999;
  return V_I4(converted.get());
}

std::vector<DISPID> IdsOf(IDispatch* target, std::initializer_list<const wchar_t*> names) {
  std::vector<LPOLESTR> list;
  for (const wchar_t* name : names) list.push_back(const_cast<LPOLESTR>(name));
  std::vector<DISPID> ids(list.size(), DISPID_UNKNOWN);
  target->GetIDsOfNames(IID_NULL, list.data(), static_cast<UINT>(list.size()), LOCALE_USER_DEFAULT, ids.data());
  return ids;
}

Outcome Call(IDispatch* target, std::wstring_view member, WORD flags, std::initializer_list<Arg> args) {
  Outcome outcome;
  // Names: the member, then each named argument's.
  std::vector<std::wstring> names{std::wstring(member)};
  std::vector<const Arg*> positional, named;
  for (const Arg& arg : args) (arg.name().empty() ? positional : named).push_back(&arg);
  for (const Arg* arg : named) names.push_back(arg->name());
  std::vector<LPOLESTR> name_list;
  for (auto& name : names) name_list.push_back(name.data());
  std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
  outcome.hr = target->GetIDsOfNames(IID_NULL, name_list.data(), static_cast<UINT>(name_list.size()),
                                     LOCALE_USER_DEFAULT, ids.data());
  if (FAILED(outcome.hr)) return outcome;

  // Invoke's order: named arguments first (a property's new value foremost, as
  // DISPID_PROPERTYPUT), then the positional ones last to first.
  std::vector<VARIANTARG> values;
  std::vector<DISPID> named_ids;
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && !positional.empty()) {
    values.push_back(positional.back()->value());
    named_ids.push_back(DISPID_PROPERTYPUT);
    positional.pop_back();
  }
  for (size_t i = 0; i < named.size(); ++i) {
    values.push_back(named[i]->value());
    named_ids.push_back(ids[i + 1]);
  }
  for (size_t i = positional.size(); i > 0; --i) values.push_back(positional[i - 1]->value());
  DISPPARAMS params{values.data(), named_ids.data(), static_cast<UINT>(values.size()),
                    static_cast<UINT>(named_ids.size())};
  EXCEPINFO excep{};
  UINT arg_error = 0;
  outcome.hr = target->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &params, outcome.value.put(), &excep,
                              &arg_error);
  if (outcome.hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    outcome.scode = excep.scode;
    if (excep.bstrDescription) outcome.description = excep.bstrDescription;
    if (excep.bstrSource) outcome.source = excep.bstrSource;
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return outcome;
}

Outcome Get(IDispatch* target, std::wstring_view member, std::initializer_list<Arg> args) {
  return Call(target, member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

Outcome Put(IDispatch* target, std::wstring_view member, const Arg& value) {
  return Call(target, member, DISPATCH_PROPERTYPUT, {value});
}

com_ptr<IDispatch> Object(IDispatch* target, std::wstring_view member, std::initializer_list<Arg> args) {
  Outcome outcome = Get(target, member, args);
  EXPECT_EQ(outcome.hr, S_OK) << "getting " << std::string(member.begin(), member.end()) << ": "
                              << std::string(outcome.description.begin(), outcome.description.end());
  return outcome.object();
}

}  // namespace standin::test
