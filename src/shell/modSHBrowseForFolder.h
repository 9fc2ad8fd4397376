#pragma once
// The folder picker: the shell's folder browser opening with a chosen folder
// already selected, the file-system path of a shell special folder, and the
// topmost switch for a form. Everything runs on the caller's (user-interface)
// thread.
//
//   std::wstring folder = BrowseForFolder(owner, L"Choose a folder:", L"C:\\Work", 0);
//   if (folder.empty()) return;  // cancelled
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <string>

#include "common/owners.h"

namespace quarnel {

// The flags used when a caller passes 0: file-system folders only, status text,
// the folder-name edit box and the new dialog style with its new-folder button.
inline constexpr UINT kDefaultBrowseFlags =
    BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;  // 0x55

// Shows the modal folder browser, owned by `hWndOwner`, with `sPrompt` above the
// tree and `sInitialFolder` selected (the add-in's own folder when empty), and
// returns the chosen folder's path as the shell gives it, or the empty text
// when the user cancels or the choice has no file-system path. `lFlags` are the
// shell's BIF_ flags, kDefaultBrowseFlags when 0. Failures throw quarnel::Error,
// among them a chosen folder whose path the 8-bit code page cannot hold.
std::wstring BrowseForFolder(HWND hWndOwner, const std::wstring& sPrompt,
                             const std::wstring& sInitialFolder, UINT lFlags);

// The browser's callback: once the dialog exists it selects the folder whose
// 8-bit path `lpData` points to. Returns 0 for every message.
int CALLBACK BrowseCallbackProc(HWND hWnd, UINT uMsg, LPARAM lParam, LPARAM lpData) noexcept;

// The file-system path of the shell special folder `iFolder` (a CSIDL value,
// e.g. CSIDL_PERSONAL for the documents folder), or the empty text when it has
// none, cannot be resolved or cannot be held in the 8-bit code page. Never throws.
std::wstring GetSpecialFolderPath(HWND hWndOwner, int iFolder) noexcept;

// The file-system path of an item id list, or the empty text when the item has
// none. The list stays the caller's. Throws quarnel::Error for a path that the
// 8-bit code page cannot hold.
std::wstring GetPathFromIDList(PCIDLIST_ABSOLUTE pidl);

// The shell's allocator, which frees the item id lists the shell hands out:
// obtained at first need and kept for the life of the module.
com_ptr<IMalloc> GetShellMalloc();

// What SetFormTopMost needs of a form: its window, and its place and size in
// twips as the form keeps them.
struct TopMostForm {
  virtual ~TopMostForm() = default;
  virtual HWND hWnd() const = 0;
  virtual double Left() const = 0;
  virtual double Top() const = 0;
  virtual double Width() const = 0;
  virtual double Height() const = 0;
};

// Puts the form's window above all windows that are not topmost (`bTopMost`
// true) or back among them (false), restating its place and size and without
// activating it.
void SetFormTopMost(const TopMostForm& form, bool bTopMost);

}  // namespace quarnel
