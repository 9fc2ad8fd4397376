#pragma once
// Test support: real top-level windows for the tests that need an owner for a
// dialog or a window to move about.
#include <windows.h>

#include "common/owners.h"

namespace quarnel::test {

// A plain visible top-level window of the calling thread, at a place and size
// in pixels (the whole window, frame included).
unique_hwnd TestWindow(const wchar_t* title, int x, int y, int width, int height);

}  // namespace quarnel::test
