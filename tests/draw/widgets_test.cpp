// Disc, icons and control-button look, compared pixel for pixel with the
// shapes they are meant to make.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "draw/widgets.h"
#include "headless_sdl.h"

namespace {

// A set of pixels the test expects lit, built from rectangles and points.
struct Mask {
  int w, h;
  std::vector<bool> on = std::vector<bool>(static_cast<size_t>(w) * h);
  void set(int x, int y) { on[static_cast<size_t>(y) * w + x] = true; }
  void fill(SDL_Rect r) {
    for (int y = r.y; y < r.y + r.h; ++y)
      for (int x = r.x; x < r.x + r.w; ++x) set(x, y);
  }
  void outline(SDL_Rect r) {
    fill({r.x, r.y, r.w, 1});
    fill({r.x, r.y + r.h - 1, r.w, 1});
    fill({r.x, r.y, 1, r.h});
    fill({r.x + r.w - 1, r.y, 1, r.h});
  }
  void vline(int x, int y0, int y1) { fill({x, y0, 1, y1 - y0 + 1}); }
};

// Lists every pixel where what was drawn (white on black) and the mask differ.
void expect_matches(const Pixels& p, const Mask& m, const char* what) {
  int wrong = 0;
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x)
      if (p.differs(x, y, 0, 0, 0) != m.on[static_cast<size_t>(y) * m.w + x] && ++wrong < 6)
        ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") "
                      << (m.on[static_cast<size_t>(y) * m.w + x] ? "not drawn" : "stray");
  EXPECT_EQ(wrong, 0) << what;
}

struct WhiteOnBlack {
  HeadlessCanvas c = make_headless_canvas(64, 64);
  SDL_Renderer* begin() {
    clear_canvas(c.renderer.get(), 0, 0, 0);
    SDL_SetRenderDrawColor(c.renderer.get(), 255, 255, 255, 255);
    return c.renderer.get();
  }
  Pixels read() { return read_pixels(c.renderer.get(), c.w, c.h); }
};

}  // namespace

TEST(Widgets, FillCircleDrawsOneLinePerRowOfTruncatedHalfWidth) {
  WhiteOnBlack canvas;
  ASSERT_TRUE(canvas.c.renderer) << "cannot start headless SDL";
  struct Case { int r; std::vector<int> row_widths; };  // from the top row down
  const Case cases[] = {
      {0, {1}},
      {3, {1, 5, 5, 7, 5, 5, 1}},
      {8, {1, 7, 11, 13, 13, 15, 15, 15, 17, 15, 15, 15, 13, 13, 11, 7, 1}},
  };
  for (const Case& k : cases) {
    fill_circle(canvas.begin(), 30, 30, k.r);
    Pixels p = canvas.read();
    Mask m{64, 64};
    for (int i = 0; i < static_cast<int>(k.row_widths.size()); ++i) {
      int half = k.row_widths[i] / 2;
      m.fill({30 - half, 30 - k.r + i, k.row_widths[i], 1});
    }
    expect_matches(p, m, "disc");
  }
}

TEST(Widgets, CameraIconForSmallAndLargeButtons) {
  WhiteOnBlack canvas;
  ASSERT_TRUE(canvas.c.renderer) << "cannot start headless SDL";
  struct Case { int side; SDL_Rect body, bump, lens; };
  const Case cases[] = {
      {18, {3, 5, 12, 10}, {6, 2, 6, 3}, {6, 7, 5, 5}},
      {26, {5, 7, 16, 14}, {10, 4, 6, 3}, {9, 10, 7, 7}},
  };
  const int x = 10, y = 20;
  for (const Case& k : cases) {
    draw_camera_icon(canvas.begin(), {x, y, k.side, k.side});
    Mask m{64, 64};
    m.outline({x + k.body.x, y + k.body.y, k.body.w, k.body.h});
    m.fill({x + k.bump.x, y + k.bump.y, k.bump.w, k.bump.h});
    m.fill({x + k.lens.x, y + k.lens.y, k.lens.w, k.lens.h});
    expect_matches(canvas.read(), m, k.side == 18 ? "camera 18" : "camera 26");
  }
}

