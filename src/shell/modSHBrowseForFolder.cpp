#include "shell/modSHBrowseForFolder.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <cstring>
#include <limits>
#include <utility>

#include "common/ansi.h"
#include "common/app.h"
#include "common/barrier.h"
#include "common/error.h"
#include "common/twips.h"

namespace quarnel {
namespace {

// The shell's allocator: set at first need, kept until the module is unloaded.
com_ptr<IMalloc> oShellMalloc;

// Path buffers, in bytes of the 8-bit code page: the dialog's result, and any
// other item id list's path.
constexpr size_t kResultPathSize = 300;
constexpr size_t kPathSize = MAX_PATH;

// Item id lists go back to the shell's allocator. Should it be unavailable, the
// COM task allocator is the same one on every shell that has this dialog.
void FreeIdList(PIDLIST_ABSOLUTE list) noexcept {
  try {
    GetShellMalloc()->Free(list);
  } catch (...) {
    CoTaskMemFree(list);
  }
}
using unique_idlist = unique_any<PIDLIST_ABSOLUTE, FreeIdList>;

// The path of `list`, read through a zero-filled buffer of `size` bytes; the
// text before the first NUL, or the empty text when the item has no path.
//
// A folder whose name holds characters that the 8-bit code page lacks comes
// back with "?" in their place, or with look-alikes ("Lódz" for "Łódź"):
// a path that names no folder, or another one, where saving would overwrite
// somebody else's files. Such a path is refused with a failure that names the
// folder as the shell knows it.
std::wstring PathOf(PCIDLIST_ABSOLUTE list, size_t size) {
  if (!list) return {};
  std::string buffer(size, '\0');
  if (!SHGetPathFromIDListA(list, buffer.data())) return {};
  buffer.resize(std::strlen(buffer.c_str()));
  std::wstring path = FromAnsi(buffer);
  std::wstring exact(std::max<size_t>(size, MAX_PATH), L'\0');
  if (SHGetPathFromIDListW(list, exact.data())) {
    exact.resize(std::wcslen(exact.c_str()));
    if (exact != path) {
      throw Error(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                  L"The folder \"" + exact +
                      L"\" cannot be used: its name has characters that the system's code page lacks.");
    }
  }
  return path;
}

// A zero-filled LocalAlloc block holding `text` and its NUL, for the dialog to
// read while it runs. Sized by the 8-bit bytes, not by the characters: in a
// double-byte code page a character may take two bytes.
unique_hlocal LocalCopy(const std::string& text) {
  unique_hlocal block(LocalAlloc(LPTR, text.size() + 1));
  if (!block) throw Error(E_OUTOFMEMORY, L"Out of memory");
  std::memcpy(block.get(), text.data(), text.size());
  return block;
}

}  // namespace

std::wstring BrowseForFolder(HWND hWndOwner, const std::wstring& sPrompt,
                             const std::wstring& sInitialFolder, UINT lFlags) {
  const std::string title = ToAnsi(sPrompt);
  // The dialog reads the copy when it starts; it lives until the call returns.
  const unique_hlocal initial_folder =
      LocalCopy(ToAnsi(sInitialFolder.empty() ? AppPath() : sInitialFolder));

  BROWSEINFOA info{};
  info.hwndOwner = hWndOwner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = nullptr;
  info.lpszTitle = title.c_str();
  info.ulFlags = lFlags == 0 ? kDefaultBrowseFlags : lFlags;
  info.lpfn = BrowseCallbackProc;
  info.lParam = reinterpret_cast<LPARAM>(initial_folder.get());
  info.iImage = 0;

  const unique_idlist chosen(SHBrowseForFolderA(&info));
  if (!chosen) return {};  // cancelled
  return PathOf(chosen.get(), kResultPathSize);
}

int CALLBACK BrowseCallbackProc(HWND hWnd, UINT uMsg, LPARAM, LPARAM lpData) noexcept {
  if (uMsg == BFFM_INITIALIZED) {
    // wParam nonzero (Visual Basic's True): lParam is a path, not an item id list.
    SendMessageW(hWnd, BFFM_SETSELECTIONA, static_cast<WPARAM>(-1), lpData);
  }
  return 0;
}

std::wstring GetSpecialFolderPath(HWND hWndOwner, int iFolder) noexcept {
  try {
    unique_idlist list;
    // On failure the list stays null, and so has no path.
    SHGetSpecialFolderLocation(hWndOwner, iFolder, list.put());
    return PathOf(list.get(), kPathSize);
  } catch (...) {
    return {};
  }
}

std::wstring GetPathFromIDList(PCIDLIST_ABSOLUTE pidl) { return PathOf(pidl, kPathSize); }

com_ptr<IMalloc> GetShellMalloc() {
  if (!oShellMalloc) {
    ThrowIfFailed(SHGetMalloc(oShellMalloc.ReleaseAndGetAddressOf()),
                  L"The shell's memory allocator is not available");
  }
  return oShellMalloc;
}

void SetFormTopMost(const TopMostForm& form, bool bTopMost) {
  const auto [x_ratio, y_ratio] = ScreenTwipsPerPixel();
  SetWindowPos(form.hWnd(), bTopMost ? HWND_TOPMOST : HWND_NOTOPMOST,
               ToPixels(form.Left(), x_ratio), ToPixels(form.Top(), y_ratio),
               ToPixels(form.Width(), x_ratio), ToPixels(form.Height(), y_ratio), SWP_NOACTIVATE);
}

}  // namespace quarnel
