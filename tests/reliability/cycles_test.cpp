// Long use in one process: a thousand connections and a thousand clicks leave
// memory, handles and windows as they were; a clipboard held by another program
// while a command is installed is a skipped step, not a hang.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <thread>

#include "Quarnel_h.h"
#include "addin/Connect.h"
#include "addin/module.h"
#include "common/app.h"
#include "texts/modAddin.h"
#include "save/save_progress.h"
#include "standin/ide.h"
#include "support/process_usage.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"
#include "support/test_window.h"

namespace quarnel {
namespace {

using test::DescribeChange;
using test::MeasureProcess;
using test::ProcessUsage;

// Growth allowed over a thousand rounds: far below what one leaked block, window,
// bitmap or object per round would cost.
constexpr size_t kHeapNoise = 64 * 1024;
constexpr size_t kPrivateNoise = 512 * 1024;  // memory is committed 64 KB at a time

size_t Grown(size_t before, size_t after) { return after > before ? after - before : 0; }

// Wine keeps about 1 KB of heap each time a program reads a bitmap from the
// clipboard (GetClipboardData with CF_BITMAP), and the IDE reads the button
// picture of each new command that way. This is what `reads` such trips cost
// with no add-in at all: a 16 x 16 bitmap put by one window, read by the IDE's way.
size_t WineClipboardReadsGrowth(int reads) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  const auto trip = [owner] {
    HDC screen = GetDC(nullptr);
    HBITMAP picture = CreateCompatibleBitmap(screen, 16, 16);
    ReleaseDC(nullptr, screen);
    if (!OpenClipboard(owner)) {
      DeleteObject(picture);
      return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_BITMAP, picture)) DeleteObject(picture);
    CloseClipboard();
    if (!OpenClipboard(nullptr)) return;
    BITMAP info{};
    GetObjectW(GetClipboardData(CF_BITMAP), sizeof info, &info);
    CloseClipboard();
  };
  for (int i = 0; i < 20; ++i) trip();
  const size_t before = test::HeapBytes();
  for (int i = 0; i < reads; ++i) trip();
  const size_t after = test::HeapBytes();
  if (OpenClipboard(owner)) {
    EmptyClipboard();
    CloseClipboard();
  }
  DestroyWindow(owner);
  return Grown(before, after);
}

void ExpectNothingLeftBehind(const char* what, const ProcessUsage& before, const ProcessUsage& after,
                             size_t wine_heap_growth = 0) {
  std::printf("[ usage    ] %s: %s; Wine's own growth: %llu heap bytes\n", what,
              DescribeChange(before, after).c_str(), static_cast<unsigned long long>(wine_heap_growth));
  EXPECT_LE(Grown(before.heap_bytes, after.heap_bytes), wine_heap_growth + kHeapNoise);
  EXPECT_LE(Grown(before.private_bytes, after.private_bytes), wine_heap_growth + kPrivateNoise);
  EXPECT_LE(after.kernel_handles, before.kernel_handles);
  EXPECT_EQ(after.gdi_objects, before.gdi_objects);
  EXPECT_EQ(after.windows, before.windows);
}

class LongUse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    test::WriteBytes(SettingsPath(), "[FOLDER]\r\nDefaultFolder=C:\\Projects\r\n");
  }
  void TearDown() override {
    oIni.reset();
    sDefaultFolder.clear();
    EXPECT_EQ(standin::LiveObjects(), 0);
    EXPECT_EQ(ModuleCount(), 0);
    test::RemoveTree(SettingsPath());
    CoUninitialize();
  }
  static std::wstring SettingsPath() { return AppPath() + L"\\Quarnel.ini"; }

  static com_ptr<_IDTExtensibility2> Connected(standin::Ide& ide) {
    com_ptr<_IDTExtensibility2> addin;
    EXPECT_EQ(Connect::Create(IID__IDTExtensibility2, &addin), S_OK);
    SAFEARRAY* custom = nullptr;
    addin->OnConnection(ide.application().Get(), ext_cm_AfterStartup, nullptr, &custom);
    return addin;
  }
  static void Disconnected(com_ptr<_IDTExtensibility2>& addin) {
    SAFEARRAY* custom = nullptr;
    addin->OnDisconnection(ext_dm_UserClosed, &custom);
    addin.Reset();
  }

  test::ScriptedDialogs dialogs;
  const ScopedDialogs in_force{dialogs};
};

