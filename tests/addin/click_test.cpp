// A click on the add-in's File-menu command, raised by the stand-in IDE on its
// event object, runs the project save command inside Quarnel.dll, with the real
// dialogs under the test display answered by the dialog driver.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "addin/addin_dll.h"
#include "forms/frmAddIn.h"
#include "support/test_window.h"

namespace quarnel::test {
namespace {

// A folder on the test drive that the build makes and only this program writes
// into: the folder browser walks to it undisturbed.
constexpr wchar_t kDestination[] = L"D:\\connect\\Destination";

class MenuClick : public AddinTest {
 protected:
  explicit MenuClick(AddinDll::Loader loader = AddinDll::Loader::kLibrary) : AddinTest(loader) {}
  void SetUp() override {
    AddinTest::SetUp();
    EmptyDestination();
  }
  void TearDown() override {
    EmptyDestination();
    AddinTest::TearDown();
  }
  static void EmptyDestination() {
    for (const wchar_t* name : {L"Form1.frm", L"Module1.bas", L"Project1.vbp", L"Form2.frm", L"Other.vbp"}) {
      RemoveTree(std::wstring(kDestination) + L"\\" + name);
    }
  }
  void StoreDefaultFolder(const std::wstring& folder) {
    WriteBytes(SettingsPath(), "[FOLDER]\r\nDefaultFolder=" + std::string(folder.begin(), folder.end()) + "\r\n");
  }
  static bool Written(const wchar_t* name) { return FileExists(std::wstring(kDestination) + L"\\" + name); }

  // A click whose destination browser is answered with kDestination, after the
  // user has done `meanwhile` in the IDE (on its thread, as the browser's loop
  // runs it) while the browser was open.
  standin::ClickResult ClickWhileTheBrowserIsOpen(std::function<void()> meanwhile,
                                                 std::vector<DialogStep> after = {}) {
    StoreDefaultFolder(kDestination);
    std::vector<DialogStep> steps{ExpectFolderBrowser().Choose(kDestination).Press(IDOK).WhileOpen(
        [this, meanwhile](HWND) { EXPECT_TRUE(ui.Run(meanwhile)) << "the IDE was not usable"; })};
    for (auto& step : after) steps.push_back(std::move(step));
    ExpectDialogs(std::move(steps));
    const auto click = ide->click(L"File", 7);
    EXPECT_TRUE(driver->Finish());
    return click;
  }

