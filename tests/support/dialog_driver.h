#pragma once
// Test support: plays the user for the real modal dialogs that code under test
// opens (message boxes and the shell folder browser). A thread of its own waits
// for each expected dialog of this process, reads it, checks it, acts on it and
// closes it; the test's thread, blocked in the modal call meanwhile, collects
// the outcome afterwards with gtest assertions.
//
//   DialogDriver driver({
//       ExpectMessageBox().Text(L"Project already saved.").Title(L"Quarnel").Press(IDOK),
//       ExpectFolderBrowser().Prompt(L"Choose:").Selected(start).Choose(target).Press(IDOK),
//   });
//   RunCommand();                    // opens those dialogs, one after the other
//   EXPECT_TRUE(driver.Finish());    // every step met, nothing unexpected came
//
// The driver never leaves a test hanging: a dialog of the wrong kind, or any
// dialog once the script is over, is closed with Cancel and reported; a dialog
// that does not come within the wait is reported, and the rest of the script
// is dropped.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "common/owners.h"

namespace quarnel::test {

enum class DialogKind { kMessageBox, kFolderBrowser, kOther };

// What the driver saw of one dialog when it found it.
struct SeenDialog {
  DialogKind kind = DialogKind::kOther;
  HWND hwnd = nullptr;
  HWND owner = nullptr;
  bool owner_enabled = false;  // a modal dialog disables its owner
  std::wstring title;
  std::wstring text;                  // a message box's text; the folder browser's prompt
  std::vector<std::wstring> buttons;  // the visible buttons' captions, in order
  // A message box's icon as its MB_ICON... flag: 0 for none, 0xFFFFFFFF for
  // one that is none of the standard icons.
  UINT icon = 0;
  // The folder browser's selected item, as the tree's labels from the desktop down.
  std::vector<std::wstring> selected;
  bool edit_box = false;           // the folder browser shows its folder-name edit box
  bool new_folder_button = false;  // the folder browser shows its new-folder button
  bool expected = true;            // false: not what the script expected; it was cancelled
};

// One expected dialog and what to do with it. Expectations left unset are not
// checked. Built with ExpectMessageBox() or ExpectFolderBrowser().
struct DialogStep {
  DialogKind kind = DialogKind::kOther;
  std::optional<std::wstring> title;
  std::optional<std::wstring> text;
  std::optional<UINT> icon;
  std::optional<std::wstring> selected_folder;
  std::optional<std::wstring> choose_folder;
  std::function<void(HWND)> while_open;
  int press = IDOK;

  DialogStep& Title(std::wstring value);
  // A message box's text.
  DialogStep& Text(std::wstring value);
  // The folder browser's prompt.
  DialogStep& Prompt(std::wstring value) { return Text(std::move(value)); }
  // A message box's icon: MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION,
  // MB_ICONASTERISK, or 0 for none.
  DialogStep& Icon(UINT mb_icon);
  // The folder the browser must show selected when it opens.
  DialogStep& Selected(std::wstring folder);
  // Selects this folder in the browser before pressing the button.
  DialogStep& Choose(std::wstring folder);
  // Runs in the driver's thread while the dialog is open, after the checks and
  // before any choice: record what it finds, and assert after Finish().
  DialogStep& WhileOpen(std::function<void(HWND)> inspect);
  // The button that closes the dialog: IDOK, IDCANCEL, IDYES, IDNO...; 0 for
  // none: the dialog must go by itself (the code under test closes it).
  DialogStep& Press(int button);
};

DialogStep ExpectMessageBox();
DialogStep ExpectFolderBrowser();

class DialogDriver {
 public:
  struct Options {
    // How long each dialog may take to come, and to go once answered.
    DWORD wait_ms = 15000;
  };

  // Starts the driver's thread. Dialogs already open now are left alone.
  explicit DialogDriver(std::vector<DialogStep> steps);
  DialogDriver(std::vector<DialogStep> steps, Options options);
  // Finishes if the test has not, adding any failure to the test.
  ~DialogDriver();
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  // Call once the code under test has returned: stops the driver and says
  // whether every step was met and no other dialog came, listing what went wrong.
  testing::AssertionResult Finish();

  // Every dialog the driver found, in order; read it after Finish().
  const std::vector<SeenDialog>& seen() const { return seen_; }

 private:
  void Run();
  void RunStep(size_t index, const DialogStep& step, bool& go_on);
  HWND WaitForDialog(DWORD wait_ms);
  bool WaitGone(HWND dialog);
  void CloseUnexpected(HWND dialog);
  void Problem(std::string text);

  std::vector<DialogStep> steps_;
  Options options_;
  std::unordered_set<HWND> ignored_;  // open before the start, or already answered
  std::vector<SeenDialog> seen_;
  std::vector<std::string> problems_;
  std::atomic<bool> stop_{false};
  unique_handle done_;
  std::thread thread_;
  bool finished_ = false;
};

// --- The folder browser, for WhileOpen hooks and checks ----------------------

// The labels of the browser's selected item, from the desktop down.
std::vector<std::wstring> SelectedLabels(HWND browser);
// The labels of the selected item's children, after expanding it.
std::vector<std::wstring> ChildLabels(HWND browser);
// The labels the browser's tree shows for a file-system path, from the desktop
// down; empty when the shell does not know the path.
std::vector<std::wstring> ShellLabels(const std::wstring& path);
// Pins the last-access times of a folder and of its ancestors below the drive
// root to a fixed time in the future, so that reading them no longer changes
// them. Wine's folder browser compares the item ids of a folder's ancestors,
// which carry their last-access times, when it walks its tree to select the
// folder; on Linux a read of a folder changed since it was last read updates its
// access time, and an update between the browser's steps stops its walk halfway.
// The driver does this for every folder a step selects or expects selected.
void PinAccessTimes(const std::wstring& folder);

// "Desktop > My Computer > (C:) > users"
std::string JoinLabels(const std::vector<std::wstring>& labels);

// UTF-8 for messages.
std::string Utf8(const std::wstring& text);

}  // namespace quarnel::test
