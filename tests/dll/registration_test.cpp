// Registration of Quarnel.dll as a user does it: regsvr32, then the IDE's view
// of the registry, a script client creating the class by its ProgID, and
// regsvr32 /u leaving the registry as it found it. These tests change the
// prefix's registry: they hold the "registry" lock.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/app.h"
#include "common/owners.h"
#include "support/registry_export.h"
#include "support/temp_folder.h"

namespace quarnel {
namespace {

std::wstring DllPath() { return AppPath() + L"\\Quarnel.dll"; }

// Runs a command line; returns its exit code and what it wrote to its output.
DWORD RunCommand(std::wstring command, std::string* output = nullptr) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  CreatePipe(&read, &write, &inherit, 0);
  unique_handle reader(read), writer(write);
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return static_cast<DWORD>(-1);
  }
  unique_handle thread(process.hThread), child(process.hProcess);
  writer.reset();
  std::string out;
  char buffer[512];
  DWORD n = 0;
  while (ReadFile(reader.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
  WaitForSingleObject(child.get(), 60000);
  DWORD code = 1;
  GetExitCodeProcess(child.get(), &code);
  if (output) *output = out;
  return code;
}

// What differs between two snapshots, one line each, for a failure message.
std::string Differences(const test::RegistryExport& a,
                        const test::RegistryExport& b) {
  std::string out;
  auto line = [&](const char* sign, const std::wstring& key) {
    out += sign;
    for (wchar_t c : key) out += c < 128 ? static_cast<char>(c) : '?';
    out += '\n';
  };
  for (const auto& [key, value] : a) {
    auto other = b.find(key);
    if (other == b.end()) line("- ", key);
    else if (other->second != value) line("~ ", key);
  }
  for (const auto& [key, value] : b) {
    if (!a.count(key)) line("+ ", key);
  }
  return out;
}

// The parts of the registry that registration may touch.
test::RegistryExport Snapshot() {
  test::RegistryExport all, part;
  for (const wchar_t* path : {L"CLSID", L"Interface", L"TypeLib", L"Quarnel.Connect"}) {
    part.clear();
    test::ExportKey(HKEY_CLASSES_ROOT, path, part);
    for (auto& [k, v] : part) all[L"HKCR\\" + k] = v;
  }
  part.clear();
  test::ExportKey(HKEY_CURRENT_USER, L"Software\\Microsoft\\Visual Basic", part);
  for (auto& [k, v] : part) all[L"HKCU\\" + k] = v;
  return all;
}

// The machine's classes that registration may touch (Wine's HKEY_CLASSES_ROOT
// is the machine's alone), and the user's.
test::RegistryExport MachineClasses() {
  test::RegistryExport all = Snapshot();
  std::erase_if(all, [](const auto& entry) { return entry.first.starts_with(L"HKCU\\"); });
  return all;
}
test::RegistryExport UserClasses() {
  test::RegistryExport all;
  test::ExportKey(HKEY_CURRENT_USER, L"Software\\Classes", all);
  return all;
}

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return L"(missing)";
  }
  return value;
}

DWORD ReadNumber(HKEY root, const std::wstring& path, const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return 0xDEADBEEF;
  }
  return value;
}

// The IDE's type libraries, registered as on a machine with VB6: the add-in's
// own library refers to them. Here they are the stand-in's, beside this program,
// registered only in the test prefix and only for the test.
class IdeTypeLibraries {
 public:
  IdeTypeLibraries() {
    for (const wchar_t* name : {L"MSO.DLL", L"VB6EXT.OLB"}) {
      std::wstring path = AppPath() + L"\\" + name;
      com_ptr<ITypeLib> library;
      if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)) &&
          SUCCEEDED(RegisterTypeLib(library.Get(), path.data(), nullptr))) {
        libraries_.push_back(std::move(library));
      }
    }
  }
  ~IdeTypeLibraries() {
    for (const auto& library : libraries_) {
      TLIBATTR* attr = nullptr;
      if (FAILED(library->GetLibAttr(&attr))) continue;
      UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
      library->ReleaseTLibAttr(attr);
    }
  }
  size_t count() const { return libraries_.size(); }

 private:
  std::vector<com_ptr<ITypeLib>> libraries_;
};

