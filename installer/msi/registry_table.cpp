// Prints the machine's part of Quarnel.dll's registration (what
// "regsvr32 /n /i:machine" writes) as WiX registry values, for the Windows
// Installer package, from the registration table itself: the package keeps no
// copy of its own. Run by the build under Wine; not shipped.
//
// Usage: registry_table.exe OUTPUT DLL
//   OUTPUT  the WiX include to write;
//   DLL     the built Quarnel.dll, whose type library names the library's key
//           as registration names it.
// The installed DLL's folder is $(var.QuarnelFolder), which the package's
// build defines as the package formats it: the DLL's path is that folder and
// "\Quarnel.dll", its type library's help folder the folder itself, as
// registration writes them.
//
// Each key that registration makes and unregistration removes whole gets a
// row that removes it whole at uninstall too ("-").
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "addin/registration.h"
#include "common/error.h"
#include "common/owners.h"

namespace {

// Stands for the installed folder in the table's texts until they are
// escaped: no text of the table holds it.
constexpr wchar_t kFolder = L'\x01';

// A text as a value of the package's registry table, which formats it: a
// bracket is the package's own syntax and is escaped, and so is a "$" of
// WiX's; and, as it stands in an XML attribute, its markup.
std::wstring Attribute(const std::wstring& text) {
  std::wstring out;
  for (const wchar_t c : text) {
    switch (c) {
      case kFolder: out += L"$(var.QuarnelFolder)"; break;
      case L'[': out += L"[\\[]"; break;
      case L']': out += L"[\\]]"; break;
      case L'$': out += L"$$"; break;
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKLM";
  if (root == HKEY_CURRENT_USER) return L"HKCU";
  return L"HKCR";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: registry_table.exe OUTPUT DLL\n");
    return 2;
  }
  const std::wstring output = argv[1], dll = argv[2];
  // The type library's text, as registration takes it: its help string.
  quarnel::com_ptr<ITypeLib> library;
  quarnel::unique_bstr help;
  if (FAILED(LoadTypeLibEx(dll.c_str(), REGKIND_NONE, &library)) ||
      FAILED(library->GetDocumentation(-1, nullptr, help.put(), nullptr, nullptr)) || !help.get()) {
    fwprintf(stderr, L"registry_table: no type library in %ls\n", dll.c_str());
    return 1;
  }
  const auto table = quarnel::RegistrationTable(std::wstring(1, kFolder) + L"\\Quarnel.dll",
                                                quarnel::ParseAddinRecord(quarnel::AddinRecordBytes()),
                                                quarnel::Scope::kMachineOnly, help.str());
  std::wstring xml =
      L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      L"<!-- Made by the build (installer/msi/registry_table.cpp) from Quarnel.dll's registration table. -->\n"
      L"<Include>\n";
  for (const quarnel::OwnedKey& owned : table) {
    const std::wstring root = RootName(owned.root);
    for (const quarnel::RegistryValue& value : owned.values) {
      const std::wstring key = value.subkey.empty() ? owned.path : owned.path + L"\\" + value.subkey;
      xml += L"  <RegistryValue Root=\"" + root + L"\" Key=\"" + Attribute(key) + L"\"";
      if (!value.name.empty()) xml += L" Name=\"" + Attribute(value.name) + L"\"";
      if (const auto* text = std::get_if<std::wstring>(&value.data)) {
        xml += L" Type=\"string\" Value=\"" + Attribute(*text) + L"\"/>\n";
      } else {
        xml += L" Type=\"integer\" Value=\"" + std::to_wstring(std::get<DWORD>(value.data)) + L"\"/>\n";
      }
    }
    xml += L"  <RegistryValue Root=\"" + root + L"\" Key=\"" + Attribute(owned.path) +
           L"\" Name=\"-\" Type=\"string\" Value=\"\"/>\n";
  }
  xml += L"</Include>\n";
  FILE* file = _wfopen(output.c_str(), L"wb");
  const std::string bytes = quarnel::ToUtf8(xml);
  if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || fclose(file) != 0) {
    fwprintf(stderr, L"registry_table: cannot write %ls\n", output.c_str());
    return 1;
  }
  return 0;
}
