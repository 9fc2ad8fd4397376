// Quarnel.dll as a client sees the file: its type library, version record,
// interface-id record, exports and imports. The file read is the shipped one,
// the 32-bit build's, whichever build this program is; the DLL this build made
// lies beside this program (the one loaded), and so do the IDE's type
// libraries that its own imports (the stand-in's, as on a machine with VB6 they
// lie in the IDE's folder and are registered).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/app.h"
#include "common/owners.h"

namespace quarnel {
namespace {

std::wstring DllPath() { return AppPath() + L"\\Quarnel.dll"; }
std::wstring ShippedDllPath() {
  const std::string path = QUARNEL_SHIPPED_DLL;
  return std::wstring(path.begin(), path.end());
}

class PeFile {
 public:
  explicit PeFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
    nt_ = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes_.data() + dos->e_lfanew);
  }
  const IMAGE_NT_HEADERS32* nt() const { return nt_; }
  // The file offset of a relative virtual address.
  template <class T>
  const T* At(DWORD rva) const {
    const auto* section = IMAGE_FIRST_SECTION(nt_);
    for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize) {
        return reinterpret_cast<const T*>(bytes_.data() + section->PointerToRawData +
                                          (rva - section->VirtualAddress));
      }
    }
    return nullptr;
  }

 private:
  std::string bytes_;
  const IMAGE_NT_HEADERS32* nt_ = nullptr;
};

// --- The type library ---------------------------------------------------------------

// The shipped DLL's, and the 64-bit build's own where this is that build: each
// is the library of its DLL's platform.
std::vector<std::wstring> DllsWithATypeLibrary() {
  if (sizeof(void*) == 4) return {ShippedDllPath()};
  return {ShippedDllPath(), DllPath()};
}

class QuarnelTypeLibrary : public ::testing::TestWithParam<std::wstring> {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadTypeLibEx(GetParam().c_str(), REGKIND_NONE, &library), S_OK);
  }
  std::wstring Name(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
    unique_bstr name;
    info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr);
    return name.str();
  }
  // The library a referenced type comes from: its id and version.
  std::wstring LibraryOf(ITypeInfo* info, HREFTYPE ref) {
    com_ptr<ITypeInfo> referenced;
    if (FAILED(info->GetRefTypeInfo(ref, &referenced))) return L"(unresolved)";
    com_ptr<ITypeLib> lib;
    UINT index = 0;
    referenced->GetContainingTypeLib(&lib, &index);
    TLIBATTR* attr = nullptr;
    lib->GetLibAttr(&attr);
    wchar_t guid[40];
    StringFromGUID2(attr->guid, guid, 40);
    const std::wstring text = std::wstring(guid) + L" " + std::to_wstring(attr->wMajorVerNum) +
                              L"." + std::to_wstring(attr->wMinorVerNum) + L" " +
                              Name(referenced.Get());
    lib->ReleaseTLibAttr(attr);
    return text;
  }

  com_ptr<ITypeLib> library;
};

TEST_P(QuarnelTypeLibrary, IdentityOfTheLibrary) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  const GUID expected = {0xD6C1C353, 0xBB8B, 0x4E84, {0x9B, 0x09, 0xB2, 0x5D, 0xBB, 0x38, 0x92, 0x05}};
  EXPECT_TRUE(IsEqualGUID(attr->guid, expected));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0u);
  EXPECT_EQ(attr->syskind,
            PeFile(GetParam()).nt()->FileHeader.Machine == IMAGE_FILE_MACHINE_I386 ? SYS_WIN32 : SYS_WIN64);
  library->ReleaseTLibAttr(attr);

  unique_bstr name, help;
  ASSERT_EQ(library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.str(), L"Quarnel");
  EXPECT_EQ(help.str(),
            L"Allows to save project to another location (instead of C:\\Program Files\\Microsoft "
            L"Visual Studio\\VB98...)");
}

