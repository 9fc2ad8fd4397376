#include "support/dialog_driver.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <chrono>

namespace quarnel::test {
namespace {

// The controls of the folder browser carry the shell's fixed ids.
constexpr int kBrowserPromptId = 0x3742;
constexpr int kBrowserEditId = 0x3745;
constexpr int kBrowserNewFolderId = 0x3746;
// A message box's text control.
constexpr int kMessageTextId = 0xFFFF;

// Every message to the dialogs has a bound, so a stuck dialog cannot stall the driver.
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;

LRESULT Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, kSendTimeoutMs, &result)) {
    return 0;
  }
  return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND window) {
  if (!window) return {};
  const auto length = static_cast<size_t>(Send(window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  const auto got = static_cast<size_t>(
      Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(got < text.size() ? got : length);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

BOOL CALLBACK AddChild(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, AddChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

HWND TreeOf(HWND browser) {
  for (HWND child : Children(browser)) {
    if (ClassOf(child) == WC_TREEVIEWW) return child;
  }
  return nullptr;
}

BOOL CALLBACK AddIfOpenDialog(HWND window, LPARAM list) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && ClassOf(window) == L"#32770") {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}

// The visible dialog windows of this process.
std::vector<HWND> OpenDialogs() {
  std::vector<HWND> dialogs;
  EnumWindows(AddIfOpenDialog, reinterpret_cast<LPARAM>(&dialogs));
  return dialogs;
}

std::wstring ItemLabel(HWND tree, HTREEITEM item) {
  wchar_t text[MAX_PATH + 1] = {};
  TVITEMW data{};
  data.mask = TVIF_TEXT | TVIF_HANDLE;
  data.hItem = item;
  data.pszText = text;
  data.cchTextMax = MAX_PATH;
  Send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
  return text;
}

HTREEITEM NextItem(HWND tree, UINT relation, HTREEITEM item) {
  return reinterpret_cast<HTREEITEM>(
      Send(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

UINT IconOf(HWND message_box) {
  for (HWND child : Children(message_box)) {
    if (ClassOf(child) != L"Static" || !IsWindowVisible(child)) continue;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    const auto icon = reinterpret_cast<HICON>(Send(child, STM_GETICON, 0, 0));
    if (!icon) return 0;
    const std::pair<LPCWSTR, UINT> known[] = {{IDI_HAND, MB_ICONHAND},
                                              {IDI_QUESTION, MB_ICONQUESTION},
                                              {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                                              {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& [id, flag] : known) {
      if (LoadIconW(nullptr, id) == icon) return flag;
    }
    return 0xFFFFFFFF;  // an icon, but none of the standard ones
  }
  return 0;
}

SeenDialog Read(HWND dialog) {
  // Answered once the dialog's thread is back in its message loop: set up.
  Send(dialog, WM_NULL, 0, 0);
  SeenDialog seen;
  seen.hwnd = dialog;
  seen.owner = GetWindow(dialog, GW_OWNER);
  seen.owner_enabled = seen.owner && IsWindowEnabled(seen.owner);
  seen.title = TextOf(dialog);
  for (HWND child : Children(dialog)) {
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    const LONG type = style & BS_TYPEMASK;
    if (ClassOf(child) == L"Button" && IsWindowVisible(child) &&
        (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)) {
      seen.buttons.push_back(TextOf(child));
    }
  }
  if (HWND text = GetDlgItem(dialog, kMessageTextId)) {
    seen.kind = DialogKind::kMessageBox;
    seen.text = TextOf(text);
    seen.icon = IconOf(dialog);
  } else if (TreeOf(dialog)) {
    seen.kind = DialogKind::kFolderBrowser;
    seen.text = TextOf(GetDlgItem(dialog, kBrowserPromptId));
    seen.selected = SelectedLabels(dialog);
    HWND edit = GetDlgItem(dialog, kBrowserEditId);
    HWND new_folder = GetDlgItem(dialog, kBrowserNewFolderId);
    seen.edit_box = edit && IsWindowVisible(edit);
    seen.new_folder_button = new_folder && IsWindowVisible(new_folder);
  }
  return seen;
}

const char* KindName(DialogKind kind) {
  switch (kind) {
    case DialogKind::kMessageBox:
      return "a message box";
    case DialogKind::kFolderBrowser:
      return "the folder browser";
    default:
      return "a dialog";
  }
}

std::string Describe(const SeenDialog& seen) {
  return std::string(KindName(seen.kind)) + " titled \"" + Utf8(seen.title) + "\" saying \"" +
         Utf8(seen.text) + "\"";
}

std::string Describe(size_t index, const DialogStep& step) {
  std::string text = "step " + std::to_string(index + 1) + " (" + KindName(step.kind);
  if (step.text) text += " \"" + Utf8(*step.text) + "\"";
  return text + ")";
}

void Press(HWND dialog, int button) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

}  // namespace

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

std::string JoinLabels(const std::vector<std::wstring>& labels) {
  std::string text;
  for (const auto& label : labels) text += (text.empty() ? "" : " > ") + Utf8(label);
  return text;
}

std::vector<std::wstring> SelectedLabels(HWND browser) {
  std::vector<std::wstring> labels;
  HWND tree = TreeOf(browser);
  if (!tree) return labels;
  for (HTREEITEM item = NextItem(tree, TVGN_CARET, nullptr); item;
       item = NextItem(tree, TVGN_PARENT, item)) {
    labels.insert(labels.begin(), ItemLabel(tree, item));
  }
  return labels;
}

std::vector<std::wstring> ChildLabels(HWND browser) {
  std::vector<std::wstring> labels;
  HWND tree = TreeOf(browser);
  if (!tree) return labels;
  HTREEITEM selected = NextItem(tree, TVGN_CARET, nullptr);
  if (!selected) return labels;
  Send(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(selected));
  for (HTREEITEM item = NextItem(tree, TVGN_CHILD, selected); item;
       item = NextItem(tree, TVGN_NEXT, item)) {
    labels.push_back(ItemLabel(tree, item));
  }
  return labels;
}

std::vector<std::wstring> ShellLabels(const std::wstring& path) {
  std::vector<std::wstring> labels;
  PIDLIST_ABSOLUTE item = ILCreateFromPathW(path.c_str());
  if (!item) return labels;
  // Each ancestor in turn, down to the desktop (the empty list).
  for (;;) {
    SHFILEINFOW info{};
    SHGetFileInfoW(reinterpret_cast<LPCWSTR>(item), 0, &info, sizeof info,
                   SHGFI_PIDL | SHGFI_DISPLAYNAME);
    labels.insert(labels.begin(), info.szDisplayName);
    if (ILIsEmpty(item)) break;
    ILRemoveLastID(item);
  }
  ILFree(item);
  return labels;
}

void PinAccessTimes(const std::wstring& folder) {
  SYSTEMTIME future{};
  future.wYear = 2099;
  future.wMonth = 1;
  future.wDay = 1;
  FILETIME pinned{};
  SystemTimeToFileTime(&future, &pinned);
  // "C:\a\b" gives "C:\a\b" and "C:\a"; the drive root keeps its times.
  std::wstring path = folder;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  for (;;) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) break;  // the drive itself
    const unique_handle handle = file_handle(CreateFileW(
        path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle) SetFileTime(handle.get(), nullptr, &pinned, nullptr);
    path.resize(slash);
  }
}

// --- Steps ------------------------------------------------------------------------

DialogStep& DialogStep::Title(std::wstring value) {
  title = std::move(value);
  return *this;
}
DialogStep& DialogStep::Text(std::wstring value) {
  text = std::move(value);
  return *this;
}
DialogStep& DialogStep::Icon(UINT mb_icon) {
  icon = mb_icon;
  return *this;
}
DialogStep& DialogStep::Selected(std::wstring folder) {
  selected_folder = std::move(folder);
  return *this;
}
DialogStep& DialogStep::Choose(std::wstring folder) {
  choose_folder = std::move(folder);
  return *this;
}
DialogStep& DialogStep::WhileOpen(std::function<void(HWND)> inspect) {
  while_open = std::move(inspect);
  return *this;
}
DialogStep& DialogStep::Press(int button) {
  press = button;
  return *this;
}

DialogStep ExpectMessageBox() {
  DialogStep step;
  step.kind = DialogKind::kMessageBox;
  return step;
}

DialogStep ExpectFolderBrowser() {
  DialogStep step;
  step.kind = DialogKind::kFolderBrowser;
  return step;
}

// --- The driver -------------------------------------------------------------------

DialogDriver::DialogDriver(std::vector<DialogStep> steps) : DialogDriver(std::move(steps), Options{}) {}

DialogDriver::DialogDriver(std::vector<DialogStep> steps, Options options)
    : steps_(std::move(steps)), options_(options), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  for (HWND dialog : OpenDialogs()) ignored_.insert(dialog);
  for (const DialogStep& step : steps_) {
    if (step.selected_folder) PinAccessTimes(*step.selected_folder);
    if (step.choose_folder) PinAccessTimes(*step.choose_folder);
  }
  thread_ = std::thread([this] { Run(); });
}

DialogDriver::~DialogDriver() {
  if (finished_) return;
  const testing::AssertionResult result = Finish();
  if (!result) ADD_FAILURE() << "dialogs:" << result.message();
}

testing::AssertionResult DialogDriver::Finish() {
  if (!finished_) {
    finished_ = true;
    stop_ = true;
    // The driver may be waiting on an answer from this thread's windows: serve
    // sent messages while waiting for it to end.
    HANDLE done = done_.get();
    for (;;) {
      const DWORD woke = MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_SENDMESSAGE);
      if (woke != WAIT_OBJECT_0 + 1) break;
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    thread_.join();
  }
  if (problems_.empty()) return testing::AssertionSuccess();
  testing::AssertionResult failure = testing::AssertionFailure();
  for (const auto& problem : problems_) failure << "\n  " << problem;
  return failure;
}

void DialogDriver::Problem(std::string text) { problems_.push_back(std::move(text)); }

void DialogDriver::Run() {
  auto signal = scope_exit([this] { SetEvent(done_.get()); });
  // The shell names items for the folder checks.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  auto uninitialize = scope_exit([com] {
    if (SUCCEEDED(com)) CoUninitialize();
  });
  try {
    bool go_on = true;
    for (size_t i = 0; i < steps_.size() && go_on; ++i) RunStep(i, steps_[i], go_on);
    // The script is over: whatever else comes is unexpected.
    while (!stop_) {
      if (HWND dialog = WaitForDialog(kPollMs)) CloseUnexpected(dialog);
    }
  } catch (const std::exception& error) {
    Problem(std::string("the dialog driver failed: ") + error.what());
  }
}

void DialogDriver::RunStep(size_t index, const DialogStep& step, bool& go_on) {
  go_on = false;
  HWND dialog = WaitForDialog(options_.wait_ms);
  if (!dialog) {
    Problem(Describe(index, step) +
            (stop_ ? ": the code under test returned without showing it"
                   : ": it did not come within " + std::to_string(options_.wait_ms) + " ms"));
    return;
  }
  seen_.push_back(Read(dialog));
  const SeenDialog& seen = seen_.back();
  const std::string where = Describe(index, step) + ": ";
  if (seen.kind != step.kind) {
    Problem(where + "got " + Describe(seen) + " instead; cancelled it");
    seen_.back().expected = false;
    Press(dialog, IDCANCEL);
    WaitGone(dialog);
    return;
  }

  if (step.title && seen.title != *step.title) {
    Problem(where + "title is \"" + Utf8(seen.title) + "\", expected \"" + Utf8(*step.title) + "\"");
  }
  if (step.text && seen.text != *step.text) {
    Problem(where + "text is \"" + Utf8(seen.text) + "\", expected \"" + Utf8(*step.text) + "\"");
  }
  if (step.icon && seen.icon != *step.icon) {
    Problem(where + "icon is " + std::to_string(seen.icon) + ", expected " + std::to_string(*step.icon));
  }
  if (step.selected_folder) {
    const auto expected = ShellLabels(*step.selected_folder);
    if (seen.selected != expected) {
      Problem(where + "selected item is \"" + JoinLabels(seen.selected) + "\", expected \"" +
              JoinLabels(expected) + "\" (" + Utf8(*step.selected_folder) + ")");
    }
  }
  if (step.while_open) step.while_open(dialog);
  if (step.choose_folder) {
    Send(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(step.choose_folder->c_str()));
    const auto now = SelectedLabels(dialog);
    if (now != ShellLabels(*step.choose_folder)) {
      Problem(where + "could not select " + Utf8(*step.choose_folder) + "; selected is \"" +
              JoinLabels(now) + "\"");
    }
  }

  if (step.press) Press(dialog, step.press);
  if (!WaitGone(dialog)) {
    Problem(where + (step.press ? "still open after pressing button " + std::to_string(step.press)
                                : std::string("still open, where it should have gone by itself")) +
            "; cancelled it");
    Press(dialog, IDCANCEL);
    WaitGone(dialog);
    return;
  }
  go_on = true;
}

HWND DialogDriver::WaitForDialog(DWORD wait_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (stop_) return nullptr;
    std::erase_if(ignored_, [](HWND window) { return !IsWindow(window); });
    for (HWND dialog : OpenDialogs()) {
      if (!ignored_.contains(dialog)) {
        ignored_.insert(dialog);
        return dialog;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return nullptr;
    Sleep(kPollMs);
  }
}

bool DialogDriver::WaitGone(HWND dialog) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.wait_ms);
  while (IsWindow(dialog) && IsWindowVisible(dialog)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(kPollMs / 5);
  }
  return true;
}

void DialogDriver::CloseUnexpected(HWND dialog) {
  seen_.push_back(Read(dialog));
  seen_.back().expected = false;
  Problem("came unexpectedly: " + Describe(seen_.back()) + "; cancelled it");
  Press(dialog, IDCANCEL);
  WaitGone(dialog);
}

}  // namespace quarnel::test
