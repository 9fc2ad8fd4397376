// The stand-in's objects as a late-bound client meets them: the names, DISPIDs,
// IIDs and libraries of the IDE's own type libraries, and the way a type-library
// driven IDispatch treats property reads, writes and arguments.
#include <gtest/gtest.h>

#include "VB6EXT.h"
#include "fixture.h"

namespace standin::test {
namespace {

struct Expected {
  const wchar_t* name;
  DISPID dispid;
};

void ExpectIds(IDispatch* object, std::initializer_list<Expected> members) {
  ASSERT_NE(object, nullptr);
  for (const Expected& member : members) {
    EXPECT_EQ(IdsOf(object, {member.name})[0], member.dispid) << Narrow(member.name);
  }
}

// The library (its name, id and version) that describes an object's interface.
struct LibraryOf {
  std::wstring name;
  GUID guid{};
  WORD major = 0, minor = 0;
  std::wstring interface_name;
};

LibraryOf Library(IDispatch* object) {
  LibraryOf out;
  com_ptr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.GetAddressOf()), S_OK);
  com_ptr<ITypeLib> library;
  UINT index = 0;
  EXPECT_EQ(info->GetContainingTypeLib(library.GetAddressOf(), &index), S_OK);
  TLIBATTR* attr = nullptr;
  library->GetLibAttr(&attr);
  out.guid = attr->guid;
  out.major = attr->wMajorVerNum;
  out.minor = attr->wMinorVerNum;
  library->ReleaseTLibAttr(attr);
  BSTR name = nullptr;
  library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  out.name = name;
  SysFreeString(name);
  info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  out.interface_name = name;
  SysFreeString(name);
  return out;
}

using TypeLibrary = IdeTest;

TEST_F(TypeLibrary, IdeObjectsHaveTheVbideDispids) {
  ide.project(L"Project1").form(L"Form1").build();
  ExpectIds(root.Get(), {{L"Name", 0x0}, {L"FullName", 0xA}, {L"LastUsedPath", 0xB}, {L"Version", 0x64},
                         {L"ReadOnlyMode", 0x6A}, {L"VBProjects", 0x6B}, {L"CommandBars", 0x6C},
                         {L"CodePanes", 0x6D}, {L"Windows", 0x6E}, {L"Events", 0x6F}, {L"Addins", 0xC8},
                         {L"ActiveVBProject", 0xC9}, {L"SelectedVBComponent", 0xCA}, {L"MainWindow", 0xCC},
                         {L"ActiveWindow", 0xCD}});
  ExpectIds(Object(root.Get(), L"Events").Get(), {{L"CommandBarEvents", 0xCD}});
  auto project = ActiveProject();
  ExpectIds(project.Get(), {{L"Name", 0x0}, {L"FileName", 0x6D}, {L"IsDirty", 0x6E}, {L"SaveAs", 0x7F},
                            {L"Type", 0x81}, {L"Saved", 0x85}, {L"VBComponents", 0x87},
                            {L"BuildFileName", 0x88}});
  auto components = Object(project.Get(), L"VBComponents");
  ExpectIds(components.Get(), {{L"Item", 0x0}, {L"Count", 0xA}, {L"_NewEnum", DISPID_NEWENUM}});
  ExpectIds(Object(components.Get(), L"Item", {1}).Get(),
            {{L"IsDirty", 0xA}, {L"SaveAs", 0xC}, {L"Name", 0x30}, {L"Type", 0x33}});
  auto windows = Object(root.Get(), L"Windows");
  ExpectIds(windows.Get(), {{L"Item", 0x0}, {L"Count", 0xC9}});
  ExpectIds(Object(windows.Get(), L"Item", {short{1}}).Get(), {{L"SetFocus", 0x6F}, {L"Caption", 0x64}, {L"HWnd", 0x78}});
  // The AddIn object the IDE passes at connection, and what a client reads of it.
  const com_ptr<IDispatch> addin = ide.addin(L"Quarnel.Connect", L"Saves the project", L"{00000000-0000-0000-0000-000000000001}");
  ExpectIds(addin.Get(), {{L"Description", 0x0}, {L"VBE", 0x1}, {L"Collection", 0x2}, {L"ProgId", 0x3},
                          {L"Guid", 0x4}, {L"Connect", 0x6}, {L"Object", 0x7}});
  EXPECT_EQ(Get(addin.Get(), L"ProgId").text(), L"Quarnel.Connect");
  EXPECT_EQ(Get(addin.Get(), L"Description").text(), L"Saves the project");
  EXPECT_EQ(V_BOOL(Get(addin.Get(), L"Connect").value.get()), VARIANT_FALSE);
  ide.set_addin_connected(L"quarnel.connect", true);
  EXPECT_EQ(V_BOOL(Get(addin.Get(), L"Connect").value.get()), VARIANT_TRUE);
}

