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

void ClearClipboard(HWND owner) {
  OpenClipboardFor(owner);
  const auto close = scope_exit([] { CloseClipboard(); });
  if (!EmptyClipboard()) throw Error::FromWin32(GetLastError());
}

// Puts `picture` on the clipboard as a bitmap. The clipboard gets a copy of its
// own, which it frees when it is next emptied: the form keeps its picture.
void PlacePicture(HWND owner, HBITMAP picture) {
  if (!picture) throw Error::Vb(91);
  unique_hbitmap copy(static_cast<HBITMAP>(CopyImage(picture, IMAGE_BITMAP, 0, 0, 0)));
  if (!copy) throw Error::FromWin32(GetLastError());
  OpenClipboardFor(owner);
  const auto close = scope_exit([] { CloseClipboard(); });
  // Emptying makes `owner` the clipboard's owner, which the data needs.
  if (!EmptyClipboard()) throw Error::FromWin32(GetLastError());
  if (!SetClipboardData(CF_BITMAP, copy.get())) throw Error::FromWin32(GetLastError());
  (void)copy.release();  // the clipboard's now
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
    command = host::CommandBarControl::From(before_seventh ? controls.Add(7) : controls.Add());
  });
  SkipFailure([&] { command.put_Caption(caption); });

  // The shared form, never shown: its load draws the picture.
  frmAddIn& shared = frmAddIn::Default();
  SkipFailure([&] { shared.Load(); });
  HWND owner = shared.Loaded() ? shared.hWnd() : nullptr;
  SkipFailure([&] { ClearClipboard(owner); });
  SkipFailure([&] { PlacePicture(owner, shared.Loaded() ? shared.Picture1() : nullptr); });
  SkipFailure([&] { command.PasteFace(); });
  SkipFailure([&] { shared.Unload(); });
  return command;
}

}  // namespace quarnel
