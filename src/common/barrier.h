#pragma once
// The exception barrier at every COM entry point: nothing crosses a COM
// boundary as a C++ exception.
//
//   STDMETHODIMP Connect::Show() { return Barrier([&] { ...; return S_OK; }); }
#include <windows.h>

#include <new>

#include "common/error.h"

namespace quarnel {

// Runs `body` (which returns an HRESULT) and turns any exception into one:
// quarnel::Error gives its own code, running out of memory E_OUTOFMEMORY, and
// anything else E_UNEXPECTED.
template <class F>
HRESULT Barrier(F&& body) noexcept {
  try {
    return body();
  } catch (const Error& error) {
    return error.code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// Runs one step whose failure is skipped, so that the next step runs: the error
// mode of disconnection, Show, Hide and the menu installers.
template <class F>
void SkipFailure(F&& step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

// Throws quarnel::Error for a failed HRESULT, with `description` as its text.
inline void ThrowIfFailed(HRESULT hr, const wchar_t* description) {
  if (FAILED(hr)) throw Error(hr, description);
}

}  // namespace quarnel
