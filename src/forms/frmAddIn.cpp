#include "forms/frmAddIn.h"

#include "common/app.h"
#include "common/error.h"
#include "common/owners.h"
#include "common/twips.h"
#include "forms/resources.h"
#include "texts/modAddin.h"
#include "shell/dialogs.h"

namespace quarnel {
namespace {

constexpr wchar_t kWindowClass[] = L"QuarnelDefaultFolderForm";
constexpr int kClientWidthTwips = 6030;
constexpr int kClientHeightTwips = 3195;
constexpr int kPictureSize = 16;
constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME;

struct ControlLayout {
  int id;
  const wchar_t* window_class;
  DWORD style;
  const wchar_t* caption;
  int left, top, width, height;  // twips, in the client area
};

// In tab order: creation order is the order the Tab key follows.
constexpr ControlLayout kControls[] = {
    {frmAddIn::kOK, L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, L"OK", 4680, 120, 1215, 375},
    {frmAddIn::kCancel, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, L"Annulla", 4680, 600, 1215, 375},
    {frmAddIn::kPicture1, L"STATIC", SS_OWNERDRAW | WS_TABSTOP, L"", 1200, 2730, 525, 345},
    {frmAddIn::kLabel1, L"STATIC", SS_LEFT,
     L"Select the Default starting folder to saves yours Visual Basic projects", 270, 270, 2895,
     390},
    {frmAddIn::kLabel2, L"STATIC", SS_LEFT, L"Label2", 270, 1500, 4185, 345},
    {frmAddIn::kBrowse, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, L"Browse...", 4680, 1380, 1215,
     375},
};

// The window class lives while a form window does, so that the module holding
// its window procedure can be unloaded once no form is loaded.
int live_windows = 0;

// The form is modeless in the IDE's own message loop, which knows nothing of it
// and never calls IsDialogMessage for it. While a form is shown, a message hook
// of the thread does that for the keys meant for the form that is the active
// window, as a dialog's own loop would; the IDE's keys go by untouched.
int forms_taking_keys = 0;
HHOOK key_hook = nullptr;

bool IsFormWindow(HWND window) {
  wchar_t name[64] = {};
  return window && GetClassNameW(window, name, 64) > 0 && lstrcmpW(name, kWindowClass) == 0;
}

LRESULT CALLBACK KeyHook(int code, WPARAM removed, LPARAM lparam) {
  auto* msg = reinterpret_cast<MSG*>(lparam);
  if (code == HC_ACTION && removed == PM_REMOVE && msg->message >= WM_KEYFIRST &&
      msg->message <= WM_KEYLAST) {
    HWND active = GetActiveWindow();
    if (IsFormWindow(active) && (msg->hwnd == active || IsChild(active, msg->hwnd)) &&
        IsDialogMessageW(active, msg)) {
      // Handled: what the IDE's loop goes on with is nothing.
      msg->message = WM_NULL;
      msg->wParam = 0;
      msg->lParam = 0;
    }
  }
  return CallNextHookEx(nullptr, code, removed, lparam);
}

void RegisterFormClass(WNDPROC window_proc) {
  if (live_windows > 0) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = window_proc;
  // A dialog's window (its procedure ends in DefDlgProc): tab order, focus and
  // the default button as in a dialog box.
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = AppModule();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw Error::FromHResult(HRESULT_FROM_WIN32(GetLastError()));
  }
}

void UnregisterFormClass() {
  if (live_windows == 0) UnregisterClassW(kWindowClass, AppModule());
}

}  // namespace

struct frmAddIn::State {
  HWND window = nullptr;  // destroyed by Unload
  unique_hbitmap picture;
  unique_hicon icon;
  unique_hgdiobj font;
  bool takes_keys = false;
  int handlers = 0;                // button handlers running now
  bool delete_when_idle = false;   // released while one ran
};

frmAddIn::frmAddIn() : state_(std::make_unique<State>()) {}

frmAddIn::~frmAddIn() { Unload(); }

namespace {
// Made when the module loads, not at the first use: a function's own static
// would need the runtime's thread-safe guard, and with it its threads library.
frmAddIn default_form;
}  // namespace

frmAddIn& frmAddIn::Default() { return default_form; }

unique_hgdiobj MessageFont() {
  // XP's form of the structure (Vista added a field, and XP refuses the larger
  // one); later Windows take it too.
  static_assert(sizeof(NONCLIENTMETRICSW) == 500, "the product code is built for Windows XP");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return {};
  return unique_hgdiobj(CreateFontIndirectW(&metrics.lfMessageFont));
}

