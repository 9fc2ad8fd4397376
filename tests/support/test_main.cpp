// The main of the test programs: GoogleTest's, with the crash report and the
// watch that fails a test whose dialog nobody answers; or, started by a test to
// hold a file open, that (support/temp_folder.h).
#include <gtest/gtest.h>

#include "support/crash_report.h"
#include "support/dialog_watch.h"
#include "support/temp_folder.h"

int main(int argc, char** argv) {
  if (quarnel::test::HoldFileIfAsked(argc, argv)) return 0;
  quarnel::test::ReportCrashes();
  ::testing::InitGoogleTest(&argc, argv);
  quarnel::test::WatchForUnansweredDialogs();
  return RUN_ALL_TESTS();
}
