#pragma once
// The shipped DLL as a file: its size and the DLLs it imports, read from its
// PE headers.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarnel::bench {

struct Footprint {
  std::uint64_t bytes = 0;
  bool has_symbols = false;  // a symbol table is still in the file (not stripped)
  std::vector<std::string> imports;  // lower case, in the order of the import table
};

// Nothing when the file cannot be read or is not a 32-bit PE image.
std::optional<Footprint> ReadFootprint(const std::wstring& path);

// True for a DLL that Windows itself provides.
bool IsSystemDll(const std::string& name);

}  // namespace quarnel::bench