int frmAddIn::LoadedWindows() { return live_windows; }

bool frmAddIn::HoldModule() { return live_windows > 0 || key_hook != nullptr; }

namespace {
BOOL CALLBACK CancelIfAFormsDialog(HWND window, LPARAM) {
  if (IsFormWindow(GetWindow(window, GW_OWNER))) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}
}  // namespace

void frmAddIn::CancelDialogs() { EnumThreadWindows(GetCurrentThreadId(), CancelIfAFormsDialog, 0); }

void frmAddIn::Release(std::unique_ptr<frmAddIn> form) {
  if (!form || !form->Busy()) return;  // deleted here
  if (form->state_->window) ShowWindow(form->state_->window, SW_HIDE);
  form->TakeKeys(false);
  form->state_->delete_when_idle = true;
  form.release();  // the running handler's window procedure deletes it
}

bool frmAddIn::Busy() const { return state_->handlers > 0; }

void frmAddIn::TakeKeys(bool take) {
  State& s = *state_;
  if (take == s.takes_keys) return;
  if (take) {
    if (forms_taking_keys == 0) {
      key_hook = SetWindowsHookExW(WH_GETMESSAGE, &KeyHook, nullptr, GetCurrentThreadId());
    }
    ++forms_taking_keys;
  } else if (--forms_taking_keys == 0 && key_hook) {
    UnhookWindowsHookEx(std::exchange(key_hook, nullptr));
  }
  s.takes_keys = take;
}

bool frmAddIn::Loaded() const { return state_->window != nullptr; }

bool frmAddIn::Visible() const { return Loaded() && IsWindowVisible(state_->window); }

HWND frmAddIn::hWnd() const {
  Load();
  return state_->window;
}

HBITMAP frmAddIn::Picture1() const {
  Load();
  return state_->picture.get();
}

unique_hbitmap frmAddIn::DrawPicture1(unique_hicon* icon_out) {
  // A 16 x 16 surface of the button-face colour, image 1 drawn on it through its mask.
  unique_hbitmap picture;
  unique_hdc canvas;
  {
    HDC screen = GetDC(nullptr);
    picture.reset(CreateCompatibleBitmap(screen, kPictureSize, kPictureSize));
    canvas.reset(CreateCompatibleDC(screen));
    ReleaseDC(nullptr, screen);
  }
  if (!picture || !canvas) throw Error::Vb(7);
  unique_hicon icon(static_cast<HICON>(LoadImageW(AppModule(), MAKEINTRESOURCEW(IDI_FLOPPY), IMAGE_ICON,
                                                  kPictureSize, kPictureSize, LR_DEFAULTCOLOR)));
  if (!icon) throw Error::FromHResult(HRESULT_FROM_WIN32(GetLastError()));
  {
    HGDIOBJ previous = SelectObject(canvas.get(), picture.get());
    const auto restore = scope_exit([&] { SelectObject(canvas.get(), previous); });
    RECT all{0, 0, kPictureSize, kPictureSize};
    FillRect(canvas.get(), &all, GetSysColorBrush(COLOR_BTNFACE));
    DrawIconEx(canvas.get(), 0, 0, icon.get(), kPictureSize, kPictureSize, 0, nullptr, DI_NORMAL);
  }
  if (icon_out) *icon_out = std::move(icon);
  return picture;
}

void frmAddIn::Load() const {
  if (Loaded()) return;
  State& s = *state_;
  const auto [tppx, tppy] = ScreenTwipsPerPixel();

  RegisterFormClass(&WindowProc);
  RECT frame{0, 0, ToPixels(kClientWidthTwips, tppx), ToPixels(kClientHeightTwips, tppy)};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  HWND window = CreateWindowExW(kFormExStyle, kWindowClass, kAppTitle, kFormStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                nullptr, nullptr, AppModule(), nullptr);
  if (!window) {
    const DWORD error = GetLastError();
    UnregisterFormClass();
    throw Error::FromHResult(HRESULT_FROM_WIN32(error));
  }
  ++live_windows;
  s.window = window;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  s.font = MessageFont();
  for (const ControlLayout& c : kControls) {
    HWND control = CreateWindowExW(
        0, c.window_class, c.caption, WS_CHILD | WS_VISIBLE | c.style, ToPixels(c.left, tppx),
        ToPixels(c.top, tppy), ToPixels(c.width, tppx), ToPixels(c.height, tppy), window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), AppModule(), nullptr);
    if (control && s.font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(s.font.get()), FALSE);
  }

  // The load steps: Picture1 is drawn and kept, with the icon it was drawn from.
  s.picture = DrawPicture1(&s.icon);
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(s.icon.get()));
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(s.icon.get()));
}

