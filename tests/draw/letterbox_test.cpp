// The picture's shape in the window: the layout rule by table, then black bars
// read back around a white picture both ways.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "draw/letterbox.h"
#include "headless_sdl.h"

namespace {

std::string show(const SDL_Rect& r) {
  return "{" + std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.w) +
         ", " + std::to_string(r.h) + "}";
}

TEST(Letterbox, KeepsThePictureShapeWithItsSampleAspectRatio) {
  struct Case {
    const char* name;
    int window_w, window_h, picture_w, picture_h, sar_num, sar_den;
    SDL_Rect expected;
  };
  const Case cases[] = {
      {"4:3 in 16:9: bars left and right", 1280, 720, 640, 480, 1, 1, {160, 0, 960, 720}},
      {"16:9 in 4:3: bars above and below", 800, 600, 1280, 720, 1, 1, {0, 75, 800, 450}},
      {"same shape fills the window", 1280, 720, 640, 360, 1, 1, {0, 0, 1280, 720}},
      {"PAL 4:3 samples fill a 4:3 window", 1024, 768, 720, 576, 16, 15, {0, 0, 1024, 768}},
      {"PAL 16:9 samples fill a 16:9 window", 1280, 720, 720, 576, 64, 45, {0, 0, 1280, 720}},
      {"same samples as square would be too narrow", 1280, 720, 720, 576, 1, 1,
       {190, 0, 900, 720}},
      {"no ratio given counts as square", 960, 600, 320, 240, 0, 1, {80, 0, 800, 600}},
      {"unusable ratio counts as square", 960, 600, 320, 240, -4, 3, {80, 0, 800, 600}},
      {"odd sizes round to the nearest pixel", 1001, 500, 640, 480, 1, 1, {167, 0, 667, 500}},
      {"a sliver stays one pixel wide", 100, 100, 1, 1000, 1, 1, {49, 0, 1, 100}},
      {"no window", 0, 600, 320, 240, 1, 1, {0, 0, 0, 0}},
      {"no picture", 960, 600, 0, 240, 1, 1, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const SDL_Rect r =
        letterbox_rect(c.window_w, c.window_h, c.picture_w, c.picture_h, c.sar_num, c.sar_den);
    EXPECT_EQ(show(r), show(c.expected)) << c.name;
  }
}

// A white picture drawn letterboxed over a grey canvas.
Pixels letterboxed_white(int window_w, int window_h, int picture_w, int picture_h) {
  HeadlessCanvas c = make_headless_canvas(window_w, window_h);
  if (!c.renderer) return {};
  clear_canvas(c.renderer.get(), 128, 128, 128);
  SDL_Texture* t = SDL_CreateTexture(c.renderer.get(), SDL_PIXELFORMAT_ARGB8888,
                                     SDL_TEXTUREACCESS_STATIC, picture_w, picture_h);
  std::vector<Uint32> white(static_cast<size_t>(picture_w * picture_h), 0xFFFFFFFFu);
  SDL_UpdateTexture(t, nullptr, white.data(), picture_w * 4);
  draw_letterboxed(c.renderer.get(), t, picture_w, picture_h, 1, 1);
  SDL_DestroyTexture(t);
  return read_pixels(c.renderer.get(), window_w, window_h);
}

TEST(Letterbox, BarsAreBlackAndThePictureSitsBetweenThem) {
  // 4:3 in a 16:9 window: black columns of 80 pixels each side.
  Pixels p = letterboxed_white(640, 360, 320, 240);
  ASSERT_EQ(p.w, 640) << "cannot start headless SDL";
  EXPECT_TRUE(p.is(0, 180, 0, 0, 0));
  EXPECT_TRUE(p.is(79, 0, 0, 0, 0));
  EXPECT_TRUE(p.is(80, 0, 255, 255, 255));
  EXPECT_TRUE(p.is(559, 359, 255, 255, 255));
  EXPECT_TRUE(p.is(560, 359, 0, 0, 0));
  EXPECT_TRUE(p.is(639, 100, 0, 0, 0));

  // 16:9 in a 4:3 window: black rows of 60 pixels above and below.
  p = letterboxed_white(320, 240, 640, 360);
  ASSERT_EQ(p.w, 320);
  EXPECT_TRUE(p.is(160, 29, 0, 0, 0));
  EXPECT_TRUE(p.is(160, 30, 255, 255, 255));
  EXPECT_TRUE(p.is(0, 209, 255, 255, 255));
  EXPECT_TRUE(p.is(319, 210, 0, 0, 0));
  EXPECT_EQ(p.bounds_of(128, 128, 128).w, 0) << "nothing of the old frame is left";
}

}  // namespace
