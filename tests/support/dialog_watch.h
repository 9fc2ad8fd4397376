#pragma once
// Test support: a dialog that nobody answers fails its test within seconds
// instead of holding the program until CTest's time-out. A thread of the test
// program looks at the program's dialogs; one open longer than kUnansweredLimitMs
// is reported as a failure of the running test and closed.
#include <windows.h>

namespace quarnel::test {

inline constexpr DWORD kUnansweredLimitMs = 30000;

// Starts the watch with the tests (call before RUN_ALL_TESTS); test_main.cpp does.
void WatchForUnansweredDialogs();

}  // namespace quarnel::test
