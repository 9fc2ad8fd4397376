// The folder picker with the real shell folder browser, which a second thread
// answers as a user would, and the special-folder lookup.
#include <windows.h>
#include <shlobj.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ansi.h"
#include "common/app.h"
#include "shell/modSHBrowseForFolder.h"
#include "support/dialog_driver.h"
#include "support/heap_blocks.h"
#include "support/test_drive.h"
#include "support/test_window.h"

namespace quarnel {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::UnorderedElementsAre;
using test::DialogDriver;
using test::ExpectFolderBrowser;
using test::TestDrivePath;

class FolderBrowser : public ::testing::Test {
 protected:
  unique_hwnd owner = test::TestWindow(L"Quarnel test owner", 40, 40, 480, 360);
  const std::wstring start = TestDrivePath(L"folders\\Start");
};

// --- Opening, answering, cancelling --------------------------------------------

TEST_F(FolderBrowser, OpensModallyWithPromptAndInitialFolderAndOkReturnsIt) {
  DialogDriver driver({
      ExpectFolderBrowser().Prompt(L"Choose the folder:").Selected(start).Press(IDOK),
  });

  const std::wstring chosen = BrowseForFolder(owner.get(), L"Choose the folder:", start, 0);

  ASSERT_TRUE(driver.Finish());
  EXPECT_EQ(chosen, start);
  const test::SeenDialog& seen = driver.seen().at(0);
  EXPECT_EQ(seen.owner, owner.get());
  EXPECT_FALSE(seen.owner_enabled) << "the owner must be disabled while the browser is open";
  EXPECT_TRUE(IsWindowEnabled(owner.get()));
}

TEST_F(FolderBrowser, CancelReturnsEmptyTextAndReleasesTheInitialFolderCopy) {
  // The dialog reads the initial folder from a LocalAlloc block, which lives in
  // the process heap while the dialog is open and must be gone after.
  const std::string copy = ToAnsi(start);
  const size_t before = test::HeapBlocksHolding(copy);
  size_t while_open = 0;
  DialogDriver driver({
      ExpectFolderBrowser()
          .Selected(start)
          .WhileOpen([&](HWND) { while_open = test::HeapBlocksHolding(copy); })
          .Press(IDCANCEL),
  });

  const std::wstring chosen = BrowseForFolder(owner.get(), L"Cancel me", start, 0);

  ASSERT_TRUE(driver.Finish());
  EXPECT_EQ(chosen, L"");
  EXPECT_EQ(while_open, before + 1);
  EXPECT_EQ(test::HeapBlocksHolding(copy), before);
}

TEST_F(FolderBrowser, EmptyInitialFolderOpensAtTheAddinFolder) {
  DialogDriver driver({ExpectFolderBrowser().Selected(AppPath()).Press(IDOK)});

  const std::wstring chosen = BrowseForFolder(owner.get(), L"Where?", L"", 0);

  ASSERT_TRUE(driver.Finish());
  EXPECT_EQ(chosen, AppPath());
}

TEST_F(FolderBrowser, ChoosingAnotherFolderReturnsIt) {
  const std::wstring other = TestDrivePath(L"folders\\Other folder");
  DialogDriver driver({ExpectFolderBrowser().Selected(start).Choose(other).Press(IDOK)});

  const std::wstring chosen = BrowseForFolder(nullptr, L"Where?", start, 0);

  ASSERT_TRUE(driver.Finish());
  EXPECT_EQ(chosen, other);
}

// --- Flags -------------------------------------------------------------------------

// The start folder holds the folder "sub" and the file "note.txt".
class FolderBrowserListing : public FolderBrowser {
 protected:
  // What the browser lists below the start folder, with the dialog it was.
  std::vector<std::wstring> Listing(UINT flags, test::SeenDialog& seen) {
    std::vector<std::wstring> listed;
    DialogDriver driver({
        ExpectFolderBrowser()
            .Selected(start)
            .WhileOpen([&](HWND dialog) { listed = test::ChildLabels(dialog); })
            .Press(IDCANCEL),
    });
    BrowseForFolder(owner.get(), L"Look", start, flags);
    EXPECT_TRUE(driver.Finish());
    if (!driver.seen().empty()) seen = driver.seen()[0];
    return listed;
  }
};

TEST_F(FolderBrowserListing, ZeroFlagsGiveEditBoxAndNewFolderButtonAndFoldersOnly) {
  test::SeenDialog seen;
  EXPECT_THAT(Listing(0, seen), ElementsAre(L"sub"));
  EXPECT_TRUE(seen.edit_box);
  EXPECT_TRUE(seen.new_folder_button);
}

TEST_F(FolderBrowserListing, IncludeFilesFlagListsFilesToo) {
  test::SeenDialog seen;
  EXPECT_THAT(Listing(0x4055, seen), UnorderedElementsAre(L"sub", L"note.txt"));
  EXPECT_TRUE(seen.edit_box);
}

// --- Special folders ------------------------------------------------------------

TEST(SpecialFolderPath, DocumentsFolderIsTheShellsPersonalFolder) {
  wchar_t documents[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents), S_OK);
  const std::wstring expected = documents;

  // Wine's shell ends the path of this one folder with a backslash; Windows does not.
  EXPECT_THAT(GetSpecialFolderPath(nullptr, CSIDL_PERSONAL),
              AnyOf(Eq(expected), Eq(expected + L"\\")));
}

TEST(SpecialFolderPath, FolderWithoutFileSystemPathOrUnknownIdGivesEmptyText) {
  EXPECT_EQ(GetSpecialFolderPath(nullptr, CSIDL_DRIVES), L"");  // "My Computer"
  EXPECT_EQ(GetSpecialFolderPath(nullptr, 0xFF), L"");
}

}  // namespace
}  // namespace quarnel