TEST_P(QuarnelTypeLibrary, ConnectInterfaceThenClassWithTheirFlags) {
  ASSERT_EQ(library->GetTypeInfoCount(), 2u);
  com_ptr<ITypeInfo> connect_if, connect_class;
  ASSERT_EQ(library->GetTypeInfo(0, &connect_if), S_OK);
  ASSERT_EQ(library->GetTypeInfo(1, &connect_class), S_OK);
  EXPECT_EQ(Name(connect_if.Get()), L"_Connect");
  EXPECT_EQ(Name(connect_class.Get()), L"Connect");

  TYPEATTR* attr = nullptr;
  connect_if->GetTypeAttr(&attr);
  const IID iid = {0x194B1080, 0x1712, 0x41FF, {0x87, 0x91, 0xB5, 0x41, 0xF9, 0x97, 0x73, 0x06}};
  EXPECT_TRUE(IsEqualGUID(attr->guid, iid));
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH) << "a dual interface is listed as its dispatch side";
  const WORD flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE;
  EXPECT_EQ(attr->wTypeFlags & ~TYPEFLAG_FOLEAUTOMATION, flags | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  connect_if->ReleaseTypeAttr(attr);
  // Its vtable side: automation-compatible, so it marshals through the type library.
  com_ptr<ITypeInfo> vtable_side;
  HREFTYPE ref = 0;
  ASSERT_EQ(connect_if->GetRefTypeOfImplType(-1, &ref), S_OK);
  ASSERT_EQ(connect_if->GetRefTypeInfo(ref, &vtable_side), S_OK);
  vtable_side->GetTypeAttr(&attr);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr->wTypeFlags & ~TYPEFLAG_FDISPATCHABLE, flags | TYPEFLAG_FOLEAUTOMATION);
  vtable_side->ReleaseTypeAttr(attr);

  connect_class->GetTypeAttr(&attr);
  const CLSID clsid = {0xB49DBFBD, 0xABE8, 0x493A, {0xA1, 0x1E, 0xD4, 0xD2, 0xD3, 0x8D, 0xD7, 0xA6}};
  EXPECT_TRUE(IsEqualGUID(attr->guid, clsid));
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  EXPECT_EQ(attr->cImplTypes, 1);
  connect_class->ReleaseTypeAttr(attr);
  INT impl_flags = 0;
  connect_class->GetImplTypeFlags(0, &impl_flags);
  EXPECT_EQ(impl_flags, IMPLTYPEFLAG_FDEFAULT) << "default interface, no source interface";
}

TEST_P(QuarnelTypeLibrary, TwelveMembersInSlotOrderWithTheIdesTypes) {
  com_ptr<ITypeInfo> dispatch_side, vtable_side;
  ASSERT_EQ(library->GetTypeInfo(0, &dispatch_side), S_OK);
  HREFTYPE ref = 0;
  ASSERT_EQ(dispatch_side->GetRefTypeOfImplType(-1, &ref), S_OK);
  ASSERT_EQ(dispatch_side->GetRefTypeInfo(ref, &vtable_side), S_OK);

  struct Member {
    const wchar_t* name;
    INVOKEKIND kind;
    const wchar_t* type;  // of the value or result: a name or a VARTYPE number
  };
  const Member expected[] = {
      {L"FormDisplayed", INVOKE_PROPERTYGET, L"VT_BOOL"},
      {L"FormDisplayed", INVOKE_PROPERTYPUT, L"VT_BOOL"},
      {L"VBInstance", INVOKE_PROPERTYGET, L"VBE"},
      {L"VBInstance", INVOKE_PROPERTYPUTREF, L"VBE"},
      {L"MenuHandlerAddin", INVOKE_PROPERTYGET, L"_CommandBarControlEvents"},
      {L"MenuHandlerAddin", INVOKE_PROPERTYPUTREF, L"_CommandBarControlEvents"},
      {L"MenuHandler", INVOKE_PROPERTYGET, L"_CommandBarControlEvents"},
      {L"MenuHandler", INVOKE_PROPERTYPUTREF, L"_CommandBarControlEvents"},
      {L"Hide", INVOKE_FUNC, L""},
      {L"Show", INVOKE_FUNC, L""},
      {L"AddToAddInCommandBar", INVOKE_FUNC, L"CommandBarControl"},
      {L"AddToFileCommandBar", INVOKE_FUNC, L"CommandBarControl"},
  };
  TYPEATTR* attr = nullptr;
  vtable_side->GetTypeAttr(&attr);
  ASSERT_EQ(attr->cFuncs, 12);
  vtable_side->ReleaseTypeAttr(attr);

  for (UINT i = 0; i < 12; ++i) {
    FUNCDESC* func = nullptr;
    ASSERT_EQ(vtable_side->GetFuncDesc(i, &func), S_OK);
    const Member& m = expected[i];
    EXPECT_EQ(Name(vtable_side.Get(), func->memid), m.name) << i;
    EXPECT_EQ(func->invkind, m.kind) << m.name;
    EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << m.name << ": slot";
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT) << m.name;
    // The value: the last parameter (the result's [out, retval], or a put's value).
    std::wstring type;
    if (func->cParams > 0) {
      const TYPEDESC* t = &func->lprgelemdescParam[func->cParams - 1].tdesc;
      while (t->vt == VT_PTR) t = t->lptdesc;
      if (t->vt == VT_USERDEFINED) {
        com_ptr<ITypeInfo> user;
        vtable_side->GetRefTypeInfo(t->hreftype, &user);
        type = user ? Name(user.Get()) : L"?";
      } else {
        type = t->vt == VT_BOOL ? L"VT_BOOL" : std::to_wstring(t->vt);
      }
    }
    if (i == 10 || i == 11) {
      ASSERT_EQ(func->cParams, 2) << m.name;
      const TYPEDESC& caption = func->lprgelemdescParam[0].tdesc;
      EXPECT_EQ(caption.vt, VT_PTR) << "sCaption is passed by reference";
      EXPECT_EQ(caption.lptdesc->vt, VT_BSTR);
    }
    EXPECT_EQ(type, m.type) << m.name;
    vtable_side->ReleaseFuncDesc(func);
  }
}

