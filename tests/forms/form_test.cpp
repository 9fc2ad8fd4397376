// The Default-folder form: its layout in pixels at the screen's twips per pixel,
// the button picture its load draws, and its three buttons.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/twips.h"
#include "forms/frmAddIn.h"
#include "texts/modAddin.h"
#include "standin/ide.h"
#include "support/dialog_driver.h"
#include "support/pixels.h"
#include "support/scripted_dialogs.h"
#include "support/test_window.h"

namespace quarnel {
namespace {

using test::Pixels;

std::uint32_t Rgb(COLORREF colour) {
  return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

class Form : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override {
    form.reset();
    frmAddIn::Default().Unload();
    sDefaultFolder.clear();
    CoUninitialize();
  }
  void Click(int id) { SendMessageW(GetDlgItem(form->hWnd(), id), BM_CLICK, 0, 0); }

  std::unique_ptr<frmAddIn> form = std::make_unique<frmAddIn>();
};

TEST_F(Form, LayoutInPixelsFollowsTheTwipsAtTheScreensRatio) {
  const auto [tx, ty] = ScreenTwipsPerPixel();
  HWND window = form->hWnd();
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, ToPixels(6030, tx));
  EXPECT_EQ(client.bottom, ToPixels(3195, ty));
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  EXPECT_STREQ(caption, L"Quarnel");
  EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);

  struct Expected {
    int id;
    const wchar_t* caption;
    int left, top, width, height;
  };
  // In tab order.
  const Expected controls[] = {
      {IDOK, L"OK", 4680, 120, 1215, 375},
      {IDCANCEL, L"Annulla", 4680, 600, 1215, 375},
      {frmAddIn::kPicture1, L"", 1200, 2730, 525, 345},
      {frmAddIn::kLabel1,
       L"Select the Default starting folder to saves yours Visual Basic projects", 270, 270, 2895,
       390},
      {frmAddIn::kLabel2, L"Label2", 270, 1500, 4185, 345},
      {frmAddIn::kBrowse, L"Browse...", 4680, 1380, 1215, 375},
  };
  HWND child = GetWindow(window, GW_CHILD);
  for (const Expected& c : controls) {
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), c.id) << "tab order";
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, ToPixels(c.left, tx)) << c.id;
    EXPECT_EQ(r.top, ToPixels(c.top, ty)) << c.id;
    EXPECT_EQ(r.right - r.left, ToPixels(c.width, tx)) << c.id;
    EXPECT_EQ(r.bottom - r.top, ToPixels(c.height, ty)) << c.id;
    wchar_t text[128] = {};
    GetWindowTextW(child, text, 128);
    EXPECT_STREQ(text, c.caption);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_FALSE(form->Visible()) << "loading does not show";
}

TEST_F(Form, DefaultInstanceLoadedForItsWindowDrawsTheFloppyOnButtonFace) {
  frmAddIn& shared = frmAddIn::Default();
  ASSERT_FALSE(shared.Loaded());
  ASSERT_NE(shared.hWnd(), nullptr);
  EXPECT_FALSE(shared.Visible());

  const auto pixels = Pixels(shared.Picture1());
  const std::uint32_t face = Rgb(GetSysColor(COLOR_BTNFACE));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(pixels[i], face) << "top margin";
    EXPECT_EQ(pixels[15 * 16 + i], face) << "bottom margin";
    EXPECT_EQ(pixels[i * 16], face) << "left margin";
    EXPECT_EQ(pixels[i * 16 + 15], face) << "right margin";
  }
  EXPECT_EQ(pixels[1 * 16 + 1], 0x808080u) << "grey outline";
  EXPECT_EQ(pixels[2 * 16 + 2], 0xFF8000u) << "orange body";
  EXPECT_EQ(pixels[2 * 16 + 4], 0xC0C0C0u) << "grey shutter";
  EXPECT_EQ(pixels[8 * 16 + 3], 0xFFFF00u) << "yellow label";
  EXPECT_EQ(pixels[9 * 16 + 4], 0xFF0000u) << "red marker";
}

TEST_F(Form, EveryLoadDrawsThePictureAgain) {
  HBITMAP first = form->Picture1();
  ASSERT_NE(first, nullptr);
  form->Unload();
  EXPECT_FALSE(form->Loaded());
  const auto pixels = Pixels(form->Picture1());
  EXPECT_TRUE(form->Loaded());
  EXPECT_EQ(pixels[2 * 16 + 2], 0xFF8000u);
}

TEST_F(Form, BrowseCancelledEmptiesTheDefaultFolder) {
  test::ScriptedDialogs dialogs;
  dialogs.documents = L"C:\\users\\me\\Documents";
  const ScopedDialogs in_force(dialogs);
  sDefaultFolder = L"C:\\Projects";

  Click(frmAddIn::kBrowse);  // cancelled
  ASSERT_EQ(dialogs.pickers.size(), 1u);
  EXPECT_EQ(dialogs.pickers[0].prompt, L"Seleziona la Cartella di destinazione:");
  EXPECT_EQ(dialogs.pickers[0].initial_folder, L"C:\\Projects");
  EXPECT_EQ(dialogs.pickers[0].flags, 0u);
  EXPECT_EQ(dialogs.pickers[0].owner, form->hWnd());
  EXPECT_EQ(sDefaultFolder, L"");

  dialogs.answers = {L"D:\\Chosen"};
  Click(frmAddIn::kBrowse);  // now from the documents folder
  EXPECT_EQ(dialogs.pickers.at(1).initial_folder, L"C:\\users\\me\\Documents");
  EXPECT_EQ(sDefaultFolder, L"D:\\Chosen");
}