  UiThread ui;
};

TEST_F(MenuClick, SavedProjectGetsTheRealAlreadySavedBox) {
  StoreDefaultFolder(L"C:\\Projects");
  ide->project(L"Project1").saved_as(L"C:\\Work\\Project1.vbp").form(L"Form1").clean().build();
  Connect(addin.Get(), 1);
  ExpectDialogs({ExpectMessageBox()
                     .Text(L"Project already saved.")
                     .Title(L"Quarnel")
                     .Icon(MB_ICONASTERISK)
                     .Press(IDOK)});
  const auto click = ide->click(L"File", 7);
  EXPECT_TRUE(driver->Finish());
  EXPECT_EQ(click.sinks, 1);
  EXPECT_EQ(click.result, S_OK);
  EXPECT_FALSE(click.handled);
  EXPECT_FALSE(click.cancel_default);
  ExpectDialogs({ExpectMessageBox().Text(L"Project already saved.").Press(IDOK)});
  const auto set = ide->click(L"File", 7, true, true);
  EXPECT_TRUE(driver->Finish());
  EXPECT_TRUE(set.handled && set.cancel_default) << "the flags come back as they came";
  EXPECT_EQ(ide->count(L"_VBProject.SaveAs"), 0u);
  Disconnect(addin.Get());
}

TEST_F(MenuClick, ChosenFolderGetsTheChangedComponentsAndTheProjectFile) {
  StoreDefaultFolder(kDestination);
  ide->project(L"Project1").form(L"Form1").code(L"Option Explicit").module(L"Module1").build();
  Connect(addin.Get(), 1);
  ExpectDialogs({ExpectFolderBrowser().Selected(kDestination).Choose(kDestination).Press(IDOK)});
  const auto click = ide->click(L"File", 7);
  EXPECT_TRUE(driver->Finish());
  EXPECT_EQ(click.result, S_OK) << Utf8(click.description);
  const std::wstring folder = kDestination;
  EXPECT_TRUE(FileExists(folder + L"\\Form1.frm"));
  EXPECT_TRUE(FileExists(folder + L"\\Module1.bas"));
  EXPECT_TRUE(FileExists(folder + L"\\Project1.vbp"));
  const auto project = ide->find_project(L"Project1");
  ASSERT_TRUE(project.has_value());
  EXPECT_EQ(project->file_name, folder + L"\\Project1.vbp");
  ExitTheIde();
}

TEST_F(MenuClick, HostFailureInTheCommandIsShownAndIsTheClicksResult) {
  StoreDefaultFolder(L"C:\\Projects");
  ide->project(L"Project1").build();
  Connect(addin.Get(), 1);
  ide->fail({.description = L"The project is gone", .operation = L"_VBProject.Saved"});
  ExpectDialogs({ExpectMessageBox().Text(L"The project is gone").Title(L"Quarnel").Icon(MB_ICONHAND).Press(IDOK)});
  const auto click = ide->click(L"File", 7);
  EXPECT_TRUE(driver->Finish());
  EXPECT_EQ(click.sinks, 1);
  EXPECT_EQ(click.result, DISP_E_EXCEPTION);
  EXPECT_EQ(click.description, L"The project is gone");
  EXPECT_TRUE(FAILED(click.code));
  Disconnect(addin.Get());
}

// First use with the documents folder, cancelled: the shared form stayed
// loaded as the browser's owner, and goes with the last Connect.
TEST_F(MenuClick, FirstUseCancelledAndTheSharedFormGoesWithTheLastConnect) {
  ide->project(L"Project1").build();
  Connect(addin.Get(), 1);
  ExpectDialogs({
      ExpectMessageBox().Title(L"Quarnel").Icon(MB_ICONASTERISK).Press(IDOK),
      ExpectFolderBrowser().Press(IDCANCEL),
      ExpectMessageBox().Text(L"Selected folder none. Action aborted.").Icon(MB_ICONEXCLAMATION).Press(IDOK),
  });
  const auto click = ide->click(L"File", 7);
  EXPECT_TRUE(driver->Finish());
  EXPECT_EQ(click.result, S_OK);
  Disconnect(addin.Get());
  addin.Reset();
  EXPECT_EQ(FormWindow(), nullptr);
  EXPECT_EQ(dll->CanUnloadNow(), S_OK);
}

// --- The IDE in use while the destination browser is open -----------------------

// The second click's run ends first: a third must still find the first running.
TEST_F(MenuClick, MoreClicksWhileTheBrowserIsOpenDoNothingAndTheFirstSavesOnce) {
  ide->project(L"Project1").form(L"Form1").module(L"Module1").build();
  Connect(addin.Get(), 1);
  standin::ClickResult second, third;
  const auto click = ClickWhileTheBrowserIsOpen([&] {
    second = ide->click(L"File", 7);
    third = ide->click(L"File", 7);
  });
  for (const auto& later : {second, third}) {
    EXPECT_EQ(later.sinks, 1);
    EXPECT_EQ(later.result, S_OK) << "no second browser, nothing else";
  }
  EXPECT_EQ(click.result, S_OK) << Utf8(click.description);
  EXPECT_TRUE(Written(L"Form1.frm") && Written(L"Module1.bas") && Written(L"Project1.vbp"));
  EXPECT_EQ(ide->count(L"_VBComponent.SaveAs"), 2u);
  EXPECT_EQ(ide->count(L"_VBProject.SaveAs"), 1u);
  Disconnect(addin.Get());
}

TEST_F(MenuClick, ProjectSwitchedWhileTheBrowserIsOpenTheClickedOneIsSaved) {
  ide->project(L"Project1").form(L"Form1").build();
  ide->project(L"Other").form(L"Form2").build();
  Connect(addin.Get(), 1);
  const auto click = ClickWhileTheBrowserIsOpen([&] { ide->set_active_project(L"Other"); });
  EXPECT_EQ(click.result, S_OK) << Utf8(click.description);
  EXPECT_TRUE(Written(L"Form1.frm") && Written(L"Project1.vbp"));
  EXPECT_FALSE(Written(L"Form2.frm") || Written(L"Other.vbp"));
  const auto clicked = ide->find_project(L"Project1"), other = ide->find_project(L"Other");
  EXPECT_EQ(clicked->file_name, std::wstring(kDestination) + L"\\Project1.vbp");
  EXPECT_TRUE(clicked->saved);
  EXPECT_EQ(other->file_name, L"");
  EXPECT_FALSE(other->saved);
  Disconnect(addin.Get());
}

TEST_F(MenuClick, ProjectRemovedWhileTheBrowserIsOpenEndsWithTheHostsDescriptionAndWritesNothing) {
  ide->project(L"Project1").form(L"Form1").build();
  ide->project(L"Other").form(L"Form2").build();
  Connect(addin.Get(), 1);
  const wchar_t gone[] = L"Method 'VBComponents' of object '_VBProject' failed";
  const auto click = ClickWhileTheBrowserIsOpen(
      [&] { ide->remove_project(L"Project1"); },
      {ExpectMessageBox().Text(gone).Title(L"Quarnel").Icon(MB_ICONHAND).Press(IDOK)});
  EXPECT_EQ(click.result, DISP_E_EXCEPTION);
  EXPECT_EQ(click.description, gone);
  EXPECT_FALSE(Written(L"Form1.frm") || Written(L"Project1.vbp") || Written(L"Form2.frm") || Written(L"Other.vbp"));
  Disconnect(addin.Get());
}

// The add-in manager unloads the add-in while its browser is open: the click
// completes, and then nothing of the add-in is left.
TEST_F(MenuClick, UnloadedWhileTheBrowserIsOpenTheClickCompletesAndNothingIsLeft) {
  ide->project(L"Project1").form(L"Form1").build();
  Connect(addin.Get(), 1);
  const auto click = ClickWhileTheBrowserIsOpen([&] {
    Disconnect(addin.Get(), ext_dm_UserClosed);
    addin.Reset();
  });
  EXPECT_EQ(click.result, S_OK) << Utf8(click.description);
  EXPECT_TRUE(Written(L"Form1.frm") && Written(L"Project1.vbp"));
  EXPECT_EQ(ide->controls(L"File").size(), 13u);
  EXPECT_EQ(standin::LiveObjects(), 0) << "a reference to the IDE's objects is kept";
  EXPECT_EQ(FormWindow(), nullptr);
  EXPECT_EQ(dll->CanUnloadNow(), S_OK);
}

// --- Unloading, as COM does it for the IDE ---------------------------------------------

// Quarnel.dll loaded by COM for the IDE's request; once the IDE lets go of the
// add-in, CoFreeUnusedLibraries unloads it, and the IDE goes on: a window or a
// hook of the DLL left behind would crash it (and fail the test) at its next
// message.
class Unloading : public MenuClick {
 protected:
  Unloading() : MenuClick(AddinDll::Loader::kCom) {}

