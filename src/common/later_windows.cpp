#include "common/later_windows.h"

#include <atomic>
#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>

#include "common/owners.h"

namespace quarnel {
namespace {

bool pretend_xp = false;

// One function of a later Windows, looked up in its DLL (one the add-in
// imports, so it is loaded) at the first call that needs it.
template <class F>
class LaterFunction {
 public:
  constexpr LaterFunction(const wchar_t* module, const char* name) : module_(module), name_(name) {}
  F Get() {
    if (pretend_xp) return nullptr;
    if (!looked_.load(std::memory_order_acquire)) {
      address_.store(reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module_), name_))),
                     std::memory_order_relaxed);
      looked_.store(true, std::memory_order_release);
    }
    return address_.load(std::memory_order_relaxed);
  }

 private:
  const wchar_t* module_;
  const char* name_;
  std::atomic<F> address_{nullptr};
  std::atomic<bool> looked_{false};
};

// Windows Vista.
using CompareStringOrdinalFn = int(WINAPI*)(LPCWCH, int, LPCWCH, int, BOOL);
using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using RegDeleteTreeWFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR);
LaterFunction<CompareStringOrdinalFn> compare_ordinal(L"kernel32.dll", "CompareStringOrdinal");
LaterFunction<GetFinalPathNameByHandleWFn> final_path_name(L"kernel32.dll", "GetFinalPathNameByHandleW");
LaterFunction<RegDeleteTreeWFn> delete_tree(L"advapi32.dll", "RegDeleteTreeW");

// Windows 7: FindExInfoBasic and FIND_FIRST_EX_LARGE_FETCH. Once refused, not
// asked again.
constexpr FINDEX_INFO_LEVELS kFindExInfoBasic = static_cast<FINDEX_INFO_LEVELS>(1);
constexpr DWORD kFindFirstExLargeFetch = 2;
std::atomic<bool> basic_listing_refused{false};

// A name upper-cased as the file system does, in `buffer` when it fits.
class UpperName {
 public:
  UpperName(const wchar_t* name, int length) {
    const size_t size = length < 0 ? std::wcslen(name) : static_cast<size_t>(length);
    wchar_t* at = size <= std::size(buffer_) ? buffer_ : (long_.assign(name, size), long_.data());
    if (at == buffer_) std::wmemcpy(buffer_, name, size);
    if (size) CharUpperBuffW(at, static_cast<DWORD>(size));
    text_ = {at, size};
  }
  std::wstring_view text() const { return text_; }

 private:
  wchar_t buffer_[MAX_PATH];
  std::wstring long_;
  std::wstring_view text_;
};

LSTATUS DeleteKeyWalk(HKEY root, const wchar_t* path) {
  unique_hkey key;
  LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_ENUMERATE_SUB_KEYS, key.put());
  if (status != ERROR_SUCCESS) return status;
  // Always the first subkey: each is gone before the next is asked for.
  for (;;) {
    wchar_t name[256];  // the longest key name, and its NUL
    DWORD length = static_cast<DWORD>(std::size(name));
    status = RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    if ((status = DeleteKeyWalk(key.get(), name)) != ERROR_SUCCESS) return status;
  }
  key.reset();
  return RegDeleteKeyW(root, path);
}

}  // namespace

int CompareNoCase(const wchar_t* a, int a_length, const wchar_t* b, int b_length) {
  if (const auto ordinal = compare_ordinal.Get()) return ordinal(a, a_length, b, b_length, TRUE);
  const UpperName upper_a(a, a_length), upper_b(b, b_length);
  const int order = upper_a.text().compare(upper_b.text());
  return order < 0 ? CSTR_LESS_THAN : order > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

DWORD FinalPathName(HANDLE file, wchar_t* buffer, DWORD size) {
  const auto get = final_path_name.Get();
  return get ? get(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) : 0;
}

LSTATUS DeleteKeyTree(HKEY root, const wchar_t* path) {
  const auto tree = delete_tree.Get();
  return tree ? tree(root, path) : DeleteKeyWalk(root, path);  // either takes the key itself too
}

HANDLE FindFirstFileFast(const wchar_t* pattern, WIN32_FIND_DATAW* found) {
  if (!basic_listing_refused.load(std::memory_order_relaxed)) {
    HANDLE first = INVALID_HANDLE_VALUE;
    if (pretend_xp) {
      SetLastError(ERROR_INVALID_PARAMETER);
    } else {
      first = FindFirstFileExW(pattern, kFindExInfoBasic, found, FindExSearchNameMatch, nullptr,
                               kFindFirstExLargeFetch);
    }
    if (first != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) return first;
  }
  const HANDLE first = FindFirstFileExW(pattern, FindExInfoStandard, found, FindExSearchNameMatch, nullptr, 0);
  if (first != INVALID_HANDLE_VALUE && !pretend_xp) basic_listing_refused.store(true, std::memory_order_relaxed);
  return first;
}

void PretendWindowsXp(bool xp) noexcept { pretend_xp = xp; }

}  // namespace quarnel
