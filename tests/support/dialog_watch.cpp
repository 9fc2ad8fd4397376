#include "support/dialog_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

namespace quarnel::test {
namespace {

struct Open {
  std::map<HWND, ULONGLONG>* since;
  ULONGLONG now;
  std::map<HWND, ULONGLONG> seen;
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
  auto& open = *reinterpret_cast<Open*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && wcscmp(name, L"#32770") == 0) {
    const auto found = open.since->find(window);
    open.seen[window] = found == open.since->end() ? open.now : found->second;
  }
  return TRUE;
}

std::string Describe(HWND dialog) {
  wchar_t title[256] = {}, text[512] = {};
  GetWindowTextW(dialog, title, 256);
  GetDlgItemTextW(dialog, 0xFFFF, text, 512);  // a message box's text
  std::wstring all = std::wstring(L"\"") + title + L"\" " + text;
  std::string out;
  for (wchar_t c : all) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

class Watch final : public ::testing::Environment {
 public:
  void SetUp() override {
    thread_ = std::thread([this] {
      std::map<HWND, ULONGLONG> since;
      while (!stop_) {
        Open open{&since, GetTickCount64(), {}};
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&open));
        since = std::move(open.seen);
        for (const auto& [dialog, first] : since) {
          if (open.now - first < kUnansweredLimitMs) continue;
          ADD_FAILURE() << "a dialog stayed open unanswered for " << kUnansweredLimitMs / 1000
                        << " s, and was closed: " << Describe(dialog);
          PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
          PostMessageW(dialog, WM_CLOSE, 0, 0);
          since[dialog] = open.now;  // reported once per limit
        }
        Sleep(250);
      }
    });
  }
  void TearDown() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

void WatchForUnansweredDialogs() { ::testing::AddGlobalTestEnvironment(new Watch); }

}  // namespace quarnel::test
