// The add-in registration record and the registration table, against a scratch
// part of the registry that stands in for HKEY_CLASSES_ROOT and HKEY_CURRENT_USER.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "addin/addin_record.h"
#include "addin/registration.h"
#include "common/error.h"
#include "common/later_windows.h"
#include "common/owners.h"
#include "support/registry_export.h"

namespace quarnel {
namespace {

TEST(AddinRecord, BytesFollowTheDesignersLayout) {
  const auto bytes = AddinRecordBytes();
  const std::vector<std::uint8_t> id(bytes.begin(), bytes.begin() + 16);
  EXPECT_EQ(id, (std::vector<std::uint8_t>{0xF7, 0x14, 0x07, 0xAC, 0x04, 0x3D, 0xD1, 0x11, 0xAE,
                                           0x7D, 0x00, 0xA0, 0xC9, 0x0F, 0x26, 0xF4}));
  const auto u32 = [&](size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24;
  };
  EXPECT_EQ(u32(16), bytes.size() - 20) << "the size counts everything after it";
  const std::string host_key = "HKEY_CURRENT_USER\\Software\\Microsoft\\Visual Basic\\6.0";
  EXPECT_EQ(u32(20), host_key.size() + 1);
  EXPECT_EQ(std::string(bytes.begin() + 24, bytes.begin() + 24 + host_key.size() + 1),
            host_key + '\0');
  for (size_t i = bytes.size() - 12; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0) << i;
  // Command-line safe, then an empty additional-data key just before it.
  EXPECT_EQ(u32(bytes.size() - 16), 1);
  EXPECT_EQ(u32(bytes.size() - 20), 0);
}

TEST(AddinRecord, ReadsBackTheAddinsEntry) {
  const AddinRecord record = ParseAddinRecord(AddinRecordBytes());
  EXPECT_EQ(record.host_key, "HKEY_CURRENT_USER\\Software\\Microsoft\\Visual Basic\\6.0");
  EXPECT_EQ(record.display_name, "Orv Quarnel...");
  EXPECT_EQ(record.description,
            "Allows you to save a new project to another location (instead of C:\\Program "
            "Files\\Microsoft Visual Studio\\VB98...) starting from a your custom folder");
  EXPECT_EQ(record.load_behavior, 1u);
  EXPECT_EQ(record.satellite_dll, "orvQuarnel");
  EXPECT_EQ(record.additional_data_key, "");
  EXPECT_EQ(record.command_line_safe, 1u);
}

TEST(AddinRecord, DamagedBytesAreRefused) {
  const auto bytes = AddinRecordBytes();
  std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - 13);
  EXPECT_THROW(ParseAddinRecord(cut), Error);
  std::vector<std::uint8_t> no_nul(bytes.begin(), bytes.end());
  no_nul[24 + ParseAddinRecord(bytes).host_key.size()] = 'x';  // the host key's NUL
  EXPECT_THROW(ParseAddinRecord(no_nul), Error);
  std::vector<std::uint8_t> huge(bytes.begin(), bytes.end());
  huge[23] = 0x7F;  // a text longer than the record
  EXPECT_THROW(ParseAddinRecord(huge), Error);
}

// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER point into scratch keys for a test.
class RegistrationTable : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = L"Software\\QuarnelRegistrationTest" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (scratch_ + L"\\machine").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, machine_.put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (scratch_ + L"\\user").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, user_.put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_.get()), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, user_.get()), ERROR_SUCCESS);
    // What is there on any machine: the class and interface lists, and software.
    for (const wchar_t* list : {L"CLSID", L"Interface", L"TypeLib"}) {
      Create(HKEY_LOCAL_MACHINE, kClasses + list + L"\\{11111111-2222-3333-4444-555555555555}");
    }
    Create(HKEY_CURRENT_USER, L"Software\\Other");
  }
  void TearDown() override {
    PretendWindowsXp(false);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    machine_.reset();
    user_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, scratch_.c_str());
  }
  static void Create(HKEY root, const std::wstring& path) {
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
  }
  static test::RegistryExport Everything() {
    test::RegistryExport out;
    test::ExportKey(HKEY_LOCAL_MACHINE, L"", out);
    test::RegistryExport user;
    test::ExportKey(HKEY_CURRENT_USER, L"", user);
    for (auto& [k, v] : user) out[L"HKCU\\" + k] = v;
    return out;
  }

  inline static const std::wstring kClasses = L"Software\\Classes\\";
  const std::vector<OwnedKey> table =
      quarnel::RegistrationTable(L"C:\\Addins\\Quarnel.dll", ParseAddinRecord(AddinRecordBytes()));

 private:
  std::wstring scratch_;
  unique_hkey machine_, user_;
};