TEST(Widgets, SpeakerIconWithBarsOrCross) {
  WhiteOnBlack canvas;
  ASSERT_TRUE(canvas.c.renderer) << "cannot start headless SDL";
  struct Case { int side; SDL_Rect magnet; int cone_x; std::vector<int> cone; int x0, bar1, bar2, q; };
  const Case cases[] = {
      {18, {3, -3, 4, 6}, 7, {3, 4, 5, 6, 7}, 14, 3, 4, 4},
      {26, {4, -4, 5, 8}, 9, {4, 5, 6, 7, 8, 9, 10}, 18, 4, 6, 6},
  };
  const int x = 8, y = 16;
  for (const Case& k : cases) {
    const int cy = y + k.side / 2;
    for (bool crossed : {false, true}) {
      draw_speaker_icon(canvas.begin(), {x, y, k.side, k.side}, crossed);
      Mask m{64, 64};
      m.fill({x + k.magnet.x, cy + k.magnet.y, k.magnet.w, k.magnet.h});
      for (size_t i = 0; i < k.cone.size(); ++i)
        m.vline(x + k.cone_x + static_cast<int>(i), cy - k.cone[i], cy + k.cone[i]);
      const int x0 = x + k.x0;
      if (crossed) {
        // Two diagonals of 2q + 1 pixels; they run past the button's right edge.
        for (int i = 0; i <= 2 * k.q; ++i) {
          m.set(x0 + i, cy - k.q + i);
          m.set(x0 + i, cy + k.q - i);
        }
      } else {
        m.vline(x0, cy - k.bar1, cy + k.bar1);
        m.vline(x0 + 3, cy - k.bar2, cy + k.bar2);
      }
      expect_matches(canvas.read(), m, crossed ? "crossed speaker" : "speaker");
    }
  }
}

TEST(Widgets, ControlButtonFillsOutlinesAndLeavesTheIconColour) {
  HeadlessCanvas c = make_headless_canvas(40, 40);
  ASSERT_TRUE(c.renderer) << "cannot start headless SDL";
  SDL_Renderer* r = c.renderer.get();
  clear_canvas(r, 0, 0, 0);
  draw_control_button(r, {5, 6, 18, 18}, 255);
  Pixels p = read_pixels(r, 40, 40);
  EXPECT_TRUE(p.is(10, 10, 40, 40, 60)) << "opaque fill shows its own colour";
  Rgba edge = p.pixel_at(5, 6), far_edge = p.pixel_at(22, 23);
  EXPECT_EQ(edge, far_edge);
  EXPECT_GT(edge.b, edge.r + 40) << "blue-grey outline blended over the fill";
  EXPECT_TRUE(p.is(4, 10, 0, 0, 0));
  EXPECT_TRUE(p.is(23, 10, 0, 0, 0));
  Uint8 cr, cg, cb, ca;
  SDL_BlendMode mode;
  SDL_GetRenderDrawColor(r, &cr, &cg, &cb, &ca);
  SDL_GetRenderDrawBlendMode(r, &mode);
  EXPECT_EQ(mode, SDL_BLENDMODE_BLEND);
  EXPECT_EQ((Rgba{cr, cg, cb, ca}), (Rgba{255, 255, 255, 220}));
}

TEST(Widgets, RectContainsIsHalfOpen) {
  struct Case { SDL_Rect r; int px, py; bool in; };
  const Case cases[] = {
      {{0, 0, 0, 0}, 0, 0, false},       {{10, 20, 5, 5}, 10, 20, true},
      {{10, 20, 5, 5}, 14, 24, true},    {{10, 20, 5, 5}, 15, 20, false},
      {{10, 20, 5, 5}, 10, 25, false},   {{10, 20, 5, 5}, 9, 22, false},
      {{10, 20, -5, 5}, 8, 22, false},   {{INT_MAX - 2, 0, 10, 1}, INT_MAX, 0, true},
  };
  for (const Case& k : cases)
    EXPECT_EQ(rect_contains(k.r, k.px, k.py), k.in)
        << "{" << k.r.x << "," << k.r.y << "," << k.r.w << "," << k.r.h << "} (" << k.px
        << "," << k.py << ")";
}
