#pragma once
// Test support: a scripted stand-in for the add-in's dialogs. It records every
// message box and folder-picker call, and answers the pickers from a script.
//
//   ScriptedDialogs dialogs;
//   dialogs.documents = L"C:\\users\\me\\Documents";
//   dialogs.answers = {L"C:\\Projects", L""};   // first picker: a folder; second: Cancel
//   ScopedDialogs in_force(dialogs);
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "shell/dialogs.h"

namespace quarnel::test {

struct ShownMessage {
  HWND owner;
  std::wstring text;
  std::wstring title;
  UINT flags;
};

struct PickerCall {
  HWND owner;
  std::wstring prompt;
  std::wstring initial_folder;
  UINT flags;
  // The owner was the window of the form's default instance, hidden, then.
  bool owned_by_default_form = false;
};

// One thing the user was shown, in order: "message: TEXT" or "picker: PROMPT".
class ScriptedDialogs final : public Dialogs {
 public:
  int Message(HWND owner, const std::wstring& text, const std::wstring& title, UINT flags) override;
  std::wstring BrowseForFolder(HWND owner, const std::wstring& prompt,
                               const std::wstring& initial_folder, UINT flags) override;
  std::wstring GetSpecialFolderPath(HWND owner, int folder) override;

  // What GetSpecialFolderPath gives for the documents folder (5).
  std::wstring documents;
  // The pickers' answers, in order; an empty text is Cancel, kUnnameable a folder
  // whose path the 8-bit code page cannot hold (the picker fails as the real one
  // does). Once the script is over, every picker is cancelled.
  std::deque<std::wstring> answers;
  static constexpr wchar_t kUnnameable[] = L"<a folder the code page cannot name>";

  // The buttons pressed in message boxes that ask (Yes/No), in order; once the
  // script is over, each is answered with its default button.
  std::deque<int> buttons;

  // Called as each message box shows, with its text.
  std::function<void(const std::wstring&)> on_message;
  // When given, the message boxes are these dialogs' (the real ones:
  // CurrentDialogs() before this is in force), recorded all the same.
  Dialogs* boxes = nullptr;

  std::vector<ShownMessage> messages;
  std::vector<PickerCall> pickers;
  std::vector<std::wstring> sequence;
};

}  // namespace quarnel::test
