// The stand-in IDE as a program: a main window whose menu bar shows the stand-in
// IDE's "File" and "Tools" command bars, a list of the active project's components,
// add-ins found and connected as the Visual Basic 6.0 IDE does it, and a script
// runner that drives all of it without a person (see docs/development.md, "The stand-in IDE"
// and "Its command line and scripts").
//
//   quarnel_ide.exe [--script FILE] [--output FOLDER] [PROJECT.vbp]
//   quarnel_ide.exe --register-typelibs
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Quarnel_h.h"
#include "common/app.h"
#include "script.h"
#include "standin/ide.h"
#include "support/crash_report.h"
#include "support/custom_array.h"

using namespace ideapp;
using quarnel::test::CustomArray;

namespace {

constexpr wchar_t kClassName[] = L"QuarnelStandInIde";
constexpr UINT kRunScript = WM_APP + 1;
constexpr UINT kBarCommandBase = 1000;  // + 100 * bar + position
constexpr UINT kOpenProject = 900;
constexpr UINT kChangeComponent = 901;
constexpr UINT kAddinBase = 950;  // + index of the add-in
constexpr wchar_t kAddinsKey[] = L"Software\\Microsoft\\Visual Basic\\6.0\\Addins";

const wchar_t* const kBars[] = {L"File", L"Tools"};

App* g_app = nullptr;

// The dialogs that open after the IDE's exit (a message box of an add-in that
// went on), by their titles.
std::vector<std::wstring> dialogs_after_exit;

LRESULT CALLBACK WatchDialogs(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND) {
    const CREATESTRUCTW& window = *reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs;
    const bool dialog = IS_INTRESOURCE(window.lpszClass) ? LOWORD(reinterpret_cast<ULONG_PTR>(window.lpszClass)) == 32770
                                                         : lstrcmpiW(window.lpszClass, L"#32770") == 0;
    if (dialog) dialogs_after_exit.push_back(window.lpszName ? window.lpszName : L"");
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

std::wstring RegString(HKEY key, const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
  return value;
}

// A command bar's button face as a menu item bitmap (32 bits, top-down).
HBITMAP FaceBitmap(const standin::Face& face) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = face.width;
  info.bmiHeader.biHeight = -face.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) memcpy(bits, face.pixels.data(), face.pixels.size() * sizeof(std::uint32_t));
  return bitmap;
}

}  // namespace

namespace ideapp {

void App::Print(const std::wstring& line) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, text.data(), n, nullptr, nullptr);
  fprintf(stdout, "%s\n", text.c_str());
  fflush(stdout);
}

void App::FindAddins() {
  HKEY root = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kAddinsKey, 0, KEY_READ, &root) != ERROR_SUCCESS) return;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(root, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    Addin addin;
    addin.prog_id = name;
    addin.friendly_name = RegString(key, L"FriendlyName");
    addin.description = RegString(key, L"Description");
    DWORD behavior = 0;
    DWORD size = sizeof behavior;
    if (RegGetValueW(key, nullptr, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &behavior, &size) == ERROR_SUCCESS) {
      addin.load_behavior = behavior;
    }
    RegCloseKey(key);
    if (addin.friendly_name.empty()) addin.friendly_name = addin.prog_id;
    addins.push_back(std::move(addin));
  }
  RegCloseKey(root);
}

bool App::Connect(Addin& addin, long mode) {
  if (addin.instance) return true;
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(addin.prog_id.c_str(), &clsid);
  _IDTExtensibility2* instance = nullptr;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__IDTExtensibility2,
                          reinterpret_cast<void**>(&instance));
  }
  if (FAILED(hr)) {
    Print(L"add-in " + addin.prog_id + L": cannot be created (" + Hex(hr) + L")");
    return false;
  }
  wchar_t guid[40] = {};
  StringFromGUID2(clsid, guid, 40);
  CustomArray custom;
  hr = instance->OnConnection(ide->application().Get(), static_cast<ext_ConnectMode>(mode),
                              ide->addin(addin.prog_id, addin.description, guid).Get(), &custom.array);
  if (FAILED(hr)) {
    Print(L"add-in " + addin.prog_id + L": OnConnection failed (" + Hex(hr) + L")");
    instance->Release();
    return false;
  }
  addin.instance = instance;
  addin.at_startup = mode == 1;  // ext_cm_Startup
  // Its DLL, to see at the end that it could be unloaded.
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH] = {};
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         *reinterpret_cast<LPCWSTR*>(instance), &module) &&
      GetModuleFileNameW(module, path, MAX_PATH)) {
    addin.module_path = path;
  }
  ide->set_addin_connected(addin.prog_id, true);
  Print(L"add-in connected: " + addin.prog_id + L" (" + addin.friendly_name + L")");
  RebuildMenus();
  return true;
}

