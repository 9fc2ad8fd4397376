#pragma once
// Owners for every handle and COM resource the add-in holds, in the spirit of
// WIL: each resource has exactly one owner that frees it, and nothing in
// ordinary code calls CloseHandle, SysFreeString, VariantClear or Release itself.
//
//   com_ptr<IDispatch> bar;             // Release on destruction
//   unique_bstr name(L"File");          // SysFreeString
//   unique_variant result;              // VariantClear
//   unique_handle file(CreateFileW(...));
//   auto restore = scope_exit([&] { ... });
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <string_view>
#include <utility>

namespace quarnel {

// The one smart COM pointer.
template <class T>
using com_ptr = Microsoft::WRL::ComPtr<T>;

// A handle-like value with a function that frees it; `Invalid` marks "none".
template <class T, auto Close, T Invalid = T{}>
class unique_any {
 public:
  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  ~unique_any() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Invalid; }
  // Frees what is held and takes `value`.
  void reset(T value = Invalid) noexcept {
    if (value_ != Invalid) Close(value_);
    value_ = value;
  }
  // Gives up ownership without freeing.
  [[nodiscard]] T release() noexcept { return std::exchange(value_, Invalid); }
  // For out-parameters: frees what is held, then lends the slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = Invalid;
};

namespace detail {
inline void CloseHandleChecked(HANDLE h) noexcept { ::CloseHandle(h); }
inline void DestroyWindowChecked(HWND h) noexcept { ::DestroyWindow(h); }
inline void DeleteObjectChecked(HGDIOBJ h) noexcept { ::DeleteObject(h); }
inline void DeleteDcChecked(HDC h) noexcept { ::DeleteDC(h); }
inline void DestroyIconChecked(HICON h) noexcept { ::DestroyIcon(h); }
inline void LocalFreeChecked(HLOCAL h) noexcept { ::LocalFree(h); }
inline void FreeLibraryChecked(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void RegCloseKeyChecked(HKEY h) noexcept { ::RegCloseKey(h); }
inline void SafeArrayDestroyChecked(SAFEARRAY* a) noexcept { ::SafeArrayDestroy(a); }
inline void CoTaskMemFreeChecked(void* p) noexcept { ::CoTaskMemFree(p); }
}  // namespace detail

using unique_handle = unique_any<HANDLE, detail::CloseHandleChecked>;
using unique_hwnd = unique_any<HWND, detail::DestroyWindowChecked>;
using unique_hgdiobj = unique_any<HGDIOBJ, detail::DeleteObjectChecked>;
using unique_hbitmap = unique_any<HBITMAP, detail::DeleteObjectChecked>;
using unique_hdc = unique_any<HDC, detail::DeleteDcChecked>;
using unique_hicon = unique_any<HICON, detail::DestroyIconChecked>;
using unique_hlocal = unique_any<HLOCAL, detail::LocalFreeChecked>;
using unique_hmodule = unique_any<HMODULE, detail::FreeLibraryChecked>;
using unique_hkey = unique_any<HKEY, detail::RegCloseKeyChecked>;
using unique_safearray = unique_any<SAFEARRAY*, detail::SafeArrayDestroyChecked>;
using unique_cotaskmem = unique_any<void*, detail::CoTaskMemFreeChecked>;

// File handles say "none" with INVALID_HANDLE_VALUE; their owner holds null instead.
//   unique_handle file = file_handle(CreateFileW(...));
inline unique_handle file_handle(HANDLE h) noexcept {
  return unique_handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// A BSTR with its owner.
class unique_bstr {
 public:
  unique_bstr() noexcept = default;
  // Copies the text into a new BSTR; throws std::bad_alloc when none can be had.
  explicit unique_bstr(std::wstring_view text);
  // Takes ownership of an existing BSTR.
  static unique_bstr attach(BSTR value) noexcept {
    unique_bstr b;
    b.value_ = value;
    return b;
  }
  unique_bstr(unique_bstr&& other) noexcept : value_(other.release()) {}
  unique_bstr& operator=(unique_bstr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  ~unique_bstr() { reset(); }

  BSTR get() const noexcept { return value_; }
  // The text; a null BSTR is the empty text, as in automation.
  std::wstring str() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : std::wstring(); }
  void reset(BSTR value = nullptr) noexcept {
    if (value_) SysFreeString(value_);
    value_ = value;
  }
  [[nodiscard]] BSTR release() noexcept { return std::exchange(value_, nullptr); }
  BSTR* put() noexcept {
    reset();
    return &value_;
  }

 private:
  BSTR value_ = nullptr;
};

// A VARIANT with its owner: cleared on destruction.
class unique_variant {
 public:
  unique_variant() noexcept { VariantInit(&value_); }
  unique_variant(unique_variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  unique_variant& operator=(unique_variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&value_);
      value_ = other.value_;
      VariantInit(&other.value_);
    }
    return *this;
  }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { VariantClear(&value_); }

  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }
  VARIANT* operator->() noexcept { return &value_; }
  const VARIANT* operator->() const noexcept { return &value_; }
  // Clears what is held and lends the slot, for out-parameters.
  VARIANT* put() noexcept {
    VariantClear(&value_);
    return &value_;
  }
  // Hands the value over to a caller that will clear it.
  [[nodiscard]] VARIANT release() noexcept {
    VARIANT out = value_;
    VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

inline unique_bstr::unique_bstr(std::wstring_view text)
    : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
  if (!value_) throw std::bad_alloc();
}

// Runs a function when the scope ends, however it ends.
template <class F>
class scope_exit {
 public:
  explicit scope_exit(F f) noexcept : f_(std::move(f)) {}
  scope_exit(const scope_exit&) = delete;
  scope_exit& operator=(const scope_exit&) = delete;
  ~scope_exit() {
    if (armed_) f_();
  }
  void release() noexcept { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};

}  // namespace quarnel
