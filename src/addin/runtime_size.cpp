// Linked into Quarnel.dll only (not the static library the test programs use):
// replacements for parts of the C++ runtime whose library versions bring in far
// more than the DLL uses, keeping the shipped DLL small.
#include "addin/runtime_size.h"

#include <windows.h>

#include <cxxabi.h>
#include <pthread.h>

#include <cstdlib>
#include <exception>
#include <new>

// The default terminate handler writes the exception's demangled type name to
// the standard error stream, which a DLL inside the IDE does not have; with it
// come the demangler and the C library's formatted output (about 80 KB). Every
// entry point stops exceptions at its boundary, so terminate is not expected;
// should it come, the process ends as abort ends it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The library's container and string members report misuse (a length beyond
// the maximum, a position out of range) through these functions. Their library
// versions throw std::length_error and its kin, whose definitions bring in the
// copy-on-write string and the rest of <stdexcept> (about 70 KB). The add-in
// catches none of those types by name: each entry point turns any exception into
// "Unexpected error" and std::bad_alloc into "Out of memory". So misuse throws
// one plain exception that keeps the library's message, and the allocation
// failures stay the standard ones.
namespace {
class RuntimeMisuse final : public std::exception {
 public:
  explicit RuntimeMisuse(const char* what) noexcept : what_(what ? what : "runtime misuse") {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;  // the library's messages are string literals
};
}  // namespace

namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_length_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_logic_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_out_of_range(const char* what) { throw RuntimeMisuse(what); }
void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeMisuse(format); }
void __throw_invalid_argument(const char* what) { throw RuntimeMisuse(what); }
}  // namespace std

// Each thread's exception state (the exceptions caught and not yet thrown on)
// is a block that the runtime finds through __cxa_get_globals. The library's
// version keeps it in emulated thread-local storage, built on the threads
// library's thread part (with what that part brings in, about 30 KB; see
// pthread_once below). Here it lives in a Windows TLS slot: made at
// the thread's first exception, freed when the thread ends or the DLL unloads.
namespace {
DWORD exception_slot = TLS_OUT_OF_INDEXES;
constexpr SIZE_T kExceptionStateBytes = 16;  // the runtime's block is two words

void* ExceptionState() noexcept {
  const DWORD error = GetLastError();  // TlsGetValue clears it, a throw must not
  // The static constructors run before DllMain (under the loader's lock, as it):
  // an exception in one finds no slot yet.
  if (!quarnel::RuntimeAttach()) std::abort();
  void* block = TlsGetValue(exception_slot);
  if (!block) {
    block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kExceptionStateBytes);
    if (!block || !TlsSetValue(exception_slot, block)) std::abort();  // as the library's version does
  }
  SetLastError(error);
  return block;
}
}  // namespace

namespace quarnel {
bool RuntimeAttach() noexcept {
  if (exception_slot == TLS_OUT_OF_INDEXES) exception_slot = TlsAlloc();
  return exception_slot != TLS_OUT_OF_INDEXES;
}

void RuntimeThreadDetach() noexcept {
  if (void* block = TlsGetValue(exception_slot)) {
    HeapFree(GetProcessHeap(), 0, block);
    TlsSetValue(exception_slot, nullptr);
  }
}

void RuntimeDetach() noexcept {
  RuntimeThreadDetach();
  TlsFree(exception_slot);
  exception_slot = TLS_OUT_OF_INDEXES;
}
}  // namespace quarnel

namespace __cxxabiv1 {
extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept {
  return static_cast<__cxa_eh_globals*>(ExceptionState());
}
extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept {
  return static_cast<__cxa_eh_globals*>(ExceptionState());
}
}  // namespace __cxxabiv1

// The runtime's two locks, the emergency pool of exceptions and the unwinder's
// table of frames, are the threads library's mutexes, whose version waits with a
// clock of Windows Vista (GetTickCount64) and would keep the DLL from loading on
// XP. Each is held for a moment and hardly ever by two threads at once: here a
// lock is a word, free (0, or -1 as initialised statically) or held (1).
namespace {
volatile LONG* LockWord(pthread_mutex_t* mutex) noexcept { return reinterpret_cast<volatile LONG*>(mutex); }
}  // namespace

extern "C" int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
  *LockWord(mutex) = 0;
  return 0;
}
extern "C" int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
  for (;;) {
    const LONG state = *LockWord(mutex);
    if (state != 1 && InterlockedCompareExchange(LockWord(mutex), 1, state) == state) return 0;
    Sleep(1);  // another thread holds it
  }
}
extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  InterlockedExchange(LockWord(mutex), 0);
  return 0;
}

// The unwinder runs its one-time set-up through pthread_once: with the exception
// state above, the last thing the DLL needed of the threads library's thread
// part. Its states: 0 not run, 1 running, 2 run.
extern "C" int pthread_once(pthread_once_t* once, void (*run)(void)) {
  if (InterlockedCompareExchange(once, 1, 0) == 0) {
    run();
    InterlockedExchange(once, 2);
  } else {
    while (InterlockedCompareExchange(once, 2, 2) != 2) Sleep(0);  // another thread runs it
  }
  return 0;
}
