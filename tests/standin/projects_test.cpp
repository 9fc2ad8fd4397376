// Projects, components and windows: what the IDE answers about them, and the
// files its save operations write.
#include <gtest/gtest.h>

#include <tuple>

#include "fixture.h"
#include "support/temp_folder.h"

namespace standin::test {
namespace {

using quarnel::test::FileExists;
using quarnel::test::ReadBytes;
using quarnel::test::TempFolder;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using Projects = IdeTest;

TEST_F(Projects, NoProjectMeansNoActiveProject) {
  const Outcome active = Get(root.Get(), L"ActiveVBProject");
  ASSERT_TRUE(Succeeded(active));
  EXPECT_EQ(V_VT(active.value.get()), VT_DISPATCH);
  EXPECT_EQ(active.object(), nullptr);
}

TEST_F(Projects, BuiltProjectIsActiveWithItsComponentsInOrder) {
  ide.project(L"Project1").form(L"Form1").module(L"Module1").cls(L"Class1").build();
  ide.project(L"Other").module(L"Helpers").build();
  auto project = ActiveProject();
  EXPECT_EQ(Get(project.Get(), L"Name").text(), L"Project1");
  EXPECT_EQ(Get(project.Get(), L"FileName").text(), L"");
  EXPECT_EQ(V_BOOL(Get(project.Get(), L"Saved").value.get()), VARIANT_FALSE);

  auto components = Object(project.Get(), L"VBComponents");
  EXPECT_EQ(Get(components.Get(), L"Count").number(), 3);
  EXPECT_EQ(Get(Object(components.Get(), L"Item", {short{2}}).Get(), L"Name").text(), L"Module1");
  EXPECT_EQ(Get(Object(components.Get(), L"Item", {L"class1"}).Get(), L"Type").number(), 2);
  EXPECT_EQ(Get(components.Get(), L"Item", {4}).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(Get(components.Get(), L"Item", {L"Nope"}).description, L"Subscript out of range");

  // For Each, as Visual Basic does it: DISPID_NEWENUM, then IEnumVARIANT.
  DISPPARAMS none{};
  quarnel::unique_variant enumerator;
  ASSERT_EQ(components->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                               enumerator.put(), nullptr, nullptr),
            S_OK);
  com_ptr<IEnumVARIANT> items;
  ASSERT_EQ(V_UNKNOWN(enumerator.get())->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(items.GetAddressOf())),
            S_OK);
  std::vector<std::wstring> names;
  quarnel::unique_variant item;
  ULONG fetched = 0;
  while (items->Next(1, item.put(), &fetched) == S_OK) names.push_back(Get(V_DISPATCH(item.get()), L"Name").text());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Form1", L"Module1", L"Class1"}));
}

TEST_F(Projects, EveryComponentKindIsOffered) {
  auto builder = ide.project(L"Kinds");
  for (int kind = 1; kind <= 11; ++kind) builder.component(L"C" + std::to_wstring(kind), kind);
  builder.build();
  auto components = Object(ActiveProject().Get(), L"VBComponents");
  for (int kind = 1; kind <= 11; ++kind) {
    EXPECT_EQ(Get(Object(components.Get(), L"Item", {kind}).Get(), L"Type").number(), kind);
  }
}

TEST_F(Projects, DirtyFlagsAreReadAndWritten) {
  ide.project(L"Project1").saved_as(L"C:\\Work\\Project1.vbp").form(L"Form1").file(L"C:\\Work\\Form1.frm").clean().build();
  auto project = ActiveProject();
  EXPECT_EQ(V_BOOL(Get(project.Get(), L"Saved").value.get()), VARIANT_TRUE);
  auto form = Object(Object(project.Get(), L"VBComponents").Get(), L"Item", {1});
  ASSERT_TRUE(Succeeded(Put(form.Get(), L"IsDirty", true)));
  EXPECT_TRUE(ide.find_project(L"Project1")->components[0].dirty);
  EXPECT_EQ(V_BOOL(Get(project.Get(), L"Saved").value.get()), VARIANT_FALSE);
  EXPECT_EQ(V_BOOL(Get(project.Get(), L"IsDirty").value.get()), VARIANT_FALSE);  // the project file itself
}

class SaveAs : public IdeTest {
 protected:
  SaveAs() { ide.project(L"Project1").form(L"Form1").module(L"Module1").cls(L"Class1").build(); }
  com_ptr<IDispatch> Component(const wchar_t* name) {
    return Object(Object(ActiveProject().Get(), L"VBComponents").Get(), L"Item", {name});
  }
  TempFolder folder;
};

TEST_F(SaveAs, ComponentsThenProjectWriteTheFilesAndSaveTheProject) {
  for (const wchar_t* name : {L"Form1", L"Module1", L"Class1"}) {
    const std::wstring extension = name[0] == L'F' ? L".frm" : name[0] == L'M' ? L".bas" : L".cls";
    const Outcome saved = Call(Component(name).Get(), L"SaveAs", DISPATCH_METHOD, {(folder / (name + extension)).c_str()});
    ASSERT_TRUE(Succeeded(saved));
    EXPECT_EQ(V_BOOL(Get(Component(name).Get(), L"IsDirty").value.get()), VARIANT_FALSE);
  }
  EXPECT_TRUE(Contains(ReadBytes(folder / L"Form1.frm"), "Begin VB.Form Form1"));
  EXPECT_TRUE(Contains(ReadBytes(folder / L"Form1.frm"), "Attribute VB_Name = \"Form1\""));
  EXPECT_TRUE(Contains(ReadBytes(folder / L"Module1.bas"), "Attribute VB_Name = \"Module1\""));
  EXPECT_TRUE(Contains(ReadBytes(folder / L"Class1.cls"), "VERSION 1.0 CLASS"));
  EXPECT_FALSE(ide.find_project(L"Project1")->saved);

  auto project = ActiveProject();
  ASSERT_TRUE(Succeeded(Call(project.Get(), L"SaveAs", DISPATCH_METHOD, {(folder / L"Project1.vbp").c_str()})));
  const std::string vbp = ReadBytes(folder / L"Project1.vbp");
  EXPECT_TRUE(Contains(vbp, "Type=Exe\r\n"));
  EXPECT_TRUE(Contains(vbp, "\r\nForm=Form1.frm\r\n"));
  EXPECT_TRUE(Contains(vbp, "\r\nModule=Module1; Module1.bas\r\n"));
  EXPECT_TRUE(Contains(vbp, "\r\nClass=Class1; Class1.cls\r\n"));
  EXPECT_TRUE(Contains(vbp, "\r\nName=\"Project1\"\r\n"));
  EXPECT_EQ(Get(project.Get(), L"FileName").text(), folder / L"Project1.vbp");
  EXPECT_EQ(V_BOOL(Get(project.Get(), L"Saved").value.get()), VARIANT_TRUE);
  const auto state = ide.find_project(L"Project1");
  EXPECT_TRUE(state->saved);
  EXPECT_EQ(state->components[1].file_name, folder / L"Module1.bas");
}

TEST_F(SaveAs, ComponentInAnotherFolderIsNamedRelativeToTheProjectFile) {
  const std::wstring sub = folder / L"forms";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  ASSERT_TRUE(Succeeded(Call(Component(L"Form1").Get(), L"SaveAs", DISPATCH_METHOD, {(sub + L"\\Form1.frm").c_str()})));
  ASSERT_TRUE(Succeeded(Call(ActiveProject().Get(), L"SaveAs", DISPATCH_METHOD, {(folder / L"P.vbp").c_str()})));
  EXPECT_TRUE(Contains(ReadBytes(folder / L"P.vbp"), "\r\nForm=forms\\Form1.frm\r\n"));
  ASSERT_TRUE(Succeeded(Call(Component(L"Class1").Get(), L"SaveAs", DISPATCH_METHOD, {(folder / L"Class1.cls").c_str()})));
  ASSERT_TRUE(Succeeded(Call(ActiveProject().Get(), L"SaveAs", DISPATCH_METHOD, {(sub + L"\\P.vbp").c_str()})));
  const std::string below = ReadBytes(sub + L"\\P.vbp");
  EXPECT_TRUE(Contains(below, "\r\nForm=Form1.frm\r\n"));
  EXPECT_TRUE(Contains(below, "\r\nClass=Class1; ..\\Class1.cls\r\n"));
}

// What Windows refuses the IDE: a missing folder, a folder or a read-only,
// hidden or system file in the way (Wine run by root would write it: the IDE's
// refusal is played), a path of 260 bytes or more in the code page. The
// component stays unsaved.
TEST_F(SaveAs, WriteFailureChangesNothing) {
  ASSERT_TRUE(CreateDirectoryW((folder / L"Project1.vbp").c_str(), nullptr));
  for (const auto& [name, attributes] : {std::pair{L"Form1.frm", FILE_ATTRIBUTE_READONLY},
                                         std::pair{L"Hidden.frm", FILE_ATTRIBUTE_HIDDEN},
                                         std::pair{L"System.frm", FILE_ATTRIBUTE_SYSTEM}}) {
    quarnel::test::WriteBytes(folder / name, "read-only");
    SetFileAttributesW((folder / name).c_str(), attributes);
  }
  std::wstring long_path = folder.path();
  while (long_path.size() < 250) long_path += L"\\abc";
  long_path = long_path.substr(0, 250) + L"\\Form1.frm";  // 260 characters
  struct Row { std::wstring path; const wchar_t* description; unsigned vb_error; };
  for (const Row& row : {Row{folder / L"missing\\Form1.frm", L"Path not found", 76},
                         Row{folder / L"Project1.vbp", L"Path/File access error", 75},
                         Row{folder / L"Form1.frm", L"Path/File access error", 75},
                         Row{folder / L"Hidden.frm", L"Path/File access error", 75},
                         Row{folder / L"System.frm", L"Path/File access error", 75},
                         Row{long_path, L"Path not found", 76}}) {
    const Outcome failed = Call(Component(L"Form1").Get(), L"SaveAs", DISPATCH_METHOD, {row.path.c_str()});
    EXPECT_EQ(failed.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(failed.description, row.description) << testing::PrintToString(row.path);
    EXPECT_EQ(failed.scode, static_cast<HRESULT>(0x800A0000u | row.vb_error));
  }
  EXPECT_TRUE(ide.find_project(L"Project1")->components[0].dirty);
  EXPECT_EQ(ide.find_project(L"Project1")->components[0].file_name, L"");
  EXPECT_EQ(ReadBytes(folder / L"Form1.frm"), "read-only");

  const Outcome blocked = Call(ActiveProject().Get(), L"SaveAs", DISPATCH_METHOD, {(folder / L"Project1.vbp").c_str()});
  EXPECT_EQ(blocked.description, L"Path/File access error");
  EXPECT_EQ(ide.find_project(L"Project1")->file_name, L"");
  EXPECT_TRUE(ide.find_project(L"Project1")->dirty);
}

// A device's name is the device in any folder: the IDE's write succeeds and
// nothing reaches the disk.
TEST_F(SaveAs, DevicesNameWritesToTheDevice) {
  ASSERT_TRUE(Succeeded(Call(Component(L"Class1").Get(), L"SaveAs", DISPATCH_METHOD, {(folder / L"Nul.cls").c_str()})));
  WIN32_FIND_DATAW found;
  const HANDLE listing = FindFirstFileW((folder / L"*.cls").c_str(), &found);
  EXPECT_EQ(listing, INVALID_HANDLE_VALUE) << "no file in the folder";
  if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
  EXPECT_FALSE(ide.find_project(L"Project1")->components[2].dirty);
  EXPECT_EQ(ide.find_project(L"Project1")->components[2].file_name, folder / L"Nul.cls");
}

using Windows = IdeTest;

TEST_F(Windows, ItemOneTakesAnIntegerAndRecordsTheFocus) {
  auto windows = Object(root.Get(), L"Windows");
  EXPECT_EQ(Get(windows.Get(), L"Count").number(), 4);
  auto first = Object(windows.Get(), L"Item", {short{1}});
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(Succeeded(Call(first.Get(), L"SetFocus", DISPATCH_METHOD)));
  EXPECT_EQ(ide.focus_history(), std::vector<std::wstring>{ide.windows()[0]});
  EXPECT_EQ(Get(first.Get(), L"Caption").text(), ide.windows()[0]);
  EXPECT_NE(Get(first.Get(), L"HWnd").number(), 0);
  EXPECT_EQ(Get(windows.Get(), L"Item", {short{0}}).description, L"Subscript out of range");
}

// The IDE's corners, each switched on: what a client then meets.
TEST_F(SaveAs, VariantsAndModesChangeWhatTheIdeAnswers) {
  auto project = ActiveProject();
  EXPECT_EQ(Get(project.Get(), L"FileName").text(), L"") << "a never-saved project, as known";
  ide.set(Variant::kUnsavedFileNameRaises);
  EXPECT_EQ(Get(project.Get(), L"FileName").description, L"Path not found");
  EXPECT_EQ(Get(Component(L"Form1").Get(), L"FileNames", {short{1}}).description, L"Path not found");

  ide.set(Variant::kFirstWindowHidden);
  auto first = Object(Object(root.Get(), L"Windows").Get(), L"Item", {short{1}});
  EXPECT_EQ(Get(first.Get(), L"Caption").text(), L"Object Browser");
  EXPECT_EQ(Call(first.Get(), L"SetFocus", DISPATCH_METHOD).description, L"Invalid procedure call or argument");
  EXPECT_TRUE(ide.focus_history().empty());

  ide.set(Variant::kShortFileMenu);
  EXPECT_EQ(ide.controls(L"File").size(), 4u);
  auto controls = Object(Bar(L"File").Get(), L"Controls");
  EXPECT_EQ(Call(controls.Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", short{7})}).description,
            L"Invalid procedure call or argument");
  ide.set(Variant::kShortFileMenu, false);
  EXPECT_EQ(ide.controls(L"File").size(), 13u);
  ide.set(Variant::kBeforeOnlyAControl);
  EXPECT_EQ(Call(Object(Bar(L"File").Get(), L"Controls").Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", short{14})}).description,
            L"Invalid procedure call or argument");
  ide.set(Variant::kBeforeOnlyAControl, false);

  for (const auto& [mode, caption, refusal] :
       {std::tuple{Mode::kRun, L"Microsoft Visual Basic [run]", L"Can't save while the project is running"},
        std::tuple{Mode::kBreak, L"Microsoft Visual Basic [break]", L"Can't save while the project is in break mode"}}) {
    ide.set_mode(mode);
    EXPECT_EQ(ide.caption(), caption);
    EXPECT_EQ(Get(Object(root.Get(), L"MainWindow").Get(), L"Caption").text(), caption);
    EXPECT_EQ(Call(Component(L"Form1").Get(), L"SaveAs", DISPATCH_METHOD, {(folder / L"Form1.frm").c_str()}).description,
              refusal);
    EXPECT_EQ(Call(project.Get(), L"SaveAs", DISPATCH_METHOD, {(folder / L"P.vbp").c_str()}).description, refusal);
  }
  EXPECT_FALSE(FileExists(folder / L"Form1.frm"));
  EXPECT_FALSE(FileExists(folder / L"P.vbp"));
}

}  // namespace
}  // namespace standin::test