TEST_F(LongUse, ThousandConnectionsLeaveNothingBehind) {
  standin::Ide ide;
  const auto round = [&] {
    auto addin = Connected(ide);
    Disconnected(addin);
    ide.clear_calls();  // the stand-in's own record grows otherwise
  };
  for (int i = 0; i < 20; ++i) round();  // caches and pools settle
  const ProcessUsage before = MeasureProcess();
  for (int i = 0; i < 1000; ++i) round();
  const ProcessUsage after = MeasureProcess();
  // One picture read per connection.
  ExpectNothingLeftBehind("1000 connections", before, after, WineClipboardReadsGrowth(1000));
  EXPECT_EQ(ide.controls(L"File").size(), 13u) << "every command was deleted again";
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(LongUse, ThousandClicksLeaveNothingBehind) {
  const test::TempFolder destination;
  // Every save shows its progress window, as a long one does.
  SetProgressDelay(0);
  const auto delay = scope_exit([] { SetProgressDelay(500); });
  standin::Ide ide;
  ide.project(L"Project1").form(L"Form1").module(L"Module1").cls(L"Class1").build();
  auto addin = Connected(ide);
  // Each click: the settings read, the destination picker, the form loaded and
  // unloaded as its owner, one changed module and the project saved with the
  // progress window, the focus steps; every fourth click the picker is
  // cancelled instead.
  size_t pickers = 0;
  int round = 0;
  const auto click = [&] {
    const bool cancelled = ++round % 4 == 0;
    ide.change(L"Project1", L"Module1");
    if (!cancelled) dialogs.answers = {destination.path()};
    EXPECT_EQ(ide.click(L"File", 7).result, S_OK);
    EXPECT_EQ(ide.find_project(L"Project1")->saved, !cancelled);
    test::Pump();  // the IDE's loop, between two clicks
    // The records of the stand-in and of the scripted dialogs grow otherwise.
    ide.clear_calls();
    pickers += dialogs.pickers.size();
    dialogs.pickers.clear();
    dialogs.sequence.clear();
  };
  {
    // Another program's window over the middle of the screen, where the
    // progress window shows: the first time a window of the process is drawn
    // partly covered, Wine makes GDI objects of its own that it keeps (seen: 6
    // more, once, when another test program's window was there). Here they are
    // made before the counting.
    RECT screen{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    const int x = (screen.left + screen.right) / 2, y = (screen.top + screen.bottom) / 2;
    const unique_hwnd over = test::TestWindow(L"another program", x - 300, y - 40, 300, 80);
    SetWindowPos(over.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (int i = 0; i < 20; ++i) click();
  }
  const ProcessUsage before = MeasureProcess();
  for (int i = 0; i < 1000; ++i) click();
  const ProcessUsage after = MeasureProcess();
  ExpectNothingLeftBehind("1000 clicks", before, after);
  EXPECT_EQ(pickers, 1020u);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(test::FileExists(destination / L"Module1.bas"));
  Disconnected(addin);
}

// Another "program": a thread with a window of its own holds the clipboard open
// for `hold_ms`, or until it is let go.
class ClipboardHolder {
 public:
  explicit ClipboardHolder(DWORD hold_ms) {
    thread_ = std::thread([this, hold_ms] {
      HWND window = CreateWindowW(L"STATIC", L"holder", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
      const BOOL held = OpenClipboard(window);
      SetEvent(opened_);
      WaitForSingleObject(release_, hold_ms);
      if (held) CloseClipboard();
      DestroyWindow(window);
    });
    WaitForSingleObject(opened_, 10000);
  }
  ~ClipboardHolder() {
    SetEvent(release_);
    thread_.join();
    CloseHandle(opened_);
    CloseHandle(release_);
  }

 private:
  HANDLE opened_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread thread_;
};

// Held for 300 ms from just before the connection, which reaches the clipboard
// within a few milliseconds (the first connection of the process, slower, is
// made before, and its picture taken off the clipboard): the picture waits.
TEST_F(LongUse, ClipboardHeldForAMomentStillGivesThePicture) {
  standin::Ide ide;
  auto warm = Connected(ide);
  Disconnected(warm);
  ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
  const ClipboardHolder holder(300);
  auto addin = Connected(ide);
  const auto controls = ide.controls(L"File");
  ASSERT_EQ(controls.size(), 14u);
  EXPECT_TRUE(controls[6].face.has_value()) << "the picture waits for the clipboard";
  Disconnected(addin);
}

TEST_F(LongUse, ClipboardHeldByAnotherProgramSkipsThePictureAndNothingHangs) {
  std::optional<ClipboardHolder> holder(std::in_place, 30000);
  standin::Ide ide;
  auto addin = Connected(ide);
  const auto controls = ide.controls(L"File");
  ASSERT_EQ(controls.size(), 14u) << "the command is installed all the same";
  EXPECT_EQ(controls[6].caption, L"Quarnel...");
  EXPECT_FALSE(controls[6].face.has_value()) << "no picture could travel";
  EXPECT_TRUE(dialogs.messages.empty()) << "a skipped step says nothing";
  EXPECT_EQ(ide.click(L"File", 7).sinks, 1) << "and its click is wired";
  holder.reset();
  Disconnected(addin);
}

}  // namespace
}  // namespace quarnel
