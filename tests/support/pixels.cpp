#include "support/pixels.h"

namespace quarnel::test {

std::vector<std::uint32_t> Pixels(HBITMAP bitmap) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 16;
  info.bmiHeader.biHeight = -16;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(256);
  HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, bitmap, 0, 16, pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != 16) return {};
  for (auto& pixel : pixels) pixel &= 0x00FFFFFFu;
  return pixels;
}

}  // namespace quarnel::test
