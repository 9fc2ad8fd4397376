#include "common/app.h"

#include <windows.h>

#include "common/error.h"

namespace quarnel {

HMODULE AppModule() {
  HMODULE module = nullptr;
  // The address of this function lies in the module that was linked with it.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&AppModule), &module)) {
    throw Error::FromWin32(GetLastError());
  }
  return module;
}

std::wstring AppFileName() {
  HMODULE module = AppModule();
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw Error::FromWin32(GetLastError());
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: a long path
  }
}

std::wstring AppPath() {
  const std::wstring path = AppFileName();
  const auto slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace quarnel
