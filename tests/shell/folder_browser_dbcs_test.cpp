// The folder picker in a double-byte code page: CTest starts this program with
// LC_ALL=ja_JP.UTF-8, so that Wine's 8-bit code page is 932 (Shift-JIS), where
// a Japanese character takes two bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/ansi.h"
#include "shell/modSHBrowseForFolder.h"
#include "support/dialog_driver.h"
#include "support/heap_blocks.h"
#include "support/test_drive.h"
#include "support/temp_folder.h"

namespace quarnel {
namespace {

TEST(FolderBrowserDoubleByte, JapaneseInitialFolderIsSelectedAndReturnedUnchanged) {
  ASSERT_EQ(GetACP(), 932u) << "start this program with LC_ALL=ja_JP.UTF-8";
  const std::wstring folder = test::TestDrivePath(L"folders-ja\\日本語のフォルダ");
  ASSERT_TRUE(test::FolderExists(folder))
      << "no Japanese file names: Wine needs the ja_JP.UTF-8 locale (LOCPATH)";
  const std::string copy = ToAnsi(folder);
  ASSERT_EQ(FromAnsi(copy), folder);
  ASSERT_GT(copy.size(), folder.size());  // more bytes than characters: the case at hand

  const std::wstring prompt = L"保存先のフォルダを選択してください:";
  const size_t before = test::HeapBlocksHolding(copy);
  size_t while_open = 0;
  test::DialogDriver driver({
      test::ExpectFolderBrowser()
          .Prompt(prompt)
          .Selected(folder)
          .WhileOpen([&](HWND) { while_open = test::HeapBlocksHolding(copy); })
          .Press(IDOK),
  });

  const std::wstring chosen = BrowseForFolder(nullptr, prompt, folder, 0);

  ASSERT_TRUE(driver.Finish());
  EXPECT_EQ(chosen, folder);
  // The dialog's copy held every byte of the 8-bit path and its NUL, in a block
  // of just that size, and was released.
  EXPECT_EQ(while_open, before + 1);
  EXPECT_EQ(test::HeapBlocksHolding(copy), before);
}

}  // namespace
}  // namespace quarnel
