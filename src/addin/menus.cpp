// The menu installers of Connect: a new button in a command bar of the IDE,
// with its caption and, through the clipboard, the form's 16 x 16 picture as
// its face. Each failing step is skipped and the next one runs.
#include <windows.h>

#include "addin/Connect.h"
#include "common/barrier.h"
#include "common/error.h"

namespace quarnel {
namespace {

// Opens the clipboard for `owner`; another program may hold it for a moment.
void OpenClipboardFor(HWND owner) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (OpenClipboard(owner)) return;
    Sleep(10);
  }
  throw Error::FromWin32(GetLastError());
}

}  // namespace

host::CommandBarControl Connect::InstallCommand(const wchar_t* bar_name, bool before_seventh,
                                                const std::wstring& caption) {
  host::CommandBar bar;
  SkipFailure([&] { bar = VBInstance.CommandBars().Item(bar_name); });
  if (!bar) return {};

  host::CommandBarControl command;
  SkipFailure([&] {
    const host::CommandBarControls controls = bar.Controls();
    // A menu the user (or another add-in) made shorter than six controls has no
    // seventh place, and the IDE refuses it: the command then goes at its end.
    // Counting the controls first would cost every start one more call.
    host::Object added;
    if (before_seventh) SkipFailure([&] { added = controls.Add(7); });
    command = host::CommandBarControl::From(added ? added : controls.Add());
  });
  SkipFailure([&] { command.put_Caption(caption); });

  SkipFailure([&] { PlaceFace(); });
  SkipFailure([&] { command.PasteFace(); });
  return command;
}

void Connect::PlaceFace() {
  if (!clipboard_owner_) {
    clipboard_owner_.reset(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                           nullptr, nullptr));
    if (!clipboard_owner_) throw Error::FromWin32(GetLastError());
  }
  OpenClipboardFor(clipboard_owner_.get());
  const auto close = scope_exit([] { CloseClipboard(); });
  // Emptied first, so that nothing is pasted when the face cannot be placed;
  // emptying makes the owner window the clipboard's owner, which the data needs.
  if (!EmptyClipboard()) throw Error::FromWin32(GetLastError());
  if (!face_) face_ = frmAddIn::DrawPicture1();
  // The clipboard gets a copy of its own, which it frees when it is next emptied.
  unique_hbitmap copy(static_cast<HBITMAP>(CopyImage(face_.get(), IMAGE_BITMAP, 0, 0, 0)));
  if (!copy) throw Error::FromWin32(GetLastError());
  if (!SetClipboardData(CF_BITMAP, copy.get())) throw Error::FromWin32(GetLastError());
  (void)copy.release();  // the clipboard's now
}

}  // namespace quarnel
