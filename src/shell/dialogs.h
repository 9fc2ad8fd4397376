#pragma once
// The dialogs the add-in shows: message boxes and the folder picker. In
// production they are the real ones; unit tests put a scripted stand-in in
// their place for a scope, so the logic around them can be tested without a
// person at the screen.
#include <windows.h>

#include <string>

namespace quarnel {

class Dialogs {
 public:
  // A message box; null `owner` means the thread's active window, as a Visual
  // Basic MsgBox has. Returns the button pressed.
  virtual int Message(HWND owner, const std::wstring& text, const std::wstring& title,
                      UINT flags) = 0;
  // The folder picker (see modSHBrowseForFolder.h).
  virtual std::wstring BrowseForFolder(HWND owner, const std::wstring& prompt,
                                       const std::wstring& initial_folder, UINT flags) = 0;
  virtual std::wstring GetSpecialFolderPath(HWND owner, int folder) = 0;

 protected:
  ~Dialogs() = default;
};

// The dialogs in force: the real ones unless a ScopedDialogs replaced them.
Dialogs& CurrentDialogs();

// The add-in's dialogs come one run at a time. The folder browsers are owned by
// the add-in's hidden form, not by the IDE, so the IDE stays usable while one is
// open: a second click of the File command, or the form's Browse, must then not
// open dialogs of its own (its end would unload the owner of the first one).
// A command that shows dialogs starts with
//   const DialogRun run;
//   if (!run) return;   // another one is running: do nothing
class DialogRun {
 public:
  DialogRun() noexcept;
  ~DialogRun();
  DialogRun(const DialogRun&) = delete;
  DialogRun& operator=(const DialogRun&) = delete;

  // Whether this run may go on: no other was running when it started.
  explicit operator bool() const noexcept { return started_; }

 private:
  bool started_;
};

// Puts `dialogs` in force until this object goes.
class ScopedDialogs {
 public:
  explicit ScopedDialogs(Dialogs& dialogs);
  ~ScopedDialogs();
  ScopedDialogs(const ScopedDialogs&) = delete;
  ScopedDialogs& operator=(const ScopedDialogs&) = delete;

 private:
  Dialogs* previous_;
};

}  // namespace quarnel
