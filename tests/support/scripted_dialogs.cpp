#include "support/scripted_dialogs.h"

#include "forms/frmAddIn.h"

#include <shlobj.h>

#include "common/error.h"

namespace quarnel::test {

int ScriptedDialogs::Message(HWND owner, const std::wstring& text, const std::wstring& title,
                             UINT flags) {
  messages.push_back({owner, text, title, flags});
  sequence.push_back(L"message: " + text);
  if (on_message) on_message(text);
  if (boxes) return boxes->Message(owner, text, title, flags);
  if ((flags & MB_TYPEMASK) != MB_YESNO) return IDOK;
  if (buttons.empty()) return (flags & MB_DEFMASK) == MB_DEFBUTTON2 ? IDNO : IDYES;
  const int button = buttons.front();
  buttons.pop_front();
  return button;
}

std::wstring ScriptedDialogs::BrowseForFolder(HWND owner, const std::wstring& prompt,
                                              const std::wstring& initial_folder, UINT flags) {
  const frmAddIn& form = frmAddIn::Default();
  const bool default_form = owner && form.Loaded() && owner == form.hWnd() && !IsWindowVisible(owner);
  pickers.push_back({owner, prompt, initial_folder, flags, default_form});
  sequence.push_back(L"picker: " + prompt);
  if (answers.empty()) return {};
  std::wstring answer = answers.front();
  answers.pop_front();
  if (answer == kUnnameable) {
    throw Error(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                L"The folder \"D:\\\u0141\u00f3d\u017a\" cannot be used: its name has characters that the "
                L"system's code page lacks.");
  }
  return answer;
}

std::wstring ScriptedDialogs::GetSpecialFolderPath(HWND, int folder) {
  return folder == CSIDL_PERSONAL ? documents : std::wstring();
}

}  // namespace quarnel::test