void frmAddIn::Unload() {
  State& s = *state_;
  TakeKeys(false);
  if (s.window) {
    HWND window = std::exchange(s.window, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    --live_windows;
    UnregisterFormClass();
  }
  s.picture.reset();
  s.icon.reset();
  s.font.reset();
}

void frmAddIn::Show() {
  Load();
  HWND window = state_->window;
  const bool was_visible = IsWindowVisible(window);
  ShowWindow(window, SW_SHOWNORMAL);
  TakeKeys(true);
  if (!was_visible) {
    // As a form shown by Visual Basic: the first control in tab order that can
    // take the focus gets it.
    if (HWND first = GetNextDlgTabItem(window, nullptr, FALSE)) {
      SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
  }
}

void frmAddIn::Hide() {
  Load();
  TakeKeys(false);
  ShowWindow(state_->window, SW_HIDE);
}

RECT frmAddIn::WindowRect() const {
  RECT r{};
  if (state_->window) GetWindowRect(state_->window, &r);
  return r;
}

double frmAddIn::Left() const { return WindowRect().left * ScreenTwipsPerPixel().first; }
double frmAddIn::Top() const { return WindowRect().top * ScreenTwipsPerPixel().second; }
double frmAddIn::Width() const {
  const RECT r = WindowRect();
  return (r.right - r.left) * ScreenTwipsPerPixel().first;
}
double frmAddIn::Height() const {
  const RECT r = WindowRect();
  return (r.bottom - r.top) * ScreenTwipsPerPixel().second;
}

// Browse and OK open dialogs of the add-in: while another run of its dialogs
// (the save command's, or the other button's) is going on, they do nothing.
void frmAddIn::cmdBrowse_Click() {
  const DialogRun run;
  if (!run) return;
  const std::wstring initial =
      sDefaultFolder.empty() ? CurrentDialogs().GetSpecialFolderPath(hWnd(), CSIDL_PERSONAL) : sDefaultFolder;
  const std::wstring chosen =
      run.BrowseForFolder(hWnd(), L"Seleziona la Cartella di destinazione:", initial, 0);
  if (chosen != sDefaultFolder) sDefaultFolder = chosen;
}

void frmAddIn::cmdOK_Click() {
  const DialogRun run;
  if (!run) return;
  const std::wstring text = L"Operazione di aggiunta su: " + VBInstance.FullName();
  run.Message(hWnd(), text, kAppTitle, MB_OK);
}

void frmAddIn::cmdCancel_Click() {
  if (!Connect) throw Error::Vb(91);
  Connect->Hide();
}

void frmAddIn::OnCommand(int id) {
  switch (id) {
    case kBrowse: cmdBrowse_Click(); break;
    case kOK: cmdOK_Click(); break;
    case kCancel: cmdCancel_Click(); break;
    default: break;
  }
}

LRESULT CALLBACK frmAddIn::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* form = reinterpret_cast<frmAddIn*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!form) return DefDlgProcW(hwnd, message, wparam, lparam);
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) {
        ++form->state_->handlers;
        // A failing handler must not take the IDE down with it: its description
        // is shown, as the IDE shows an error, and the form stays as it was.
        try {
          form->OnCommand(LOWORD(wparam));
        } catch (const RunAbandoned&) {
          // The IDE exited while its dialog was open: nothing more is shown.
        } catch (const Error& error) {
          MessageBoxW(hwnd, error.description().c_str(), kAppTitle, MB_OK | MB_ICONERROR);
        } catch (...) {
          MessageBoxW(hwnd, Error::Vb(7).description().c_str(), kAppTitle, MB_OK | MB_ICONERROR);
        }
        // Released while its dialog was open: it goes now.
        if (--form->state_->handlers == 0 && form->state_->delete_when_idle) delete form;
        return 0;
      }
      break;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->CtlID == kPicture1 && form->state_->picture) {
        FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
        unique_hdc source(CreateCompatibleDC(item->hDC));
        HGDIOBJ previous = SelectObject(source.get(), form->state_->picture.get());
        BitBlt(item->hDC, 0, 0, kPictureSize, kPictureSize, source.get(), 0, 0, SRCCOPY);
        SelectObject(source.get(), previous);
        return TRUE;
      }
      break;
    }
    case WM_CLOSE:
      // Closing the window unloads the form, as a Visual Basic form does.
      form->Unload();
      return 0;
    default:
      break;
  }
  return DefDlgProcW(hwnd, message, wparam, lparam);
}

}  // namespace quarnel
