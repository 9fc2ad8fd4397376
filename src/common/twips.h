#pragma once
// Twips, the unit in which a Visual Basic form keeps its layout: 1440 to the
// inch, so the screen's twips per pixel is 1440 over its dots per inch (15 at
// 96 dpi).
#include <utility>

namespace quarnel {

// The screen's twips per pixel, horizontally and vertically; throws
// quarnel::Error when the screen cannot be measured.
std::pair<double, double> ScreenTwipsPerPixel();

// Twips to whole pixels, rounded to the nearest and halves to even; out of range
// is Visual Basic's "Overflow".
int ToPixels(double twips, double twips_per_pixel);

}  // namespace quarnel
