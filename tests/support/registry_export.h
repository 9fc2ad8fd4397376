#pragma once
// Test support: a part of the registry as a sorted list, like a registry export:
// one entry per key ("path") and per value ("path [name]"), strings as they are,
// 32-bit numbers as "dword:N".
#include <windows.h>

#include <map>
#include <string>

namespace quarnel::test {

using RegistryExport = std::map<std::wstring, std::wstring>;

// Adds `path` below `root` and everything below it; nothing when it is missing.
void ExportKey(HKEY root, const std::wstring& path, RegistryExport& out);

}  // namespace quarnel::test
