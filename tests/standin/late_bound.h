#pragma once
// Late-bound calls as an automation client makes them: the member's name to its
// DISPID through GetIDsOfNames (with the names of named arguments), then Invoke.
//
//   Outcome bar = Get(bars.Get(), L"Item", {L"File"});
//   Outcome added = Call(controls, L"Add", DISPATCH_METHOD, {Named(L"Before", Arg(short{7}))});
#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/owners.h"

namespace standin::test {

using quarnel::com_ptr;

// One argument, positional or named.
class Arg {
 public:
  Arg(const wchar_t* text);
  Arg(short value);
  Arg(long value);
  Arg(int value) : Arg(static_cast<long>(value)) {}
  Arg(bool value);
  Arg(IDispatch* object);
  Arg(const Arg& other);
  Arg& operator=(const Arg&) = delete;
  ~Arg();

  const VARIANT& value() const { return value_; }
  const std::wstring& name() const { return name_; }

 private:
  friend Arg Named(std::wstring name, const Arg& value);
  VARIANT value_;
  std::wstring name_;  // empty: positional
};

// A named argument: Named(L"Before", Arg(short{7})).
Arg Named(std::wstring name, const Arg& value);

// What a call came to.
struct Outcome {
  HRESULT hr = E_FAIL;
  quarnel::unique_variant value;
  HRESULT scode = S_OK;      // EXCEPINFO, for DISP_E_EXCEPTION
  std::wstring description;  // EXCEPINFO
  std::wstring source;

  // The result as an object; null when it is not one.
  com_ptr<IDispatch> object() const;
  // The result as an object that may be IUnknown only (VT_UNKNOWN or VT_DISPATCH).
  com_ptr<IUnknown> unknown() const;
  std::wstring text() const;  // the result as text
  long number() const;        // the result as a 32-bit integer
};

Outcome Call(IDispatch* target, std::wstring_view member, WORD flags, std::initializer_list<Arg> args = {});
// A property read as Visual Basic makes it (method or property get).
Outcome Get(IDispatch* target, std::wstring_view member, std::initializer_list<Arg> args = {});
Outcome Put(IDispatch* target, std::wstring_view member, const Arg& value);
// The object a property gives; a failed test when there is none.
com_ptr<IDispatch> Object(IDispatch* target, std::wstring_view member, std::initializer_list<Arg> args = {});

// The DISPIDs of a name and its arguments' names; DISPID_UNKNOWN where unknown.
std::vector<DISPID> IdsOf(IDispatch* target, std::initializer_list<const wchar_t*> names);

}  // namespace standin::test
