#pragma once
// CIniManag: access to a private INI file through the platform's private-profile
// functions. It keeps no copy of the file: every read and write goes to the file
// at once, so a change made by hand between two calls is seen by the next read.
//
//   CIniManag ini;
//   ini.put_FileName(AppPath() + L"\\Quarnel.ini");
//   ini.put_SectionName(L"FOLDER");
//   std::wstring folder = ini.IniRead(L"DefaultFolder", L"");
#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

class CIniManag {
 public:
  // Lists the key names of a section of `IniFile` (used as given: no extension or
  // folder is added) in file order. `sKey` receives them (element i-1 holds the
  // i-th name), `iCount` their number; a missing or empty section leaves `sKey`
  // empty and `iCount` 0. A name cut off by the 8,190-character limit of the
  // listing is not returned. Always returns false.
  bool IniReadSection(const std::wstring& IniFile, const std::wstring& sSectionName,
                      std::vector<std::wstring>& sKey, int32_t& iCount) const;

  // Sets the file: ".ini" is appended unless the name ends in ".ini" (any case);
  // a name with no backslash is put in the add-in's own folder; a missing file is
  // created empty. Throws quarnel::Error when the file cannot be created (the
  // adjusted path is stored by then).
  void put_FileName(const std::wstring& sFileName);
  const std::wstring& FileName() const { return file_; }

  const std::wstring& SectionName() const { return section_; }
  void put_SectionName(const std::wstring& sSectionName) { section_ = sSectionName; }

  // Writes `valore` under `sKey` in the current section; returns the platform's
  // success flag (nonzero on success).
  int32_t IniWrite(const std::wstring& sKey, const std::wstring& valore) const;

  // Reads `sKey` as a flag: "0", "Falso" and empty text are false, all else true
  // (case-sensitive). A missing key is judged by `sDefault`; an empty key is false.
  bool IniReadBool(const std::wstring& sKey, const std::wstring& sDefault) const;

  // Reads `sKey` of the current section, or `sDefault` when it is missing; values
  // are cut to 254 characters. An empty key gives empty text without reading.
  std::wstring IniRead(const std::wstring& sKey, const std::wstring& sDefault) const;

  // Remove a key or a whole section of the file; they act on the section named in
  // their argument, not on SectionName. Return the platform's success flag.
  int32_t DeleteKey(const std::wstring& sSectionName, const std::wstring& sKey) const;
  int32_t DeleteSection(const std::wstring& sSectionName) const;

 private:
  std::wstring ReadValue(const std::wstring& sKey, const std::wstring& sDefault) const;

  std::wstring file_;
  std::wstring section_;
};

}  // namespace quarnel
