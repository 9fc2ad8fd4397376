#pragma once
// Late-bound automation: calling an object's members by name through IDispatch,
// as a Visual Basic program does with an object variable. Names are resolved with
// GetIDsOfNames; property get, put and reference assignment are kept apart; a
// failure becomes quarnel::Error carrying the object's own description (from
// EXCEPINFO), so a caller can show it to the user.
//
//   Object bar = bars.GetObject(L"Item", {Text(L"File").get()});
//   Object control = bar.GetObject(L"Controls").CallObject(L"Add", {}, {{L"before", before}});
#include <oaidl.h>

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/owners.h"

namespace quarnel::host {

// Argument builders: variants that own what they hold.
unique_variant Text(std::wstring_view text);
unique_variant Integer(short value);  // VT_I2, the 16-bit Integer of Visual Basic
unique_variant ObjectArg(IDispatch* object);  // VT_DISPATCH; null is Nothing

struct NamedArg {
  const wchar_t* name;
  const VARIANT* value;
};

// Remembers the DISPIDs that the names of one interface resolved to, so a name
// is looked up once per interface rather than once per object: every object
// behind one interface maps a name to the same DISPID.
class MemberCache;

// One object reference, called late-bound. A null Object is Nothing: calls on it
// raise "Object variable or With block variable not set", as in Visual Basic.
class Object {
 public:
  Object() = default;
  explicit Object(com_ptr<IDispatch> object, MemberCache* cache = nullptr)
      : object_(std::move(object)), cache_(cache) {}

  IDispatch* get() const noexcept { return object_.Get(); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Reads a property (or calls a function for its result), with arguments in
  // their natural order.
  unique_variant Get(const wchar_t* name, std::span<const VARIANT> args = {}) const;
  Object GetObject(const wchar_t* name, std::span<const VARIANT> args = {},
                   MemberCache* cache = nullptr) const;
  // The same for an object that need not answer IDispatch (one declared with an
  // IUnknown-based interface comes back as VT_UNKNOWN); null is Nothing.
  com_ptr<IUnknown> GetUnknown(const wchar_t* name, std::span<const VARIANT> args = {}) const;
  std::wstring GetText(const wchar_t* name, std::span<const VARIANT> args = {}) const;
  bool GetBool(const wchar_t* name) const;
  long GetLong(const wchar_t* name) const;

  // Assigns a property value (Let) or an object reference (Set).
  void Put(const wchar_t* name, const VARIANT& value) const;
  void PutRef(const wchar_t* name, IDispatch* value) const;

  // Calls a method with positional arguments in natural order and named ones.
  unique_variant Call(const wchar_t* name, std::span<const VARIANT> args = {},
                      std::initializer_list<NamedArg> named = {}) const;
  Object CallObject(const wchar_t* name, std::span<const VARIANT> args = {},
                    std::initializer_list<NamedArg> named = {}, MemberCache* cache = nullptr) const;

  // Reads a member known by its DISPID, like the enumerator (DISPID_NEWENUM)
  // that For Each asks for.
  unique_variant GetById(DISPID id) const;

  // The same object through another interface (Set x = y with x of that type);
  // fails with "Type mismatch" when the object does not offer it.
  Object As(REFIID iid, MemberCache* cache = nullptr) const;

 private:
  unique_variant Invoke(const wchar_t* name, WORD flags, std::span<const VARIANT> args,
                        std::initializer_list<NamedArg> named) const;
  unique_variant InvokeId(DISPID id, WORD flags, std::vector<VARIANTARG>& args,
                          std::vector<DISPID>& named_ids) const;

  com_ptr<IDispatch> object_;
  MemberCache* cache_ = nullptr;
};

class MemberCache {
 public:
  // The DISPIDs of `names` (a member, then names of its arguments) on `object`;
  // asks the object only the first time.
  void Resolve(IDispatch* object, std::span<const wchar_t* const> names, DISPID* ids);

 private:
  struct Entry {
    std::wstring key;  // the names joined with '\n'
    std::vector<DISPID> ids;
  };
  std::vector<Entry> entries_;
};

// The error of a failed direct (vtable) call of `iid` on `object`: with the
// object's own description when it offers one through IErrorInfo, as Visual
// Basic reads it; else the text for the code.
Error CallError(IUnknown* object, REFIID iid, HRESULT hr);

// A typed wrapper (a class derived from Object) around an object reference.
template <class T>
T Wrap(Object object) {
  T typed;
  static_cast<Object&>(typed) = std::move(object);
  return typed;
}

// Converts a variant to an object reference: VT_DISPATCH (null is Nothing) or
// VT_UNKNOWN; anything else raises "Object required".
Object ToObject(const VARIANT& value, MemberCache* cache = nullptr);
// The same, kept as IUnknown: nothing more is asked of the object.
com_ptr<IUnknown> ToUnknown(const VARIANT& value);

}  // namespace quarnel::host
