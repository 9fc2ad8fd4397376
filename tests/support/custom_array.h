#pragma once
// The `custom` argument of the add-in connection calls, as the IDE passes it: an
// empty array of variants, destroyed after the call.
//   CustomArray custom;
//   addin->OnConnection(ide, mode, instance, &custom.array);
#include <windows.h>
#include <oleauto.h>

namespace quarnel::test {

struct CustomArray {
  CustomArray() = default;
  CustomArray(const CustomArray&) = delete;
  CustomArray& operator=(const CustomArray&) = delete;
  ~CustomArray() {
    if (array) SafeArrayDestroy(array);
  }
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 0);
};

}  // namespace quarnel::test