  // The IDE in use for a moment: keys, mouse moves and messages for its window.
  static void UseTheIde() {
    const unique_hwnd window = TestWindow(L"IDE", 100, 100, 400, 300);
    SetForegroundWindow(window.get());
    for (int i = 0; i < 4; ++i) {
      Press(VK_TAB);
      Press('A');
      MoveMouse(120 + 40 * i, 120 + 30 * i);
      PostMessageW(window.get(), WM_NULL, 0, 0);
      Pump();
    }
  }
  // Unloaded through the add-in manager, the picker is answered; at the IDE's
  // exit, it goes by itself.
  void ClickBrowseAndEndWhileItIsOpen(bool exit) {
    if (exit) ide = std::make_unique<standin::Ide>();
    Connect(addin.Get(), 2);  // external: the form is shown
    HWND form = FormWindow();
    ASSERT_NE(form, nullptr);
    DialogStep picker = ExpectFolderBrowser();
    if (!exit) picker.Choose(kDestination);
    ExpectDialogs({picker.Press(exit ? 0 : IDOK).WhileOpen([&](HWND) {
      EXPECT_TRUE(ui.Run([&] {
        if (exit) {
          ExitTheIde();
        } else {
          Disconnect(addin.Get(), ext_dm_UserClosed);
          addin.Reset();
        }
        CoFreeUnusedLibraries();
        EXPECT_TRUE(dll->Loaded()) << "unloaded under the picker's form";
        EXPECT_EQ(dll->CanUnloadNow(), S_FALSE);
      }));
      EXPECT_TRUE(IsWindow(form)) << "the picker's owner is still there";
    })});
    SendMessageW(GetDlgItem(form, frmAddIn::kBrowse), BM_CLICK, 0, 0);
    EXPECT_TRUE(driver->Finish());
    EXPECT_FALSE(IsWindow(form)) << "the form goes when the picker closes";
  }
  // The IDE exits while the click's destination browser is open: the browser
  // goes by itself, and after it nothing is shown, written or called.
  void ExitWhileTheBrowserIsOpen() {
    EmptyDestination();
    ide = std::make_unique<standin::Ide>();
    ide->project(L"Project1").form(L"Form1").build();
    StoreDefaultFolder(kDestination);
    Connect(addin.Get(), 1);
    ExpectDialogs(
        {ExpectFolderBrowser().Press(0).WhileOpen([&](HWND) { EXPECT_TRUE(ui.Run([&] { ExitTheIde(); })); })});
    EXPECT_EQ(ide->click(L"File", 7).result, S_OK);
    EXPECT_TRUE(driver->Finish());
    EXPECT_EQ(ide->transcript(), L"") << "called after the IDE shut down";
    EXPECT_FALSE(Written(L"Form1.frm") || Written(L"Project1.vbp"));
  }
};

TEST_F(Unloading, EveryWayAConnectionEndsTheDllGoesAndTheIdeGoesOn) {
  const std::pair<const char*, std::function<void()>> endings[] = {
      {"disconnected with the form shown", [&] {
         Connect(addin.Get(), 2);
         Disconnect(addin.Get());
       }},
      {"disconnected with the form hidden", [&] {
         Connect(addin.Get(), 2);
         AsConnect(addin.Get())->Hide();
         Disconnect(addin.Get());
       }},
      {"after the form took keys", [&] {
         Connect(addin.Get(), 2);
         SetForegroundWindow(FormWindow());
         Pump();
         Press(VK_TAB);
         Press(VK_TAB, true);
         EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDOK) << "the form had the keys";
         AsConnect(addin.Get())->Hide();
         Press(VK_TAB);
         Disconnect(addin.Get());
       }},
      {"after a save, the shared form the browser's owner", [&] {
         ide = std::make_unique<standin::Ide>();
         ide->project(L"Project1").form(L"Form1").build();
         StoreDefaultFolder(kDestination);
         Connect(addin.Get(), 1);
         ExpectDialogs({ExpectFolderBrowser().Choose(kDestination).Press(IDOK)});
         EXPECT_EQ(ide->click(L"File", 7).result, S_OK);
         EXPECT_TRUE(driver->Finish());
         Disconnect(addin.Get());
       }},
      {"unloaded while the form's Browse picker is open", [&] { ClickBrowseAndEndWhileItIsOpen(false); }},
      {"released without disconnection", [&] { Connect(addin.Get(), 1); }},
      // Each with an IDE of its own, which is gone after it.
      {"the IDE exits while the form's Browse picker is open", [&] { ClickBrowseAndEndWhileItIsOpen(true); }},
      {"the IDE exits while the destination browser is open", [&] { ExitWhileTheBrowserIsOpen(); }},
  };
  for (const auto& [name, end] : endings) {
    SCOPED_TRACE(name);
    if (!addin) addin = dll->Create();
    ASSERT_NE(addin, nullptr);
    ASSERT_TRUE(dll->Loaded());
    end();
    addin.Reset();  // the IDE lets go
    CoFreeUnusedLibraries();
    EXPECT_FALSE(dll->Loaded()) << "Quarnel.dll stays loaded";
    EXPECT_EQ(FormWindow(), nullptr);
    UseTheIde();
  }
}

}  // namespace
}  // namespace quarnel::test
