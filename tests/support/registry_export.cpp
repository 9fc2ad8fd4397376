#include "support/registry_export.h"

#include <vector>

#include "common/owners.h"

namespace quarnel::test {

void ExportKey(HKEY root, const std::wstring& path, RegistryExport& out) {
  unique_hkey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  out[path] = L"";
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD name_size = 512, type = 0, size = 0;
    if (RegEnumValueW(key.get(), i, name, &name_size, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      break;
    }
    std::vector<BYTE> data(size + sizeof(wchar_t));
    name_size = 512;
    RegEnumValueW(key.get(), i, name, &name_size, nullptr, &type, data.data(), &size);
    std::wstring text;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      text = L"dword:" + std::to_wstring(*reinterpret_cast<const DWORD*>(data.data()));
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      text = reinterpret_cast<const wchar_t*>(data.data());
    } else {
      text = L"type " + std::to_wstring(type) + L", " + std::to_wstring(size) + L" bytes";
    }
    out[path + L" [" + name + L"]"] = text;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD size = 512;
    if (RegEnumKeyExW(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    ExportKey(root, path.empty() ? name : path + L"\\" + name, out);
  }
}

}  // namespace quarnel::test
