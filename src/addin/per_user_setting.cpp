#include "addin/per_user_setting.h"

#include <windows.h>

#include "common/error.h"
#include "common/owners.h"

namespace quarnel {

void SaveSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value) {
  const std::wstring path = L"Software\\VB and VBA Program Settings\\" + app + L"\\" + section;
  unique_hkey hkey;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, hkey.put(), nullptr);
  if (status != ERROR_SUCCESS) throw Error::FromWin32(static_cast<DWORD>(status));
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  status = RegSetValueExW(hkey.get(), key.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  if (status != ERROR_SUCCESS) throw Error::FromWin32(static_cast<DWORD>(status));
}

}  // namespace quarnel
