// The dialog driver itself, on real message boxes: what it reads, and that it
// reports and closes what it did not expect rather than leave a test hanging.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/dialog_driver.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(DialogDriver, ReadsAMessageBoxAndPressesTheChosenButton) {
  DialogDriver driver({
      ExpectMessageBox().Text(L"Save changes?").Title(L"Quarnel").Icon(MB_ICONQUESTION).Press(IDNO),
  });

  const int answer = MessageBoxW(nullptr, L"Save changes?", L"Quarnel", MB_YESNO | MB_ICONQUESTION);

  ASSERT_TRUE(driver.Finish());
  EXPECT_EQ(answer, IDNO);
  EXPECT_THAT(driver.seen().at(0).buttons, ElementsAre(L"&Yes", L"&No"));
}

TEST(DialogDriver, ReportsWrongAndUnexpectedDialogsAndClosesThem) {
  DialogDriver driver({ExpectFolderBrowser().Prompt(L"Choose:")}, {.wait_ms = 5000});

  // The browser never comes; two message boxes do.
  MessageBoxW(nullptr, L"first", L"Quarnel", MB_OK);
  MessageBoxW(nullptr, L"second", L"Quarnel", MB_OK | MB_ICONEXCLAMATION);

  const testing::AssertionResult result = driver.Finish();
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr("step 1 (the folder browser \"Choose:\"): got a message "
                                          "box titled \"Quarnel\" saying \"first\" instead"));
  EXPECT_THAT(result.message(), HasSubstr("came unexpectedly: a message box titled \"Quarnel\" "
                                          "saying \"second\""));
  ASSERT_EQ(driver.seen().size(), 2u);
  EXPECT_EQ(driver.seen()[1].icon, static_cast<UINT>(MB_ICONEXCLAMATION));
}

TEST(DialogDriver, ReportsADialogThatDidNotCome) {
  DialogDriver driver({ExpectMessageBox().Text(L"never")}, {.wait_ms = 200});
  Sleep(600);
  const testing::AssertionResult result = driver.Finish();
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr("step 1 (a message box \"never\"): it did not come within 200 ms"));
}

}  // namespace
}  // namespace quarnel::test
