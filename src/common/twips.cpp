#include "common/twips.h"

#include <windows.h>

#include <cmath>
#include <limits>

#include "common/error.h"
#include "common/owners.h"

namespace quarnel {

std::pair<double, double> ScreenTwipsPerPixel() {
  HDC screen = GetDC(nullptr);
  if (!screen) throw Error(E_FAIL, L"The screen cannot be measured");
  const auto release = scope_exit([&] { ReleaseDC(nullptr, screen); });
  const int x = GetDeviceCaps(screen, LOGPIXELSX);
  const int y = GetDeviceCaps(screen, LOGPIXELSY);
  if (x <= 0 || y <= 0) throw Error(E_FAIL, L"The screen cannot be measured");
  return {1440.0 / x, 1440.0 / y};
}

int ToPixels(double twips, double twips_per_pixel) {
  // Written out, so that it does not depend on the floating-point rounding mode.
  const double value = twips / twips_per_pixel;
  const double floor = std::floor(value);
  const double rest = value - floor;
  double rounded = floor;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1.0;
  if (!(rounded >= std::numeric_limits<int>::min() && rounded <= std::numeric_limits<int>::max())) {
    throw Error::Vb(6);
  }
  return static_cast<int>(rounded);
}

}  // namespace quarnel
