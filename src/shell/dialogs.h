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
  // A message box; a null `owner` (or one no longer a window) means the
  // thread's active window, as a Visual Basic MsgBox has. Returns the button
  // pressed.
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

// Thrown by a run's dialog that was open when the IDE began to exit: the
// command that showed it ends there, saying and doing nothing more.
struct RunAbandoned {};

// The add-in's dialogs come one run at a time. The folder browsers are owned by
// the add-in's hidden form, not by the IDE, so the IDE stays usable while one is
// open: a second click of the File command, or the form's Browse, must then not
// open dialogs of its own (its end would unload the owner of the first one).
// The user may also close the IDE meanwhile: the run is then abandoned (see
// Abandon). A command that shows dialogs starts with
//   const DialogRun run(this);   // an IdeHolder, or nothing when it holds nothing of the IDE
//   if (!run) return;            // another one is running: do nothing
// and shows them through the run.
class IdeHolder {
 public:
  // Releases every object of the IDE held.
  virtual void LetGoOfTheIde() noexcept = 0;

 protected:
  ~IdeHolder() = default;
};

class DialogRun {
 public:
  explicit DialogRun(IdeHolder* holder = nullptr) noexcept;
  ~DialogRun();
  DialogRun(const DialogRun&) = delete;
  DialogRun& operator=(const DialogRun&) = delete;

  // Whether this run may go on: no other was running when it started.
  explicit operator bool() const noexcept { return started_; }

  // The dialogs in force (CurrentDialogs); each throws RunAbandoned when the
  // run was abandoned before it returned, or is already.
  int Message(HWND owner, const std::wstring& text, const std::wstring& title, UINT flags) const;
  std::wstring BrowseForFolder(HWND owner, const std::wstring& prompt, const std::wstring& initial_folder,
                               UINT flags) const;

  // The IDE begins to exit while a run's dialog is open: that run is
  // abandoned, and its command lets go of the IDE now, before the IDE's objects
  // die. False when no run was going on (or it was abandoned already). The
  // caller closes the open dialogs.
  static bool Abandon() noexcept;

  // Throws RunAbandoned when the run was abandoned: for a command that let
  // messages through between its steps, where the IDE may have begun to exit.
  void ThrowIfAbandoned() const;

 private:
  template <class Show>
  auto Shown(Show show) const;

  bool started_;
  bool abandoned_ = false;
  IdeHolder* holder_;
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
