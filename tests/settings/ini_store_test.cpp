// The settings store against real files, through the platform's profile functions.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/app.h"
#include "common/error.h"
#include "settings/CIniManag.h"
#include "support/temp_folder.h"

namespace quarnel {
namespace {

using test::FileExists;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

// A name in the test program's own folder that no other test run uses.
std::wstring UniqueName(const wchar_t* stem) {
  return stem + std::to_wstring(GetCurrentProcessId());
}

// --- FileName: the adjustments of the path, and the file it guarantees ---------

TEST(IniFileName, BareNameGetsIniExtensionAndTheAddinFolder) {
  const std::wstring name = UniqueName(L"bare");
  const std::wstring expected = AppPath() + L"\\" + name + L".ini";
  test::RemoveTree(expected);

  CIniManag ini;
  ini.put_FileName(name);

  EXPECT_EQ(ini.FileName(), expected);
  ASSERT_TRUE(FileExists(expected));
  EXPECT_EQ(ReadBytes(expected), "");
  test::RemoveTree(expected);
}

TEST(IniFileName, IniExtensionInAnyCaseIsKept) {
  TempFolder folder;
  for (const wchar_t* name : {L"a.INI", L"b.ini", L"c.Ini"}) {
    CIniManag ini;
    ini.put_FileName(folder / name);
    EXPECT_EQ(ini.FileName(), folder / name);
    EXPECT_TRUE(FileExists(folder / name)) << name;
  }
}

TEST(IniFileName, OtherExtensionGetsIniAfterIt) {
  TempFolder folder;
  CIniManag ini;
  ini.put_FileName(folder / L"settings.txt");
  EXPECT_EQ(ini.FileName(), folder / L"settings.txt.ini");
  EXPECT_TRUE(FileExists(folder / L"settings.txt.ini"));
  EXPECT_FALSE(FileExists(folder / L"settings.txt"));
}

TEST(IniFileName, ForwardSlashWithoutBackslashStillGetsTheAddinFolder) {
  const std::wstring sub = UniqueName(L"slash");
  const std::wstring sub_path = AppPath() + L"\\" + sub;
  ASSERT_TRUE(CreateDirectoryW(sub_path.c_str(), nullptr));

  CIniManag ini;
  ini.put_FileName(sub + L"/x.ini");

  EXPECT_EQ(ini.FileName(), AppPath() + L"\\" + sub + L"/x.ini");
  EXPECT_TRUE(FileExists(sub_path + L"\\x.ini"));
  test::RemoveTree(sub_path);
}

TEST(IniFileName, ExistingFileStaysByteForByteTheSame) {
  TempFolder folder;
  const std::wstring path = folder / L"Quarnel.ini";
  // No final line break, odd spacing: anything rewritten would show.
  const std::string content = "[FOLDER]\r\nDefaultFolder = C:\\x \r\n\r\n;note\n[B]\nk=v";
  WriteBytes(path, content);

  CIniManag ini;
  ini.put_FileName(path);
  ini.put_FileName(path);

  EXPECT_EQ(ReadBytes(path), content);
}

TEST(IniFileName, MissingFolderRaisesAfterStoringThePath) {
  TempFolder folder;
  const std::wstring path = folder / L"missing\\Quarnel.ini";
  CIniManag ini;
  try {
    ini.put_FileName(path);
    FAIL() << "no error raised";
  } catch (const Error& error) {
    EXPECT_EQ(error.description(), L"Path not found");
    EXPECT_TRUE(FAILED(error.code()));
  }
  EXPECT_EQ(ini.FileName(), path);
  EXPECT_FALSE(test::FolderExists(folder / L"missing"));
}

TEST(IniFileName, FolderStandingAtThePathRaises) {
  TempFolder folder;
  ASSERT_TRUE(CreateDirectoryW((folder / L"Quarnel.ini").c_str(), nullptr));
  CIniManag ini;
  EXPECT_THROW(ini.put_FileName(folder / L"Quarnel.ini"), Error);
}

// --- Reading and writing values -----------------------------------------------

class IniValues : public ::testing::Test {
 protected:
  void SetUp() override {
    ini.put_FileName(folder / L"Quarnel.ini");
    ini.put_SectionName(L"FOLDER");
  }
  void Write(const std::string& content) { WriteBytes(ini.FileName(), content); }

