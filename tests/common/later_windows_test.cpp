// What a later Windows does better, and the Windows XP way beside it: each
// table runs with the system's own functions and again with every lookup of a
// later function failing, as on XP.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "ide/host.h"
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
  const test::TempFolder folder;
};

// Names compared as the file system compares them: ordinal, case aside; and so
// the menu's event sink answers "Click" by name, in any case.
TEST_P(OnWindows, NamesCompareOrdinallyWithoutCase) {
  struct Row { const wchar_t *a, *b; int order; };
  for (const Row& row : {Row{L"Click", L"CLICK", CSTR_EQUAL},
                         Row{L"Relat\u00F3rio.frm", L"RELAT\u00D3RIO.FRM", CSTR_EQUAL},  // beyond ASCII
                         Row{L"Form10", L"form1", CSTR_GREATER_THAN},  // a name before its longer kin
                         Row{L"_x", L"ax", CSTR_GREATER_THAN},         // upper case first: '_' after 'A'
                         Row{L"\u00DF", L"SS", CSTR_GREATER_THAN}}) {  // no linguistic folding
    EXPECT_EQ(CompareNoCase(row.a, -1, row.b, -1), row.order) << testing::PrintToString(row.a);
    EXPECT_EQ(CompareNoCase(row.a, static_cast<int>(wcslen(row.a)), row.b, static_cast<int>(wcslen(row.b))),
              row.order);
  }
  auto* sink = new MenuSink(nullptr, MenuSink::Command::kFile);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"click");
  EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, host::DISPID_CommandBarClick);
  name = const_cast<LPOLESTR>(L"Clicks");
  EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), DISP_E_UNKNOWNNAME);
  sink->Release();
}

// The same file through Wine's Z: drive (the Unix root): a second drive letter.
std::wstring OnDriveZ(const std::wstring& path) {
  const auto unix_name = reinterpret_cast<char*(CDECL*)(LPCWSTR)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unix_name ? unix_name(path.c_str()) : nullptr;
  std::wstring z = name ? L"Z:" : L"";
  for (const char* c = name; c && *c; ++c) z += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
  HeapFree(GetProcessHeap(), 0, name);
  return z;
}

// One file under several names, on a drive with file indexes, on one without
// (where Windows after XP tells a handle's final path, and XP only the long
// path name), and on one without volume serial numbers (where an index may
// name two files: Wine's Unix file systems that have no drive letter); and
// names of other files, one of the same size and time.
TEST_P(OnWindows, OneFileByAnyOfItsNames) {
  const std::wstring file = folder / L"A long file name.frm";
  test::WriteBytes(file, "one");
  test::WriteBytes(folder / L"Other.frm", "two");
  WIN32_FILE_ATTRIBUTE_DATA one{};
  const HANDLE other = CreateFileW((folder / L"Other.frm").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &one) &&
              SetFileTime(other, nullptr, nullptr, &one.ftLastWriteTime));
  CloseHandle(other);
  ASSERT_TRUE(CreateHardLinkW((folder / L"Linked.frm").c_str(), file.c_str(), nullptr));
  wchar_t short_name[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(file.c_str(), short_name, MAX_PATH), 0u);
  ASSERT_NE(file, short_name);
  ASSERT_FALSE(OnDriveZ(file).empty()) << "runs under Wine";
  // Same file: where there are indexes; where there are none, after XP; on XP.
  struct Row { const char* what; std::wstring name; bool indexed, final_path, long_path; };
  for (const Row& row : {Row{"another case, . and ..", folder / L"sub\\..\\.\\A LONG FILE NAME.FRM", true, true, true},
                         Row{"the short name", short_name, true, true, true},
                         Row{"a second drive letter", OnDriveZ(file), true, true, false},
                         Row{"a hard link", folder / L"Linked.frm", true, false, false},
                         Row{"another file of the same size and time", folder / L"Other.frm", false, false, false},
                         Row{"no file", folder / L"Missing.frm", false, false, false}}) {
    for (const DrivePretence drive : {DrivePretence{}, DrivePretence{.no_file_index = true},
                                      DrivePretence{.no_volume_serial = true}}) {
      PretendDrives(drive);
      const bool indexed = !drive.no_file_index && !drive.no_volume_serial;
      EXPECT_EQ(FileIdentity(file).Is(FileIdentity(row.name)),
                indexed ? row.indexed : GetParam() ? row.long_path : row.final_path)
          << row.what << (drive.no_file_index ? ", no file indexes" : drive.no_volume_serial ? ", no serials" : "");
    }
  }
}

// The destination's files and folders, which the save's checks rest on, are
// listed once, however old the system (a file made after the listing is not
// seen); where the folder cannot be listed, each name is asked of the file
// system. Either way a folder and a read-only file are told.
TEST_P(OnWindows, FolderListedOnceOrEachNameAsked) {
  CreateDirectoryW((folder / L"Module1.bas").c_str(), nullptr);
  test::WriteBytes(folder / L"Form1.frm", "");
  test::WriteBytes(folder / L"Class1.cls", "");
  SetFileAttributesW((folder / L"Class1.cls").c_str(), FILE_ATTRIBUTE_READONLY);
  for (const bool unlistable : {false, true}) {
    PretendDrives({.unlistable = unlistable});
    const FolderFiles files(folder.path());
    test::WriteBytes(folder / (unlistable ? L"Form2.frx" : L"Form1.frx"), "");
    EXPECT_NE(files.Attributes(folder / L"FORM1.FRM"), INVALID_FILE_ATTRIBUTES) << unlistable;
    EXPECT_TRUE(files.Attributes(folder / L"module1.BAS") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(files.Attributes(folder / L"Class1.cls") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(files.Attributes(folder / L"Form1.frm") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(files.Attributes(folder / L"Missing.frm"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(files.Attributes(folder / (unlistable ? L"Form2.frx" : L"Form1.frx")) != INVALID_FILE_ATTRIBUTES,
              unlistable);
  }
}

INSTANTIATE_TEST_SUITE_P(LaterWindows, OnWindows, ::testing::Bool(),
                         [](const auto& run) { return run.param ? "Xp" : "Later"; });

}  // namespace
}  // namespace quarnel