void App::Disconnect(Addin& addin, long mode) {
  if (!addin.instance) return;
  CustomArray custom;
  const HRESULT hr = addin.instance->OnDisconnection(static_cast<ext_DisconnectMode>(mode), &custom.array);
  addin.instance->Release();
  addin.instance = nullptr;
  ide->set_addin_connected(addin.prog_id, false);
  Print(L"add-in disconnected: " + addin.prog_id + (FAILED(hr) ? L" (OnDisconnection: " + Hex(hr) + L")" : L""));
  RebuildMenus();
}

void App::StartUp(const std::wstring& project_path) {
  FindAddins();
  for (auto& addin : addins) {
    Print(L"add-in found: " + addin.prog_id + L" \"" + addin.friendly_name + L"\" - " + addin.description +
          L" (LoadBehavior " + std::to_wstring(addin.load_behavior) + L")");
    if (addin.load_behavior & 1) Connect(addin, 1);  // ext_cm_Startup, with no project open
  }
  if (!project_path.empty()) OpenProject(project_path);
  for (auto& addin : addins) {
    if (!addin.instance || !addin.at_startup) continue;
    CustomArray custom;
    const HRESULT hr = addin.instance->OnStartupComplete(&custom.array);
    Print(L"start-up complete: " + addin.prog_id + (FAILED(hr) ? L" (OnStartupComplete: " + Hex(hr) + L")" : L""));
  }
  RebuildMenus();
}

void App::ShutDown() {
  if (shut_down_) return;
  shut_down_ = true;
  for (auto& addin : addins) {
    if (!addin.instance) continue;
    CustomArray custom;
    const HRESULT hr = addin.instance->OnBeginShutdown(&custom.array);
    if (FAILED(hr)) Print(L"add-in " + addin.prog_id + L": OnBeginShutdown failed (" + Hex(hr) + L")");
  }
  for (auto& addin : addins) {
    if (!addin.instance) continue;
    CustomArray custom;
    const HRESULT hr = addin.instance->OnDisconnection(ext_dm_HostShutdown, &custom.array);
    if (FAILED(hr)) Print(L"add-in " + addin.prog_id + L": OnDisconnection failed (" + Hex(hr) + L")");
  }
  // The IDE's objects die now: an add-in must hold none of them, nor any event
  // connection, and must call none of them afterwards (AfterExit).
  const standin::Leftovers left = ide->shut_down();
  ide->clear_calls();
  for (auto& addin : addins) {
    if (!addin.instance) continue;
    addin.instance->Release();
    addin.instance = nullptr;
    Print(L"add-in disconnected at exit: " + addin.prog_id);
  }
  PrintAtExit(left.text());
  Print(left.empty() ? L"at exit: nothing of the IDE is held" : L"at exit: the IDE was not let go");
  if (!left.empty() && exit_code == 0) exit_code = 3;
  dialogs_watch_ = SetWindowsHookExW(WH_CBT, WatchDialogs, nullptr, GetCurrentThreadId());
}

void App::AfterExit() {
  // An exit that came while an add-in's dialog was open ends the program only
  // when the add-in's call returns: what it did meanwhile counts too.
  std::wstring text;
  for (const auto& call : ide->calls()) text += L"called after the IDE shut down: " + call.text() + L"\n";
  if (dialogs_watch_) UnhookWindowsHookEx(std::exchange(dialogs_watch_, nullptr));
  for (const auto& title : dialogs_after_exit) {
    text += L"a dialog opened after the IDE shut down" + (title.empty() ? L"" : L": " + title) + L"\n";
  }
  // Released by the IDE, an add-in's DLL goes when COM may unload it: a window,
  // a hook or an object of it left behind keeps it.
  CoFreeUnusedLibraries();
  for (const auto& addin : addins) {
    if (!addin.module_path.empty() && GetModuleHandleW(addin.module_path.c_str())) {
      text += L"still loaded: " + addin.module_path + L"\n";
    }
  }
  PrintAtExit(text);
  Print(text.empty() ? L"after exit: nothing of the IDE was called, no dialog opened, no add-in is left"
                     : L"after exit: an add-in went on");
  if (!text.empty() && exit_code == 0) exit_code = 3;
}