  TempFolder folder;
  CIniManag ini;
};

TEST_F(IniValues, WrittenValueIsReadBackAndLandsInTheFile) {
  EXPECT_NE(ini.IniWrite(L"DefaultFolder", L"C:\\Progetti"), 0);
  EXPECT_EQ(ini.IniRead(L"DefaultFolder", L""), L"C:\\Progetti");
  EXPECT_NE(ReadBytes(ini.FileName()).find("[FOLDER]"), std::string::npos);
  EXPECT_NE(ReadBytes(ini.FileName()).find("DefaultFolder=C:\\Progetti"), std::string::npos);
}

TEST_F(IniValues, EmptyKeyGivesEmptyTextNotTheDefault) {
  Write("[FOLDER]\r\n=something\r\n");
  EXPECT_EQ(ini.IniRead(L"", L"fallback"), L"");
}

TEST_F(IniValues, AbsentKeySectionOrFileGivesTheDefault) {
  Write("[FOLDER]\r\nOther=1\r\n[ELSE]\r\nDefaultFolder=no\r\n");
  EXPECT_EQ(ini.IniRead(L"DefaultFolder", L"fallback"), L"fallback");
  ini.put_SectionName(L"NOSUCH");
  EXPECT_EQ(ini.IniRead(L"Other", L"d"), L"d");
  ini.put_SectionName(L"FOLDER");
  DeleteFileW(ini.FileName().c_str());
  EXPECT_EQ(ini.IniRead(L"Other", L"gone"), L"gone");
}

TEST_F(IniValues, LongValueIsWrittenWholeAndReadBackAs254Characters) {
  std::wstring value;
  for (int i = 0; i < 300; ++i) value += static_cast<wchar_t>(L'a' + i % 26);
  EXPECT_NE(ini.IniWrite(L"Long", value), 0);
  EXPECT_EQ(ini.IniRead(L"Long", L""), value.substr(0, 254));
  EXPECT_NE(ReadBytes(ini.FileName()).find(std::string(value.begin(), value.end())),
            std::string::npos);
}

TEST_F(IniValues, HandEditBetweenReadsIsSeen) {
  ini.IniWrite(L"DefaultFolder", L"C:\\one");
  EXPECT_EQ(ini.IniRead(L"DefaultFolder", L""), L"C:\\one");
  Write("[FOLDER]\r\nDefaultFolder=C:\\two\r\n");
  EXPECT_EQ(ini.IniRead(L"DefaultFolder", L""), L"C:\\two");
}

TEST_F(IniValues, FileHoldsTextInTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 1252u) << "the test's expected bytes are for code page 1252";
  ini.IniWrite(L"DefaultFolder", L"C:\\Città");
  EXPECT_NE(ReadBytes(ini.FileName()).find("C:\\Citt\xE0"), std::string::npos);
  EXPECT_EQ(ini.IniRead(L"DefaultFolder", L""), L"C:\\Città");
}

TEST_F(IniValues, WriteWhereTheFileCannotBeWrittenReturnsZero) {
  // Another program holds the file open without sharing.
  HANDLE held = CreateFileW(ini.FileName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ini.IniWrite(L"DefaultFolder", L"C:\\x"), 0);
  CloseHandle(held);
  EXPECT_EQ(ini.IniRead(L"DefaultFolder", L"none"), L"none");
}

TEST_F(IniValues, ReadBoolTruthTable) {
  Write(
      "[FOLDER]\r\nzero=0\r\nFalso=Falso\r\nempty=\r\none=1\r\nminus=-1\r\nlower=falso\r\n"
      "english=False\r\nupper=FALSE\r\nno=no\r\ntwo_zeros=00\r\n");
  for (const wchar_t* key : {L"zero", L"Falso", L"empty"}) {
    EXPECT_FALSE(ini.IniReadBool(key, L"1")) << key;
  }
  for (const wchar_t* key : {L"one", L"minus", L"lower", L"english", L"upper", L"no", L"two_zeros"}) {
    EXPECT_TRUE(ini.IniReadBool(key, L"0")) << key;
  }
  // A missing key is judged by its default; an empty key is false outright.
  EXPECT_FALSE(ini.IniReadBool(L"missing", L"0"));
  EXPECT_FALSE(ini.IniReadBool(L"missing", L""));
  EXPECT_TRUE(ini.IniReadBool(L"missing", L"yes"));
  EXPECT_FALSE(ini.IniReadBool(L"", L"1"));
}

// --- Listing, deleting keys and sections ----------------------------------------

TEST_F(IniValues, ReadSectionListsKeysInFileOrder) {
  Write("[S]\r\na=1\r\nbc=2\r\n[T]\r\nz=3\r\n");
  std::vector<std::wstring> keys{L"stale"};
  int32_t count = -1;
  EXPECT_FALSE(ini.IniReadSection(ini.FileName(), L"S", keys, count));
  EXPECT_EQ(count, 2);
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"a", L"bc"}));
}

TEST_F(IniValues, ReadSectionOfMissingOrEmptySectionGivesNothing) {
  Write("[S]\r\na=1\r\n[EMPTY]\r\n");
  for (const wchar_t* section : {L"NOSUCH", L"EMPTY"}) {
    std::vector<std::wstring> keys{L"stale"};
    int32_t count = -1;
    EXPECT_FALSE(ini.IniReadSection(ini.FileName(), section, keys, count));
    EXPECT_EQ(count, 0) << section;
    EXPECT_TRUE(keys.empty()) << section;
  }
}

TEST_F(IniValues, ReadSectionUsesTheFileNameAsGiven) {
  // Not adjusted like FileName: no ".ini" is added to it.
  WriteBytes(folder / L"list.cfg", "[S]\r\nonly=1\r\n");
  std::vector<std::wstring> keys;
  int32_t count = 0;
  ini.IniReadSection(folder / L"list.cfg", L"S", keys, count);
  EXPECT_EQ(keys, std::vector<std::wstring>{L"only"});
}

TEST_F(IniValues, DeleteKeyActsOnTheNamedSectionOnly) {
  Write("[A]\r\nk=1\r\nj=2\r\n[FOLDER]\r\nk=3\r\n");
  EXPECT_NE(ini.DeleteKey(L"A", L"k"), 0);
  EXPECT_EQ(ini.IniRead(L"k", L"gone"), L"3");
  ini.put_SectionName(L"A");
  EXPECT_EQ(ini.IniRead(L"k", L"gone"), L"gone");
  EXPECT_EQ(ini.IniRead(L"j", L"gone"), L"2");
}

TEST_F(IniValues, DeleteSectionActsOnTheNamedSectionOnly) {
  Write("[A]\r\nk=1\r\n[FOLDER]\r\nk=3\r\n");
  EXPECT_NE(ini.DeleteSection(L"A"), 0);
  EXPECT_EQ(ini.IniRead(L"k", L"gone"), L"3");
  EXPECT_EQ(ReadBytes(ini.FileName()).find("[A]"), std::string::npos);
}

}  // namespace
}  // namespace quarnel
