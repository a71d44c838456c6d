// The key help box: its place for each screen's lines, and what it draws.
#include <gtest/gtest.h>

#include "draw/help_overlay.h"
#include "headless_sdl.h"

namespace {

bool inside(const SDL_Rect& outer, const SDL_Rect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
         inner.y + inner.h <= outer.y + outer.h;
}

TEST(HelpOverlay, FitsEveryScreensLinesInTheWindowAndDrawsThemOverThePicture) {
  struct Case {
    const char* name;
    std::span<const HelpLine> lines;
    int w, h, scale;
  };
  const Case cases[] = {
      {"player, 960x600", player_help_lines(), 960, 600, 2},
      {"player, small window", player_help_lines(), 400, 240, 1},
      {"menu", menu_help_lines(), 960, 600, 2},
      {"live view", live_help_lines(), 640, 360, 2},
  };
  for (const Case& c : cases) {
    const HelpLayout l = layout_help(c.w, c.h, c.lines);
    EXPECT_EQ(l.s, c.scale) << c.name;
    EXPECT_TRUE(inside({0, 0, c.w, c.h}, l.box)) << c.name;

    HeadlessCanvas canvas = make_headless_canvas(c.w, c.h);
    ASSERT_TRUE(canvas.renderer) << "cannot start headless SDL";
    clear_canvas(canvas.renderer.get(), 128, 128, 128);
    draw_help_overlay(canvas.renderer.get(), canvas.window.get(), c.lines);
    const Pixels p = read_pixels(canvas.renderer.get(), c.w, c.h);
    // Everything drawn lies in the box (shadows included), the box is dark,
    // and the key column is amber.
    const SDL_Rect drawn = p.bounds_not(128, 128, 128);
    EXPECT_TRUE(inside(l.box, drawn)) << c.name;
    EXPECT_LT(p.pixel_at(l.box.x + 2, l.box.y + l.box.h - 2).r, 60) << c.name;
    int amber = 0;
    for (int y = l.first_y; y < l.box.y + l.box.h; ++y)
      for (int x = l.keys_x; x < l.action_x; ++x) {
        const Rgba px = p.pixel_at(x, y);
        if (px.r > 200 && px.g > 150 && px.g < 215 && px.b < 100) ++amber;
      }
    EXPECT_GT(amber, 0) << c.name;
  }
}

}  // namespace