void App::PrintAtExit(const std::wstring& text) {
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find(L'\n', start);
    Print(L"at exit, " + text.substr(start, end - start));
    start = end == std::wstring::npos ? text.size() : end + 1;
  }
}

Addin* App::FindAddin(const std::wstring& prog_id) {
  for (auto& addin : addins) {
    if (_wcsicmp(addin.prog_id.c_str(), prog_id.c_str()) == 0) return &addin;
  }
  return nullptr;
}

void App::RebuildMenus() {
  if (!window) return;
  HMENU bar = CreateMenu();
  for (HBITMAP bitmap : bitmaps_) DeleteObject(bitmap);
  bitmaps_.clear();
  for (UINT b = 0; b < 2; ++b) {
    HMENU popup = CreatePopupMenu();
    const auto controls = ide->controls(kBars[b]);
    for (size_t i = 0; i < controls.size(); ++i) {
      const UINT id = kBarCommandBase + 100 * b + static_cast<UINT>(i) + 1;
      AppendMenuW(popup, MF_STRING, id, controls[i].caption.c_str());
      if (controls[i].face && controls[i].face->width > 0) {
        HBITMAP bitmap = FaceBitmap(*controls[i].face);
        bitmaps_.push_back(bitmap);
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_BITMAP;
        item.hbmpItem = bitmap;
        SetMenuItemInfoW(popup, id, FALSE, &item);
      }
    }
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), b == 0 ? L"&File" : L"&Tools");
  }
  HMENU project = CreatePopupMenu();
  AppendMenuW(project, MF_STRING, kOpenProject, L"&Open Project...");
  AppendMenuW(project, MF_STRING, kChangeComponent, L"&Change Selected Component");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(project), L"&Project");
  // The add-in manager: each add-in by name and description, checked when connected.
  HMENU manager = CreatePopupMenu();
  for (size_t i = 0; i < addins.size(); ++i) {
    const std::wstring text = addins[i].friendly_name + L"\t" + addins[i].description;
    AppendMenuW(manager, MF_STRING | (addins[i].instance ? MF_CHECKED : 0), kAddinBase + i, text.c_str());
  }
  if (addins.empty()) AppendMenuW(manager, MF_STRING | MF_GRAYED, 0, L"(no add-ins registered)");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(manager), L"&Add-Ins");
  HMENU old = GetMenu(window);
  SetMenu(window, bar);
  if (old) DestroyMenu(old);
  DrawMenuBar(window);
  RefreshTree();
}

