#include "save/save_progress.h"

#include <commctrl.h>

#include "common/app.h"
#include "forms/frmAddIn.h"
#include "texts/modAddin.h"

namespace quarnel {
namespace {

DWORD progress_delay = 500;

// The progress bar's library, loaded at the first long save and kept for the
// process (the IDE has it loaded anyway): loading and freeing it at each save
// would cost a loading of the whole library each time, and Wine, with its heap
// checking on, keeps some of it every time.
HMODULE common_controls = nullptr;

// Whether the progress bar's window class can be had.
bool CommonControls() {
  if (common_controls) return true;
  const HMODULE library = LoadLibraryW(L"comctl32.dll");
  using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init = library ? reinterpret_cast<InitControls>(
                                  reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")))
                            : nullptr;
  const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  if (!init || !init(&controls)) {
    if (library) FreeLibrary(library);
    return false;
  }
  common_controls = library;
  return true;
}

// The window changes at most this often (but always for the last file).
constexpr DWORD kUpdateEvery = 50;

constexpr wchar_t kWindowClass[] = L"QuarnelSaveProgress";
constexpr int kTextId = 1;
constexpr int kBarId = 2;
// In dialog units: a message box's width.
constexpr int kWidth = 240, kMargin = 7, kTextHeight = 10, kBarHeight = 10;

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // No way to close it: a save stopped half way is what the add-in avoids.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

void SetProgressDelay(DWORD milliseconds) noexcept { progress_delay = milliseconds; }

SaveProgress::SaveProgress(HWND owner) noexcept
    : owner_(owner), started_(GetTickCount()), ticked_(started_ - kUpdateEvery) {}

SaveProgress::~SaveProgress() { Close(); }

void SaveProgress::Close() {
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
  if (window_) UnregisterClassW(kWindowClass, AppModule());
  window_ = nullptr;
}

void SaveProgress::Hide() {
  Close();
  step_.total = 0;
  tried_ = false;
  hidden_ = true;
}

// Whether the time has come for a word to Windows: at most every 50 ms, as
// more would be a trip to the window manager for every file of a large save,
// for nothing anyone could see.
bool SaveProgress::Due(bool always) {
  const DWORD now = GetTickCount();
  if (hidden_) started_ = now;
  hidden_ = false;
  if (!always && now - ticked_ < kUpdateEvery) return false;
  ticked_ = now;
  return true;
}

void SaveProgress::Before(bool checking, size_t number, size_t total, const std::wstring& name) {
  step_ = {checking, number, total, name};
  drawn_ = false;
  Tick(number == 1 || number == total);
}

void SaveProgress::Breathe() { Tick(false); }

void SaveProgress::Tick(bool always) {
  if (!Due(always)) return;
  if (step_.total) {
    if (!tried_ && ticked_ - started_ >= progress_delay) {
      tried_ = true;
      Show();
    }
    // A step shown is not shown again: the text would flicker at each word.
    if (!drawn_ && window_ && IsWindow(window_)) {
      drawn_ = true;
      SetDlgItemTextW(window_, kTextId, ProgressText(step_.checking, step_.number, step_.total, step_.name).c_str());
      SendDlgItemMessageW(window_, kBarId, PBM_SETRANGE32, 0, static_cast<LPARAM>(step_.total));
      SendDlgItemMessageW(window_, kBarId, PBM_SETPOS, step_.number, 0);
    }
  }
  Word();
}

void SaveProgress::Word() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  for (HWND window : {window_, owner_}) {
    if (window && IsWindow(window)) RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
}

// The window: owned by the IDE's, centred on it, with the message font; not
// topmost, no close button, no taskbar button. Without it (a class or a
// library that cannot be had), the save goes on all the same.
void SaveProgress::Show() {
  if (!CommonControls()) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ProgressProc;
  wc.hInstance = AppModule();
  wc.hCursor = LoadCursorW(nullptr, IDC_WAIT);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) return;

  font_ = MessageFont();
  // Dialog units, as a dialog box of the system's font lays itself out.
  const LONG units = GetDialogBaseUnits();
  const auto x = [&](int n) { return MulDiv(n, LOWORD(units), 4); };
  const auto y = [&](int n) { return MulDiv(n, HIWORD(units), 8); };

  constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
  constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, x(kWidth), y(kMargin * 3 + kTextHeight + kBarHeight)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT around{};
  if (!owner_ || !GetWindowRect(owner_, &around)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  window_ = CreateWindowExW(kExStyle | (owner_ ? 0 : WS_EX_TOOLWINDOW), kWindowClass, sMsgTitle.c_str(), kStyle,
                            (around.left + around.right - width) / 2, (around.top + around.bottom - height) / 2,
                            width, height, owner_, nullptr, AppModule(), nullptr);
  if (!window_) {
    UnregisterClassW(kWindowClass, AppModule());
    return;
  }
  const HWND text = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_ENDELLIPSIS,
                                    x(kMargin), y(kMargin), x(kWidth - 2 * kMargin), y(kTextHeight), window_,
                                    reinterpret_cast<HMENU>(kTextId), AppModule(), nullptr);
  if (text && font_) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, x(kMargin), y(2 * kMargin + kTextHeight),
                  x(kWidth - 2 * kMargin), y(kBarHeight), window_, reinterpret_cast<HMENU>(kBarId), AppModule(),
                  nullptr);
  ShowWindow(window_, SW_SHOWNOACTIVATE);
}

}  // namespace quarnel
