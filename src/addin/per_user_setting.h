#pragma once
// The per-user settings of a Visual Basic program, where its runtime's
// SaveSetting keeps them: the REG_SZ value `key` under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>.
#include <string>

namespace quarnel {

// Writes one value, creating the keys as needed; throws quarnel::Error on failure.
//   SaveSetting(L"Quarnel", L"Settings", L"DisplayOnConnect", L"1");
void SaveSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value);

}  // namespace quarnel