void App::RefreshTree() {
  if (!tree) return;
  SendMessageW(tree, LB_RESETCONTENT, 0, 0);
  tree_items_.clear();
  const auto project = ide->find_project(ide->active_project());
  if (!project) return;
  const std::wstring head = project->name + L" (" + (project->file_name.empty() ? project->name : project->file_name) +
                            L")" + (project->saved ? L"" : L" *");
  SendMessageW(tree, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(head.c_str()));
  tree_items_.push_back(L"");
  for (const auto& component : project->components) {
    const std::wstring line = L"    " + KindName(component.type) + L" " + component.name +
                              (component.file_name.empty() ? L"" : L" (" + component.file_name + L")") +
                              (component.dirty ? L" *" : L"");
    SendMessageW(tree, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    tree_items_.push_back(component.name);
  }
}

std::wstring App::SelectedComponent() const {
  const LRESULT index = SendMessageW(tree, LB_GETCURSEL, 0, 0);
  if (index < 0 || static_cast<size_t>(index) >= tree_items_.size()) return {};
  return tree_items_[static_cast<size_t>(index)];
}

LRESULT CALLBACK App::WatchInput(int code, WPARAM removed, LPARAM lparam) {
  const MSG& m = *reinterpret_cast<MSG*>(lparam);
  if (code == HC_ACTION && removed == PM_REMOVE && g_app && (m.message == WM_KEYDOWN || m.message == WM_LBUTTONDOWN)) {
    ++(g_app->clicking_ ? g_app->input_during_click_ : g_app->input_after_click_);
  }
  return CallNextHookEx(nullptr, code, removed, lparam);
}

standin::ClickResult App::Click(const std::wstring& bar, int position) {
  if (!input_watch_) input_watch_ = SetWindowsHookExW(WH_GETMESSAGE, WatchInput, nullptr, GetCurrentThreadId());
  clicking_ = true;
  auto result = ide->click(bar, position);
  clicking_ = false;
  RefreshTree();
  return result;
}

}  // namespace ideapp

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  App& app = *g_app;
  switch (message) {
    case WM_CREATE:
      app.tree = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", nullptr,
                                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, 0, 0, 0, 0,
                                 window, nullptr, nullptr, nullptr);
      SendMessageW(app.tree, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
      return 0;
    case WM_SIZE:
      MoveWindow(app.tree, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      return 0;
    case WM_COMMAND: {
      const UINT id = LOWORD(wparam);
      if (id >= kBarCommandBase && id < kBarCommandBase + 200) {
        const UINT b = (id - kBarCommandBase) / 100;
        const int position = static_cast<int>((id - kBarCommandBase) % 100);
        const auto result = app.Click(kBars[b], position);
        if (FAILED(result.result)) App::Print(L"click failed: " + result.description);
      } else if (id == kOpenProject) {
        wchar_t path[MAX_PATH] = {};
        OPENFILENAMEW open{};
        open.lStructSize = sizeof open;
        open.hwndOwner = window;
        open.lpstrFilter = L"Visual Basic projects (*.vbp)\0*.vbp\0";
        open.lpstrFile = path;
        open.nMaxFile = MAX_PATH;
        open.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
        if (GetOpenFileNameW(&open)) app.OpenProject(path);
      } else if (id == kChangeComponent) {
        const std::wstring name = app.SelectedComponent();
        if (!name.empty()) app.Change(name, L"");
      } else if (id >= kAddinBase && id < kAddinBase + app.addins.size()) {
        auto& addin = app.addins[id - kAddinBase];
        if (addin.instance) {
          app.Disconnect(addin, 1);  // ext_dm_UserClosed
        } else {
          app.Connect(addin, 0);  // ext_cm_AfterStartup
        }
      }
      return 0;
    }
    case kRunScript: {
      // At the script's end the user closes the IDE (unless a step did).
      const int script = app.RunScript();
      if (script != 0 && app.exit_code == 0) app.exit_code = script;
      if (app.window) PostMessageW(app.window, WM_CLOSE, 0, 0);
      return 0;
    }
    case kRunStepMessage:
      return app.RunMeanwhile(*reinterpret_cast<const Step*>(lparam)) ? 1 : 0;
    case WM_CLOSE:
      app.ShutDown();
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      // Its loop may be a dialog's of an add-in: the program's own ends after it.
      app.window = nullptr;
      app.tree = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

// The IDE's type libraries, registered as the IDE's setup does: add-ins' own
// libraries refer to them.
int RegisterTypeLibraries() {
  int failures = 0;
  for (const wchar_t* name : {L"MSO.DLL", L"VB6EXT.OLB"}) {
    std::wstring path = quarnel::AppPath() + L"\\" + name;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (SUCCEEDED(hr)) {
      hr = RegisterTypeLib(library, path.data(), nullptr);
      library->Release();
    }
    App::Print(std::wstring(SUCCEEDED(hr) ? L"registered " : L"cannot register ") + path);
    if (FAILED(hr)) ++failures;
  }
  return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // A crash ends the program at once with a report and a failing exit status.
  quarnel::test::ReportCrashes();
  std::wstring script_path, project_path;
  App app;
  g_app = &app;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--register-typelibs") return RegisterTypeLibraries();
    if (arg == L"--script" && i + 1 < argc) {
      script_path = argv[++i];
    } else if (arg == L"--output" && i + 1 < argc) {
      app.output = argv[++i];
    } else {
      project_path = arg;
    }
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int code = 0;
  {
    std::vector<Step> steps;
    if (!script_path.empty()) {
      std::wstring error;
      if (!ReadScript(script_path, steps, error)) {
        App::Print(L"script: " + error);
        CoUninitialize();
        return 2;
      }
    }
    app.ide = std::make_unique<standin::Ide>();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
    app.window = CreateWindowExW(0, kClassName, L"Microsoft Visual Basic [design]", WS_OVERLAPPEDWINDOW, 40, 40,
                                 720, 480, nullptr, nullptr, wc.hInstance, nullptr);
    app.StartUp(project_path);
    ShowWindow(app.window, SW_SHOW);
    UpdateWindow(app.window);
    app.steps = std::move(steps);
    if (!script_path.empty()) PostMessageW(app.window, kRunScript, 0, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    app.ShutDown();  // when the loop ended without the window's closing
    app.AfterExit();
    code = app.exit_code;
    if (app.window) DestroyWindow(app.window);
    app.ide.reset();
  }
  CoUninitialize();
  return code;
}
