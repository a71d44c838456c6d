// Zoom and pan arithmetic: the visible part, the point under the pointer,
// the limits, and what is copied where.
#include <gtest/gtest.h>

#include <cmath>

#include "draw/zoom.h"

namespace {

// A 320 x 240 picture letterboxed into a 960 x 600 window: 800 x 600 at x 80.
constexpr SDL_Rect kBox{80, 0, 800, 600};
constexpr int kW = 320, kH = 240;

TEST(Zoom, TheWheelKeepsThePictureUnderThePointerInPlace) {
  const struct {
    const char* what;
    ZoomView from;
    int px, py;
    double factor;
    ZoomView expected;
  } cases[] = {
      {"2x at the centre", {}, 480, 300, 2.0, {2.0, 80, 60}},
      {"2x at the top-left corner", {}, 80, 0, 2.0, {2.0, 0, 0}},
      {"2x at the bottom-right corner", {}, 880, 600, 2.0, {2.0, 160, 120}},
      {"4x at a quarter", {}, 280, 150, 4.0, {4.0, 60, 45}},
      {"a pointer in the bars counts as the box's edge", {}, 10, 300, 2.0, {2.0, 0, 60}},
      {"no further than 8x", {4.0, 100, 100}, 480, 300, 4.0, {8.0, 120, 115}},
      {"no smaller than the whole picture", {2.0, 80, 60}, 480, 300, 0.25, {1.0, 0, 0}},
      {"out again keeps the point", {4.0, 60, 45}, 280, 150, 0.5, {2.0, 40, 30}},
      {"out near an edge stays inside the picture", {8.0, 280, 210}, 880, 600, 0.5, {4.0, 240, 180}},
  };
  for (const auto& c : cases) {
    const ZoomView v = zoom_at(c.from, kBox, kW, kH, c.px, c.py, c.factor);
    EXPECT_DOUBLE_EQ(v.zoom, c.expected.zoom) << c.what;
    EXPECT_NEAR(v.x, c.expected.x, 1e-9) << c.what;
    EXPECT_NEAR(v.y, c.expected.y, 1e-9) << c.what;
    // The picture point under the pointer did not move (inside the box, away from the limits).
    if (c.expected.zoom > 1.0 && c.expected.zoom < kMaxZoom && c.px >= kBox.x) {
      const SDL_FPoint before = picture_point_at(c.from, kBox, kW, kH, c.px, c.py);
      const SDL_FPoint after = picture_point_at(v, kBox, kW, kH, c.px, c.py);
      EXPECT_NEAR(before.x, after.x, 1e-3) << c.what;
      EXPECT_NEAR(before.y, after.y, 1e-3) << c.what;
    }
  }
}

TEST(Zoom, DraggingMovesThePictureWithThePointerUpToItsEdges) {
  const struct {
    ZoomView from;
    int dx, dy;
    ZoomView expected;
  } cases[] = {
      {{2.0, 80, 60}, 100, 0, {2.0, 60, 60}},    // 100 window pixels are 20 picture pixels at 2x
      {{2.0, 80, 60}, -100, 50, {2.0, 100, 50}},
      {{2.0, 80, 60}, 10000, 10000, {2.0, 0, 0}},
      {{2.0, 80, 60}, -10000, -10000, {2.0, 160, 120}},
      {{1.0, 0, 0}, 300, 300, {1.0, 0, 0}},      // nothing to move at 1x
  };
  for (const auto& c : cases) {
    const ZoomView v = pan_by(c.from, kBox, kW, kH, c.dx, c.dy);
    EXPECT_NEAR(v.x, c.expected.x, 1e-9) << c.dx << "," << c.dy;
    EXPECT_NEAR(v.y, c.expected.y, 1e-9) << c.dx << "," << c.dy;
  }
}

TEST(Zoom, CopyRectanglesFillTheBoxAndScreenshotsTakeWholePixels) {
  // 2x at (80, 60): the middle 160 x 120 pixels over the whole box.
  ZoomCopy copy = zoom_copy_rects({2.0, 80, 60}, kBox, kW, kH);
  EXPECT_EQ(copy.source.x, 80);
  EXPECT_EQ(copy.source.w, 160);
  EXPECT_FLOAT_EQ(copy.target.x, 80);
  EXPECT_FLOAT_EQ(copy.target.w, 800);
  EXPECT_FLOAT_EQ(copy.target.h, 600);
  // Between pixels: whole source pixels around the visible part, placed so
  // the visible part lands exactly on the box (the caller clips the rest).
  copy = zoom_copy_rects({3.0, 10.5, 20.25}, kBox, kW, kH);
  EXPECT_EQ(copy.source.x, 10);
  EXPECT_EQ(copy.source.y, 20);
  EXPECT_EQ(copy.source.w, 108);  // 10 .. 118, around 10.5 .. 117.17
  EXPECT_EQ(copy.source.h, 81);   // 20 .. 101, around 20.25 .. 100.25
  const double scale = 800 / (320 / 3.0);
  EXPECT_NEAR(copy.target.x, 80 - 0.5 * scale, 1e-3);
  EXPECT_NEAR(copy.target.y, 0 - 0.25 * (600 / 80.0), 1e-3);

  EXPECT_EQ(visible_pixels({}, kW, kH).w, 320);
  const SDL_Rect part = visible_pixels({2.0, 80, 60}, kW, kH);
  EXPECT_EQ(part.x, 80);
  EXPECT_EQ(part.y, 60);
  EXPECT_EQ(part.w, 160);
  EXPECT_EQ(part.h, 120);
  const SDL_Rect odd = visible_pixels({3.0, 10.4, 0}, kW, kH);
  EXPECT_EQ(odd.x, 10);
  EXPECT_EQ(odd.w, 107);  // 10.4 .. 117.07: nearest edges 10 and 117
  // Nonsense views are made whole.
  EXPECT_EQ(clamp_view({NAN, NAN, 5}, kW, kH), (ZoomView{1.0, 0, 0}));
  EXPECT_EQ(clamp_view({100, -5, 1e9}, kW, kH), (ZoomView{8.0, 0, 210}));
}

TEST(Zoom, WheelNotchesAndTheirDirection) {
  SDL_MouseWheelEvent wheel{};
  wheel.y = 1;
  EXPECT_DOUBLE_EQ(wheel_zoom_factor(wheel), 1.25);
  wheel.y = -2;
  EXPECT_DOUBLE_EQ(wheel_zoom_factor(wheel), 1 / (1.25 * 1.25));
  wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
  EXPECT_DOUBLE_EQ(wheel_zoom_factor(wheel), 1.25 * 1.25);
  wheel = SDL_MouseWheelEvent{};
  wheel.preciseY = 0.3f;  // a touchpad's small scroll is a notch
  EXPECT_DOUBLE_EQ(wheel_zoom_factor(wheel), 1.25);
  wheel.mouseX = 12;
  wheel.mouseY = 34;
  EXPECT_EQ(wheel_pointer(wheel).x, 12);
  EXPECT_EQ(wheel_pointer(wheel).y, 34);
}

}  // namespace
