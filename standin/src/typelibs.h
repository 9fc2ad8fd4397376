#pragma once
// The two type libraries (VBIDE in VB6EXT.OLB, Office in MSO.DLL), loaded once from
// the folder of the program, and what the objects need of them: the type
// information that drives IDispatch, and each member's names by DISPID.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>
#include <vector>

namespace standin::detail {

// One member of an interface, as its type library declares it.
struct Member {
  std::wstring name;
  DISPID dispid = DISPID_UNKNOWN;
  std::wstring declared_by;          // the interface that declares it: L"CommandBarControl"
  std::vector<std::wstring> params;  // parameter names in order, the return value left out
  // The result is declared as an object whose default interface is not
  // dispatchable (a coclass such as CommandBarEvents): it travels as VT_UNKNOWN.
  bool result_is_unknown = false;
};

// One interface of the two libraries.
class InterfaceType {
 public:
  InterfaceType(ITypeLib* library, REFIID iid);
  InterfaceType(const InterfaceType&) = delete;
  InterfaceType& operator=(const InterfaceType&) = delete;

  const std::wstring& name() const { return name_; }
  const IID& iid() const { return iid_; }
  // The library's name, L"VBIDE" or L"Office": the source of the errors raised.
  const std::wstring& library() const { return library_; }
  // The vtable description (TKIND_INTERFACE) that Invoke is driven by.
  ITypeInfo* vtable_info() const { return vtable_info_; }
  // What IDispatch::GetTypeInfo hands out (TKIND_DISPATCH for a dual interface).
  ITypeInfo* dispatch_info() const { return dispatch_info_; }
  // The member with this DISPID or name (case-insensitive), own or inherited; or null.
  const Member* Find(DISPID dispid) const;
  const Member* Find(std::wstring_view name) const;

 private:
  void AddMembers(ITypeInfo* info);

  IID iid_;
  std::wstring name_;
  std::wstring library_;
  ITypeInfo* vtable_info_ = nullptr;    // held for the process's life
  ITypeInfo* dispatch_info_ = nullptr;
  std::vector<Member> members_;
};

// The interface with this IID; loads the libraries on first use. Throws
// std::runtime_error when they cannot be loaded or do not have it.
const InterfaceType& TypeOf(REFIID iid);

// Loads the libraries now; throws std::runtime_error when they cannot be loaded.
void LoadTypeLibraries();

}  // namespace standin::detail
