// The conversion screen's frames, drawn on a headless software renderer and
// read back pixel by pixel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "convert/batch_screen.h"
#include "draw/text.h"
#include "headless_sdl.h"

namespace {

constexpr Uint8 kBackground[3] = {20, 20, 30};

std::string text_of(const SDL_Rect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.w) + "x" +
         std::to_string(r.h);
}
const std::string kNone = "0,0 0x0";

bool is_background(const Pixels& p, int x, int y) {
  return p.is(x, y, kBackground[0], kBackground[1], kBackground[2]);
}

// The text is centred on the window when its lit pixels sit around the middle
// (glyph cells may leave up to one blank column per side).
void expect_centred(const SDL_Rect& text, int w, int scale) {
  ASSERT_GT(text.w, 0);
  const int middle_twice = 2 * text.x + text.w;
  EXPECT_LE(std::abs(middle_twice - w), 2 * scale) << text.x << "+" << text.w;
}

struct Canvas : ::testing::Test {
  void SetUp() override {
    canvas = make_headless_canvas(960, 600);
    ASSERT_TRUE(canvas.renderer) << "headless SDL did not start";
  }
  HeadlessCanvas canvas;
};

TEST_F(Canvas, HalfwayFrameHasTrackFillAndCentredTexts) {
  SDL_Renderer* r = canvas.renderer.get();
  draw_conversion_frame(r, 960, 600, 0, 3, 0.5f);
  const Pixels p = read_pixels(r, 960, 600);
  ASSERT_FALSE(p.rgba.empty());
  // Track 640 wide at x = 160, rows 290..309; its left half filled.
  EXPECT_EQ(text_of(p.bounds_of(60, 60, 80)), "480,290 320x20");
  EXPECT_EQ(text_of(p.bounds_of(50, 150, 255)), "160,290 320x20");
  EXPECT_TRUE(is_background(p, 159, 300));
  EXPECT_TRUE(is_background(p, 800, 300));
  EXPECT_TRUE(is_background(p, 400, 289));
  EXPECT_TRUE(is_background(p, 400, 310));
  // Counter "1/3" at scale 3 from y = 240; percentage "50" at scale 2 from y = 320,
  // drawn as opaque white when the renderer does not blend.
  const SDL_Rect counter = p.bounds_of(200, 200, 200);
  EXPECT_EQ(counter.y, 240);
  EXPECT_LE(counter.h, text_height(3));
  expect_centred(counter, 960, 3);
  const SDL_Rect percent = p.bounds_of(255, 255, 255);
  EXPECT_EQ(percent.y, 320);
  EXPECT_LE(percent.h, text_height(2));
  expect_centred(percent, 960, 2);
}

TEST_F(Canvas, GeometryFollowsTheWindowSizeAndProgress) {
  SDL_Renderer* r = canvas.renderer.get();
  struct Row {
    int w, h;
    float progress;
    const char* track;  // the part of the track left unfilled
    const char* fill;
  };
  const Row rows[] = {
      {960, 600, 0.0f, "160,290 640x20", "0,0 0x0"},
      {960, 600, 0.001f, "160,290 640x20", "0,0 0x0"},  // 0.64 px truncates to no fill
      {960, 600, 1.0f, "0,0 0x0", "160,290 640x20"},
      {961, 601, 0.25f, "320,290 480x20", "160,290 160x20"},  // B = 1922 / 3 = 640
      {800, 500, 0.999f, "665,240 1x20", "133,240 532x20"},   // B = 533, 532.47 truncated
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.w) + " " + std::to_string(row.progress));
    clear_canvas(r, 0, 0, 0);
    draw_conversion_frame(r, row.w, row.h, 1, 2, row.progress);
    const Pixels p = read_pixels(r, 960, 600);
    EXPECT_EQ(text_of(p.bounds_of(60, 60, 80)), row.track);
    EXPECT_EQ(text_of(p.bounds_of(50, 150, 255)), row.fill);
  }
}

TEST_F(Canvas, OutcomeFrameShowsOkInGreenOrErInRed) {
  SDL_Renderer* r = canvas.renderer.get();
  draw_outcome_frame(r, 960, 600, true);
  Pixels p = read_pixels(r, 960, 600);
  const SDL_Rect ok = p.bounds_of(100, 255, 100);
  EXPECT_EQ(ok.y, 290);
  EXPECT_LE(ok.h, text_height(4));
  expect_centred(ok, 960, 4);
  EXPECT_EQ(text_of(p.bounds_of(255, 60, 100)), kNone);
  EXPECT_TRUE(is_background(p, 0, 0));

  draw_outcome_frame(r, 960, 600, false);
  p = read_pixels(r, 960, 600);
  const SDL_Rect er = p.bounds_of(255, 60, 100);
  EXPECT_EQ(er.y, 290);
  expect_centred(er, 960, 4);
  EXPECT_EQ(text_of(p.bounds_of(100, 255, 100)), kNone);
}

}  // namespace

TEST(BatchRowText, NamesEachFileWithItsState) {
  const struct {
    BatchRow row;
    const char* text;
  } rows[] = {
      {{"cam1.264", RowState::waiting, 0, ""}, "cam1.264  WAITING"},
      {{"cam1.264", RowState::converting, 0.427f, ""}, "cam1.264  42%"},
      {{"cam1.264", RowState::succeeded, 1, ""}, "cam1.264  OK"},
      {{"cam1.264", RowState::failed, 1, "out of memory"}, "cam1.264  ER: out of memory"},
  };
  for (const auto& r : rows) EXPECT_EQ(batch_row_text(r.row), r.text);
}
