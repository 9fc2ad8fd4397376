#include "script.h"

#include <atomic>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>

#include "Quarnel_h.h"
#include "support/custom_array.h"
#include "support/dialog_driver.h"
#include "support/temp_folder.h"
#include "support/test_window.h"

namespace ideapp {
namespace {

using quarnel::test::DialogDriver;
using quarnel::test::DialogStep;
using quarnel::test::ExpectFolderBrowser;
using quarnel::test::ExpectMessageBox;

// `text` in a code page; nothing when `flags` (MB_ERR_INVALID_CHARS) refuse it.
std::optional<std::wstring> Decode(const std::string& text, UINT code_page, DWORD flags = 0) {
  const int n = MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0 && !text.empty()) return std::nullopt;
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::wstring FromUtf8(const std::string& text) { return Decode(text, CP_UTF8).value_or(L""); }

std::wstring Expand(const std::wstring& text) {
  const DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  std::wstring out(n, L'\0');
  ExpandEnvironmentStringsW(text.c_str(), out.data(), n);
  if (!out.empty() && out.back() == L'\0') out.pop_back();
  return out;
}

std::vector<std::wstring> Words(const std::wstring& line) {
  std::vector<std::wstring> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && iswspace(line[i])) ++i;
    if (i >= line.size()) break;
    std::wstring word;
    if (line[i] == L'"') {
      const size_t end = line.find(L'"', i + 1);
      word = line.substr(i + 1, (end == std::wstring::npos ? line.size() : end) - i - 1);
      i = end == std::wstring::npos ? line.size() : end + 1;
    } else {
      while (i < line.size() && !iswspace(line[i])) word += line[i++];
    }
    words.push_back(word);
  }
  return words;
}

int ButtonId(const std::wstring& name) {
  if (_wcsicmp(name.c_str(), L"cancel") == 0) return IDCANCEL;
  if (_wcsicmp(name.c_str(), L"yes") == 0) return IDYES;
  if (_wcsicmp(name.c_str(), L"no") == 0) return IDNO;
  return IDOK;
}

// The texts of a dialog's static controls, joined: a message box's text, the
// folder browser's prompt.
std::wstring DialogText(HWND dialog) {
  std::wstring text;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    if (_wcsicmp(name, L"Static") != 0) continue;
    wchar_t buffer[2048] = {};
    GetWindowTextW(child, buffer, 2048);
    if (!buffer[0]) continue;
    if (!text.empty()) text += L" ";
    text += buffer;
  }
  return text;
}

std::wstring OneLine(std::wstring text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r') continue;
    // A blank line gives "a / / b".
    out += text[i] != L'\n' ? std::wstring(1, text[i]) : out.ends_with(L" / ") ? L"/ " : L" / ";
  }
  return out;
}

bool FileSize(const std::wstring& path, ULONGLONG& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// A button of a visible window of this program (an add-in's form), by the
// window's title and the button's caption; null when there is none.
HWND FindButton(const std::wstring& title, const std::wstring& caption) {
  for (HWND w = FindWindowExW(nullptr, nullptr, nullptr, title.c_str()); w;
       w = FindWindowExW(nullptr, w, nullptr, title.c_str())) {
    DWORD process = 0;
    GetWindowThreadProcessId(w, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(w)) return FindWindowExW(w, nullptr, L"Button", caption.c_str());
  }
  return nullptr;
}

// For testing the test run: an IDE root object whose every text is broken (a
// string pointer into memory that cannot be read), so that an add-in reading
// one faults inside the system's automation library.
class BrokenIde final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    static constexpr IID kVbe = {0x0002E100, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, kVbe)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = static_cast<DISPID>(i + 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (!result) return S_OK;
    auto* unreadable = static_cast<char*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS));
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = reinterpret_cast<BSTR>(unreadable + 8);  // its length lies before it
    return S_OK;
  }
};

struct Pending {
  bool folder = false;
  std::wstring choice;  // folder: the path to choose; empty with button Cancel
  int button = IDOK;
  std::wstring expected_text;  // a part the dialog's text must contain
};

}  // namespace

