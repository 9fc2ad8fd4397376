#include "support/test_window.h"

#include <memory>
#include <stdexcept>

namespace quarnel::test {

unique_hwnd TestWindow(const wchar_t* title, int x, int y, int width, int height) {
  // The predefined static class needs no registration and draws nothing of note.
  unique_hwnd window(CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y,
                                     width, height, nullptr, nullptr, GetModuleHandleW(nullptr),
                                     nullptr));
  if (!window) throw std::runtime_error("cannot make a test window");
  return window;
}

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Press(WORD key, bool shift) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD vk, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  if (shift) add(VK_SHIFT, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  Sleep(50);
  Pump();
}

void MoveMouse(int x, int y) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
  Sleep(20);
  Pump();
}

namespace {

struct Job {
  std::function<void()> work;
  unique_handle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

LRESULT CALLBACK RunJob(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_APP) return DefWindowProcW(window, message, wparam, lparam);
  const std::unique_ptr<std::shared_ptr<Job>> job(reinterpret_cast<std::shared_ptr<Job>*>(lparam));
  (*job)->work();
  SetEvent((*job)->done.get());
  return 0;
}

struct WindowSearch {
  const wchar_t* class_name;
  HWND found = nullptr;
};

BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM lparam) {
  auto& search = *reinterpret_cast<WindowSearch*>(lparam);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsOfClass(window, search.class_name)) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

bool IsOfClass(HWND window, const wchar_t* class_name) {
  wchar_t name[64] = {};
  return GetClassNameW(window, name, 64) && _wcsicmp(name, class_name) == 0;
}

HWND FindOwnWindow(const wchar_t* class_name) {
  WindowSearch search{class_name};
  EnumWindows(MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

UiThread::UiThread() {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = RunJob;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuarnelTestUiThread";
    return RegisterClassW(&wc);
  }();
  window_.reset(CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr));
  if (!window_) throw std::runtime_error("cannot make the UI thread's window");
}

bool UiThread::Run(std::function<void()> work, DWORD timeout_ms) {
  // Shared with the UI thread, which may still run it after a time-out here.
  auto job = std::make_shared<Job>();
  job->work = std::move(work);
  auto* posted = new std::shared_ptr<Job>(job);
  if (!PostMessageW(window_.get(), WM_APP, 0, reinterpret_cast<LPARAM>(posted))) {
    delete posted;
    return false;
  }
  return WaitForSingleObject(job->done.get(), timeout_ms) == WAIT_OBJECT_0;
}

}  // namespace quarnel::test
