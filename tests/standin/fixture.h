#pragma once
// A stand-in IDE in a single-threaded apartment, with its root object, for each
// test; and a check that the test let go of every object it got.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "late_bound.h"
#include "standin/ide.h"

namespace standin::test {

// COM for the test's thread, as the IDE's user-interface thread has it.
class Apartment {
 public:
  Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~Apartment() { CoUninitialize(); }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
};

// Every test ends with a check that, once it and its Ide have let go, no
// stand-in object is left.
class IdeTest : public ::testing::Test {
 private:
  long live_before_;
  Apartment apartment_;
  std::optional<Ide> holder_{std::in_place};

 protected:
  IdeTest() : live_before_(LiveObjects()) { root = ide.application(); }
  ~IdeTest() override {
    root.Reset();
    holder_.reset();
    EXPECT_EQ(LiveObjects(), live_before_) << "stand-in objects still referenced after the test";
  }

  // Objects that many tests start from.
  com_ptr<IDispatch> Bar(const wchar_t* name) {
    return Object(Object(root.Get(), L"CommandBars").Get(), L"Item", {name});
  }
  com_ptr<IDispatch> Controls(const wchar_t* bar) { return Object(Bar(bar).Get(), L"Controls"); }
  com_ptr<IDispatch> ActiveProject() { return Object(root.Get(), L"ActiveVBProject"); }

  // What a test expects of its outcome, with the description in the message.
  static ::testing::AssertionResult Succeeded(const Outcome& outcome) {
    if (SUCCEEDED(outcome.hr)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "hr 0x" << std::hex << outcome.hr << ": "
                                         << std::string(outcome.description.begin(), outcome.description.end());
  }

  Ide& ide = *holder_;
  com_ptr<IDispatch> root;
};

// Narrow text for gtest messages.
inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace standin::test