TEST_F(TypeLibrary, CommandBarObjectsHaveTheOfficeDispids) {
  ExpectIds(Object(root.Get(), L"CommandBars").Get(), {{L"Item", 0x0}});
  ExpectIds(Bar(L"File").Get(), {{L"Controls", 0x60040003}});
  auto controls = Controls(L"File");
  ExpectIds(controls.Get(), {{L"Add", 0x60030000}, {L"Count", 0x60030001}, {L"Item", 0x0}});
  ExpectIds(Object(controls.Get(), L"Item", {1}).Get(),
            {{L"Caption", 0x60040003}, {L"Delete", 0x60040007}, {L"PasteFace", 0x60050005}, {L"FaceId", 0x60050003}});
}

TEST_F(TypeLibrary, NamesAreCaseInsensitiveAndArgumentNamesResolve) {
  auto controls = Controls(L"File");
  EXPECT_EQ(IdsOf(controls.Get(), {L"aDD"})[0], 0x60030000);
  // A named argument's DISPID is its position in the parameter list.
  EXPECT_EQ(IdsOf(controls.Get(), {L"Add", L"Before"}), (std::vector<DISPID>{0x60030000, 3}));
  EXPECT_EQ(IdsOf(controls.Get(), {L"Add", L"before", L"Temporary"}), (std::vector<DISPID>{0x60030000, 3, 4}));
  EXPECT_EQ(IdsOf(controls.Get(), {L"Add", L"After"})[1], DISPID_UNKNOWN);
  EXPECT_EQ(IdsOf(root.Get(), {L"NoSuchMember"})[0], DISPID_UNKNOWN);
}

TEST_F(TypeLibrary, ObjectsBelongToTheLibrariesTheAddinImports) {
  const LibraryOf vbide = Library(root.Get());
  EXPECT_EQ(vbide.name, L"VBIDE");
  EXPECT_TRUE(IsEqualGUID(vbide.guid, {0xEF404E00, 0xEDA6, 0x101A, {0x8D, 0xAF, 0x00, 0xDD, 0x01, 0x0F, 0x7E, 0xBB}}));
  EXPECT_EQ(vbide.major, 5);
  EXPECT_EQ(vbide.minor, 3);
  EXPECT_EQ(vbide.interface_name, L"VBE");

  const LibraryOf office = Library(Object(Controls(L"File").Get(), L"Item", {1}).Get());
  EXPECT_EQ(office.name, L"Office");
  EXPECT_TRUE(IsEqualGUID(office.guid, {0x2DF8D04C, 0x5BFA, 0x101B, {0xBD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0xDE, 0x52}}));
  EXPECT_EQ(office.major, 2);
  EXPECT_EQ(office.minor, 2);
  EXPECT_EQ(office.interface_name, L"CommandBarButton");
}

TEST_F(TypeLibrary, RootIsTheDualVbeWithFullNameAsItsSecondMember) {
  com_ptr<VBE> vbe;
  ASSERT_EQ(root.As(&vbe), S_OK);
  com_ptr<IDispatch> dispatch;
  ASSERT_EQ(vbe.As(&dispatch), S_OK);
  // Slot 8, right after Name: what an early-bound caller reaches as the second member.
  com_ptr<ITypeInfo> info;
  ASSERT_EQ(root->GetTypeInfo(0, 0, info.GetAddressOf()), S_OK);
  HREFTYPE ref = 0;
  ASSERT_EQ(info->GetRefTypeOfImplType(-1, &ref), S_OK);
  com_ptr<ITypeInfo> vtable;
  ASSERT_EQ(info->GetRefTypeInfo(ref, vtable.GetAddressOf()), S_OK);
  FUNCDESC* second = nullptr;
  ASSERT_EQ(vtable->GetFuncDesc(1, &second), S_OK);
  EXPECT_EQ(second->memid, 0xA);
  EXPECT_EQ(second->oVft, 8 * static_cast<SHORT>(sizeof(void*)));
  vtable->ReleaseFuncDesc(second);

  BSTR full_name = nullptr;
  ide.set_full_name(L"D:\\VB98\\VB6.EXE");
  ASSERT_EQ(vbe->get_FullName(&full_name), S_OK);
  EXPECT_STREQ(full_name, L"D:\\VB98\\VB6.EXE");
  SysFreeString(full_name);
  EXPECT_EQ(Get(root.Get(), L"Name").text(), L"Microsoft Visual Basic");
  EXPECT_EQ(Get(root.Get(), L"Version").text(), L"6.00");
}

