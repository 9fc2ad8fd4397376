#include "settings/CIniManag.h"

#include <windows.h>

#include "common/ansi.h"
#include "common/app.h"
#include "common/error.h"
#include "common/owners.h"

namespace quarnel {
namespace {

// Read buffers hold 255 characters with the terminating NUL: values come back
// cut to 254 characters.
constexpr DWORD kValueCapacity = 255;
constexpr DWORD kSectionCapacity = 8192;

std::wstring UpperCase(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// A file, not a folder, stands at the path.
bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Opens the file for appending and closes it at once: an empty file appears.
void CreateEmptyFile(const std::string& path) {
  const unique_handle file = file_handle(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw Error::FromWin32(GetLastError());
}

}  // namespace

bool CIniManag::IniReadSection(const std::wstring& IniFile, const std::wstring& sSectionName,
                               std::vector<std::wstring>& sKey, int32_t& iCount) const {
  std::string buffer(kSectionCapacity, ' ');
  const DWORD n = GetPrivateProfileStringA(ToAnsi(sSectionName).c_str(), nullptr, "",
                                           buffer.data(), kSectionCapacity,
                                           ToAnsi(IniFile).c_str());
  buffer.resize(n);

  iCount = 0;
  sKey.clear();
  // Each name ends in a NUL; a trailing piece without one was cut off.
  size_t start = 0;
  for (size_t nul = buffer.find('\0'); nul != std::string::npos; nul = buffer.find('\0', start)) {
    sKey.push_back(FromAnsi(std::string_view(buffer).substr(start, nul - start)));
    ++iCount;
    start = nul + 1;
  }
  return false;
}

void CIniManag::put_FileName(const std::wstring& sFileName) {
  std::wstring path = sFileName;
  const std::wstring tail = path.size() < 4 ? path : path.substr(path.size() - 4);
  if (UpperCase(tail) != L".INI") path += L".ini";
  if (path.find(L'\\') == std::wstring::npos) path = AppPath() + L"\\" + path;
  file_ = path;

  const std::string ansi_path = ToAnsi(file_);
  if (!FileExists(ansi_path)) CreateEmptyFile(ansi_path);
}

int32_t CIniManag::IniWrite(const std::wstring& sKey, const std::wstring& valore) const {
  return WritePrivateProfileStringA(ToAnsi(section_).c_str(), ToAnsi(sKey).c_str(),
                                    ToAnsi(valore).c_str(), ToAnsi(file_).c_str());
}

bool CIniManag::IniReadBool(const std::wstring& sKey, const std::wstring& sDefault) const {
  if (sKey.empty()) return false;
  const std::wstring value = ReadValue(sKey, sDefault);
  return !(value == L"0" || value == L"Falso" || value.empty());
}

std::wstring CIniManag::IniRead(const std::wstring& sKey, const std::wstring& sDefault) const {
  if (sKey.empty()) return {};
  return ReadValue(sKey, sDefault);
}

int32_t CIniManag::DeleteKey(const std::wstring& sSectionName, const std::wstring& sKey) const {
  return WritePrivateProfileStringA(ToAnsi(sSectionName).c_str(), ToAnsi(sKey).c_str(), nullptr,
                                    ToAnsi(file_).c_str());
}

int32_t CIniManag::DeleteSection(const std::wstring& sSectionName) const {
  return WritePrivateProfileStringA(ToAnsi(sSectionName).c_str(), nullptr, nullptr,
                                    ToAnsi(file_).c_str());
}

std::wstring CIniManag::ReadValue(const std::wstring& sKey, const std::wstring& sDefault) const {
  char buffer[kValueCapacity] = {};
  const DWORD n = GetPrivateProfileStringA(ToAnsi(section_).c_str(), ToAnsi(sKey).c_str(),
                                           ToAnsi(sDefault).c_str(), buffer, kValueCapacity,
                                           ToAnsi(file_).c_str());
  return FromAnsi(std::string_view(buffer, n));
}

}  // namespace quarnel
