#include "common/twips.h"

#include <windows.h>

#include <cfenv>
#include <cmath>

namespace quarnel {

std::pair<double, double> ScreenTwipsPerPixel() {
  HDC screen = GetDC(nullptr);
  int dpi_x = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  int dpi_y = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  if (dpi_x <= 0) dpi_x = 96;
  if (dpi_y <= 0) dpi_y = 96;
  return {1440.0 / dpi_x, 1440.0 / dpi_y};
}

int ToPixels(double twips, double twips_per_pixel) {
  // nearbyint rounds in the current mode; make it the default one, nearest-even.
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double pixels = std::nearbyint(twips / twips_per_pixel);
  std::fesetround(saved);
  return static_cast<int>(pixels);
}

}  // namespace quarnel
