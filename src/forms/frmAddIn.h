#pragma once
// frmAddIn: the add-in's Default-folder dialog, and the source of its button
// picture. Every time an instance loads it draws the 16 x 16 floppy disk on the
// button-face colour into Picture1, which the menu installer pastes as the
// command's face. Like a Visual Basic form it loads on first use of its window
// or picture and is not shown until Show is called; the process-wide default
// instance serves as an invisible owner window and is never shown.
//
//   frmAddIn& form = frmAddIn::Default();
//   HWND owner = form.hWnd();      // loads it, unseen
//   form.Unload();
#include <windows.h>

#include "common/owners.h"

#include <memory>
#include <string>

#include "ide/host.h"
#include "shell/modSHBrowseForFolder.h"

namespace quarnel {

// What the form's Cancel button needs of the Connect that shows it.
class FormOwner {
 public:
  virtual void Hide() = 0;

 protected:
  ~FormOwner() = default;
};

class frmAddIn final : public TopMostForm {
 public:
  frmAddIn();
  ~frmAddIn() override;
  frmAddIn(const frmAddIn&) = delete;
  frmAddIn& operator=(const frmAddIn&) = delete;

  // The process-wide default instance.
  static frmAddIn& Default();

  // Set by Connect.Show before the form is shown; never on the default instance.
  // The IDE root object, read by OK.
  host::VBE VBInstance;
  // The Connect that shows the form, called by Cancel; not owned: the Connect
  // clears it before it goes.
  FormOwner* Connect = nullptr;

  // Lets go of a form: deleted now, or, while one of its handlers runs (a dialog
  // of its Browse or OK is open), hidden now and deleted when that handler
  // returns, so the dialog is not taken away from under the user.
  static void Release(std::unique_ptr<frmAddIn> form);

  // Loads the form (window created, hidden; the load steps run) unless loaded.
  void Load() const;
  // Destroys the window and drops the picture; the next use loads it again.
  void Unload();
  // Shows the form modeless, with no owner window, loading it first; the first
  // control in tab order that can take the focus gets it. While the form is the
  // active window, Tab, Shift+Tab, Enter, Escape and Space work as in a dialog.
  void Show();
  // Hides the form, loading it first when it is not loaded (as Visual Basic does).
  void Hide();
  bool Loaded() const;
  bool Visible() const;
  // How many form windows of this module exist now, of every instance: their
  // window procedure lives in this module, which must stay loaded meanwhile.
  static int LoadedWindows();
  // Closes every dialog that a form owns (its own Browse and OK dialogs, the
  // save command's folder browsers), as Cancel does, once its loop runs again.
  static void CancelDialogs();
  // Whether code of this module must stay loaded for the forms: a form window
  // exists, or the message hook that hands keys to a shown form is installed.
  static bool HoldModule();

  // The window; reading it loads the form.
  HWND hWnd() const override;
  // The 16 x 16 picture drawn at load, owned by the form; reading it loads the form.
  HBITMAP Picture1() const;
  // The same picture drawn on its own, without a form, for the caller to own;
  // `icon`, when given, receives the icon it was drawn from.
  static unique_hbitmap DrawPicture1(unique_hicon* icon = nullptr);

  // The window's place and size in twips (it must be loaded).
  double Left() const override;
  double Top() const override;
  double Width() const override;
  double Height() const override;

  // The buttons' handlers; a failure in one reaches its caller.
  void cmdBrowse_Click();
  void cmdOK_Click();
  void cmdCancel_Click();

  // Control ids of the dialog's controls, for tests and the window procedure.
  enum ControlId : int {
    kOK = IDOK,
    kCancel = IDCANCEL,
    kPicture1 = 100,
    kLabel1,
    kLabel2,
    kBrowse,
  };

 private:
  struct State;
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id);
  RECT WindowRect() const;
  // Hands the keys to the form while it is shown (see Show), or stops.
  void TakeKeys(bool take);
  // Whether one of its button handlers is running now.
  bool Busy() const;

  std::unique_ptr<State> state_;
};

// The font of the system's message boxes, for a window's controls; none when
// the system tells none.
unique_hgdiobj MessageFont();

}  // namespace quarnel
