#include "typelibs.h"

#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include "MSO.h"
#include "VB6EXT.h"

namespace standin::detail {
namespace {

std::string Narrow(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

// The folder of the module that holds this code (the test program).
std::wstring ModuleFolder() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleFolder), &module);
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw std::runtime_error("standin: the program's own path is unknown");
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L'\\'));
}

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// Both libraries and the interfaces described so far. Made once and kept for the
// process's life: type information is handed out to clients that may hold it
// until the very end.
struct Libraries {
  ITypeLib* office = nullptr;
  ITypeLib* vbide = nullptr;
  std::map<GUID, std::unique_ptr<InterfaceType>, GuidLess> types;
};

ITypeLib* Load(const std::wstring& path) {
  ITypeLib* library = nullptr;
  const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) {
    throw std::runtime_error("standin: cannot load the type library " + Narrow(path) +
                             " (a program that uses the stand-in is linked with standin_link() in "
                             "CMake, which copies it beside the program)");
  }
  return library;
}

Libraries& Libs() {
  static Libraries* libraries = [] {
    const std::wstring folder = ModuleFolder();
    auto* libs = new Libraries;
    // Office first: VBIDE refers to its CommandBars, and the loader finds the
    // library beside the program by the file name VBIDE recorded.
    libs->office = Load(folder + L"\\MSO.DLL");
    libs->vbide = Load(folder + L"\\VB6EXT.OLB");
    return libs;
  }();
  return *libraries;
}

std::wstring LibraryName(ITypeLib* library) {
  BSTR name = nullptr;
  library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  std::wstring text = name ? name : L"";
  SysFreeString(name);
  return text;
}

bool IsOurs(ITypeInfo* info) {
  ITypeLib* library = nullptr;
  UINT index = 0;
  if (FAILED(info->GetContainingTypeLib(&library, &index))) return false;
  TLIBATTR* attr = nullptr;
  bool ours = false;
  if (SUCCEEDED(library->GetLibAttr(&attr))) {
    ours = IsEqualGUID(attr->guid, LIBID_VBIDE) || IsEqualGUID(attr->guid, LIBID_Office);
    library->ReleaseTLibAttr(attr);
  }
  library->Release();
  return ours;
}

