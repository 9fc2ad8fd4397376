#include "addin/registration.h"

#include <oleauto.h>
#include <algorithm>
#include <olectl.h>

#include "Quarnel_h.h"
#include "common/ansi.h"
#include "common/later_windows.h"
#include "common/owners.h"

namespace quarnel {
namespace {

constexpr wchar_t kProgId[] = L"Quarnel.Connect";

// The typelib marshaller, which marshals a dual interface through its type library.
constexpr wchar_t kTypeLibMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";

std::wstring GuidText(const GUID& id) {
  wchar_t text[40] = {};
  StringFromGUID2(id, text, 40);
  return text;
}

// "HKEY_CURRENT_USER\Software\..." as a root and a path below it.
std::pair<HKEY, std::wstring> SplitRootKey(const std::wstring& key) {
  struct Root {
    const wchar_t* name;
    HKEY root;
  };
  static const Root roots[] = {{L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                               {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                               {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};
  const auto slash = key.find(L'\\');
  const std::wstring first = key.substr(0, slash);
  for (const Root& r : roots) {
    if (_wcsicmp(first.c_str(), r.name) == 0) {
      return {r.root, slash == std::wstring::npos ? std::wstring() : key.substr(slash + 1)};
    }
  }
  return {HKEY_CURRENT_USER, key};
}

HRESULT WriteValue(HKEY key, const RegistryValue& value) {
  LSTATUS status;
  if (const auto* text = std::get_if<std::wstring>(&value.data)) {
    status = RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text->c_str()),
                            static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t)));
  } else {
    const DWORD number = std::get<DWORD>(value.data);
    status = RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&number), sizeof number);
  }
  return HRESULT_FROM_WIN32(status);
}

bool KeyIsEmpty(HKEY root, const std::wstring& path) {
  unique_hkey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return subkeys == 0 && values == 0;
}

