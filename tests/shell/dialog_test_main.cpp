// The main of the test programs that open dialogs: as on the IDE's user-interface
// thread, the tests' thread is an OLE apartment, which the shell's folder
// browser in its new style needs. Started by a test to hold a file open, it
// does that (support/temp_folder.h).
#include <ole2.h>

#include <gtest/gtest.h>

#include "support/crash_report.h"
#include "support/dialog_watch.h"
#include "support/temp_folder.h"

int main(int argc, char** argv) {
  if (quarnel::test::HoldFileIfAsked(argc, argv)) return 0;
  quarnel::test::ReportCrashes();
  if (FAILED(OleInitialize(nullptr))) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  quarnel::test::WatchForUnansweredDialogs();
  const int result = RUN_ALL_TESTS();
  OleUninitialize();
  return result;
}
