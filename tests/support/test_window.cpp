#include "support/test_window.h"

#include <stdexcept>

namespace quarnel::test {

unique_hwnd TestWindow(const wchar_t* title, int x, int y, int width, int height) {
  // The predefined static class needs no registration and draws nothing of note.
  unique_hwnd window(CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y,
                                     width, height, nullptr, nullptr, GetModuleHandleW(nullptr),
                                     nullptr));
  if (!window) throw std::runtime_error("cannot make a test window");
  return window;
}

}  // namespace quarnel::test