TEST_P(QuarnelTypeLibrary, ReferencesAutomationVbideAndOfficeByIdAndVersion) {
  com_ptr<ITypeInfo> dispatch_side, vtable_side;
  library->GetTypeInfo(0, &dispatch_side);
  HREFTYPE ref = 0;
  dispatch_side->GetRefTypeOfImplType(-1, &ref);
  dispatch_side->GetRefTypeInfo(ref, &vtable_side);
  std::set<std::wstring> libraries;
  for (UINT i = 0; i < 12; ++i) {
    FUNCDESC* func = nullptr;
    vtable_side->GetFuncDesc(i, &func);
    for (SHORT p = 0; p < func->cParams; ++p) {
      const TYPEDESC* t = &func->lprgelemdescParam[p].tdesc;
      while (t->vt == VT_PTR) t = t->lptdesc;
      if (t->vt == VT_USERDEFINED) libraries.insert(LibraryOf(vtable_side.Get(), t->hreftype));
    }
    vtable_side->ReleaseFuncDesc(func);
  }
  HREFTYPE base = 0;
  vtable_side->GetRefTypeOfImplType(0, &base);
  libraries.insert(LibraryOf(vtable_side.Get(), base));
  EXPECT_EQ(libraries,
            (std::set<std::wstring>{
                L"{00020430-0000-0000-C000-000000000046} 2.0 IDispatch",
                L"{EF404E00-EDA6-101A-8DAF-00DD010F7EBB} 5.3 VBE",
                L"{EF404E00-EDA6-101A-8DAF-00DD010F7EBB} 5.3 _CommandBarControlEvents",
                L"{2DF8D04C-5BFA-101B-BDE5-00AA0044DE52} 2.2 CommandBarControl"}));
}

INSTANTIATE_TEST_SUITE_P(Dll, QuarnelTypeLibrary, ::testing::ValuesIn(DllsWithATypeLibrary()),
                         [](const auto& dll) { return dll.index == 0 ? "Shipped" : "ThisBuilds"; });

// --- The version record and the interface-id record -------------------------------------

TEST(DllFile, VersionRecordInItalianWithEveryString) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(ShippedDllPath().c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(ShippedDllPath().c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileFlags, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(translation[0], 0x0410);
  EXPECT_EQ(translation[1], 1200);

  const std::map<std::wstring, std::wstring> strings = {
      {L"Comments", L"VB6 Add-in to save project to a specific location."},
      {L"FileDescription", L"Quarnel.dll - VB6.0 Add-in"},
      {L"FileVersion", L"1.01"},
      {L"InternalName", L"Quarnel"},
      {L"OriginalFilename", L"Quarnel.dll"},
      {L"ProductName", L"Quarnel is a VB 6.0 Add-in to save projects to a specific location."},
      {L"ProductVersion", L"1.01"},
      {L"OLESelfRegister", L""},
  };
  for (const auto& [name, value] : strings) {
    wchar_t* text = nullptr;
    const std::wstring query = L"\\StringFileInfo\\041004B0\\" + name;
    ASSERT_TRUE(VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
        << "missing: " << std::string(name.begin(), name.end());
    EXPECT_EQ(std::wstring(text ? text : L""), value);
  }
  for (const wchar_t* name : {L"CompanyName", L"LegalCopyright"}) {
    wchar_t* text = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041004B0\\") + name;
    EXPECT_TRUE(VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length));
  }
}

TEST(DllFile, InterfaceIdRecordHoldsTheConnectInterface) {
  unique_hmodule module(LoadLibraryExW(ShippedDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module);
  HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), L"_IID_CONNECT");
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(SizeofResource(module.get(), found), 20u);
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module.get(), found)));
  const std::vector<BYTE> actual(bytes, bytes + 20);
  EXPECT_EQ(actual, (std::vector<BYTE>{16, 0, 0, 0, 0x80, 0x10, 0x4B, 0x19, 0x12, 0x17, 0xFF, 0x41,
                                       0x87, 0x91, 0xB5, 0x41, 0xF9, 0x97, 0x73, 0x06}));
  EXPECT_NE(FindResourceW(module.get(), MAKEINTRESOURCEW(1), L"TYPELIB"), nullptr);
}

