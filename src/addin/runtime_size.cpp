// Linked into Quarnel.dll only (not the static library the test programs use):
// replacements for two parts of the C++ runtime whose library versions bring in
// far more than the DLL uses, keeping the shipped DLL small.
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
