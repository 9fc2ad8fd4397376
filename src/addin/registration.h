#pragma once
// What registration writes and unregistration removes, as one table, so the two
// cannot disagree: the class and its ProgID, the interface for marshalling
// through the type library, and the add-in's entry in the IDE's add-in list.
// The type library itself is registered from the DLL's own resource.
#include <windows.h>

#include <string>
#include <variant>
#include <vector>

#include "addin/addin_record.h"

namespace quarnel {

struct RegistryValue {
  std::wstring subkey;  // below the owned key; empty: the owned key itself
  std::wstring name;    // empty: the key's default value
  std::variant<std::wstring, DWORD> data;
};

// A key that registration makes and unregistration removes whole.
struct OwnedKey {
  HKEY root;
  std::wstring path;
  std::vector<RegistryValue> values;
  // How many keys of `path`, from the root down, stay when the keys above ours
  // are found empty at unregistration: "Software\Classes\CLSID" of the
  // machine, "Software\Classes" of the user.
  int kept_depth = 1;
};

// For whom: the machine (below HKEY_LOCAL_MACHINE\Software\Classes; needs an
// administrator), or the current user only (below
// HKEY_CURRENT_USER\Software\Classes): the class, its ProgID, its interface
// and the type library's keys, each written and removed below its own root by
// name. The add-in's entry in the IDE's list is the user's either way.
// kAddinEntry: that entry alone, for a user of a machine-wide installation (at
// the user's logon, through Windows' Active Setup, or by the installer running
// as that user). Every scope that writes the entry writes every value anew
// but a LoadBehavior there, the user's choice in the IDE's Add-In Manager
// (registering by hand again, as an upgrade from the zip, keeps it too).
// kMachineOnly: the
// machine's part alone, nothing below HKEY_CURRENT_USER (the installer's
// elevated copy, whose HKEY_CURRENT_USER may be another account's).
enum class Scope { kMachine, kUser, kAddinEntry, kMachineOnly };

// The keys for the DLL at `dll_path`, with the add-in's entry from `record`;
// `library_text` names the type library (its help string, as RegisterTypeLib
// writes it).
std::vector<OwnedKey> RegistrationTable(const std::wstring& dll_path, const AddinRecord& record,
                                        Scope scope = Scope::kMachine,
                                        const std::wstring& library_text = L"Quarnel");

// Writes every value of the table; stops at the first failure, leaving what it
// wrote, and returns it.
HRESULT WriteRegistration(const std::vector<OwnedKey>& table);
// Removes every owned key with all below it, then the keys above it that are
// left empty (never a key directly below the root, like CLSID or Software).
// A key already gone is no failure.
HRESULT RemoveRegistration(const std::vector<OwnedKey>& table);

// DllRegisterServer and DllUnregisterServer for the DLL at `dll_path`; with
// Scope::kUser, what DllInstall does for "regsvr32 [/u] /n /i:user", with
// Scope::kAddinEntry for "regsvr32 [/u] /n /i:addin", with Scope::kMachineOnly
// for "regsvr32 [/u] /n /i:machine".
HRESULT RegisterServer(const std::wstring& dll_path, Scope scope = Scope::kMachine);
HRESULT UnregisterServer(const std::wstring& dll_path, Scope scope = Scope::kMachine);

}  // namespace quarnel
