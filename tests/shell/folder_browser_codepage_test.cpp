// The folder picker and names that the 8-bit code page cannot hold: CTest starts
// this program with LC_ALL=en_US.UTF-8, so that Wine's 8-bit code page is 1252,
// which has "ó" but neither "Ł" nor "ź". The shell's 8-bit path of "Łódź" is
// "Lódz": another folder, which sits beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/ansi.h"
#include "common/error.h"
#include "shell/modSHBrowseForFolder.h"
#include "support/dialog_driver.h"
#include "support/temp_folder.h"
#include "support/test_drive.h"

namespace quarnel {
namespace {

using test::DialogDriver;
using test::ExpectFolderBrowser;

class FolderBrowserCodePage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 1252u) << "start this program with LC_ALL=en_US.UTF-8";
    ASSERT_TRUE(test::FolderExists(outside))
        << "no such file names here: Wine needs the en_US.UTF-8 locale (LOCPATH)";
    ASSERT_EQ(FromAnsi(ToAnsi(outside)), look_alike) << "the case at hand";
  }
  const std::wstring start = test::TestDrivePath(L"folders-cp\\Start");
  const std::wstring outside = test::TestDrivePath(L"folders-cp\\Łódź");
  const std::wstring look_alike = test::TestDrivePath(L"folders-cp\\Lódz");
};

TEST_F(FolderBrowserCodePage, FolderTheCodePageCannotNameIsRefusedNotTakenForItsLookAlike) {
  DialogDriver driver({ExpectFolderBrowser().Selected(start).Choose(outside).Press(IDOK)});
  try {
    BrowseForFolder(nullptr, L"Choose:", start, 0);
    ADD_FAILURE() << "returned a path for a folder it cannot name";
  } catch (const Error& error) {
    EXPECT_EQ(error.code(), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_NE(error.description().find(L"\"" + outside + L"\""), std::wstring::npos)
        << "the failure names the folder as the user saw it";
  }
  EXPECT_TRUE(driver.Finish());
}

TEST_F(FolderBrowserCodePage, LookAlikeItselfAndNamesWithinTheCodePageAreReturned) {
  DialogDriver driver({
      ExpectFolderBrowser().Selected(start).Choose(look_alike).Press(IDOK),
      ExpectFolderBrowser().Selected(look_alike).Press(IDOK),
  });
  EXPECT_EQ(BrowseForFolder(nullptr, L"Choose:", start, 0), look_alike);
  EXPECT_EQ(BrowseForFolder(nullptr, L"Choose:", look_alike, 0), look_alike);
  EXPECT_TRUE(driver.Finish());
}

}  // namespace
}  // namespace quarnel