std::wstring Hex(HRESULT hr) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::wstring KindName(int type) {
  switch (type) {
    case 1: return L"Module";
    case 2: return L"Class";
    case 3: return L"UserForm";
    case 4: return L"ResFile";
    case 5: return L"Form";
    case 6: return L"MDIForm";
    case 7: return L"PropertyPage";
    case 8: return L"UserControl";
    case 9: return L"UserDocument";
    case 10: return L"RelatedDocument";
    case 11: return L"Designer";
    default: return L"Component";
  }
}

bool ReadScript(const std::wstring& path, std::vector<Step>& steps, std::wstring& error) {
  std::string bytes;
  try {
    bytes = quarnel::test::ReadBytes(path);
  } catch (const std::exception&) {
    error = L"cannot read " + path;
    return false;
  }
  // UTF-8; a file that is not is read in the system's 8-bit code page, in which
  // the IDE writes its files (a name copied from a project file, say).
  auto text = Decode(bytes, CP_UTF8, MB_ERR_INVALID_CHARS);
  if (!text) text = Decode(bytes, CP_ACP);
  std::wistringstream lines(text.value_or(L""));
  std::wstring line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    auto words = Words(Expand(line));
    if (words.empty() || words[0][0] == L'#') continue;
    Step step{number, words[0], {words.begin() + 1, words.end()}};
    steps.push_back(std::move(step));
  }
  return true;
}