class Regsvr32 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ide_libraries_.count(), 2u);
    RunCommand(L"regsvr32.exe /s /u \"" + DllPath() + L"\"");
  }
  void TearDown() override { RunCommand(L"regsvr32.exe /s /u \"" + DllPath() + L"\""); }
  static DWORD Register() { return RunCommand(L"regsvr32.exe /s \"" + DllPath() + L"\""); }
  static DWORD Unregister() { return RunCommand(L"regsvr32.exe /s /u \"" + DllPath() + L"\""); }

 private:
  IdeTypeLibraries ide_libraries_;
};

// What the IDE's References dialog lists for the type library: its help
// string, as Windows' own type library registration writes it.
constexpr wchar_t kLibraryHelp[] =
    L"Allows to save project to another location (instead of C:\\Program Files\\Microsoft Visual Studio\\VB98...)";

TEST_F(Regsvr32, RegistersTheClassTypeLibraryAndTheAddinEntry) {
  ASSERT_EQ(Register(), 0u);
  const std::wstring clsid = L"CLSID\\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Quarnel.Connect\\CLSID", nullptr),
            L"{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}");
  EXPECT_EQ(_wcsicmp(ReadString(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", nullptr).c_str(),
                     DllPath().c_str()), 0);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid + L"\\ProgID", nullptr), L"Quarnel.Connect");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid + L"\\TypeLib", nullptr),
            L"{D6C1C353-BB8B-4E84-9B09-B25DBB389205}");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid + L"\\Version", nullptr), L"1.0");
  EXPECT_EQ(_wcsicmp(ReadString(HKEY_CLASSES_ROOT,
                                L"TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}\\1.0\\0\\win32",
                                nullptr).c_str(), DllPath().c_str()), 0);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}\\1.0", nullptr),
            kLibraryHelp);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT,
                       L"Interface\\{194B1080-1712-41FF-8791-B541F9977306}\\ProxyStubClsid32", nullptr),
            L"{00020424-0000-0000-C000-000000000046}");
  const std::wstring addin = L"Software\\Microsoft\\Visual Basic\\6.0\\Addins\\Quarnel.Connect";
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, addin, L"FriendlyName"), L"Orv Quarnel...");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, addin, L"Description"),
            L"Allows you to save a new project to another location (instead of C:\\Program "
            L"Files\\Microsoft Visual Studio\\VB98...) starting from a your custom folder");
  EXPECT_EQ(ReadNumber(HKEY_CURRENT_USER, addin, L"LoadBehavior"), 1u);
  EXPECT_EQ(ReadNumber(HKEY_CURRENT_USER, addin, L"CommandLineSafe"), 1u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, addin, L"SatelliteDllName"), L"orvQuarnel");
}

const std::wstring kAddinKey = L"Software\\Microsoft\\Visual Basic\\6.0\\Addins\\Quarnel.Connect";

// The user unticks "Load on Startup" in the IDE's Add-In Manager.
void ChooseNotToLoad() {
  ASSERT_EQ(RunCommand(L"reg.exe add \"HKCU\\" + kAddinKey + L"\" /v LoadBehavior /t REG_DWORD /d 0 /f"), 0u);
}

// Registered again (a new copy over the old, by hand), with the user's choice
// between: that choice stays, and nothing else changes.
TEST_F(Regsvr32, TwiceChangesNothingButKeepsTheUsersChoiceAndUnregisteringRestoresTheRegistry) {
  const auto before = Snapshot();
  ASSERT_EQ(Register(), 0u);
  const auto once = Snapshot();
  EXPECT_NE(once, before);
  ChooseNotToLoad();
  ASSERT_EQ(Register(), 0u);
  auto twice = Snapshot();
  EXPECT_EQ(twice[L"HKCU\\" + kAddinKey + L" [LoadBehavior]"], L"dword:0");
  twice[L"HKCU\\" + kAddinKey + L" [LoadBehavior]"] = L"dword:1";
  EXPECT_TRUE(twice == once) << Differences(once, twice);
  ASSERT_EQ(Unregister(), 0u);
  const auto after = Snapshot();
  EXPECT_TRUE(after == before) << Differences(before, after);

  CLSID clsid{};
  EXPECT_TRUE(FAILED(CLSIDFromProgID(L"Quarnel.Connect", &clsid)));
}