TEST_F(Form, OkShowsTheIdesFullName) {
  standin::Ide ide;
  ide.set_full_name(L"C:\\VB98\\VB6.EXE");
  form->VBInstance = host::VBE::FromApplication(ide.application().Get());
  test::ScriptedDialogs dialogs;
  const ScopedDialogs in_force(dialogs);
  form->Show();
  Click(IDOK);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, L"Operazione di aggiunta su: C:\\VB98\\VB6.EXE");
  EXPECT_EQ(dialogs.messages[0].title, L"Quarnel");
  EXPECT_EQ(dialogs.messages[0].flags, static_cast<UINT>(MB_OK));
  EXPECT_TRUE(form->Visible()) << "the dialog stays open";
  form->VBInstance = host::VBE();
}

// Plays the Connect: its Hide clears the flag and hides the form.
struct FakeConnect final : FormOwner {
  explicit FakeConnect(frmAddIn& f) : form(f) {}
  void Hide() override {
    FormDisplayed = false;
    form.Hide();
  }
  frmAddIn& form;
  bool FormDisplayed = true;
};

TEST_F(Form, CancelHidesThroughItsConnectAndClosingDoesNot) {
  FakeConnect connect(*form);
  form->Connect = &connect;
  form->Show();
  ASSERT_TRUE(form->Visible());
  Click(IDCANCEL);
  EXPECT_FALSE(connect.FormDisplayed);
  EXPECT_FALSE(form->Visible());
  EXPECT_TRUE(form->Loaded()) << "hidden, not unloaded";

  connect.FormDisplayed = true;
  form->Show();
  SendMessageW(form->hWnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(form->Loaded());
  EXPECT_TRUE(connect.FormDisplayed);
  form->Connect = nullptr;
}

// --- The keyboard, through the IDE's own message loop ------------------------------

using test::Press;
using test::Pump;

TEST_F(Form, KeyboardFollowsTheTabOrderAndPressesButtonsWhileTheFormIsActive) {
  FakeConnect connect(*form);
  form->Connect = &connect;
  form->Show();
  Pump();
  HWND window = form->hWnd();
  auto focused = [&] { return GetDlgCtrlID(GetFocus()); };
  EXPECT_EQ(focused(), IDOK) << "the first control in tab order";
  Press(VK_TAB);
  EXPECT_EQ(focused(), IDCANCEL);
  Press(VK_TAB);
  EXPECT_EQ(focused(), frmAddIn::kPicture1);
  Press(VK_TAB);
  EXPECT_EQ(focused(), frmAddIn::kBrowse) << "the labels take no focus";
  Press(VK_TAB);
  EXPECT_EQ(focused(), IDOK);
  Press(VK_TAB, true);
  Press(VK_TAB, true);
  Press(VK_TAB, true);
  EXPECT_EQ(focused(), IDCANCEL);
  Press(VK_RETURN);
  EXPECT_FALSE(connect.FormDisplayed) << "Enter pressed Cancel";
  EXPECT_FALSE(form->Visible());

  connect.FormDisplayed = true;
  form->Show();
  Pump();
  Press(VK_TAB);
  ASSERT_EQ(focused(), IDCANCEL);
  Press(VK_SPACE);
  EXPECT_FALSE(connect.FormDisplayed) << "Space pressed Cancel";

  // Another window active (the IDE's): its keys reach it untouched.
  connect.FormDisplayed = true;
  form->Show();
  const unique_hwnd ide_window = test::TestWindow(L"IDE", 0, 0, 300, 200);
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 200, 100,
                              ide_window.get(), nullptr, nullptr, nullptr);
  SetForegroundWindow(ide_window.get());
  SetFocus(edit);
  Pump();
  Press('X');
  Press(VK_TAB);
  Press(VK_RETURN);
  wchar_t typed[16] = {};
  GetWindowTextW(edit, typed, 16);
  EXPECT_STREQ(typed, L"x\t\r\n");
  EXPECT_TRUE(connect.FormDisplayed);
  EXPECT_TRUE(IsWindowVisible(window));
  form->Connect = nullptr;
}

TEST_F(Form, FailingButtonShowsTheFailureInsteadOfTakingTheIdeDown) {
  // No Connect to hide through: the handler fails inside the window procedure,
  // where nothing may escape; the user sees why, and the form stays.
  form->Show();
  test::DialogDriver driver({
      test::ExpectMessageBox()
          .Title(L"Quarnel")
          .Text(L"Object variable or With block variable not set")
          .Icon(MB_ICONERROR)
          .Press(IDOK),
  });
  Click(IDCANCEL);
  ASSERT_TRUE(driver.Finish());
  EXPECT_TRUE(form->Visible());
}

}  // namespace
}  // namespace quarnel