// Whether an object of the type that `desc` points to is handed to a late-bound
// caller as VT_UNKNOWN: an interface that is not dispatchable, or a coclass whose
// default interface is not. (Wine's ITypeInfo::Invoke makes every coclass
// VT_DISPATCH, whatever its default interface; Windows' does not.)
bool IsUnknownObject(ITypeInfo* info, const TYPEDESC& desc) {
  const TYPEDESC* t = &desc;
  while (t->vt == VT_PTR) t = t->lptdesc;
  if (t->vt == VT_UNKNOWN) return true;
  if (t->vt != VT_USERDEFINED) return false;
  ITypeInfo* target = nullptr;
  if (FAILED(info->GetRefTypeInfo(t->hreftype, &target))) return false;
  bool unknown = false;
  TYPEATTR* attr = nullptr;
  if (SUCCEEDED(target->GetTypeAttr(&attr))) {
    if (attr->typekind == TKIND_INTERFACE) {
      unknown = !(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    } else if (attr->typekind == TKIND_COCLASS) {
      for (UINT i = 0; i < attr->cImplTypes; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ITypeInfo* implemented = nullptr;
        if (FAILED(target->GetImplTypeFlags(i, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
            (flags & IMPLTYPEFLAG_FSOURCE) || FAILED(target->GetRefTypeOfImplType(i, &ref)) ||
            FAILED(target->GetRefTypeInfo(ref, &implemented))) {
          continue;
        }
        TYPEATTR* default_attr = nullptr;
        if (SUCCEEDED(implemented->GetTypeAttr(&default_attr))) {
          unknown = default_attr->typekind == TKIND_INTERFACE &&
                    !(default_attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
          implemented->ReleaseTypeAttr(default_attr);
        }
        implemented->Release();
        break;
      }
    }
    target->ReleaseTypeAttr(attr);
  }
  target->Release();
  return unknown;
}

}  // namespace

InterfaceType::InterfaceType(ITypeLib* library, REFIID iid) : iid_(iid), library_(LibraryName(library)) {
  if (FAILED(library->GetTypeInfoOfGuid(iid, &dispatch_info_))) {
    throw std::runtime_error("standin: an interface is missing from the type library " + Narrow(library_));
  }
  TYPEATTR* attr = nullptr;
  dispatch_info_->GetTypeAttr(&attr);
  const bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
  dispatch_info_->ReleaseTypeAttr(attr);
  vtable_info_ = dispatch_info_;
  vtable_info_->AddRef();
  if (dual) {
    HREFTYPE ref = 0;
    ITypeInfo* vtable = nullptr;
    if (SUCCEEDED(dispatch_info_->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(dispatch_info_->GetRefTypeInfo(ref, &vtable))) {
      vtable_info_->Release();
      vtable_info_ = vtable;
    }
  }
  BSTR name = nullptr;
  vtable_info_->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  name_ = name ? name : L"";
  SysFreeString(name);
  AddMembers(vtable_info_);
}

// Gathers the members of `info` and of the interfaces it derives from, as long as
// those are of the two libraries (not IDispatch's).
void InterfaceType::AddMembers(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return;
  const WORD functions = attr->cFuncs;
  const WORD bases = attr->cImplTypes;
  info->ReleaseTypeAttr(attr);

  BSTR interface_name = nullptr;
  info->GetDocumentation(MEMBERID_NIL, &interface_name, nullptr, nullptr, nullptr);
  const std::wstring declared_by = interface_name ? interface_name : L"";
  SysFreeString(interface_name);

  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) continue;
    if (!Find(func->memid)) {
      BSTR names[32] = {};
      UINT count = 0;
      info->GetNames(func->memid, names, 32, &count);
      Member member;
      member.dispid = func->memid;
      member.declared_by = declared_by;
      if (count > 0 && names[0]) member.name = names[0];
      for (SHORT p = 0; p < func->cParams && p + 1u < count; ++p) {
        if (func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) continue;
        member.params.push_back(names[p + 1] ? names[p + 1] : L"");
      }
      for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
      members_.push_back(std::move(member));
    }
    // The property get of a get/put pair gives the result's type.
    for (SHORT p = 0; p < func->cParams; ++p) {
      const ELEMDESC& param = func->lprgelemdescParam[p];
      if ((param.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) && IsUnknownObject(info, param.tdesc)) {
        for (Member& member : members_) {
          if (member.dispid == func->memid) member.result_is_unknown = true;
        }
      }
    }
    info->ReleaseFuncDesc(func);
  }

  if (bases > 0) {
    HREFTYPE ref = 0;
    ITypeInfo* base = nullptr;
    if (SUCCEEDED(info->GetRefTypeOfImplType(0, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &base))) {
      if (IsOurs(base)) AddMembers(base);
      base->Release();
    }
  }
}

const Member* InterfaceType::Find(DISPID dispid) const {
  for (const Member& member : members_) {
    if (member.dispid == dispid) return &member;
  }
  return nullptr;
}

const Member* InterfaceType::Find(std::wstring_view name) const {
  for (const Member& member : members_) {
    if (member.name.size() == name.size() &&
        CompareStringOrdinal(member.name.data(), static_cast<int>(member.name.size()), name.data(),
                             static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
      return &member;
    }
  }
  return nullptr;
}

const InterfaceType& TypeOf(REFIID iid) {
  Libraries& libs = Libs();
  auto found = libs.types.find(iid);
  if (found != libs.types.end()) return *found->second;
  ITypeInfo* probe = nullptr;
  ITypeLib* library = SUCCEEDED(libs.vbide->GetTypeInfoOfGuid(iid, &probe)) ? libs.vbide : libs.office;
  if (probe) probe->Release();
  auto type = std::make_unique<InterfaceType>(library, iid);
  return *libs.types.emplace(iid, std::move(type)).first->second;
}

void LoadTypeLibraries() { Libs(); }

}  // namespace standin::detail