// regsvr32 /n /i:user: everything below the user's own keys, nothing for the
// machine; /u /n /i:user takes exactly that away.
TEST_F(Regsvr32, PerUserRegistrationWritesOnlyTheUsersKeysAndUndoesThem) {
  // Empty keys carry nothing: Windows has HKCU\Software\Classes\CLSID and the
  // like before any registration, a fresh Wine prefix does not.
  auto user = [] {
    test::RegistryExport all;
    test::ExportKey(HKEY_CURRENT_USER, L"Software\\Classes", all);
    test::ExportKey(HKEY_CURRENT_USER, L"Software\\Microsoft\\Visual Basic", all);
    std::erase_if(all, [&](const auto& entry) {
      const auto next = all.upper_bound(entry.first);
      return entry.first.find(L" [") == std::wstring::npos &&
             (next == all.end() || next->first.rfind(entry.first, 0) != 0);
    });
    return all;
  };
  const auto user_before = user(), machine_before = MachineClasses();
  const std::wstring dll = L" \"" + DllPath() + L"\"";
  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /n /i:user" + dll), 0u);
  const std::wstring classes = L"Software\\Classes\\";
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + L"Quarnel.Connect\\CLSID", nullptr),
            L"{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}");
  EXPECT_EQ(_wcsicmp(ReadString(HKEY_CURRENT_USER,
                                classes + L"CLSID\\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}\\InprocServer32",
                                nullptr).c_str(), DllPath().c_str()), 0);
  EXPECT_EQ(_wcsicmp(ReadString(HKEY_CURRENT_USER,
                                classes + L"TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}\\1.0\\0\\win32",
                                nullptr).c_str(), DllPath().c_str()), 0);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + L"Interface\\{194B1080-1712-41FF-8791-B541F9977306}\\TypeLib",
                       nullptr),
            L"{D6C1C353-BB8B-4E84-9B09-B25DBB389205}");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + L"TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}\\1.0", nullptr),
            kLibraryHelp);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kAddinKey, L"FriendlyName"), L"Orv Quarnel...");
  EXPECT_TRUE(MachineClasses() == machine_before) << Differences(machine_before, MachineClasses());
  ChooseNotToLoad();
  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /n /i:user" + dll), 0u);
  EXPECT_EQ(ReadNumber(HKEY_CURRENT_USER, kAddinKey, L"LoadBehavior"), 0u) << "registered again by hand";
  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /u /n /i:user" + dll), 0u);
  EXPECT_TRUE(user() == user_before) << Differences(user_before, user());
  EXPECT_NE(RunCommand(L"regsvr32.exe /s /n /i:everyone" + dll), 0u) << "only \"user\" is known";
  EXPECT_TRUE(user() == user_before);
}

// regsvr32 /n /i:machine: regsvr32's registration without the user's add-in
// entry (the installer's elevated copy may run as another account), and /u
// takes exactly that away; then /n /i:addin writes the user's entry anew (an
// older version's texts go), keeping the LoadBehavior they chose in the
// Add-In Manager.
TEST_F(Regsvr32, MachinePartAloneThenTheUsersEntryKeepingTheirChoice) {
  const auto before = Snapshot();
  ASSERT_EQ(Register(), 0u);
  auto expected = Snapshot();
  ASSERT_EQ(Unregister(), 0u);
  const auto users = [](const auto& entry) { return entry.first.starts_with(L"HKCU\\"); };
  std::erase_if(expected, users);
  for (const auto& entry : before) {
    if (users(entry)) expected.insert(entry);
  }
  const std::wstring dll = L" \"" + DllPath() + L"\"";
  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /n /i:machine" + dll), 0u);
  EXPECT_TRUE(Snapshot() == expected) << Differences(expected, Snapshot());

  const std::wstring& addin = kAddinKey;
  ChooseNotToLoad();
  ASSERT_EQ(RunCommand(L"reg.exe add \"HKCU\\" + addin + L"\" /v FriendlyName /d \"Older name\" /f"), 0u);
  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /n /i:addin" + dll), 0u);
  EXPECT_EQ(ReadNumber(HKEY_CURRENT_USER, addin, L"LoadBehavior"), 0u);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, addin, L"FriendlyName"), L"Orv Quarnel...");

  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /u /n /i:addin" + dll), 0u);
  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /u /n /i:machine" + dll), 0u);
  EXPECT_TRUE(Snapshot() == before) << Differences(before, Snapshot());
}