TEST_F(RegistrationTable, WritesTheClassInterfaceAndAddinEntry) {
  ASSERT_EQ(WriteRegistration(table), S_OK);
  const auto all = Everything();
  const std::wstring clsid = kClasses + L"CLSID\\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}";
  EXPECT_EQ(all.at(kClasses + L"Quarnel.Connect\\CLSID []"), L"{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}");
  EXPECT_EQ(all.at(clsid + L"\\InprocServer32 []"), L"C:\\Addins\\Quarnel.dll");
  EXPECT_EQ(all.at(clsid + L"\\InprocServer32 [ThreadingModel]"), L"Apartment");
  EXPECT_EQ(all.at(clsid + L"\\ProgID []"), L"Quarnel.Connect");
  EXPECT_EQ(all.at(clsid + L"\\TypeLib []"), L"{D6C1C353-BB8B-4E84-9B09-B25DBB389205}");
  EXPECT_EQ(all.at(clsid + L"\\Version []"), L"1.0");
  EXPECT_EQ(all.at(kClasses + L"TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}\\1.0\\0\\win32 []"),
            L"C:\\Addins\\Quarnel.dll");
  EXPECT_EQ(all.at(kClasses + L"Interface\\{194B1080-1712-41FF-8791-B541F9977306}\\ProxyStubClsid32 []"),
            L"{00020424-0000-0000-C000-000000000046}");
  const std::wstring addin = L"HKCU\\Software\\Microsoft\\Visual Basic\\6.0\\Addins\\Quarnel.Connect";
  EXPECT_EQ(all.at(addin + L" [FriendlyName]"), L"Orv Quarnel...");
  EXPECT_EQ(all.at(addin + L" [LoadBehavior]"), L"dword:1");
  EXPECT_EQ(all.at(addin + L" [CommandLineSafe]"), L"dword:1");
  EXPECT_EQ(all.at(addin + L" [SatelliteDllName]"), L"orvQuarnel");
  EXPECT_EQ(all.count(addin + L" [Description]"), 1u);
}

// Each key goes with everything below it, keys another program added there
// too: by Windows' own removal of a key tree, and by the walk that XP needs,
// each with the same answer.
class RegistrationRemoval : public RegistrationTable, public ::testing::WithParamInterface<bool> {};

TEST_P(RegistrationRemoval, WritingTwiceChangesNothingAndRemovingRestoresTheBefore) {
  PretendWindowsXp(GetParam());
  const auto before = Everything();
  ASSERT_EQ(WriteRegistration(table), S_OK);
  const auto once = Everything();
  ASSERT_EQ(WriteRegistration(table), S_OK);
  EXPECT_EQ(Everything(), once);
  Create(HKEY_LOCAL_MACHINE,
         kClasses + L"CLSID\\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}\\Implemented Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}");
  ASSERT_EQ(RemoveRegistration(table), S_OK);
  EXPECT_EQ(Everything(), before);
  EXPECT_EQ(RemoveRegistration(table), S_OK) << "removing what is gone is no failure";
  // One answer on every Windows: the tree went, with its key; or it was not there.
  ASSERT_EQ(WriteRegistration(table), S_OK);
  for (const OwnedKey& owned : table) EXPECT_EQ(DeleteKeyTree(owned.root, owned.path.c_str()), ERROR_SUCCESS);
  for (const OwnedKey& owned : table) EXPECT_EQ(DeleteKeyTree(owned.root, owned.path.c_str()), ERROR_FILE_NOT_FOUND);
}
INSTANTIATE_TEST_SUITE_P(LaterWindows, RegistrationRemoval, ::testing::Bool(),
                         [](const auto& run) { return run.param ? "Xp" : "Later"; });

TEST_F(RegistrationTable, RemovingKeepsTheIdesOtherAddins) {
  Create(HKEY_CURRENT_USER, L"Software\\Microsoft\\Visual Basic\\6.0\\Addins\\Other.Connect");
  ASSERT_EQ(WriteRegistration(table), S_OK);
  ASSERT_EQ(RemoveRegistration(table), S_OK);
  const auto all = Everything();
  EXPECT_EQ(all.count(L"HKCU\\Software\\Microsoft\\Visual Basic\\6.0\\Addins\\Other.Connect"), 1u);
  EXPECT_EQ(all.count(L"HKCU\\Software\\Microsoft\\Visual Basic\\6.0\\Addins\\Quarnel.Connect"), 0u);
}

}  // namespace
}  // namespace quarnel
