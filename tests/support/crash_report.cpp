#include "support/crash_report.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace quarnel::test {
namespace {

// Faults, as opposed to the exceptions that programs raise and handle on purpose.
bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_NONCONTINUABLE_EXCEPTION:
    case EXCEPTION_BREAKPOINT:
    case 0xC0000374:  // heap corruption
    case 0xC0000409:  // stack buffer overrun
      return true;
    default:
      return false;
  }
}

// The module that holds `address`, or null.
HMODULE ModuleAt(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

// Whether the module is one of the system's, below the Windows folder.
bool IsSystemModule(HMODULE module) {
  wchar_t path[MAX_PATH] = {}, windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (!GetModuleFileNameW(module, path, MAX_PATH) || length == 0) return false;
  return CompareStringOrdinal(path, static_cast<int>(length), windows, static_cast<int>(length), TRUE) ==
         CSTR_EQUAL;
}

// Reports and ends the process; runs in a crashing process, so it writes to a
// buffer on the stack and straight to the standard error's handle.
[[noreturn]] void Report(const EXCEPTION_POINTERS* pointers, const char* how) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  char where[MAX_PATH + 40] = "no module";
  if (HMODULE module = ModuleAt(record.ExceptionAddress)) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    const char* name = path;
    for (const char* p = path; *p; ++p) {
      if (*p == '\\' || *p == '/') name = p + 1;
    }
    std::snprintf(where, sizeof where, "%s+0x%lX", name,
                  static_cast<unsigned long>(static_cast<const char*>(record.ExceptionAddress) -
                                             reinterpret_cast<const char*>(module)));
  }
  char detail[64] = "";
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
    std::snprintf(detail, sizeof detail, " (%s 0x%08lX)",
                  record.ExceptionInformation[0] == 8   ? "executing"
                  : record.ExceptionInformation[0] == 1 ? "writing"
                                                        : "reading",
                  static_cast<unsigned long>(record.ExceptionInformation[1]));
  }
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  char line[1024];
  const int length = std::snprintf(
      line, sizeof line, "\n%s %s exception 0x%08lX%s at 0x%08lX (%s), thread %lu, test %s%s%s\n", kCrashMarker,
      how, static_cast<unsigned long>(record.ExceptionCode), detail,
      static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(record.ExceptionAddress)), where,
      GetCurrentThreadId(), test ? test->test_suite_name() : "(none)", test ? "." : "", test ? test->name() : "");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length > 0 ? length : 0), &written, nullptr);
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  ExitProcess(kCrashExitCode);
}

// First in line for every exception of every thread: a fault outside the
// system's modules is a crash, even where Wine would swallow it.
LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (IsFault(record.ExceptionCode)) {
    HMODULE module = ModuleAt(record.ExceptionAddress);
    if (!module || !IsSystemModule(module)) Report(pointers, "fault:");
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// Last in line: whatever nobody handled.
LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* pointers) { Report(pointers, "unhandled:"); }

}  // namespace

void ReportCrashes() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  AddVectoredExceptionHandler(1, &OnException);
  SetUnhandledExceptionFilter(&OnUnhandled);
}

}  // namespace quarnel::test