// Windows' HKEY_CLASSES_ROOT merges the machine's classes and the user's, and
// a write or a removal through it reaches the user's key wherever the user has
// one: played here by mapping it onto the user's classes in this process,
// where the DLL's own DllInstall runs for the machine (a regsvr32 child would
// not see the mapping). A copy for me only, registered from another folder,
// and the machine's copy stay apart: each names its own DLL below its own
// root, and the removal of either leaves the other whole.
TEST_F(Regsvr32, MachineAndUserCopiesStayApartThroughTheMergedClassesRoot) {
  const test::TempFolder folder;
  const std::wstring own = folder / L"Quarnel.dll", user_dll = L" \"" + own + L"\"";
  ASSERT_TRUE(CopyFileW(DllPath().c_str(), own.c_str(), FALSE));
  unique_hmodule module(LoadLibraryW(DllPath().c_str()));
  const auto install = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>(
      reinterpret_cast<void*>(GetProcAddress(module.get(), "DllInstall")));
  ASSERT_NE(install, nullptr);
  unique_hkey user_classes;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            user_classes.put(), nullptr), ERROR_SUCCESS);
  const auto machine_part = [&](BOOL on) {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, user_classes.get());
    const HRESULT hr = install(on, L"machine");
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    return hr;
  };
  const auto machine_before = MachineClasses();

  ASSERT_EQ(RunCommand(L"regsvr32.exe /s /n /i:user" + user_dll), 0u);
  const auto users = UserClasses();
  EXPECT_EQ(machine_part(TRUE), S_OK);
  for (const wchar_t* key : {L"CLSID\\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}\\InprocServer32",
                             L"TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}\\1.0\\0\\win32"}) {
    EXPECT_EQ(_wcsicmp(ReadString(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + key, nullptr).c_str(),
                       DllPath().c_str()), 0) << "the machine's " << testing::PrintToString(key);
  }
  EXPECT_TRUE(UserClasses() == users) << Differences(users, UserClasses());
  const auto machines = MachineClasses();
  EXPECT_EQ(RunCommand(L"regsvr32.exe /s /u /n /i:user" + user_dll), 0u);
  EXPECT_TRUE(MachineClasses() == machines) << Differences(machines, MachineClasses());

  EXPECT_EQ(RunCommand(L"regsvr32.exe /s /n /i:user" + user_dll), 0u);
  EXPECT_EQ(machine_part(FALSE), S_OK);
  EXPECT_TRUE(UserClasses() == users) << Differences(users, UserClasses());
  EXPECT_TRUE(MachineClasses() == machine_before) << Differences(machine_before, MachineClasses());
  EXPECT_EQ(RunCommand(L"regsvr32.exe /s /u /n /i:user" + user_dll), 0u);
}

TEST_F(Regsvr32, ScriptCreatesTheClassAndUsesItThroughItsTypeLibrary) {
  ASSERT_EQ(Register(), 0u);
  test::TempFolder folder;
  const std::wstring script = folder / L"connect.vbs";
  test::WriteBytes(script,
                   "Set c = CreateObject(\"Quarnel.Connect\")\r\n"
                   "WScript.Echo \"start \" & c.FormDisplayed\r\n"
                   "c.FormDisplayed = True\r\n"
                   "WScript.Echo \"set \" & c.FormDisplayed\r\n"
                   "c.Show\r\n"
                   "WScript.Echo \"shown \" & c.FormDisplayed\r\n"
                   "c.Hide\r\n"
                   "WScript.Echo \"hidden \" & c.FormDisplayed\r\n"
                   "Set c = Nothing\r\n");
  std::string output;
  EXPECT_EQ(RunCommand(L"cscript.exe //nologo \"" + script + L"\"", &output), 0u) << output;
  EXPECT_NE(output.find("start False"), std::string::npos) << output;
  EXPECT_NE(output.find("set True"), std::string::npos) << output;
  EXPECT_NE(output.find("shown True"), std::string::npos) << output;
  EXPECT_NE(output.find("hidden False"), std::string::npos) << output;
}

}  // namespace
}  // namespace quarnel