// The user's add-in entry, written again by any way of registering: the
// LoadBehavior there is the user's choice in the IDE's Add-In Manager and
// stays; the rest is the add-in's own, and a new version's texts reach every
// user. (No other key of ours has a LoadBehavior: for a scope without the
// entry, this leaves the last key as it is.)
void KeepLoadBehavior(OwnedKey& entry) {
  unique_hkey key;
  if (RegOpenKeyExW(entry.root, entry.path.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS &&
      RegQueryValueExW(key.get(), L"LoadBehavior", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    std::erase_if(entry.values, [](const RegistryValue& value) { return value.name == L"LoadBehavior"; });
  }
}

}  // namespace

std::vector<OwnedKey> RegistrationTable(const std::wstring& dll_path, const AddinRecord& record,
                                        Scope scope, const std::wstring& library_text) {
  // The texts the values hold, by their place here.
  enum : uint8_t { kProgIdText, kClsid, kIid, kLibid, kDll, kFolder, kLibrary, kName, kDescription, kSatellite,
                   kLoadBehavior, kCommandLineSafe };
  const std::wstring texts[] = {kProgId,
                                GuidText(CLSID_Connect),
                                GuidText(IID__Connect),
                                GuidText(LIBID_Quarnel),
                                dll_path,
                                dll_path.substr(0, dll_path.find_last_of(L'\\')),
                                library_text,
                                FromAnsi(record.display_name),
                                FromAnsi(record.description),
                                FromAnsi(record.satellite_dll)};
  // The class's keys, by the kind below Software\Classes and the text that
  // names it: the ProgID, the class, the interface, the type library; then
  // the add-in's entry in the IDE's list.
  struct Key {
    const wchar_t* kind;
    uint8_t name;
  };
  static constexpr Key kClassKeys[] = {{L"", kProgIdText}, {L"CLSID\\", kClsid}, {L"Interface\\", kIid},
                                       {L"TypeLib\\", kLibid}};
  constexpr uint8_t kEntry = 4;
  // Each value: its key, the subkey below it, its name, and its data: a text
  // of this table, or of the texts above (`literal` null), or a number of the
  // add-in's record.
  struct Value {
    uint8_t key;
    const wchar_t* subkey;
    const wchar_t* name;
    const wchar_t* literal;
    uint8_t text;
  };
  static constexpr Value kValues[] = {
      {0, L"", L"", nullptr, kProgIdText},
      {0, L"CLSID", L"", nullptr, kClsid},
      {1, L"", L"", nullptr, kProgIdText},
      {1, L"InprocServer32", L"", nullptr, kDll},
      {1, L"InprocServer32", L"ThreadingModel", L"Apartment", 0},
      {1, L"ProgID", L"", nullptr, kProgIdText},
      {1, L"TypeLib", L"", nullptr, kLibid},
      {1, L"Version", L"", L"1.0", 0},
      {2, L"", L"", L"_Connect", 0},
      {2, L"ProxyStubClsid", L"", kTypeLibMarshaler, 0},
      {2, L"ProxyStubClsid32", L"", kTypeLibMarshaler, 0},
      {2, L"TypeLib", L"", nullptr, kLibid},
      {2, L"TypeLib", L"Version", L"1.0", 0},
      // What RegisterTypeLib writes, by hand: it writes through HKEY_CLASSES_ROOT.
      {3, L"1.0", L"", nullptr, kLibrary},
      {3, L"1.0\\FLAGS", L"", L"0", 0},
      {3, L"1.0\\0\\win32", L"", nullptr, kDll},
      {3, L"1.0\\HELPDIR", L"", nullptr, kFolder},
      {kEntry, L"", L"FriendlyName", nullptr, kName},
      {kEntry, L"", L"Description", nullptr, kDescription},
      {kEntry, L"", L"LoadBehavior", nullptr, kLoadBehavior},
      {kEntry, L"", L"CommandLineSafe", nullptr, kCommandLineSafe},
      {kEntry, L"", L"SatelliteDllName", nullptr, kSatellite},
  };
  // The machine's classes and the user's, each by its own name: never through
  // HKEY_CLASSES_ROOT, which on Windows merges the two and writes to (and
  // removes from) the user's keys wherever the user has them, so that a copy
  // for everyone registered over one for me only would land in the user's
  // keys and go with them.
  const bool user = scope == Scope::kUser;
  const HKEY classes = user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  // Empty keys above ours go at unregistration, but never Software\Classes
  // itself, nor the machine's CLSID and the like (the user's empty CLSID and
  // the like carry nothing, and may not have been there before).
  const int kept = user ? 2 : 3;
  std::vector<OwnedKey> table;
  for (const Key& key : kClassKeys) {
    table.push_back({classes, std::wstring(L"Software\\Classes\\") + key.kind + texts[key.name], {}, kept});
  }
  const auto [host_root, host_path] = SplitRootKey(FromAnsi(record.host_key));
  table.push_back({host_root, host_path + L"\\Addins\\" + kProgId, {}});
  for (const Value& value : kValues) {
    auto& values = table[value.key].values;
    if (value.text >= kLoadBehavior) {
      values.push_back({value.subkey, value.name,
                        DWORD{value.text == kLoadBehavior ? record.load_behavior : record.command_line_safe}});
    } else {
      values.push_back({value.subkey, value.name, value.literal ? std::wstring(value.literal) : texts[value.text]});
    }
  }
  if (scope == Scope::kAddinEntry) table.erase(table.begin(), table.begin() + kEntry);
  if (scope == Scope::kMachineOnly) table.pop_back();
  return table;
}

HRESULT WriteRegistration(const std::vector<OwnedKey>& table) {
  for (const OwnedKey& owned : table) {
    for (const RegistryValue& value : owned.values) {
      const std::wstring path = value.subkey.empty() ? owned.path : owned.path + L"\\" + value.subkey;
      unique_hkey key;
      const LSTATUS status = RegCreateKeyExW(owned.root, path.c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, key.put(), nullptr);
      if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
      if (const HRESULT hr = WriteValue(key.get(), value); FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT RemoveRegistration(const std::vector<OwnedKey>& table) {
  HRESULT result = S_OK;
  for (const OwnedKey& owned : table) {
    const LSTATUS status = DeleteKeyTree(owned.root, owned.path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result)) {
      result = HRESULT_FROM_WIN32(status);
    }
    // The keys above that only held ours go too, down to the kept ones.
    std::wstring parent = owned.path;
    for (auto slash = parent.rfind(L'\\'); slash != std::wstring::npos; slash = parent.rfind(L'\\')) {
      parent.resize(slash);
      if (std::count(parent.begin(), parent.end(), L'\\') + 1 <= owned.kept_depth) break;
      if (!KeyIsEmpty(owned.root, parent)) break;
      RegDeleteKeyW(owned.root, parent.c_str());
    }
  }
  return result;
}

HRESULT RegisterServer(const std::wstring& dll_path, Scope scope) {
  // The type library's text, as RegisterTypeLib would write it: its help string.
  com_ptr<ITypeLib> library;
  unique_bstr help;
  if (scope != Scope::kAddinEntry &&
      (FAILED(LoadTypeLibEx(dll_path.c_str(), REGKIND_NONE, &library)) ||
       FAILED(library->GetDocumentation(-1, nullptr, help.put(), nullptr, nullptr)))) {
    return SELFREG_E_TYPELIB;
  }
  try {
    auto table = RegistrationTable(dll_path, ParseAddinRecord(AddinRecordBytes()), scope,
                                   help.get() ? help.str() : std::wstring(L"Quarnel"));
    KeepLoadBehavior(table.back());  // the add-in's entry, where the scope has one
    const HRESULT hr = WriteRegistration(table);
    return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT UnregisterServer(const std::wstring& dll_path, Scope scope) {
  try {
    const HRESULT hr = RemoveRegistration(RegistrationTable(dll_path, ParseAddinRecord(AddinRecordBytes()), scope));
    return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace quarnel
