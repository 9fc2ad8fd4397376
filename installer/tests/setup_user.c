/* Plays the user of the installer for its test, one action a run; each waits up
   to 20 seconds for its window, and exits 0 when it did what it was asked:
     setup_user.exe read TITLE         the visible controls of the installer's window
                                       (a title that begins with TITLE), one a line:
                                       class|checked or -|text
     setup_user.exe click TITLE TEXT   clicks its button (or radio button) TEXT
     setup_user.exe box TITLE ANSWER   prints the text of its message box and answers
                                       it (yes, no, ok); or of the message box TITLE
                                       itself (Windows Installer's) */
#include <windows.h>
#include <stdio.h>

static void Print(const wchar_t* text) {
  char out[4096];
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, NULL, NULL) > 0) fputs(out, stdout);
}

/* The installer's window is a dialog no window owns; its message boxes, titled
   as it is, are owned by it. */
struct Search {
  const wchar_t* text;
  HWND owner, found;
};

static BOOL CALLBACK EachWindow(HWND window, LPARAM param) {
  struct Search* search = (struct Search*)param;
  wchar_t cls[64] = L"", text[256] = L"";
  GetClassNameW(window, cls, 64);
  GetWindowTextW(window, text, 256);
  if (IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0 &&
      wcsncmp(text, search->text, wcslen(search->text)) == 0 && GetWindow(window, GW_OWNER) == search->owner) {
    search->found = window;
  }
  return !search->found;
}

static HWND Find(const wchar_t* title, HWND owner) {
  struct Search search = {title, owner, NULL};
  for (int i = 0; i < 200 && !search.found; ++i) {
    EnumWindows(EachWindow, (LPARAM)&search);
    if (!search.found) Sleep(100);
  }
  if (!search.found) fwprintf(stderr, owner ? L"no message box\n" : L"no window \"%ls\"\n", title);
  return search.found;
}

/* read (no text): prints each control; click: finds the button of that text. */
static BOOL CALLBACK EachControl(HWND control, LPARAM param) {
  struct Search* search = (struct Search*)param;
  wchar_t cls[64] = L"", text[1024] = L"";
  GetClassNameW(control, cls, 64);
  /* Asked: another process's GetWindowText gets a control's caption, not an
     edit box's text. */
  SendMessageTimeoutW(control, WM_GETTEXT, 1024, (LPARAM)text, SMTO_BLOCK, 5000, NULL);
  const BOOL button = lstrcmpiW(cls, L"Button") == 0;
  if (!IsWindowVisible(control) || lstrcmpW(cls, L"#32770") == 0) return TRUE;
  if (search->text) {
    if (button && lstrcmpW(text, search->text) == 0) search->found = control;
    return !search->found;
  }
  for (wchar_t* c = text; *c; ++c) {
    if (*c == L'\r' || *c == L'\n') *c = L' ';
  }
  Print(cls);
  Print(button && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? L"|checked|" : L"|-|");
  Print(text);
  Print(L"\n");
  return TRUE;
}

/* Posted: what a click starts (a page's leaving, a message box) runs on. */
static int Click(HWND button) {
  if (!button) return 1;
  PostMessageW(button, BM_CLICK, 0, 0);
  Sleep(300);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  HWND installer = argc >= 3 ? Find(argv[2], NULL) : NULL;
  if (!installer) return 1;
  Sleep(300); /* a page just shown fills its controls */
  struct Search search = {argc > 3 ? argv[3] : NULL, NULL, NULL};
  if (lstrcmpW(argv[1], L"read") == 0 || (lstrcmpW(argv[1], L"click") == 0 && search.text)) {
    EnumChildWindows(installer, EachControl, (LPARAM)&search);
    return search.text ? Click(search.found) : 0;
  }
  if (lstrcmpW(argv[1], L"box") != 0 || !search.text) return 1;
  /* A message box of its own (Windows Installer's) is the window itself. */
  HWND box = GetDlgItem(installer, 0xFFFF) ? installer : Find(argv[2], installer);
  wchar_t text[2048] = L"";
  if (!box) return 1;
  GetDlgItemTextW(box, 0xFFFF, text, 2048);
  Print(text);
  Print(L"\n");
  const int id = lstrcmpiW(search.text, L"yes") == 0 ? IDYES : lstrcmpiW(search.text, L"no") == 0 ? IDNO : IDOK;
  if (Click(GetDlgItem(box, id))) return 1;
  for (int i = 0; i < 200 && IsWindow(box); ++i) Sleep(50);
  return IsWindow(box);
}
