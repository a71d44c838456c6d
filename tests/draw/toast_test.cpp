// The transient message: timing by tick, replacement, the 127-byte cut and the
// box at the top centre, read back over a grey picture.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "draw/text.h"
#include "draw/toast.h"
#include "headless_sdl.h"

namespace {

constexpr Uint8 kGrey = 100;

// What draw_toast_at puts over a grey picture at tick `now`.
Pixels toast_at(HeadlessCanvas& c, uint32_t now) {
  clear_canvas(c.renderer.get(), kGrey, kGrey, kGrey);
  draw_toast_at(c.renderer.get(), c.window.get(), 3, now);
  return read_pixels(c.renderer.get(), c.w, c.h);
}

bool drew_anything(const Pixels& p) { return p.bounds_not(kGrey, kGrey, kGrey).w > 0; }

}  // namespace

TEST(Toast, ShowsUntilTheTickBeforeExpiry) {
  HeadlessCanvas c = make_headless_canvas(401, 120);
  ASSERT_TRUE(c.renderer) << "cannot start headless SDL";
  show_toast_at("MUTE", 1500, 10000);
  EXPECT_STREQ(toast_text(), "MUTE");
  for (uint32_t now : {10000u, 11499u}) {
    EXPECT_TRUE(toast_showing(now)) << now;
    EXPECT_TRUE(drew_anything(toast_at(c, now))) << now;
  }
  EXPECT_FALSE(toast_showing(11500));
  EXPECT_FALSE(drew_anything(toast_at(c, 11500)));

  // A new message replaces text and expiry at once; the old one is gone.
  show_toast_at("FIRST", 5000, 0);
  show_toast_at("NEW", 100, 10);
  EXPECT_STREQ(toast_text(), "NEW");
  EXPECT_TRUE(toast_showing(109));
  EXPECT_FALSE(toast_showing(110));

  show_toast_at("", 5000, 0);
  EXPECT_FALSE(toast_showing(1));
  EXPECT_FALSE(drew_anything(toast_at(c, 1)));
  show_toast_at(nullptr, 5000, 0);
  EXPECT_STREQ(toast_text(), "");
}

TEST(Toast, BoxSitsAtTheTopCentreAroundTheText) {
  HeadlessCanvas c = make_headless_canvas(401, 120);
  ASSERT_TRUE(c.renderer) << "cannot start headless SDL";
  show_toast_at("MUTE", 1500, 0);
  Pixels p = toast_at(c, 1);
  // (401 - 96) / 2 = 152: text 72 wide plus 12 on each side, a line of 27
  // (with room for descenders) plus 9 above and below.
  SDL_Rect box = p.bounds_not(kGrey, kGrey, kGrey);
  EXPECT_EQ(box.x, 152);
  EXPECT_EQ(box.y, 30);
  EXPECT_EQ(box.w, 96);
  EXPECT_EQ(box.h, 45);
  SDL_Rect pure = toast_box(401, "MUTE", 3);
  EXPECT_EQ(pure.x, box.x);
  EXPECT_EQ(pure.w, box.w);
  EXPECT_EQ(pure.h, box.h);
  // The first lit cell of "M" is the text's top-left corner.
  EXPECT_GT(p.pixel_at(164, 39).r, 200);
  EXPECT_LT(p.pixel_at(163, 39).r, kGrey);
  EXPECT_LT(p.pixel_at(164, 38).r, kGrey);

  Uint8 r, g, b, a;
  SDL_BlendMode mode;
  SDL_GetRenderDrawColor(c.renderer.get(), &r, &g, &b, &a);
  SDL_GetRenderDrawBlendMode(c.renderer.get(), &mode);
  EXPECT_EQ(mode, SDL_BLENDMODE_BLEND);
  EXPECT_EQ((Rgba{r, g, b, a}), (Rgba{255, 255, 255, 240}));
}

TEST(Toast, LongTextIsCutTo127BytesAndDrawnFromTheLiveTick) {
  std::string long_text(300, 'A');
  show_toast(long_text.c_str(), 60000);
  EXPECT_EQ(std::strlen(toast_text()), 127u);
  show_toast(long_text.substr(0, 127).c_str(), 60000);
  EXPECT_EQ(std::strlen(toast_text()), 127u);

  HeadlessCanvas c = make_headless_canvas(200, 80);
  ASSERT_TRUE(c.renderer) << "cannot start headless SDL";
  show_toast("  ||  ", 60000);
  clear_canvas(c.renderer.get(), kGrey, kGrey, kGrey);
  draw_toast(c.renderer.get(), c.window.get(), 3);
  Pixels p = read_pixels(c.renderer.get(), c.w, c.h);
  // The pause mark shows two full-height bars, not an empty box: the bar is
  // the middle column of the third and fourth characters.
  const int text_x = (200 - (text_width("  ||  ", 3) + 24)) / 2 + 12;
  const int bar1 = text_x + 2 * 18 + 6, bar2 = bar1 + 18;
  for (int x : {bar1, bar1 + 2, bar2, bar2 + 2}) EXPECT_GT(p.pixel_at(x, 39 + 12).r, 200) << x;
  EXPECT_LT(p.pixel_at(bar1 + 3, 43).r, kGrey);
}

TEST(Toast, AMessageWiderThanTheWindowShrinksThenIsCutInTheMiddle) {
  HeadlessCanvas c = make_headless_canvas(300, 100);
  ASSERT_TRUE(c.renderer) << "cannot start headless SDL";
  const std::string name = "Saved 20261201_080000_front_door_20261201_080009_760.bmp";
  show_toast(name.c_str(), 60000);
  clear_canvas(c.renderer.get(), kGrey, kGrey, kGrey);
  draw_toast(c.renderer.get(), c.window.get(), 3);
  const Pixels p = read_pixels(c.renderer.get(), c.w, c.h);
  const SDL_Rect box = p.bounds_not(kGrey, kGrey, kGrey);
  EXPECT_GE(box.x, 0);
  EXPECT_LE(box.x + box.w, 300);
  EXPECT_EQ(box.h, 9 + 6) << "scale 1: a 9-pixel line and 3 above and below";
  EXPECT_EQ(toast_box(300, name.c_str(), 3).w, box.w);
}
