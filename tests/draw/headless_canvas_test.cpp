// The headless canvas itself: what is drawn is what is read back, so the
// drawing tests built on it can trust their pixels.
#include <gtest/gtest.h>

#include "headless_sdl.h"

TEST(HeadlessCanvas, ReadsBackFilledRectanglesAndBlends) {
  HeadlessCanvas c = make_headless_canvas(64, 40);
  ASSERT_TRUE(c.renderer) << "cannot start headless SDL";
  SDL_Renderer* r = c.renderer.get();
  SDL_SetRenderDrawColor(r, 200, 100, 50, 255);
  SDL_Rect box{10, 5, 7, 3};
  SDL_RenderFillRect(r, &box);
  SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_BLEND);
  SDL_SetRenderDrawColor(r, 255, 255, 255, 128);
  SDL_Rect half{40, 20, 2, 2};
  SDL_RenderFillRect(r, &half);

  Pixels p = read_pixels(r, 64, 40);
  ASSERT_EQ(p.rgba.size(), 64u * 40u * 4u);
  SDL_Rect got = p.bounds_of(200, 100, 50);
  EXPECT_EQ(got.x, 10);
  EXPECT_EQ(got.y, 5);
  EXPECT_EQ(got.w, 7);
  EXPECT_EQ(got.h, 3);
  Rgba grey = p.pixel_at(40, 20);
  EXPECT_GT(grey.r, 120);
  EXPECT_LT(grey.r, 136);
  EXPECT_EQ(p.count_not({0, 0, 64, 40}, 0, 0, 0), 7 * 3 + 4);
  EXPECT_TRUE(p.is(-1, 0, 255, 0, 255)) << "off-canvas reads are flagged";
}
