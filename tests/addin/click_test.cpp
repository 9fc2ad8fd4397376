// A click on the add-in's File-menu command, raised by the stand-in IDE on its
// event object, runs the project save command inside Quarnel.dll, with the real
// dialogs under the test display answered by the dialog driver.
#include <gtest/gtest.h>

#include "addin/addin_dll.h"

namespace quarnel::test {
namespace {

// A folder on the test drive that the build makes and only this program writes
// into: the folder browser walks to it undisturbed.
constexpr wchar_t kDestination[] = L"D:\\connect\\Destination";

class MenuClick : public AddinTest {
 protected:
  void SetUp() override {
    AddinTest::SetUp();
    EmptyDestination();
  }
  void TearDown() override {
    EmptyDestination();
    AddinTest::TearDown();
  }
  static void EmptyDestination() {
    for (const wchar_t* name : {L"Form1.frm", L"Module1.bas", L"Project1.vbp"}) {
      RemoveTree(std::wstring(kDestination) + L"\\" + name);
    }
  }
  void StoreDefaultFolder(const std::wstring& folder) {
    WriteBytes(SettingsPath(), "[FOLDER]\r\nDefaultFolder=" + std::string(folder.begin(), folder.end()) + "\r\n");
  }
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
  Disconnect(addin.Get());
}

TEST_F(MenuClick, HostFailureInTheCommandIsTheClicksResult) {
  StoreDefaultFolder(L"C:\\Projects");
  ide->project(L"Project1").build();
  Connect(addin.Get(), 1);
  ide->fail({.description = L"The project is gone", .operation = L"_VBProject.Saved"});
  const auto click = ide->click(L"File", 7);
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

}  // namespace
}  // namespace quarnel::test
