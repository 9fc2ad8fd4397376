#pragma once
// Test support: real top-level windows for the tests that need an owner for a
// dialog or a window to move about.
#include <windows.h>

#include <functional>
#include <vector>

#include "common/owners.h"

namespace quarnel::test {

// A plain visible top-level window of the calling thread, at a place and size
// in pixels (the whole window, frame included).
unique_hwnd TestWindow(const wchar_t* title, int x, int y, int width, int height);

bool IsOfClass(HWND window, const wchar_t* class_name);
// A top-level window of this process of that class (FindWindow would find
// another test program's too); null when there is none.
HWND FindOwnWindow(const wchar_t* class_name);

// The IDE's message loop, knowing nothing of the add-in: every message waiting
// for the calling thread is dispatched.
void Pump();
// The user presses a key (with Shift), as the keyboard sends it; then Pump.
void Press(WORD key, bool shift = false);
// The user moves the mouse to a point of the screen; then Pump.
void MoveMouse(int x, int y);

// The way the user's actions reach the IDE while one of its dialogs is open:
// work posted to the thread that made this object, run there by whatever
// message loop it is in (a modal dialog's own).
//   UiThread ui;                          // on the IDE's thread
//   ... in a dialog driver's WhileOpen:   ui.Run([&] { ide->click(L"File", 7); });
class UiThread {
 public:
  UiThread();
  // From another thread: runs `work` on the UI thread and waits for it; false
  // when it did not run within `timeout_ms`.
  bool Run(std::function<void()> work, DWORD timeout_ms = 10000);

 private:
  unique_hwnd window_;
};

}  // namespace quarnel::test
