#pragma once
// Test support: a crash anywhere in a test program fails it at once. Wine lets
// some faults pass unseen (one in a message hook is swallowed; after an
// unhandled one its debugger may end a program with more than one thread with
// exit code 0), so each test program reports a crash itself and ends with
// kCrashExitCode:
//   - a fault in code of the program or of a DLL it loaded (not the system's
//     own, which handle faults of their own), or in code that no module holds
//     (a DLL unloaded under a live window or hook), on any thread, whoever
//     would have handled it;
//   - a fault in a system DLL on a call from such code (a hook, a window
//     procedure, a callback) that the system does not guard itself;
//   - any exception that nothing handles.
// The report is one line on the standard error, beginning with kCrashMarker:
// the exception, its address (module + offset), for a fault in the system the
// code of ours that called it, the thread and the running test.
#include <windows.h>

namespace quarnel::test {

inline constexpr int kCrashExitCode = 86;
inline constexpr char kCrashMarker[] = "[  CRASH   ]";

// Installs the report for the whole process; call first thing in main.
void ReportCrashes();

}  // namespace quarnel::test
