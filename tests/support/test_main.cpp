// The main of the test programs: GoogleTest's, with the crash report and the
// watch that fails a test whose dialog nobody answers.
#include <gtest/gtest.h>

#include "support/crash_report.h"
#include "support/dialog_watch.h"

int main(int argc, char** argv) {
  quarnel::test::ReportCrashes();
  ::testing::InitGoogleTest(&argc, argv);
  quarnel::test::WatchForUnansweredDialogs();
  return RUN_ALL_TESTS();
}
