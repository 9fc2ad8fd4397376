// What a later Windows does better, and the Windows XP way beside it: each
// table runs with the system's own functions and again with every lookup of a
// later function failing, as on XP.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "addin/host.h"
#include "addin/menu_sink.h"
#include "common/later_windows.h"
#include "save/file_identity.h"
#include "support/temp_folder.h"

namespace quarnel {
namespace {

class OnWindows : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { PretendWindowsXp(GetParam()); }
  void TearDown() override {
    PretendWindowsXp(false);
    PretendDrives({});
  }
};
std::string WindowsName(const ::testing::TestParamInfo<bool>& info) { return info.param ? "Xp" : "Later"; }

// --- Names compared as the file system compares them ------------------------------

TEST_P(OnWindows, NamesCompareOrdinallyWithoutCase) {
  struct Row {
    const wchar_t* a;
    const wchar_t* b;
    int order;
  };
  const Row rows[] = {
      {L"Click", L"CLICK", CSTR_EQUAL},
      {L"Form1.frx", L"FORM1.FRX", CSTR_EQUAL},
      {L"Relat\u00F3rio.frm", L"RELAT\u00D3RIO.FRM", CSTR_EQUAL},  // beyond ASCII
      {L"a", L"B", CSTR_LESS_THAN},
      {L"Form10", L"form1", CSTR_GREATER_THAN},  // a name before its longer kin
      {L"_x", L"ax", CSTR_GREATER_THAN},         // upper case first: '_' comes after 'A'
      {L"\u00DF", L"SS", CSTR_GREATER_THAN},     // no linguistic folding
      {L"", L"", CSTR_EQUAL},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CompareNoCase(row.a, -1, row.b, -1), row.order) << testing::PrintToString(row.a);
    EXPECT_EQ(CompareNoCase(row.a, static_cast<int>(wcslen(row.a)), row.b, static_cast<int>(wcslen(row.b))),
              row.order);
  }

  // The IDE asks the menu's event sink for "Click" by name, in any case.
  auto* sink = new MenuSink(nullptr, MenuSink::Command::kFile);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"click");
  EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, host::DISPID_CommandBarClick);
  name = const_cast<LPOLESTR>(L"Clicks");
  EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), DISP_E_UNKNOWNNAME);
  sink->Release();
}

// --- Files known by what they are ---------------------------------------------------

// The same folder through Wine's Z: drive (the Unix root): a second drive letter.
std::wstring OnDriveZ(const std::wstring& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return {};
  char* name = unix_name(path.c_str());
  if (!name) return {};
  std::wstring z = L"Z:";
  for (const char* c = name; *c; ++c) z += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
  HeapFree(GetProcessHeap(), 0, name);
  return z;
}

// One file under several names, on a drive with file indexes and on one
// without (where Windows after XP tells a handle's final path, and XP only the
// long path name), and names of other files.
TEST_P(OnWindows, OneFileByAnyOfItsNames) {
  const test::TempFolder folder;
  const std::wstring file = folder / L"A long file name.frm";
  test::WriteBytes(file, "one");
  test::WriteBytes(folder / L"Other.frm", "two");
  ASSERT_TRUE(CreateHardLinkW((folder / L"Linked.frm").c_str(), file.c_str(), nullptr));
  wchar_t short_name[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(file.c_str(), short_name, MAX_PATH), 0u);
  ASSERT_NE(file, short_name);
  const std::wstring on_z = OnDriveZ(file);
  ASSERT_FALSE(on_z.empty()) << "runs under Wine";

  struct Row {
    const char* what;
    std::wstring name;
    bool indexed;        // the file system gives file indexes
    bool final_path;     // it does not, and Windows tells the final path
    bool long_path;      // it does not, on XP
  };
  const Row rows[] = {
      {"another case, . and ..", folder / L"sub\\..\\.\\A LONG FILE NAME.FRM", true, true, true},
      {"the short name", short_name, true, true, true},
      {"a second drive letter", on_z, true, true, false},
      {"a hard link", folder / L"Linked.frm", true, false, false},
      {"another file", folder / L"Other.frm", false, false, false},
      {"no file", folder / L"Missing.frm", false, false, false},
      {"no name", L"", false, false, false},
  };
  for (const bool no_index : {false, true}) {
    PretendDrives({.no_file_index = no_index});
    for (const Row& row : rows) {
      const bool expected = !no_index ? row.indexed : GetParam() ? row.long_path : row.final_path;
      EXPECT_EQ(FileIdentity(file).Is(FileIdentity(row.name)), expected)
          << row.what << (no_index ? ", no file indexes" : "");
    }
  }
}

// The destination's files are listed once, however old the system (a file made
// after the listing is not seen); where the folder cannot be listed, each name
// is asked of the file system.
TEST_P(OnWindows, FolderListedOnceOrEachNameAsked) {
  for (const bool unlistable : {false, true}) {
    const test::TempFolder folder;
    test::WriteBytes(folder / L"Form1.frm", "");
    CreateDirectoryW((folder / L"Module1.bas").c_str(), nullptr);
    PretendDrives({.unlistable = unlistable});
    const FolderFiles files(folder.path());
    test::WriteBytes(folder / L"Form1.frx", "");
    EXPECT_TRUE(files.Has(folder / L"FORM1.FRM")) << unlistable;
    EXPECT_FALSE(files.Has(folder / L"Module1.bas")) << "a folder is no file";
    EXPECT_EQ(files.Has(folder / L"Form1.frx"), unlistable);
  }
}

INSTANTIATE_TEST_SUITE_P(LaterWindows, OnWindows, ::testing::Bool(), WindowsName);

}  // namespace
}  // namespace quarnel