TEST_F(TypeLibrary, CommandBarsComeFromTheImportedOfficeLibrary) {
  // VBE.CommandBars is typed by the Office library's CommandBars, not a copy of it.
  com_ptr<ITypeInfo> info;
  ASSERT_EQ(root->GetTypeInfo(0, 0, info.GetAddressOf()), S_OK);
  // The property get of DISPID 0x6C; in the dispatch description its value is the
  // function's own type.
  HREFTYPE ref = 0;
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  const WORD functions = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
    if (func->memid == 0x6C && func->invkind == INVOKE_PROPERTYGET) {
      EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_PTR);
      if (func->elemdescFunc.tdesc.vt == VT_PTR) ref = func->elemdescFunc.tdesc.lptdesc->hreftype;
    }
    info->ReleaseFuncDesc(func);
  }
  ASSERT_NE(ref, 0u);
  com_ptr<ITypeInfo> bars;
  ASSERT_EQ(info->GetRefTypeInfo(ref, bars.GetAddressOf()), S_OK);
  com_ptr<ITypeLib> library;
  UINT index = 0;
  ASSERT_EQ(bars->GetContainingTypeLib(library.GetAddressOf(), &index), S_OK);
  BSTR name = nullptr;
  library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  EXPECT_STREQ(name, L"Office");
  SysFreeString(name);
}

TEST_F(TypeLibrary, RootAnswersVbeAndIDispatchOnly) {
  com_ptr<IUnknown> unknown;
  EXPECT_EQ(root->QueryInterface(IID_VBE, reinterpret_cast<void**>(unknown.GetAddressOf())), S_OK);
  EXPECT_EQ(root->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(unknown.ReleaseAndGetAddressOf())), S_OK);
  EXPECT_EQ(root->QueryInterface(IID__VBProject, reinterpret_cast<void**>(unknown.ReleaseAndGetAddressOf())),
            E_NOINTERFACE);
}

// Declarations checked against the IDE's real library, where the stand-in once
// differed: a 16-bit ReadOnlyMode, the component's SaveAs argument name, a
// settable project Type, and the enums' identities.
TEST_F(TypeLibrary, DeclarationsAreTheRealLibrarysOnes) {
  ide.project(L"Project1").form(L"Form1").build();
  EXPECT_EQ(V_VT(Get(root.Get(), L"ReadOnlyMode").value.get()), VT_I2);
  auto project = ActiveProject();
  auto component = Object(Object(project.Get(), L"VBComponents").Get(), L"Item", {1});
  EXPECT_EQ(IdsOf(component.Get(), {L"SaveAs", L"NewFileName"})[1], 0);
  ASSERT_TRUE(Succeeded(Put(project.Get(), L"Type", 2)));
  EXPECT_EQ(Get(project.Get(), L"Type").number(), 2);
  com_ptr<ITypeInfo> info;
  ASSERT_EQ(root->GetTypeInfo(0, 0, info.GetAddressOf()), S_OK);
  com_ptr<ITypeLib> library;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(library.GetAddressOf(), &index), S_OK);
  com_ptr<ITypeInfo> kinds;
  EXPECT_EQ(library->GetTypeInfoOfGuid({0x70A9C5F1, 0x1F7E, 0x11CF, {0x86, 0x7F, 0x00, 0xAA, 0x00, 0x5F, 0xF3, 0x4A}},
                                       kinds.GetAddressOf()),
            S_OK)
      << "vbext_ComponentType";
}

using Dispatch = IdeTest;

TEST_F(Dispatch, PropertyGetPutAndMethodAreKeptApart) {
  auto control = Object(Controls(L"File").Get(), L"Item", {1});
  EXPECT_EQ(Call(control.Get(), L"Caption", DISPATCH_PROPERTYGET).text(), L"&New Project");
  ASSERT_TRUE(Succeeded(Put(control.Get(), L"Caption", L"Brand New")));
  EXPECT_EQ(ide.controls(L"File")[0].caption, L"Brand New");
  // A method cannot be assigned; a read-only property neither.
  EXPECT_EQ(Put(control.Get(), L"Delete", true).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Put(Controls(L"File").Get(), L"Count", 3).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(root.Get(), L"ActiveVBProject", DISPATCH_PROPERTYPUT, {static_cast<IDispatch*>(nullptr)}).hr,
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(ide.controls(L"File").size(), 13u);
}

TEST_F(Dispatch, MissingRequiredArgumentAndWrongTypeAreRefused) {
  auto bars = Object(root.Get(), L"CommandBars");
  EXPECT_EQ(Get(bars.Get(), L"Item").hr, DISP_E_BADPARAMCOUNT);
  const Outcome mismatch = Get(Controls(L"File").Get(), L"Add", {Named(L"Before", L"seventh")});
  EXPECT_EQ(mismatch.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(mismatch.description, L"Type mismatch");
  EXPECT_EQ(ide.controls(L"File").size(), 13u);
}

TEST_F(Dispatch, FailureArrivesAsExceptionWithItsDescription) {
  const Outcome missing = Get(Object(root.Get(), L"CommandBars").Get(), L"Item", {L"Debug"});
  EXPECT_EQ(missing.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(missing.scode, static_cast<HRESULT>(0x800A0005));
  EXPECT_EQ(missing.description, L"Invalid procedure call or argument");
  EXPECT_EQ(missing.source, L"Office");
}

}  // namespace
}  // namespace standin::test