// --- Exports and imports, read from the file's headers ------------------------------------

// The four of a COM server with ordinals 1 to 4, and DllInstall (per-user registration) after them.
TEST(DllFile, ExportsByNameWithOrdinalsOneToFourThenDllInstall) {
  const PeFile pe(ShippedDllPath());
  ASSERT_EQ(pe.nt()->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  const auto& dir = pe.nt()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* exports = pe.At<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress);
  ASSERT_NE(exports, nullptr);
  EXPECT_STREQ(pe.At<char>(exports->Name), "Quarnel.dll");
  ASSERT_EQ(exports->NumberOfNames, 5u);
  const auto* names = pe.At<DWORD>(exports->AddressOfNames);
  const auto* ordinals = pe.At<WORD>(exports->AddressOfNameOrdinals);
  std::map<std::string, DWORD> by_name;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    by_name[pe.At<char>(names[i])] = exports->Base + ordinals[i];
  }
  EXPECT_EQ(by_name, (std::map<std::string, DWORD>{{"DllCanUnloadNow", 1},
                                                   {"DllGetClassObject", 2},
                                                   {"DllRegisterServer", 3},
                                                   {"DllUnregisterServer", 4},
                                                   {"DllInstall", 5}}));
}

// Windows XP SP3 loads it: every function it imports is one that XP's system
// DLLs export (the test data's list), and its header asks for no later Windows.
TEST(DllFile, LoadsOnWindowsXp) {
  const PeFile pe(ShippedDllPath());
  const auto& header = pe.nt()->OptionalHeader;
  EXPECT_EQ((std::vector<WORD>{header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion,
                               header.MajorSubsystemVersion, header.MinorSubsystemVersion}),
            (std::vector<WORD>{5, 1, 5, 1}));

  std::set<std::string> xp, listed_dlls;  // "dll function", as the list has them
  std::ifstream list(QUARNEL_TEST_DATA "/windows-xp/xp-exports.txt");
  for (std::string dll, function; list >> dll >> function;) {
    xp.insert(dll + " " + function);
    listed_dlls.insert(dll);
  }
  ASSERT_GT(xp.size(), 5000u) << "the list of XP's exports is there";
  // Names that Windows Server 2003 exports and XP SP3 does not: said as such.
  std::set<std::string> not_on_xp;
  std::ifstream later(QUARNEL_TEST_DATA "/windows-xp/not-on-xp.txt");
  for (std::string dll, function; later >> dll >> function;) not_on_xp.insert(dll + " " + function);
  ASSERT_GT(not_on_xp.size(), 80u);

  const auto& dir = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> lacking;
  size_t functions = 0;
  for (const auto* import = pe.At<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress); import && import->Name; ++import) {
    std::string dll = pe.At<char>(import->Name);
    std::transform(dll.begin(), dll.end(), dll.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (dll.ends_with(".dll")) dll.resize(dll.size() - 4);
    if (!listed_dlls.count(dll)) lacking.push_back(dll + ".dll, a DLL the list does not cover");
    const DWORD thunks = import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk;
    for (const auto* thunk = pe.At<IMAGE_THUNK_DATA32>(thunks); thunk && thunk->u1.AddressOfData; ++thunk, ++functions) {
      std::string entry = dll + " ";
      if (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)) {
        entry += '#';
        entry += std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal));
      } else {
        entry += pe.At<IMAGE_IMPORT_BY_NAME>(thunk->u1.AddressOfData)->Name;
      }
      if (not_on_xp.count(entry)) {
        lacking.push_back(entry + " (Windows Server 2003's, not XP's)");
      } else if (listed_dlls.count(dll) && !xp.count(entry)) {
        lacking.push_back(entry);
      }
    }
  }
  EXPECT_GT(functions, 50u) << "the import table was read";
  EXPECT_TRUE(lacking.empty()) << "imports that Windows XP SP3 lacks: " << ::testing::PrintToString(lacking);
}

TEST(DllFile, ClassObjectOnlyForConnect) {
  unique_hmodule module(LoadLibraryW(DllPath().c_str()));
  ASSERT_TRUE(module);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module.get(), "DllGetClassObject")));
  ASSERT_NE(get, nullptr);
  void* factory = reinterpret_cast<void*>(1);
  const CLSID other = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  EXPECT_EQ(get(other, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
}

}  // namespace
}  // namespace quarnel