bool SaveScreenBmp(const RECT& rect, const std::wstring& path) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files hold it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    SelectObject(memory, old);
  }
  const DWORD row = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD image = row * static_cast<DWORD>(height);
  if (ok) {
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + image;
    info.bmiHeader.biSizeImage = image;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ok = file != INVALID_HANDLE_VALUE && WriteFile(file, &header, sizeof header, &written, nullptr) &&
         WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
         WriteFile(file, bits, image, &written, nullptr) && written == image;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool App::OpenProject(const std::wstring& path) {
  try {
    std::vector<std::wstring> problems;
    const std::wstring name = ide->open_project(path, &problems);
    for (const auto& problem : problems) Print(L"cannot load: " + problem);
    const auto project = ide->find_project(name);
    Print(L"opened project " + name + L" (" + std::to_wstring(project->components.size()) + L" components)");
    for (const auto& component : project->components) {
      Print(L"  " + KindName(component.type) + L" " + component.name + L": " + component.file_name);
    }
    RefreshTree();
    return true;
  } catch (const std::exception& error) {
    Print(L"open failed: " + FromUtf8(error.what()));
    return false;
  }
}

bool App::Change(const std::wstring& component, const std::wstring& text) {
  try {
    std::wstring name = component;
    // "*": the first component that holds code (not a resource file or related document).
    if (name == L"*") {
      const auto project = ide->find_project(ide->active_project());
      for (const auto& c : project ? project->components : std::vector<standin::Component>{}) {
        if (c.type != 4 && c.type != 10) {
          name = c.name;
          break;
        }
      }
    }
    ide->change(ide->active_project(), name, text);
    Print(L"changed " + name);
    RefreshTree();
    return true;
  } catch (const std::exception& error) {
    Print(L"change failed: " + FromUtf8(error.what()));
    return false;
  }
}

namespace {
// The open menu's window of this process, if one shows.
BOOL CALLBACK FindMenuWindow(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && wcscmp(name, L"#32768") == 0 && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

// Opens a menu of the menu bar as the user does (Alt + its letter), and takes a
// picture of the window with the menu open from a second thread, which then
// closes the menu.
bool App::MenuScreenshot(const std::wstring& bar, const std::wstring& name) {
  SetForegroundWindow(window);
  std::atomic<bool> taken{false};
  const std::wstring path = output + L"\\" + name + L".bmp";
  std::thread camera([&] {
    HWND menu = nullptr;
    for (int i = 0; i < 100 && !menu; ++i) {
      Sleep(50);
      EnumWindows(FindMenuWindow, reinterpret_cast<LPARAM>(&menu));
    }
    if (menu) {
      Sleep(400);  // let it paint
      RECT frame, popup, both;
      GetWindowRect(window, &frame);
      GetWindowRect(menu, &popup);
      UnionRect(&both, &frame, &popup);
      taken = SaveScreenBmp(both, path);
    }
    EndMenu();
    if (menu) PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  const wchar_t key = static_cast<wchar_t>(towlower(bar.empty() ? L'f' : bar[0]));
  SendMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, key);
  camera.join();
  Print(taken ? L"screenshot: " + path : L"screenshot failed: " + path);
  return taken;
}

// NAME.bmp in the output folder: the screen inside the window's frame.
bool App::Screenshot(HWND target, const std::wstring& name) const {
  RECT rect;
  GetWindowRect(target, &rect);
  const std::wstring path = output + L"\\" + name + L".bmp";
  const bool ok = SaveScreenBmp(rect, path);
  Print((ok ? L"screenshot: " : L"screenshot failed: ") + path);
  return ok;
}

int App::RunScript() {
  std::vector<size_t> pending;  // the dialog steps waiting for the next click
  int failures = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    if (_wcsicmp(step.keyword.c_str(), L"msgbox") == 0 || _wcsicmp(step.keyword.c_str(), L"folder") == 0 ||
        _wcsicmp(step.keyword.c_str(), L"meanwhile") == 0 || _wcsicmp(step.keyword.c_str(), L"progress") == 0) {
      pending.push_back(i);
      continue;
    }
    if (!RunStep(step, pending)) {
      ++failures;
      Print(L"step failed at line " + std::to_wstring(step.line) + L": " + step.keyword);
    }
  }
  if (!pending.empty()) {
    ++failures;
    Print(L"script: dialog answers with no click after them");
  }
  Print(failures ? L"script: " + std::to_wstring(failures) + L" step(s) failed" : std::wstring(L"script: done"));
  return failures ? 1 : 0;
}

bool App::RunMeanwhile(const Step& step) {
  std::vector<size_t> none;
  return RunStep(step, none);
}

bool App::AnswerDialogs(std::vector<size_t>& pending, const std::function<void()>& run) {
  std::vector<Pending> answers;
  std::vector<DialogStep> dialog_steps;
  auto seen_texts = std::make_shared<std::vector<std::wstring>>();
  // Dialogs are numbered through the whole run: each screenshot keeps its own name.
  static const auto counter = std::make_shared<int>(0);
  auto meanwhile_failed = std::make_shared<bool>(false);
  const std::wstring folder = output;
  HWND main_window = window;
  // What the user (or Windows) does while the save's progress window shows.
  std::vector<Step> while_saving;
  bool progress_expected = false;
  std::wstring progress_picture;  // "progress NAME": NAME.bmp of the window
  for (size_t p_index = 0; p_index < pending.size(); ++p_index) {
    const Step& s = steps[pending[p_index]];
    if (_wcsicmp(s.keyword.c_str(), L"meanwhile") == 0) continue;  // taken with its dialog below
    // What the user does in the IDE while this dialog is open.
    std::vector<Step> meanwhile;
    for (size_t m = p_index + 1; m < pending.size(); ++m) {
      const Step& next = steps[pending[m]];
      if (_wcsicmp(next.keyword.c_str(), L"meanwhile") != 0) break;
      if (next.args.empty()) continue;
      Step action = next;
      action.keyword = next.args[0];
      action.args.erase(action.args.begin());
      meanwhile.push_back(std::move(action));
    }
    if (_wcsicmp(s.keyword.c_str(), L"progress") == 0) {
      progress_expected = true;
      if (!s.args.empty()) progress_picture = s.args[0];
      while_saving = std::move(meanwhile);
      continue;
    }
    Pending p;
    p.folder = _wcsicmp(s.keyword.c_str(), L"folder") == 0;
    const std::wstring answer = s.args.empty() ? L"" : s.args[0];
    if (_wcsicmp(answer.c_str(), L"gone") == 0) {
      p.button = 0;  // closed by the add-in: nothing is pressed
    } else if (p.folder) {
      p.choice = answer.empty() || _wcsicmp(answer.c_str(), L"cancel") == 0 ? L"" : answer;
      p.button = p.choice.empty() ? IDCANCEL : IDOK;
    } else {
      p.button = ButtonId(answer.empty() ? L"ok" : answer);
    }
    if (s.args.size() > 1) p.expected_text = s.args[1];
    DialogStep d = p.folder ? ExpectFolderBrowser() : ExpectMessageBox();
    if (!p.choice.empty()) d.Choose(p.choice);
    d.Press(p.button);
    d.WhileOpen([seen_texts, folder, meanwhile, main_window, meanwhile_failed](HWND dialog) {
      const int n = ++*counter;
      wchar_t title[256] = {};
      GetWindowTextW(dialog, title, 256);
      const std::wstring text = DialogText(dialog);
      seen_texts->push_back(text);
      Print(L"dialog " + std::to_wstring(n) + L" [" + title + L"]: " + OneLine(text));
      Sleep(200);
      RECT rect;
      GetWindowRect(dialog, &rect);
      const std::wstring path = folder + L"\\dialog-" + std::to_wstring(n) + L".bmp";
      Print((SaveScreenBmp(rect, path) ? L"screenshot: " : L"screenshot failed: ") + path);
      // The user turns to the IDE's window: it must take input (be enabled).
      for (const Step& action : meanwhile) {
        const bool enabled = IsWindowEnabled(main_window) != FALSE;
        Print(L"meanwhile " + action.keyword + L": the IDE's window is " + (enabled ? L"enabled" : L"disabled"));
        DWORD_PTR done = 0;
        if (!enabled || !SendMessageTimeoutW(main_window, kRunStepMessage, 0, reinterpret_cast<LPARAM>(&action),
                                             SMTO_NORMAL, 30000, &done) || done != 1) {
          Print(L"meanwhile " + action.keyword + L": failed");
          *meanwhile_failed = true;
        }
      }
    });
    answers.push_back(p);
    dialog_steps.push_back(std::move(d));
  }
  pending.clear();
  bool dialogs_ok = true;
  // The progress window is no dialog: watched for on a thread of its own, which
  // then sends each action to the program's window, as Windows sends its
  // logoff: it runs when the save lets messages through.
  bool progress_seen = false;
  std::atomic<bool> ran = false;
  std::thread progress_watch;
  if (progress_expected) {
    progress_watch = std::thread([&] {
      HWND progress = nullptr;
      for (int i = 0; i < 3000 && !ran && !(progress = quarnel::test::FindOwnWindow(L"QuarnelSaveProgress")); ++i) {
        Sleep(10);
      }
      if (!progress) return;
      // Its title as the system holds it: GetWindowText would send a message
      // to the program's thread, and wait for the save's next pause.
      wchar_t title[256] = {};
      InternalGetWindowText(progress, title, 256);
      Print(std::wstring(L"progress [") + title + L"]");
      progress_seen = true;
      if (!progress_picture.empty()) {
        Sleep(400);  // drawn, with its text
        RECT rect;
        GetWindowRect(progress, &rect);
        const std::wstring path = folder + L"\\" + progress_picture + L".bmp";
        Print((SaveScreenBmp(rect, path) ? L"screenshot: " : L"screenshot failed: ") + path);
      }
      for (const Step& action : while_saving) {
        DWORD_PTR done = 0;
        if (!SendMessageTimeoutW(main_window, kRunStepMessage, 0, reinterpret_cast<LPARAM>(&action), SMTO_NORMAL,
                                 30000, &done) ||
            done != 1) {
          Print(L"meanwhile " + action.keyword + L": failed");
          *meanwhile_failed = true;
        }
      }
    });
  }
  {
    DialogDriver driver(std::move(dialog_steps), DialogDriver::Options{30000});
    run();
    ran = true;
    if (progress_watch.joinable()) progress_watch.join();
    if (progress_expected && (!progress_seen || quarnel::test::FindOwnWindow(L"QuarnelSaveProgress"))) {
      Print(progress_seen ? L"progress: its window is still there" : L"progress: no progress window was seen");
      *meanwhile_failed = true;
    }
    const auto finished = driver.Finish();
    dialogs_ok = static_cast<bool>(finished);
    if (!dialogs_ok) Print(L"dialogs: " + FromUtf8(finished.message()));
  }
  for (size_t d = 0; d < answers.size() && d < seen_texts->size(); ++d) {
    // The text as it is, or as one line (" / " for each line break).
    const std::wstring& seen = (*seen_texts)[d];
    if (!answers[d].expected_text.empty() && seen.find(answers[d].expected_text) == std::wstring::npos &&
        OneLine(seen).find(answers[d].expected_text) == std::wstring::npos) {
      Print(L"dialog " + std::to_wstring(d + 1) + L": expected text \"" + answers[d].expected_text + L"\"");
      dialogs_ok = false;
    }
  }
  return dialogs_ok && !*meanwhile_failed;
}

bool App::RunStep(const Step& step, std::vector<size_t>& pending) {
  const auto& k = step.keyword;
  const auto& a = step.args;
  auto is = [&](const wchar_t* name, size_t min_args) { return _wcsicmp(k.c_str(), name) == 0 && a.size() >= min_args; };

  if (is(L"open", 1)) {
    // "open PATH short": by its short (8.3) name, as some shells hand it over.
    if (a.size() < 2 || _wcsicmp(a[1].c_str(), L"short") != 0) return OpenProject(a[0]);
    wchar_t short_path[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(a[0].c_str(), short_path, MAX_PATH);
    return length > 0 && length < MAX_PATH && OpenProject(short_path);
  }
  // The user changes the IDE's projects: `done` says what, once it is done.
  auto edit = [&](const std::wstring& done, const std::function<void()>& change) {
    try {
      change();
    } catch (const std::exception& error) {
      Print(done + L" failed: " + FromUtf8(error.what()));
      return false;
    }
    Print(done);
    RefreshTree();
    return true;
  };
  // Project > Add Form, and the new form named.
  if (is(L"add-form", 1)) return edit(L"added form " + a[0], [&] { ide->add(ide->active_project(), a[0], 5); });
  if (is(L"expect-same", 2)) {
    // Two files byte for byte the same.
    bool same = false;
    try {
      same = quarnel::test::ReadBytes(a[0]) == quarnel::test::ReadBytes(a[1]);
    } catch (const std::exception&) {
    }
    Print((same ? L"same: " : L"not the same: ") + a[0] + L" " + a[1]);
    return same;
  }
  if (is(L"change", 1)) return Change(a[0], a.size() > 1 ? a[1] : L"");
  if (is(L"menu-screenshot", 2)) return MenuScreenshot(a[0], a[1]);
  if (is(L"window-screenshot", 2)) {
    // Another program's window (an installer's page): waits for it to show.
    HWND other = nullptr;
    for (int i = 0; i < 200 && !(other && IsWindowVisible(other)); ++i) {
      other = FindWindowW(nullptr, a[0].c_str());
      Sleep(100);
    }
    if (!other) {
      Print(L"no window " + a[0]);
      return false;
    }
    SetForegroundWindow(other);
    Sleep(500);  // let it paint
    return Screenshot(other, a[1]);
  }
  if (is(L"screenshot", 1)) return Screenshot(window, a[0]);
  if (is(L"click", 2)) {
    int position = _wtoi(a[1].c_str());
    if (position <= 0) {
      const auto controls = ide->controls(a[0]);
      for (size_t c = 0; c < controls.size(); ++c) {
        if (controls[c].caption == a[1]) position = static_cast<int>(c) + 1;
      }
    }
    Print(L"click " + a[0] + L" " + std::to_wstring(position));
    standin::ClickResult result;
    const bool dialogs_ok = AnswerDialogs(pending, [&] {
      try {
        result = Click(a[0], position);
      } catch (const std::exception& error) {
        Print(L"click failed: " + FromUtf8(error.what()));
        result.result = E_INVALIDARG;
      }
    });
    if (FAILED(result.result)) Print(L"click result " + Hex(result.result) + L": " + result.description);
    // What the project's files are now.
    if (const auto project = ide->find_project(ide->active_project())) {
      std::vector<std::wstring> files;
      for (const auto& component : project->components) files.push_back(component.file_name);
      files.push_back(project->file_name);
      for (const auto& file : files) {
        ULONGLONG size = 0;
        if (!file.empty() && FileSize(file, size)) Print(L"file: " + file + L" (" + std::to_wstring(size) + L" bytes)");
      }
      Print(std::wstring(L"project ") + project->name + (project->saved ? L" saved" : L" not saved"));
    }
    // "click BAR POSITION fails": the click must end in the add-in's failure.
    const bool expect_failure = a.size() > 2 && _wcsicmp(a[2].c_str(), L"fails") == 0;
    return dialogs_ok && (expect_failure ? FAILED(result.result) : SUCCEEDED(result.result));
  }
  if (is(L"press", 2)) {
    // A button of a window of this program (an add-in's form), as the user clicks it.
    HWND button = FindButton(a[0], a[1]);
    if (!button) {
      Print(L"no button " + a[1] + L" in a window " + a[0]);
      return false;
    }
    Print(L"press " + a[0] + L" " + a[1]);
    return AnswerDialogs(pending, [button] { SendMessageW(button, BM_CLICK, 0, 0); });
  }
  if (is(L"slow-disk", 1)) {
    // Each save of a file takes this many milliseconds more (a network share).
    ide->set_save_delay(static_cast<DWORD>(_wtoi(a[0].c_str())));
    Print(L"slow disk: " + a[0] + L" ms a file");
    return true;
  }
  if (is(L"fail", 3)) {
    // OPERATION CALL DESCRIPTION: the CALLth call of OPERATION from now
    // (_VBComponent.SaveAs) fails with DESCRIPTION (a full disk, say).
    ide->fail({.description = a[2], .operation = a[0], .call = _wtoi(a[1].c_str())});
    Print(L"fail: " + a[0] + L" " + a[1] + L": " + a[2]);
    return true;
  }
  if (is(L"slow-ide", 1)) {
    // Each FileName the IDE is asked takes this many milliseconds (a large
    // project on a network share).
    ide->set_answer_delay(static_cast<DWORD>(_wtoi(a[0].c_str())));
    Print(L"slow IDE: " + a[0] + L" ms a file's name");
    return true;
  }
  if (is(L"input", 0)) {
    // The user presses a key and clicks in the IDE's window: queued as the
    // keyboard and the mouse queue them, taken by whatever loop runs next.
    Print(L"input: a key and a click");
    const LPARAM corner = MAKELPARAM(4, 4);
    PostMessageW(tree, WM_KEYDOWN, VK_DOWN, 1);
    PostMessageW(tree, WM_KEYUP, VK_DOWN, 0xC0000001);
    PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, corner);
    PostMessageW(tree, WM_LBUTTONUP, 0, corner);
    return true;
  }
  if (is(L"expect-input-after-save", 0)) {
    // The program's loop takes what waits in the queue; the key and the click
    // given during the save must come now, none of them during it.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Print(L"input during the click: " + std::to_wstring(input_during_click_) + L", after it: " +
          std::to_wstring(input_after_click_));
    return input_during_click_ == 0 && input_after_click_ >= 2;
  }
  if (is(L"exit", 0)) {
    // The user closes the IDE's window; as a "meanwhile" step, inside the
    // add-in's dialog's loop (or the save's word to Windows), as the IDE's exit
    // then runs. "exit TEXT": the save's progress window says TEXT... then.
    if (!window) return false;
    wchar_t saying[256] = {};
    if (HWND progress = quarnel::test::FindOwnWindow(L"QuarnelSaveProgress")) {
      GetWindowTextW(FindWindowExW(progress, nullptr, L"STATIC", nullptr), saying, 256);
    }
    Print(std::wstring(L"exit") + (*saying ? L", the progress window saying \"" + std::wstring(saying) + L"\"" : L""));
    SendMessageW(window, WM_CLOSE, 0, 0);
    return a.empty() || std::wstring_view(saying).starts_with(a[0]);
  }
  if (is(L"expect-no-file", 1)) {
    bool ok = true;
    for (const auto& path : a) {
      if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      Print(L"written: " + path);
      ok = false;
    }
    return ok;
  }
  if (is(L"expect-ini", 4)) {
    // FILE SECTION KEY VALUE; "" for a key absent or empty.
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(a[1].c_str(), a[2].c_str(), L"", value, 1024, a[0].c_str());
    Print(L"ini " + a[1] + L" " + a[2] + L" = \"" + value + L"\"");
    return a[3] == value;
  }
  if (is(L"expect-menu", 3)) {
    const auto controls = ide->controls(a[0]);
    const size_t position = static_cast<size_t>(_wtoi(a[1].c_str()));
    const bool ok = position >= 1 && position <= controls.size() && controls[position - 1].caption == a[2];
    const bool face = ok && controls[position - 1].face.has_value();
    Print(L"menu " + a[0] + L" " + a[1] + L": " +
          (position >= 1 && position <= controls.size() ? controls[position - 1].caption : L"(none)") +
          (face ? L" with a picture" : L""));
    return ok;
  }
  if (is(L"expect-no-menu", 2)) {
    for (const auto& control : ide->controls(a[0])) {
      if (control.caption == a[1]) {
        Print(L"menu " + a[0] + L" still has " + a[1]);
        return false;
      }
    }
    Print(L"menu " + a[0] + L" has no " + a[1]);
    return true;
  }
  if (is(L"connect", 1) || is(L"disconnect", 1)) {
    // Through the add-in manager, as the user does it.
    Addin* addin = FindAddin(a[0]);
    if (!addin) {
      Print(L"no add-in " + a[0]);
      return false;
    }
    const bool want = _wcsicmp(k.c_str(), L"connect") == 0;
    // "connect PROGID external": by another program (ext_cm_External), not the add-in manager.
    if (want && a.size() > 1 && _wcsicmp(a[1].c_str(), L"external") == 0) return Connect(*addin, 2);
    if ((addin->instance != nullptr) != want) {
      SendMessageW(window, WM_COMMAND, 950 + static_cast<WPARAM>(addin - addins.data()), 0);
    }
    return (addin->instance != nullptr) == want;
  }
  if (is(L"expect-project", 1)) {
    const auto project = ide->find_project(ide->active_project());
    if (!project || _wcsicmp(project->name.c_str(), a[0].c_str()) != 0) {
      Print(L"active project is not " + a[0]);
      return false;
    }
    bool ok = true;
    for (size_t c = 1; c < a.size(); ++c) {
      bool found = false;
      for (const auto& component : project->components) found = found || component.name == a[c];
      if (!found) {
        Print(L"project " + a[0] + L" has no component " + a[c]);
        ok = false;
      }
    }
    if (a.size() > 1 && project->components.size() != a.size() - 1) {
      Print(L"project " + a[0] + L" has " + std::to_wstring(project->components.size()) + L" components");
      ok = false;
    }
    return ok;
  }
  if (is(L"expect-saved", 0)) {
    const auto project = ide->find_project(ide->active_project());
    return project && project->saved;
  }
  if (is(L"expect-setting", 3)) {
    // A value that VB's SaveSetting wrote: APP SECTION KEY [VALUE]
    const std::wstring key = L"Software\\VB and VBA Program Settings\\" + a[0] + L"\\" + a[1];
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), a[2].c_str(), RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
      Print(L"no setting " + a[2] + L" (REG_SZ) below HKCU\\" + key);
      return false;
    }
    Print(L"setting " + a[2] + L" = \"" + value + L"\"");
    return a.size() < 4 || a[3] == value;
  }
  if (is(L"mode", 1)) {
    // The IDE's mode, as Start, Break and End set it: design, run or break.
    const std::pair<const wchar_t*, standin::Mode> modes[] = {
        {L"design", standin::Mode::kDesign}, {L"run", standin::Mode::kRun}, {L"break", standin::Mode::kBreak}};
    for (const auto& [name, mode] : modes) {
      if (_wcsicmp(a[0].c_str(), name) != 0) continue;
      ide->set_mode(mode);
      SetWindowTextW(window, ide->caption().c_str());
      Print(L"caption: " + ide->caption());
      return true;
    }
    Print(L"no mode " + a[0]);
    return false;
  }
  if (is(L"expect-caption", 1)) {
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    Print(std::wstring(L"caption: ") + caption);
    return a[0] == caption;
  }
  if (is(L"variant", 1)) {
    // A way the real IDE may behave: first-window-hidden, unsaved-file-name-raises,
    // short-file-menu, before-only-a-control; "variant NAME off" turns it off.
    const bool on = a.size() < 2 || _wcsicmp(a[1].c_str(), L"off") != 0;
    const std::pair<const wchar_t*, standin::Variant> names[] = {
        {L"first-window-hidden", standin::Variant::kFirstWindowHidden},
        {L"unsaved-file-name-raises", standin::Variant::kUnsavedFileNameRaises},
        {L"short-file-menu", standin::Variant::kShortFileMenu},
        {L"before-only-a-control", standin::Variant::kBeforeOnlyAControl},
    };
    for (const auto& [name, variant] : names) {
      if (_wcsicmp(a[0].c_str(), name) != 0) continue;
      ide->set(variant, on);
      Print(L"variant " + a[0] + (on ? L" on" : L" off"));
      RebuildMenus();
      return true;
    }
    Print(L"no variant " + a[0]);
    return false;
  }
  if (is(L"new-project", 1)) {
    // File > New Project: a project never saved, with a form and a module.
    return edit(L"new project " + a[0], [&] {
      ide->project(a[0]).form(L"Form1").module(L"Module1").build();
      ide->set_active_project(a[0]);
    });
  }
  if (is(L"print", 0)) {
    std::wstring text;
    for (const auto& word : a) text += (text.empty() ? L"" : L" ") + word;
    Print(text);
    return true;
  }
  if (is(L"wait", 1)) {
    Sleep(static_cast<DWORD>(_wtoi(a[0].c_str())));
    return true;
  }
  if (is(L"crash", 1) && _wcsicmp(a[0].c_str(), L"addin") == 0) {
    // For testing the test run itself: a fault in a system DLL on a call from
    // Quarnel.dll's own code. Connected externally to an IDE whose texts are
    // broken, its form shows; its OK reads the IDE's FullName in the form's
    // window procedure, and the system's conversion of that text faults.
    Print(L"crashing on purpose, in the add-in");
    static BrokenIde broken;
    CLSID clsid{};
    _IDTExtensibility2* addin = nullptr;
    if (FAILED(CLSIDFromProgID(L"Quarnel.Connect", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__IDTExtensibility2,
                                reinterpret_cast<void**>(&addin)))) {
      return false;
    }
    quarnel::test::CustomArray custom;
    addin->OnConnection(&broken, ext_cm_External, nullptr, &custom.array);
    if (HWND ok = FindButton(L"Quarnel", L"OK")) SendMessageW(ok, BM_CLICK, 0, 0);
    return false;
  }
  if (is(L"crash", 0)) {
    // For testing the test run itself: a fault in the window procedure, where
    // an add-in's handlers run.
    Print(L"crashing on purpose");
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    return false;
  }
  Print(L"unknown step or missing arguments: " + k);
  return false;
}

}  // namespace ideapp
