#pragma once
// The one error type of the add-in: a status code and the description a user is
// shown, like the Err object of a Visual Basic program. Failing steps throw it;
// the edges that the design makes catch it (the connection handler's message
// box, the COM entry points' barriers) read its description or code.
#include <windows.h>

#include <exception>
#include <string>

namespace quarnel {

class Error : public std::exception {
 public:
  Error(HRESULT code, std::wstring description);

  // A file-system failure, by its Win32 error code, with the description that a
  // Visual Basic program's own file statements give for it ("Path not found").
  static Error FromWin32(DWORD win32_error);

  // One of Visual Basic's run-time errors by number, with its own text.
  // Example: Error::Vb(91) is "Object variable or With block variable not set".
  static Error Vb(int number);

  // A failed HRESULT with no description of its own: Visual Basic's text for the
  // codes that have one, else the system's message after "Automation error".
  static Error FromHResult(HRESULT code);

  HRESULT code() const noexcept { return code_; }
  const std::wstring& description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  HRESULT code_;
  std::wstring description_;
  std::string what_;  // UTF-8 copy of the description, for diagnostics
};

// `text` in UTF-8.
std::string ToUtf8(const std::wstring& text);

}  // namespace quarnel
