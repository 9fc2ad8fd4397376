#pragma once
// What a long save shows while it writes, and what keeps the IDE answering
// meanwhile. The IDE runs on one thread, which the save holds from the first
// file to the last: without a word to Windows now and then, Windows would take
// the IDE for hung after five seconds (and offer to close it, losing the save
// half done).
#include <windows.h>

#include <string>

#include "common/owners.h"

namespace quarnel {

class SaveProgress {
 public:
  // For a save of `total` files that began now; `owner` is the window that was
  // active when the user clicked (the IDE's), or none.
  SaveProgress(HWND owner, size_t total) noexcept;
  ~SaveProgress();
  SaveProgress(const SaveProgress&) = delete;
  SaveProgress& operator=(const SaveProgress&) = delete;

  // The `number`th file (from 1) is about to be written, for `name` (the
  // component's, or the project's for the project file). Once the save has run
  // for half a second, a window shows "Saving N of M: NAME" and a bar; never a
  // way to stop it, as a save stopped half way is what the add-in avoids.
  // And, as the window changes (at most every 50 ms): Windows sees that the
  // thread is alive, and the messages other threads and programs send to it
  // are delivered (Windows' logoff among them: the IDE may begin to exit
  // here); the progress window and the IDE's window are repainted. No input is
  // taken from the queue: a click or a key given now waits for the IDE's own
  // loop, after the save.
  void Before(size_t number, const std::wstring& name);

 private:
  void Show();

  HWND owner_;
  size_t total_;
  DWORD started_;
  DWORD ticked_;  // when Windows last heard from the thread, and the window changed
  bool tried_ = false;  // the window was made, or could not be
  HWND window_ = nullptr;
  unique_hgdiobj font_;
};

// For the tests: how long a save runs before its progress shows (half a second
// unless set).
void SetProgressDelay(DWORD milliseconds) noexcept;

}  // namespace quarnel
