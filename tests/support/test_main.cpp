// The main of the test programs: GoogleTest's, with the watch that fails a test
// whose dialog nobody answers.
#include <gtest/gtest.h>

#include "support/dialog_watch.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  quarnel::test::WatchForUnansweredDialogs();
  return RUN_ALL_TESTS();
}
