// The topmost switch on a real window, through a form that keeps its place and
// size in twips.
#include <windows.h>

#include <gtest/gtest.h>

#include <tuple>

#include "common/owners.h"
#include "shell/modSHBrowseForFolder.h"
#include "support/test_window.h"

namespace quarnel {
namespace {

struct Twips {
  double x, y;
};

Twips ScreenTwipsPerPixel() {
  HDC screen = GetDC(nullptr);
  auto release = scope_exit([&] { ReleaseDC(nullptr, screen); });
  return {1440.0 / GetDeviceCaps(screen, LOGPIXELSX), 1440.0 / GetDeviceCaps(screen, LOGPIXELSY)};
}

// A form over a test window, with its geometry given in pixels.
class WindowForm : public TopMostForm {
 public:
  WindowForm(HWND window, double left, double top, double width, double height)
      : window_(window), left_(left), top_(top), width_(width), height_(height) {}
  HWND hWnd() const override { return window_; }
  double Left() const override { return left_ * ratio_.x; }
  double Top() const override { return top_ * ratio_.y; }
  double Width() const override { return width_ * ratio_.x; }
  double Height() const override { return height_ * ratio_.y; }

 private:
  HWND window_;
  double left_, top_, width_, height_;  // pixels
  Twips ratio_ = ScreenTwipsPerPixel();
};

std::tuple<long, long, long, long> Placement(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

bool IsTopmost(HWND window) { return GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST; }

TEST(FormTopMost, SetsAndClearsTopmostWithoutMovingOrActivating) {
  const unique_hwnd window = test::TestWindow(L"form", 120, 80, 320, 200);
  const unique_hwnd other = test::TestWindow(L"other", 200, 150, 300, 200);
  SetActiveWindow(other.get());
  ASSERT_EQ(GetActiveWindow(), other.get());
  const auto placement = Placement(window.get());
  const WindowForm form(window.get(), 120, 80, 320, 200);

  SetFormTopMost(form, true);
  EXPECT_TRUE(IsTopmost(window.get()));
  EXPECT_EQ(Placement(window.get()), placement);
  EXPECT_EQ(GetActiveWindow(), other.get());

  SetFormTopMost(form, false);
  EXPECT_FALSE(IsTopmost(window.get()));
  EXPECT_EQ(Placement(window.get()), placement);
  EXPECT_EQ(GetActiveWindow(), other.get());
}

TEST(FormTopMost, TwipsRoundToTheNearestPixelAndHalvesToEven) {
  const Twips ratio = ScreenTwipsPerPixel();
  if (ratio.x != 15.0 || ratio.y != 15.0) GTEST_SKIP() << "needs a 96 dpi screen";
  const unique_hwnd window = test::TestWindow(L"form", 10, 10, 100, 100);
  const WindowForm form(window.get(), 100.5, 101.5, 320.4, 200.6);

  SetFormTopMost(form, true);

  EXPECT_EQ(Placement(window.get()), std::make_tuple(100L, 102L, 320L, 201L));
}

}  // namespace
}  // namespace quarnel
