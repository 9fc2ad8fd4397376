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
  // For a save whose destination was answered now; `owner` is the window that
  // was active when the user clicked (the IDE's), or none.
  explicit SaveProgress(HWND owner) noexcept;
  ~SaveProgress();
  SaveProgress(const SaveProgress&) = delete;
  SaveProgress& operator=(const SaveProgress&) = delete;

  // The `number`th of `total` files (from 1) is about to be judged (`checking`:
  // NAME is the file's name) or written (NAME is the component's, or the
  // project's for the project file). Once the click has run for half a second
  // from the destination's answer (or from the last dialog's), a window shows
  // "Checking N of M: NAME", then "Saving N of M: NAME", and a bar; never a
  // way to stop it, as a save stopped half way is what the add-in avoids.
  // And, as the window changes (at most every 50 ms, always for the first and
  // the last file), the word to Windows of Breathe.
  void Before(bool checking, size_t number, size_t total, const std::wstring& name);

  // At most every 50 ms: Windows sees that the thread is alive, and the
  // window shows, once due, what the last Before said (a step of one file may
  // take long: the listing of the destination, a file held by another program);
  // the messages other threads and programs send to it are delivered (Windows'
  // logoff among them: the IDE may begin to exit here); the progress window
  // and the IDE's window are repainted. No input is taken from the queue: a
  // click or a key given now waits for the IDE's own loop, after the save.
  void Breathe();

  // Before a dialog: the window goes, and the half second counts anew from
  // the next file.
  void Hide();

 private:
  bool Due(bool always);
  void Tick(bool always);
  void Word();
  void Show();
  void Close();

  HWND owner_;
  DWORD started_;
  DWORD ticked_;  // when Windows last heard from the thread, and the window changed
  bool tried_ = false;   // the window was made, or could not be
  bool hidden_ = false;  // by a dialog since the last file
  bool drawn_ = false;   // the window shows the last Before's step
  HWND window_ = nullptr;
  // What the last Before said; nothing (total 0) before the first, and after a dialog.
  struct {
    bool checking;
    size_t number, total;
    std::wstring name;
  } step_{};
  unique_hgdiobj font_;
};

// For the tests: how long a save runs before its progress shows (half a second
// unless set).
void SetProgressDelay(DWORD milliseconds) noexcept;

}  // namespace quarnel
