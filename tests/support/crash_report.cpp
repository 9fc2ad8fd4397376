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

// Whether `address`, in executable memory, follows a call instruction: a
// return address, not any value that points into code.
bool FollowsACall(ULONG_PTR address) {
  MEMORY_BASIC_INFORMATION info{};
  if (!VirtualQuery(reinterpret_cast<const void*>(address - 6), &info, sizeof info) || info.State != MEM_COMMIT ||
      !(info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY))) {
    return false;
  }
  const auto* code = reinterpret_cast<const unsigned char*>(address);
  // call rel32; call through [mem32] or [reg+disp32], [reg+disp8], reg or [reg]
  return code[-5] == 0xE8 || (code[-6] == 0xFF && (code[-5] & 0x38) == 0x10) ||
         (code[-3] == 0xFF && (code[-2] & 0x38) == 0x10) || (code[-2] == 0xFF && (code[-1] & 0x38) == 0x10);
}

// For a fault in a system module: our code (the program's, or a DLL's such as
// the add-in's; a hook, a window procedure) that called the system without
// the system guarding the call. That is the innermost return address into our
// code between the fault and the innermost exception handler registered above
// it: a system function that guards itself (IsBadReadPtr) registers its
// handler below its caller's return address. Null when there is none.
// Wine's system DLLs register their guards in the thread's exception list on
// x86-64 too (where Windows' own use unwind tables), so one walk serves both.
const void* OurCaller(const CONTEXT& context) {
  // The thread's information block, and the stack where the fault happened.
  const NT_TIB* tib = nullptr;
#ifdef _WIN64
  asm("movq %%gs:0x30, %0" : "=r"(tib));
  const ULONG_PTR fault_stack = context.Rsp;
#else
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  const ULONG_PTR fault_stack = context.Esp;
#endif
  const auto chain_end = reinterpret_cast<const EXCEPTION_REGISTRATION_RECORD*>(~ULONG_PTR{0});
  const EXCEPTION_REGISTRATION_RECORD* guard = tib->ExceptionList;
  // Handlers below the fault are the exception's own dispatch.
  while (guard && guard != chain_end && reinterpret_cast<ULONG_PTR>(guard) < fault_stack) guard = guard->Next;
  const ULONG_PTR end = reinterpret_cast<ULONG_PTR>(guard && guard != chain_end ? guard : tib->StackBase);
  for (ULONG_PTR slot = fault_stack & ~ULONG_PTR{sizeof(void*) - 1}; slot + sizeof slot <= end; slot += sizeof slot) {
    const ULONG_PTR value = *reinterpret_cast<const ULONG_PTR*>(slot);
    const HMODULE module = ModuleAt(reinterpret_cast<const void*>(value));
    if (module && !IsSystemModule(module) && FollowsACall(value)) return reinterpret_cast<const void*>(value);
  }
  return nullptr;
}

// "name.dll+0x1234" for an address in a module, else "no module".
void Where(const void* address, char* out, size_t size) {
  std::snprintf(out, size, "no module");
  if (HMODULE module = ModuleAt(address)) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    const char* name = path;
    for (const char* p = path; *p; ++p) {
      if (*p == '\\' || *p == '/') name = p + 1;
    }
    std::snprintf(out, size, "%s+0x%lX", name,
                  static_cast<unsigned long>(static_cast<const char*>(address) - reinterpret_cast<const char*>(module)));
  }
}

// Reports and ends the process; runs in a crashing process, so it writes to a
// buffer on the stack and straight to the standard error's handle. `caller`:
// our code that called the system function that faulted.
[[noreturn]] void Report(const EXCEPTION_POINTERS* pointers, const char* how, const void* caller = nullptr) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  char where[MAX_PATH + 40];
  Where(record.ExceptionAddress, where, sizeof where);
  char called_from[MAX_PATH + 60] = "";
  if (caller) {
    char place[MAX_PATH + 40];
    Where(caller, place, sizeof place);
    std::snprintf(called_from, sizeof called_from, ", called from %s", place);
  }
  // Addresses as wide as the platform's (%p: 8 hexadecimal digits, or 16).
  char detail[64] = "";
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
    std::snprintf(detail, sizeof detail, " (%s 0x%p)",
                  record.ExceptionInformation[0] == 8   ? "executing"
                  : record.ExceptionInformation[0] == 1 ? "writing"
                                                        : "reading",
                  reinterpret_cast<void*>(record.ExceptionInformation[1]));
  }
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  char line[1024];
  const int length = std::snprintf(
      line, sizeof line, "\n%s %s exception 0x%08lX%s at 0x%p (%s)%s, thread %lu, test %s%s%s\n", kCrashMarker,
      how, static_cast<unsigned long>(record.ExceptionCode), detail, record.ExceptionAddress, where, called_from,
      GetCurrentThreadId(), test ? test->test_suite_name() : "(none)", test ? "." : "", test ? test->name() : "");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length > 0 ? length : 0), &written, nullptr);
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  ExitProcess(kCrashExitCode);
}

// First in line for every exception of every thread: a fault outside the
// system's modules, or in one on a call from our code that the system does not
// guard, is a crash, even where Wine would swallow it.
LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (IsFault(record.ExceptionCode)) {
    HMODULE module = ModuleAt(record.ExceptionAddress);
    if (!module || !IsSystemModule(module)) Report(pointers, "fault:");
    if (const void* caller = OurCaller(*pointers->ContextRecord)) Report(pointers, "fault:", caller);
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
