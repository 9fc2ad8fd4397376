#include "common/ansi.h"

#include <windows.h>

namespace quarnel {

size_t AnsiLength(std::wstring_view text) {
  if (text.empty()) return 0;
  return static_cast<size_t>(
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr));
}

std::string ToAnsi(std::wstring_view text) {
  std::string out(AnsiLength(text), '\0');
  if (!out.empty()) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(),
                        static_cast<int>(out.size()), nullptr, nullptr);
  }
  return out;
}

std::wstring FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), n);
  return out;
}

}  // namespace quarnel
