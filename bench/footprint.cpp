#include "footprint.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cstddef>
#include <iterator>

namespace quarnel::bench {
namespace {

template <class T>
bool ReadAt(const std::vector<char>& file, std::size_t offset, T& out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, file.data() + offset, sizeof(T));
  return true;
}

// The file offset of a relative virtual address, through the section table.
std::optional<std::size_t> OffsetOf(const std::vector<IMAGE_SECTION_HEADER>& sections, DWORD rva) {
  for (const auto& s : sections) {
    const DWORD size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
    if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size) {
      return static_cast<std::size_t>(rva - s.VirtualAddress + s.PointerToRawData);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Footprint> ReadFootprint(const std::wstring& path) {
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER size{};
  GetFileSizeEx(handle, &size);
  std::vector<char> file(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  const bool whole = ReadFile(handle, file.data(), static_cast<DWORD>(file.size()), &read, nullptr) && read == file.size();
  CloseHandle(handle);
  if (!whole) return std::nullopt;
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS32 nt{};
  if (!ReadAt(file, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
  const std::size_t nt_at = static_cast<std::size_t>(dos.e_lfanew);
  if (!ReadAt(file, nt_at, nt) || nt.Signature != IMAGE_NT_SIGNATURE ||
      nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    return std::nullopt;
  }
  Footprint result;
  result.bytes = file.size();
  result.has_symbols = nt.FileHeader.PointerToSymbolTable != 0 && nt.FileHeader.NumberOfSymbols != 0;

  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  std::size_t at = nt_at + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  for (auto& section : sections) {
    if (!ReadAt(file, at, section)) return std::nullopt;
    at += sizeof section;
  }
  const IMAGE_DATA_DIRECTORY directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return result;
  auto entry_at = OffsetOf(sections, directory.VirtualAddress);
  if (!entry_at) return std::nullopt;
  for (IMAGE_IMPORT_DESCRIPTOR entry{}; ReadAt(file, *entry_at, entry) && entry.Name != 0;
       *entry_at += sizeof entry) {
    const auto name_at = OffsetOf(sections, entry.Name);
    if (!name_at || *name_at >= file.size()) return std::nullopt;
    std::string name(file.data() + *name_at, strnlen(file.data() + *name_at, file.size() - *name_at));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    result.imports.push_back(name);
  }
  return result;
}

bool IsSystemDll(const std::string& name) {
  static const char* const kSystem[] = {
      "kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll", "ole32.dll",
      "oleaut32.dll", "shell32.dll",  "shlwapi.dll", "comctl32.dll", "comdlg32.dll",
      "msvcrt.dll",   "version.dll",  "ntdll.dll",   "uxtheme.dll",  "psapi.dll",
  };
  if (name.rfind("api-ms-win-", 0) == 0) return true;
  return std::any_of(std::begin(kSystem), std::end(kSystem),
                     [&](const char* system) { return name == system; });
}

}  // namespace quarnel::bench
