// The language test in a program started under one locale. CTest starts it once
// per locale with the language identifier that Wine must report for it:
//   language_tests --expect-langid=1040   (LC_ALL=it_IT.UTF-8)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "texts/modAddin.h"
#include "support/crash_report.h"

namespace {

LANGID expected_langid = 0;

TEST(Language, UserLanguageDecidesTheTexts) {
  ASSERT_NE(expected_langid, 0) << "start with --expect-langid=N";
  // The locale reached the program as intended: the rest is about our test.
  ASSERT_EQ(GetUserDefaultLangID(), expected_langid);

  const bool italian = expected_langid == 1040;
  EXPECT_EQ(quarnel::IsItalianUser(), italian);

  quarnel::ChooseLanguage();
  EXPECT_EQ(quarnel::bItalian, italian);
  EXPECT_EQ(quarnel::sMenuCaption, L"Quarnel...");

  quarnel::FillMessageSlots();
  EXPECT_EQ(quarnel::sMsgAlreadySaved,
            italian ? L"Progetto gi\u00E0 salvato." : L"Project already saved.");
  EXPECT_EQ(quarnel::sCaptionDestination,
            italian ? L"Selezionare (o creare) la cartella di destinazione in cui salvare il "
                      L"progetto corrente."
                    : L"Select or create the Destination folder for this project:");
}

}  // namespace

int main(int argc, char** argv) {
  quarnel::test::ReportCrashes();
  ::testing::InitGoogleTest(&argc, argv);
  constexpr char kFlag[] = "--expect-langid=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], kFlag, sizeof kFlag - 1) == 0) {
      expected_langid = static_cast<LANGID>(std::atoi(argv[i] + sizeof kFlag - 1));
    }
  }
  return RUN_ALL_TESTS();
}
